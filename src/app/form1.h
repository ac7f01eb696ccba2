// TForm1: Pictrove's one main window. It owns every control, menu and icon
// picture, keeps the state the other parts of the program share, and runs
// the activation sequence that applies the settings and shows the start file.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "app/dialogs.h"
#include "app/settings.h"
#include "browser/icon_area.h"
#include "image/image.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QScrollArea;
class QDrag;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;

namespace pictrove {

class DragFolder;
class TFileBox;
class TIniFile;
class TIconPicture;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    // Where the window comes from: its executable and its command line (the
    // program's own name first). Taken from the application when not given.
    struct Startup {
        QString executablePath;
        QStringList arguments;
    };

    explicit TForm1(QWidget* parent = nullptr);
    explicit TForm1(Startup startup, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, under their layout names.
    QFrame* Panel1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TFileBox* FileBox1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QFrame* Bevel = nullptr;
    QLabel* Image1 = nullptr;

    QMenu* IconMenu = nullptr;
    QAction* Copytoclipboard1 = nullptr;
    QAction* Saveas1 = nullptr;
    QAction* SaveIconasBMP1 = nullptr;
    QAction* SaveOriginal1 = nullptr;
    QAction* SavePng1 = nullptr;
    QAction* IconDetails1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Setbackgroundcolor1 = nullptr;
    QAction* Internet1 = nullptr;
    QAction* EMail1 = nullptr;
    QAction* Help1 = nullptr;
    QAction* N2 = nullptr;
    QAction* About1 = nullptr;

    QMenu* MainMenu = nullptr;
    QAction* ConfigExtractor = nullptr;
    QAction* SaveIconCollectionas1 = nullptr;

    TSaveDialog SaveDialog1{builtInText(settings_defaults::kSaveDialogTitle), QString()};
    TSaveDialog SaveDialog2{QStringLiteral("Save Icon Collection as ..."),
                            QStringLiteral("All files (*.*)|*.*")};
    TColorDialog ColorDialog1;

    // Main window state.
    bool IconsShown = false;
    int IconCount = 0;
    int GridColumn = 0;
    int NextLeft = 0;
    int NextTop = 0;
    TIconPicture* SelectedIcon = nullptr;
    bool Activated = false;
    bool ShowFileNames = true;
    QString HelpFileName;
    QString AboutText;
    QString CollectionExtension;
    QString ExecutableFolder;  // ends with the separator
    QString SettingsPath;
    QString StartFile;  // from the settings; used only by the first pass
    // Built in until a settings file names others (or none).
    QString WebsiteAddress = builtInText(settings_defaults::kWebsite);
    QString EmailAddress = builtInText(settings_defaults::kEmail);
    // The help file opened at its contents page: set by the first pass that
    // finds a ".hlp" help file, and kept for the rest of the run.
    QString WinHelpFile;

    void LoadIcons(const QString& fileName, bool updateCaption);
    void ClearIcons();

    // The activation sequence; runs on the first activation of the window and
    // once more after each start of the configurator.
    void FormActivate();

    // The reading pass over the settings file, and the help file lookup
    // that follows it with or without one.
    void ReadSettings();
    void ResolveHelpFile();

    void FileBox1DblClick();

    // The mask selector.
    void ComboBox1Change();
    void ComboBox1KeyDown(int& key, Qt::KeyboardModifiers shift);
    void ComboBox1KeyPress(QChar& key);
    void ComboBox1KeyUp(int& key, Qt::KeyboardModifiers shift);
    // List style, or a drop-down with an edit field for typed masks.
    void setMaskSelectorEditable(bool editable);

    // Links, help, About and the configurator. The shell open helper hands a
    // target to the desktop; with arguments the target is a program.
    void ShellOpen(const QString& target, const QStringList& arguments = {});
    void Internet1Click();
    void EMail1Click();
    void Help1Click();
    void About1Click();
    void ConfigExtractorClick();
    // Sees every key of the window before the focused control; sets `key`
    // to 0 when it takes it.
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift);
    void Image1MouseMove(TIconPicture* sender);
    void Image1DblClick(TIconPicture* sender);

    // Export commands of the icon menu. The copy and the bitmap save share a
    // handler and are told apart by the sender.
    void Saveas1Click();
    void SaveIconasBMP1Click(QObject* sender);
    void Setbackgroundcolor1Click();
    // Draws the selected icon on the export bitmap, over white.
    void PrepareExportBitmap();
    void SaveIconPicture(TIconPicture& picture, const QString& fileName);
    void SaveExportBitmap(const QString& fileName);
    void CopyExportBitmap();

    // The selected icon's stored images (original_commands.cpp): the whole
    // group as an icon or cursor file, a PNG at a size picked in the save
    // dialog, and the window that lists every stored image.
    void SaveOriginal1Click();
    void SavePng1Click();
    void IconDetails1Click();
    // Offers a picture to other programs by drag and drop, as a PNG file and
    // as PNG data. The drag is made apart from its run so that it can be
    // looked at; it belongs to the display area.
    void DragIconOut(TIconPicture* picture);
    QDrag* iconDrag(TIconPicture* picture);
    QMimeData* iconDragData(const TIconPicture& picture);

    // Saves every icon of the grid as one icon collection file.
    void SaveIconCollection1Click();
    // Where both save dialogs open: the folder of the last successful save
    // of this run, else the folder the file box shows.
    QString saveDialogFolder() const;
    // The 32 x 32 bitmap the copy and bitmap commands draw on; none before
    // the first of them.
    const std::optional<Image>& exportBitmap() const { return exportBitmap_; }

    // The icon pictures of the grid (the components tagged 999), in the order
    // they were placed.
    const std::vector<TIconPicture*>& iconPictures() const { return displayArea()->pictures(); }

    // The inside of the display area, which paints the pictures; parent of the frame.
    IconArea* displayArea() const;
    // The vertical scroll range of the display area: the height of its
    // scrollable contents.
    int verticalScrollRange() const { return verticalRange_; }
    void setVerticalScrollRange(int range);
    int verticalScrollPosition() const;
    QColor displayColor() const;
    void setDisplayColor(const QColor& color);

    // Attaches the activation sequence to the application's next activation
    // (the configurator command does this).
    void armApplicationActivation() { applicationActivationArmed_ = true; }
    bool applicationActivationArmed() const { return applicationActivationArmed_; }

protected:
    bool event(QEvent* event) override;
    // Dropped files and folders (form1_drop.cpp).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The window's key preview, and the selector's key events.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    void centreOnScreen();
    void connectLinkCommands();
    void connectMaskSelector();
    void maskSelectorChanged();
    bool maskSelectorEvent(QObject* watched, QEvent* event);
    bool inKeyPreview(QObject* watched) const;
    void ApplyColorSetting(const QString& value);
    void ReadMaskList(const TIniFile& ini);
    void ReadAboutLines(const TIniFile& ini);
    void noteSavedFile(const QString& fileName);

    Startup startup_;
    std::optional<Image> exportBitmap_;
    int verticalRange_ = 0;
    bool windowActivationAttached_ = true;
    // The window was activated before it could be painted: the first pass
    // runs once it can.
    bool activationAwaitsExposure_ = false;
    bool applicationActivationArmed_ = false;
    // The mask selector's change link: cut while a key is down in it.
    bool maskChangeAttached_ = true;
    bool centred_ = false;
    QString lastSaveFolder_;  // of the last successful save of this run
    // Where dragged-out icons are written; removed with the window.
    std::unique_ptr<DragFolder> dragFolder_;
};

}  // namespace pictrove
