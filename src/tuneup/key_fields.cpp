#include "tuneup/key_fields.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVariant>
#include <utility>

#include "profile.h"
#include "settings_defaults.h"

namespace pictrove::tuneup {
namespace {

namespace builtin = settings_defaults;

QVariant toVariant(const KeyValue& value) {
    return value ? QVariant(*value) : QVariant();
}

KeyValue fromVariant(const QVariant& data) {
    return data.isValid() ? KeyValue(data.toString()) : std::nullopt;
}

}  // namespace

QString builtInText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString colorValueText(std::uint32_t value) {
    return QStringLiteral("$%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

KeyValue aboutLineShown(const KeyValue& fileValue) {
    if (!fileValue || *fileValue == QLatin1String(builtin::kNoAboutLine)) return std::nullopt;
    if (fileValue->startsWith(QLatin1Char(builtin::kAboutLineMark)))
        return fileValue->mid(1, static_cast<qsizetype>(builtin::kMaxMarkedAboutLine));
    return fileValue;
}

QString aboutLineForFile(const QString& line) {
    // The lookup drops leading blanks, a leading mark is taken away, and the
    // bare "^" means no line: each of these keeps its text behind a mark.
    const bool needsMark = (!line.isEmpty() && (line.front().isSpace() ||
                                                line.front() == QLatin1Char(builtin::kAboutLineMark))) ||
                           line == QLatin1String(builtin::kNoAboutLine);
    return needsMark ? QLatin1Char(builtin::kAboutLineMark) + line : line;
}

TextKeyField::TextKeyField(Kind kind, QString missingMeaning, QWidget* parent)
    : QWidget(parent), kind_(kind), missingMeaning_(std::move(missingMeaning)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    present_ = new QCheckBox(this);
    present_->setToolTip(
        tr("Ticked: the key is in the settings file, even when empty.\n"
           "Not ticked: the key is left out, and the window does what the grey text says."));
    text_ = new QLineEdit(this);
    text_->setMaxLength(static_cast<int>(profile_limits::kMaxValueBytes));
    layout->addWidget(present_);
    layout->addWidget(text_, 1);
    connect(present_, &QCheckBox::clicked, this, [this] { userEdited(); });
    connect(text_, &QLineEdit::textEdited, this, [this] {
        // Typing into a missing key puts it in the file.
        present_->setChecked(true);
        userEdited();
    });
    display(std::nullopt);
}

void TextKeyField::setEffect(std::function<QString(const KeyValue&)> effect) {
    effect_ = std::move(effect);
    if (!effectLabel_) {
        effectLabel_ = new QLabel(this);
        effectLabel_->setMinimumWidth(90);
        layout()->addWidget(effectLabel_);
    }
    refresh();
}

void TextKeyField::load(const KeyValue& value) {
    loaded_ = value;
    touched_ = false;
    display(kind_ == Kind::aboutLine ? aboutLineShown(value) : value);
}

void TextKeyField::set(const KeyValue& value) {
    touched_ = true;
    display(kind_ == Kind::aboutLine ? aboutLineShown(value) : value);
    emit edited();
}

void TextKeyField::display(const KeyValue& value) {
    present_->setChecked(value.has_value());
    text_->setText(value.value_or(QString()));
    refresh();
}

void TextKeyField::userEdited() {
    touched_ = true;
    refresh();
    emit edited();
}

void TextKeyField::refresh() {
    const bool present = present_->isChecked();
    if (!present && !text_->text().isEmpty()) text_->clear();
    text_->setPlaceholderText(present ? tr("empty") : missingMeaning_);
    if (effectLabel_) effectLabel_->setText(effect_ ? effect_(value()) : QString());
}

KeyValue TextKeyField::value() const {
    if (!touched_) return loaded_;
    if (!present_->isChecked()) return std::nullopt;
    return kind_ == Kind::aboutLine ? aboutLineForFile(text_->text()) : text_->text();
}

bool TextKeyField::changed() const {
    return touched_ && value() != loaded_;
}

ChoiceKeyField::ChoiceKeyField(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (loading_) return;
        touched_ = true;
        emit edited();
    });
}

void ChoiceKeyField::addChoice(const QString& label, const KeyValue& value, const QIcon& icon) {
    const bool wasLoading = std::exchange(loading_, true);
    addItem(icon, label, toVariant(value));
    loading_ = wasLoading;
}

int ChoiceKeyField::indexOf(const KeyValue& value) {
    for (int i = 0; i < count(); ++i) {
        if (fromVariant(itemData(i)) == value) return i;
    }
    if (!value) return 0;
    // A value the list does not offer, kept as the file has it.
    const QString shown = describe_ ? describe_(*value) : *value;
    addChoice(QStringLiteral("\"%1\": %2").arg(*value, shown), value);
    return count() - 1;
}

void ChoiceKeyField::load(const KeyValue& value) {
    loading_ = true;
    loaded_ = value;
    touched_ = false;
    setCurrentIndex(indexOf(value));
    loading_ = false;
}

void ChoiceKeyField::set(const KeyValue& value) {
    setCurrentIndex(indexOf(value));
    touched_ = true;
    emit edited();
}

KeyValue ChoiceKeyField::value() const {
    return touched_ ? fromVariant(currentData()) : loaded_;
}

}  // namespace pictrove::tuneup
