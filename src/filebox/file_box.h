// TFileBox: a reusable file list. It shows the entries of one folder, or the
// list of mounted volumes, one row per entry, with the desktop's icon of each
// and optional Size, Type and Date Time columns. File masks, attributes and
// view options decide which entries appear. Folder captions start with a
// blank, which sorts them ahead of the files; a double-click enters folders
// and reports files.
#pragma once

#include <QFlags>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTreeView>
#include <functional>
#include <string>
#include <vector>

namespace pictrove {

class FileRows;
class FolderWatch;
struct FolderEntry;

enum TViewOption : quint8 {
    fbShowIcons = 0x01,
    fbShowFolders = 0x02,  // sub-folders and the parent entry
    fbShowSize = 0x04,
    fbShowType = 0x08,
    fbShowTime = 0x10,
    fbOpenFile = 0x20,   // a double-click on a file opens it with its application
    fbChangeDir = 0x40,  // a double-click on a folder, the parent or a volume enters it
};
Q_DECLARE_FLAGS(TViewOptions, TViewOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TViewOptions)

// Captions as found, or with the ASCII letters (and only those) upper- or
// lower-cased.
enum TCharCase { fbNormal, fbUpperCase, fbLowerCase };

// The attribute filter (see folder_scan.h for what each attribute means on a
// file system without them). ftNormal turns the filter off; ftVolumeID and
// ftDirectory are dropped when assigned.
enum TFileAttr : quint8 {
    ftReadOnly = 0x01,
    ftHidden = 0x02,
    ftSystem = 0x04,
    ftVolumeID = 0x08,
    ftDirectory = 0x10,
    ftArchive = 0x20,
    ftNormal = 0x40,
};
Q_DECLARE_FLAGS(TFileType, TFileAttr)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileType)

// Only the report style has columns; the others show the captions alone,
// vsIcon with large icons.
enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
enum TSortType { stNone, stText };

class TFileBox : public QTreeView {
    Q_OBJECT

public:
    explicit TFileBox(QWidget* owner = nullptr);
    ~TFileBox() override;

    TCharCase CharCase() const { return charCase_; }
    void setCharCase(TCharCase value);

    // Empty, or a full path without a trailing separator unless it is a
    // root, in the letter case it was given. Empty also while the volume
    // list is shown.
    QString Directory() const { return directory_; }
    Q_INVOKABLE void setDirectory(const QString& value);

    // The drive of Directory: the upper-cased letter before its ":" on
    // Windows, "/" elsewhere (one tree holds every volume); none at first.
    QChar Drive() const { return drive_; }
    void setDrive(QChar letter);

    // The file last selected, with Directory in front; selecting folders,
    // navigating and re-reading leave it as it was.
    QString FileName() const { return fileName_; }

    QString FileMask() const { return fileMask_; }
    void setFileMask(const QString& value);
    const std::vector<std::string>& MaskList() const { return maskList_; }

    TViewOptions ViewOptions() const { return viewOptions_; }
    void setViewOptions(TViewOptions value);

    TFileType FileType() const { return fileType_; }
    void setFileType(TFileType value);

    // An edit that mirrors the selection and applies a mask typed into it on
    // Enter. Not owned; the link is dropped when the edit goes away.
    QLineEdit* FileEdit() const { return fileEdit_; }
    void setFileEdit(QLineEdit* edit);

    // A directory list that follows Directory: any object with an invokable
    // setDirectory(QString). Not owned.
    QObject* DirList() const { return dirList_; }
    void setDirList(QObject* list) { dirList_ = list; }

    // Rows the last folder read added, folders and the parent included.
    int FileCount() const { return fileCount_; }

    // The list view's own settings.
    bool ReadOnly() const { return readOnly_; }
    void setReadOnly(bool value);
    TSortType SortType() const { return sortType_; }
    void setSortType(TSortType value);
    // Overrides the caption order: negative, zero or positive as for strcmp.
    using Compare = std::function<int(const QString&, const QString&)>;
    void setOnCompare(Compare compare);
    TViewStyle ViewStyle() const { return viewStyle_; }
    void setViewStyle(TViewStyle value);
    bool ShowColumnHeaders() const;
    void setShowColumnHeaders(bool value);

    // Attaches the icons and builds the column set from ViewOptions.
    void SetupColumns();
    // Lists Directory (the current directory when it is empty) again.
    void ReadDirectory();
    // Replaces the rows by the mounted volumes.
    void ShowDrives();
    // Whether a name passes the masks (ASCII letters compared in either case).
    bool MatchesMask(const QString& name) const;
    // Gives a row's entry a new name in Directory; false, with the row as it
    // was, when the entry cannot be renamed.
    bool RenameItem(int row, const QString& newName);
    // The linked edit's keys: Enter applies the edit's text as FileMask and
    // is swallowed (true); other keys pass on.
    bool EditKeyPress(QLineEdit* sender, int key);

    // The rows, in display order; empty texts and -1 outside them.
    int Count() const;
    QString Caption(int row) const;
    QStringList SubItems(int row) const;
    int ImageIndex(int row) const;  // into ShellInfo's list; -1 without icons
    // The first selected row, or -1.
    int Selected() const;

    // Set while a box tells the world about a new Directory; any Directory
    // assignment, to any box, is dropped meanwhile.
    static bool DirChanging() { return dirChanging_; }

signals:
    // A double-click the box does not handle itself (files, nothing selected).
    void DblClick();
    // Directory has changed; the rows are still those of the old folder.
    void ChangeDir();
    // The selection, or a row, changed; FileName and the edit are up to date.
    void Change();

protected:
    void showEvent(QShowEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Opens a file or folder with the desktop's default application, with
    // `workingFolder` as the working folder where the desktop allows it.
    virtual void openWithDesktop(const QString& path, const QString& workingFolder);

private:
    void addItem(const FolderEntry& entry, qint64 now, bool rootParent);
    void applyOrder();
    void itemChange();
    void doubleClick();
    void followFolder();  // folder_watch.cpp
    void refreshWrittenFiles(const QStringList& names);
    // Backspace: the folder above, or the volume list from a root.
    void goUp();
    // The caption of the row at `at` when its column cuts it short; empty
    // otherwise.
    QString cutCaption(const QPoint& at) const;
    QString withCharCase(QString caption) const;

    FileRows* rows_;
    FolderWatch* watch_;
    TCharCase charCase_ = fbNormal;
    QString directory_;
    QChar drive_;
    QString fileName_;
    QString fileMask_;
    std::vector<std::string> maskList_;
    TViewOptions viewOptions_;
    TFileType fileType_ = ftNormal;
    QPointer<QLineEdit> fileEdit_;
    QPointer<QObject> dirList_;
    int fileCount_ = 0;
    bool readOnly_ = false;
    TSortType sortType_ = stText;
    Compare onCompare_;
    TViewStyle viewStyle_ = vsReport;
    bool windowCreated_ = false;

    // Copied from ViewOptions by SetupColumns; the listing reads these.
    bool showIcons_ = false;
    bool showFolders_ = false;
    bool showSize_ = false;
    bool showType_ = false;
    bool showTime_ = false;

    static bool dirChanging_;
};

}  // namespace pictrove
