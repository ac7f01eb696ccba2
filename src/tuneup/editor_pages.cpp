// The editor's four pages and what each field says the window does with it.
#include <QColorDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "profile.h"
#include "settings_defaults.h"
#include "system_colors.h"
#include "tuneup/settings_editor.h"

namespace pictrove::tuneup {
namespace {

namespace builtin = settings_defaults;

QColor qColor(std::uint32_t rgb) {
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>(rgb >> 8 & 0xFF),
                  static_cast<int>(rgb >> 16 & 0xFF));
}

QIcon swatch(std::uint32_t rgb) {
    QPixmap pixmap(16, 16);
    pixmap.fill(qColor(rgb));
    QPainter(&pixmap).drawRect(0, 0, 15, 15);
    return QIcon(pixmap);
}

QString describeNumber(const QString& value, int fallback, const char* whenOn, const char* whenOff) {
    const auto number = parseProfileNumber(value.toLocal8Bit().toStdString());
    return (number ? *number : fallback) != 0 ? SettingsEditor::tr(whenOn) : SettingsEditor::tr(whenOff);
}

QString describeColor(const QString& value) {
    if (value.isEmpty()) return SettingsEditor::tr("the desktop colour");
    const auto number = parseProfileInteger(value.toLocal8Bit().toStdString());
    if (!number || *number == 0) return SettingsEditor::tr("ignored: the colour stays as it was");
    const auto bits = static_cast<std::uint32_t>(*number);
    if (bits & kSystemColorFlag) {
        const std::size_t index = bits & 0xFF;
        if (index < kSystemColors.size() && !kSystemColors[index].name.empty())
            return SettingsEditor::tr("system colour %1").arg(builtInText(kSystemColors[index].name));
    }
    return qColor(rgbOfColorValue(bits)).name();
}

QString collectionExtensionOf(const KeyValue& value) {
    QString extension = value.value_or(QString());
    for (QChar& c : extension) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = c.toLower();
    }
    if (extension.isEmpty()) return builtInText(builtin::kCollectionExtension);
    return extension.startsWith(QLatin1Char('.')) ? extension : QLatin1Char('.') + extension;
}

}  // namespace

// Named "Section/Key", so that tests find it.
template <class KeyField>
void SettingsEditor::keep(KeyField* field, const QString& section, const QString& key) {
    field->setObjectName(section + QLatin1Char('/') + key);
    fields_.push_back({section, key, field});
    connect(field, &KeyField::edited, this, &SettingsEditor::noteEdit);
}

TextKeyField* SettingsEditor::addText(QFormLayout* form, const QString& label, const QString& section,
                                      const QString& key, const QString& missingMeaning) {
    const auto kind =
        section == QLatin1String("Dialogs") ? TextKeyField::Kind::aboutLine : TextKeyField::Kind::text;
    auto* field = new TextKeyField(kind, missingMeaning);
    keep(field, section, key);
    form->addRow(label, field);
    return field;
}

ChoiceKeyField* SettingsEditor::addChoice(QFormLayout* form, const QString& label, const QString& section,
                                          const QString& key) {
    auto* field = new ChoiceKeyField;
    keep(field, section, key);
    form->addRow(label, field);
    return field;
}

QWidget* SettingsEditor::captionsPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    addText(form, tr("Window title (Title):"), "Captions", "Title", tr("Not in the file: no title"));
    addText(form, tr("Save dialog title (Dialog):"), "Captions", "Dialog",
            tr("Not in the file: the dialog has no title"));
    form->addRow(new QLabel(tr("Icon menu captions; \"&\" underlines the letter after it:")));
    int number = 0;
    for (const auto& caption : builtin::kMenuCaptions) {
        const QString key = builtInText(caption.key);
        const QString label = QString(builtInText(caption.caption)).remove(QLatin1Char('&'));
        addText(form, QStringLiteral("%1 (%2):").arg(label, key), "Menu", key,
                tr("Not in the file: the caption is \"%1\"").arg(++number));
    }
    for (const auto& caption : builtin::kOriginalMenuCaptions) {
        const QString key = builtInText(caption.key);
        const QString label = QString(builtInText(caption.caption)).remove(QLatin1Char('&'));
        addText(form, QStringLiteral("%1 (%2):").arg(label, key), "Menu", key,
                tr("Not in the file: the caption is \"%1\"").arg(builtInText(caption.caption)));
    }
    return page;
}

