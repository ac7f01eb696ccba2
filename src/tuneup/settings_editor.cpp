#include "tuneup/settings_editor.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <span>

#include "app/file_names.h"
#include "app/settings_places.h"
#include "profile.h"
#include "save_file.h"
#include "settings_defaults.h"

namespace pictrove::tuneup {
namespace {

namespace builtin = settings_defaults;

// The window reads keys and values as local 8-bit text.
std::string local(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString fromLocal(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString SettingsEditor::fileToEdit(const QStringList& arguments, const QString& shared) {
    return QFileInfo(arguments.size() == 2 ? arguments[1] : settingsPathFor(shared)).absoluteFilePath();
}

SettingsEditor::SettingsEditor(QString settingsPath, QWidget* parent)
    : QWidget(parent), path_(std::move(settingsPath)) {
    setWindowTitle(tr("Configure Pictrove - %1").arg(QFileInfo(path_).fileName()));
    confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };
    askToSave = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    };
    report = [this](const QString& message) { QMessageBox::warning(this, windowTitle(), message); };

    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel;
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* tabs = new QTabWidget;
    tabs->addTab(captionsPage(), tr("&Titles and menu"));
    tabs->addTab(masksPage(), tr("&Masks"));
    tabs->addTab(aboutPage(), tr("A&bout box"));
    tabs->addTab(optionsPage(), tr("&Options"));
    layout->addWidget(tabs, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    auto* defaults = buttons->addButton(tr("&Defaults"), QDialogButtonBox::ResetRole);
    defaults->setToolTip(tr("Every key as the program has it without a settings file"));
    connect(defaults, &QPushButton::clicked, this, &SettingsEditor::fillDefaults);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save()) close();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    layout->addWidget(buttons);
    resize(640, 520);
}

KeyValue SettingsEditor::fileValue(const QString& section, const QString& key) const {
    const auto value = findProfileValue(file_.text, local(section), local(key));
    return value ? KeyValue(fromLocal(*value)) : std::nullopt;
}

std::optional<QString> SettingsEditor::offerOwnFile() {
    if (sharedSettingsPath.isEmpty() || QFileInfo(path_) != QFileInfo(sharedSettingsPath))
        return std::nullopt;
    const QFileInfo folder(QFileInfo(path_).absolutePath());
    if (!folder.isDir() || folder.isWritable()) return std::nullopt;
    const QString own = userSettingsPath(path_);
    if (own.isEmpty() || QFileInfo(own) == QFileInfo(path_)) return std::nullopt;
    const bool ownExists = QFileInfo(own).isFile();
    const QString question =
        ownExists ? tr("%1 cannot be changed from your account.\n\nEdit your own settings file %2 instead? "
                       "Pictrove reads it in place of this one.")
                  : tr("%1 cannot be changed from your account.\n\nStart your own settings file %2 from it? "
                       "Pictrove reads it in place of this one.");
    if (!confirm(question.arg(QDir::toNativeSeparators(path_), QDir::toNativeSeparators(own))))
        return std::nullopt;
    return own;
}

bool SettingsEditor::load() {
    QString readFrom = path_;
    if (!ownFileOffered_) {
        ownFileOffered_ = true;
        if (const auto own = offerOwnFile()) {
            // A new own file starts as a copy of the shared one, written at
            // the first save; nothing is made before that.
            if (QFileInfo(*own).isFile()) readFrom = *own;
            path_ = *own;
            makeFolder_ = true;
        }
    }
    auto loaded = loadProfileForEdit(coreFileName(readFrom));
    readable_ = loaded.ok();
    file_ = readable_ ? std::move(*loaded) : ProfileForEdit{};
    for (const Field& field : fields_) field.editor->load(fileValue(field.section, field.key));
    loadMasks();
    userEdited_ = false;
    if (readable_ && !file_.exists) {
        filling_ = true;
        fillDefaults();
        filling_ = false;
    }
    updateStatus();
    if (!readable_) report(fromLocal(loaded.error().message) + tr(".\nNothing can be saved there."));
    return readable_;
}

void SettingsEditor::loadMasks() {
    const QSignalBlocker quiet(masks_);
    masks_->clear();
    loadedMasks_.clear();
    masksTouched_ = false;
    for (int n = 1; n <= builtin::kMaxMasks; ++n) {
        const KeyValue mask = fileValue("Extensions", QStringLiteral("E%1").arg(n));
        if (!mask || mask->isEmpty()) break;
        loadedMasks_.push_back(*mask);
        addMask(*mask);
    }
}

QListWidgetItem* SettingsEditor::addMask(const QString& mask) {
    auto* item = new QListWidgetItem(mask, masks_);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

std::vector<QString> SettingsEditor::currentMasks() const {
    std::vector<QString> masks;
    // An empty entry would end the list there; it means nothing, so it goes.
    for (int i = 0; i < masks_->count(); ++i) {
        if (!masks_->item(i)->text().trimmed().isEmpty()) masks.push_back(masks_->item(i)->text());
    }
    return masks;
}

bool SettingsEditor::masksChanged() const {
    return masksTouched_ && currentMasks() != loadedMasks_;
}

bool SettingsEditor::hasChanges() const {
    return masksChanged() ||
           std::any_of(fields_.begin(), fields_.end(), [](const Field& f) { return f.editor->changed(); });
}

void SettingsEditor::noteEdit() {
    if (!filling_) userEdited_ = true;
    updateStatus();
}

void SettingsEditor::updateStatus() {
    QString state = !readable_       ? tr("cannot be read")
                    : !file_.exists  ? tr("new file, holding what the window uses without one")
                    : file_.wideText ? tr("UTF-16 text, which Pictrove cannot read")
                    : file_.cutAtCap ? tr("larger than Pictrove reads; only its start counts")
                                     : QString();
    if (hasChanges()) state += (state.isEmpty() ? QString() : QStringLiteral("; ")) + tr("changed");
    status_->setText(QDir::toNativeSeparators(path_) +
                     (state.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(state)));
    masksNote_->setText(currentMasks().empty()
                            ? tr("No masks in the file: the window keeps the masks it has.")
                            : tr("The file's masks replace the built-in ones."));
}

std::vector<ProfileChange> SettingsEditor::changes(bool everything) const {
    std::vector<ProfileChange> changes;
    const auto add = [&](const QString& section, const QString& key, const KeyValue& value) {
        changes.push_back({local(section), local(key), value ? std::optional(local(*value)) : std::nullopt});
    };
    // New sections go in the order the window reads them, About lines last.
    const auto addFields = [&](bool aboutLines) {
        for (const Field& field : fields_) {
            if ((field.section == QLatin1String("Dialogs")) != aboutLines) continue;
            // Starting afresh, missing keys need no line.
            if (everything ? field.editor->value().has_value() : field.editor->changed())
                add(field.section, field.key, field.editor->value());
        }
    };
    addFields(false);
    if (everything || masksChanged()) {
        const std::vector<QString> masks = currentMasks();
        for (std::size_t i = 0; i < masks.size(); ++i)
            add("Extensions", QStringLiteral("E%1").arg(i + 1), masks[i]);
        // The list ends at the first missing key, so entries the file had
        // beyond the new end must not come back to life.
        if (!everything) add("Extensions", QStringLiteral("E%1").arg(masks.size() + 1), std::nullopt);
    }
    addFields(true);
    return changes;
}

std::optional<QString> SettingsEditor::problemBeforeSaving() const {
    for (const Field& field : fields_) {
        const KeyValue value = field.editor->value();
        if (field.section != QLatin1String("Dialogs") || !value ||
            !value->startsWith(QLatin1Char(builtin::kAboutLineMark)))
            continue;
        if (value->size() - 1 > static_cast<qsizetype>(builtin::kMaxMarkedAboutLine))
            return tr("About line %1 starts with a blank or a \">\", so the About box shows only its first "
                      "%2 "
                      "characters. Shorten it.")
                .arg(field.key.mid(1))
                .arg(builtin::kMaxMarkedAboutLine);
    }
    return std::nullopt;
}

bool SettingsEditor::acceptCaveats(bool& startAfresh) {
    startAfresh = false;
    if (file_.wideText) {
        if (!confirm(tr("%1 holds UTF-16 text, which Pictrove cannot read. Saving replaces it with a plain "
                        "text file that holds the values shown here; everything else in it is lost.\n\n"
                        "Replace it?")
                         .arg(QDir::toNativeSeparators(path_))))
            return false;
        startAfresh = true;
    }
    if (file_.cutAtCap &&
        !confirm(tr("%1 is larger than the %2 MiB Pictrove reads. Saving keeps its first part, which "
                    "Pictrove reads, and drops the rest.\n\nSave anyway?")
                     .arg(QDir::toNativeSeparators(path_))
                     .arg(profile_limits::kMaxFileBytes >> 20)))
        return false;
    return true;
}

bool SettingsEditor::save() {
    if (!readable_) {
        report(tr("%1 cannot be read, so nothing is saved there.").arg(QDir::toNativeSeparators(path_)));
        return false;
    }
    if (!hasChanges()) return true;
    if (const auto problem = problemBeforeSaving()) {
        report(*problem);
        return false;
    }
    bool startAfresh = false;
    if (!acceptCaveats(startAfresh)) return false;
    const std::vector<ProfileChange> edits = changes(startAfresh);
    const auto edited = editProfileText(startAfresh ? std::string() : file_.text, edits);
    if (!edited) {
        report(tr("The settings were not saved.\n%1").arg(fromLocal(edited.error().message)));
        return false;
    }
    const auto& bytes = *edited;
    if (makeFolder_) QDir().mkpath(QFileInfo(path_).absolutePath());
    const auto failure = saveFile(
        corePath(path_), std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        SaveOptions{.durability = Durability::flushed});
    if (failure) {
        report(tr("The settings were not saved; the file stays as it was.\n%1")
                   .arg(fromLocal(failure->message)));
        return false;
    }
    load();
    return true;
}

void SettingsEditor::fillDefaults() {
    const auto set = [this](const QString& section, const QString& key, const KeyValue& value) {
        for (const Field& field : fields_) {
            if (field.section == section && field.key == key) field.editor->set(value);
        }
    };
    set("Captions", "Title", builtInText(builtin::kTitle));
    set("Captions", "Dialog", builtInText(builtin::kSaveDialogTitle));
    for (const auto& caption : builtin::kMenuCaptions)
        set("Menu", builtInText(caption.key), builtInText(caption.caption));
    for (const auto& caption : builtin::kOriginalMenuCaptions)
        set("Menu", builtInText(caption.key), builtInText(caption.caption));
    set("Options", "EditMask", QStringLiteral("0"));
    set("Options", "ShowFileNames", QStringLiteral("1"));
    // Without a settings file the help file is the program's name with
    // ".hlp", beside it; the settings file is named the same way.
    set("Options", "HelpFile", QFileInfo(path_).completeBaseName() + QStringLiteral(".hlp"));
    set("Options", "Default", builtInText(builtin::kCollectionExtension));
    set("Options", "Open", QString());
    set("Options", "Home", builtInText(builtin::kWebsite));
    set("Options", "Mail", builtInText(builtin::kEmail));
    set("Options", "Color", colorValueText(builtin::kDisplayColor));
    set("Dialogs", "L1", builtInText(builtin::kAboutText));
    for (int n = 2; n <= builtin::kAboutLineCount; ++n)
        set("Dialogs", QStringLiteral("L%1").arg(n), std::nullopt);
    masks_->clear();
    for (const std::string_view mask : builtin::kMasks) addMask(builtInText(mask));
    masksTouched_ = true;
    noteEdit();
}

void SettingsEditor::closeEvent(QCloseEvent* event) {
    if (!userEdited_ || !hasChanges()) {
        event->accept();
        return;
    }
    switch (askToSave(tr("Save the changes to %1?").arg(QDir::toNativeSeparators(path_)))) {
        case QMessageBox::Save:
            if (save()) {
                event->accept();
            } else {
                event->ignore();
            }
            break;
        case QMessageBox::Discard: event->accept(); break;
        default: event->ignore(); break;
    }
}

}  // namespace pictrove::tuneup
