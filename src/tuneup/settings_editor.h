// The configurator's one window: every key of the settings file, grouped as
// a user thinks of them (titles and captions, masks, the About box, options),
// each showing what the window makes of it, missing keys included.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "profile_writer.h"
#include "tuneup/key_fields.h"

class QFormLayout;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace pictrove::tuneup {

class SettingsEditor : public QWidget {
    Q_OBJECT
public:
    explicit SettingsEditor(QString settingsPath, QWidget* parent = nullptr);

    // The file a run edits: the one named on its command line (`arguments`
    // as the program got them), else the one the window reads, `shared`
    // beside the program or the user's own.
    static QString fileToEdit(const QStringList& arguments, const QString& shared);

    // Reads the file again and shows what it holds; false (after saying so)
    // when what stands at the path cannot be read as a file.
    // The first load of a file that cannot be saved where it is offers the
    // user's own settings file instead.
    bool load();
    // Writes the keys the user changed; false when nothing was written.
    bool save();
    // Every key as the window has it without a settings file. A new file
    // starts so, or the first key saved would take the others' built-in
    // values away (a missing caption reads as its number, a missing link
    // hides its item).
    void fillDefaults();
    bool hasChanges() const;

    QListWidget* maskList() const { return masks_; }

    // The file beside the program, which the window reads unless its user
    // has a file of their own. Only for this file, when it cannot be
    // changed, is the user's own offered: the window never reads another
    // file's namesake in the user's folder.
    QString sharedSettingsPath;

    // How the editor asks and tells; tests put their own answers here.
    std::function<bool(const QString& question)> confirm;
    std::function<QMessageBox::StandardButton(const QString& question)> askToSave;
    std::function<void(const QString& message)> report;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Field {
        QString section;
        QString key;
        KeyEditor* editor;
    };

    QWidget* captionsPage();
    QWidget* masksPage();
    QWidget* aboutPage();
    QWidget* optionsPage();
    TextKeyField* addText(QFormLayout* form, const QString& label, const QString& section, const QString& key,
                          const QString& missingMeaning);
    ChoiceKeyField* addChoice(QFormLayout* form, const QString& label, const QString& section,
                              const QString& key);
    template <class KeyField>
    void keep(KeyField* field, const QString& section, const QString& key);
    QWidget* colorRow(ChoiceKeyField* color);
    void loadMasks();
    QListWidgetItem* addMask(const QString& mask);
    std::vector<QString> currentMasks() const;
    bool masksChanged() const;
    std::vector<ProfileChange> changes(bool everything) const;
    std::optional<QString> problemBeforeSaving() const;
    bool acceptCaveats(bool& startAfresh);
    void noteEdit();
    void updateStatus();
    KeyValue fileValue(const QString& section, const QString& key) const;
    std::optional<QString> offerOwnFile();

    QString path_;
    ProfileForEdit file_;
    bool readable_ = false;
    std::vector<Field> fields_;
    QListWidget* masks_ = nullptr;
    QLabel* masksNote_ = nullptr;
    std::vector<QString> loadedMasks_;
    bool masksTouched_ = false;
    bool userEdited_ = false;  // since the last load
    bool filling_ = false;
    QLabel* status_ = nullptr;
    bool ownFileOffered_ = false;
    bool makeFolder_ = false;  // the user's own file, whose folder may be new
};

}  // namespace pictrove::tuneup