QWidget* SettingsEditor::masksPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel(tr("The masks offered at the top of the file list, the first one chosen at "
                      "start.\nA mask may hold several patterns split by \";\", as "
                      "*.exe;*.dll.")));
    auto* row = new QHBoxLayout;
    masks_ = new QListWidget;
    masks_->setObjectName("Extensions");
    row->addWidget(masks_, 1);
    auto* buttons = new QVBoxLayout;
    const auto button = [&](const QString& caption, auto action) {
        auto* push = new QPushButton(caption);
        buttons->addWidget(push);
        connect(push, &QPushButton::clicked, this, [this, action] {
            action();
            masksTouched_ = true;
            noteEdit();
        });
    };
    button(tr("&Add"), [this] {
        QListWidgetItem* item = addMask(QStringLiteral("*.*"));
        masks_->setCurrentItem(item);
        masks_->editItem(item);
    });
    button(tr("&Remove"), [this] { delete masks_->currentItem(); });
    const auto move = [this](int by) {
        const int from = masks_->currentRow();
        const int to = from + by;
        if (from < 0 || to < 0 || to >= masks_->count()) return;
        masks_->insertItem(to, masks_->takeItem(from));
        masks_->setCurrentRow(to);
    };
    button(tr("&Up"), [move] { move(-1); });
    button(tr("&Down"), [move] { move(1); });
    buttons->addStretch();
    row->addLayout(buttons);
    layout->addLayout(row);
    connect(masks_, &QListWidget::itemChanged, this, [this] {
        masksTouched_ = true;
        noteEdit();
    });
    masksNote_ = new QLabel;
    layout->addWidget(masksNote_);
    return page;
}

QWidget* SettingsEditor::aboutPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow(
        new QLabel(tr("The lines of the About box. Blanks at the start of a line are kept; the "
                      "first line\nthat is not empty is followed by 13 blanks.")));
    for (int n = 1; n <= builtin::kAboutLineCount; ++n) {
        addText(form, tr("Line %1 (L%1):").arg(n), "Dialogs", QStringLiteral("L%1").arg(n),
                tr("Not in the file: no line"));
    }
    return page;
}

QWidget* SettingsEditor::optionsPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* typed = addChoice(form, tr("Typed masks (EditMask):"), "Options", "EditMask");
    typed->addChoice(tr("Not in the file: masks are picked from the list"), std::nullopt);
    typed->addChoice(tr("Yes: a mask can be typed"), QStringLiteral("1"));
    typed->addChoice(tr("No: masks are picked from the list"), QStringLiteral("0"));
    typed->setDescribe([](const QString& v) { return describeNumber(v, 0, "read as yes", "read as no"); });
    auto* names =
        addChoice(form, tr("File name in the caption (ShowFileNames):"), "Options", "ShowFileNames");
    names->addChoice(tr("Not in the file: shown"), std::nullopt);
    names->addChoice(tr("Shown"), QStringLiteral("1"));
    names->addChoice(tr("Hidden"), QStringLiteral("0"));
    names->setDescribe(
        [](const QString& v) { return describeNumber(v, 1, "read as shown", "read as hidden"); });
    addText(form, tr("Help file (HelpFile):"), "Options", "HelpFile",
            tr("Not in the file: no help, F1 shows the About box"))
        ->editor()
        ->setToolTip(tr("Looked for by its name beside the program; a folder in front is ignored."));
    addText(form, tr("Collection extension (Default):"), "Options", "Default",
            tr("Not in the file: %1").arg(builtInText(builtin::kCollectionExtension)))
        ->setEffect(
            [](const KeyValue& value) { return QStringLiteral("→ %1").arg(collectionExtensionOf(value)); });
    addText(form, tr("Start file (Open):"), "Options", "Open",
            tr("Not in the file: the program shows its own icons"));
    addText(form, tr("Website (Home):"), "Options", "Home", tr("Not in the file: no Website item"));
    addText(form, tr("E-mail (Mail):"), "Options", "Mail", tr("Not in the file: no E-mail item"))
        ->editor()
        ->setToolTip(tr("A complete target, such as mailto:someone@example.org?subject=Pictrove"));
    auto* color = new ChoiceKeyField;
    keep(color, "Options", "Color");
    form->addRow(tr("Display colour (Color):"), colorRow(color));
    return page;
}

QWidget* SettingsEditor::colorRow(ChoiceKeyField* color) {
    color->addChoice(tr("Not in the file: the desktop colour"), std::nullopt,
                     swatch(rgbOfColorValue(builtin::kDisplayColor)));
    for (std::size_t i = 0; i < kSystemColors.size(); ++i) {
        if (kSystemColors[i].name.empty()) continue;
        const auto value = kSystemColorFlag | static_cast<std::uint32_t>(i);
        color->addChoice(tr("System colour: %1").arg(builtInText(kSystemColors[i].name)),
                         colorValueText(value), swatch(kSystemColors[i].rgb));
    }
    color->setDescribe(describeColor);
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(color, 1);
    auto* choose = new QPushButton(tr("C&hoose ..."));
    layout->addWidget(choose);
    connect(choose, &QPushButton::clicked, this, [this, color] {
        const QColor chosen = QColorDialog::getColor(Qt::white, this);
        if (!chosen.isValid()) return;
        auto rgb = static_cast<std::uint32_t>(chosen.red() | chosen.green() << 8 | chosen.blue() << 16);
        // The window leaves its colour alone for 0, so black is named by a
        // system colour that is black.
        const std::uint32_t value = rgb == 0 ? kSystemColorFlag | 8 : rgb;
        color->set(colorValueText(value));
    });
    return row;
}

}  // namespace pictrove::tuneup
