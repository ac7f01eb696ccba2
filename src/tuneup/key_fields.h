// The editor's fields for single keys. Each remembers the value the file
// held, so that only keys the user changed are written, and tells apart a
// key that is missing from one that is present but empty, which the window
// treats differently.
#pragma once

#include <QComboBox>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace pictrove::tuneup {

using KeyValue = std::optional<QString>;  // nothing: the key is not in the file

// What the editor needs of every field.
class KeyEditor {
public:
    virtual ~KeyEditor() = default;
    virtual void load(const KeyValue& value) = 0;  // what the file holds; not a change
    virtual void set(const KeyValue& value) = 0;   // a change, as from the user
    virtual KeyValue value() const = 0;            // as it goes into the file
    virtual bool changed() const = 0;              // by the user since the load
};

// A text key: a box that says whether the key is in the file, and its text.
// About lines are shown without the mark that keeps their leading blanks.
class TextKeyField : public QWidget, public KeyEditor {
    Q_OBJECT
public:
    enum class Kind { text, aboutLine };
    // `missingMeaning` says what the window does without the key.
    TextKeyField(Kind kind, QString missingMeaning, QWidget* parent = nullptr);

    void load(const KeyValue& value) override;
    void set(const KeyValue& value) override;
    KeyValue value() const override;
    bool changed() const override;
    // The text as the user sees it and the box ("in the file").
    QLineEdit* editor() const { return text_; }
    QCheckBox* presence() const { return present_; }
    // A note beside the field on what the window makes of the value.
    void setEffect(std::function<QString(const KeyValue&)> effect);

signals:
    void edited();

private:
    void display(const KeyValue& value);
    void userEdited();
    void refresh();

    Kind kind_;
    QString missingMeaning_;
    QCheckBox* present_;
    QLineEdit* text_;
    QLabel* effectLabel_ = nullptr;
    std::function<QString(const KeyValue&)> effect_;
    KeyValue loaded_;
    bool touched_ = false;
};

// A key with a few meaningful values (on/off, a colour), offered in a list;
// a value from the file that is none of them is kept as its own entry.
class ChoiceKeyField : public QComboBox, public KeyEditor {
    Q_OBJECT
public:
    explicit ChoiceKeyField(QWidget* parent = nullptr);

    void addChoice(const QString& label, const KeyValue& value, const QIcon& icon = QIcon());
    // How a value the list does not offer is described.
    void setDescribe(std::function<QString(const QString&)> describe) { describe_ = std::move(describe); }

    void load(const KeyValue& value) override;
    void set(const KeyValue& value) override;
    KeyValue value() const override;
    bool changed() const override { return touched_ && value() != loaded_; }

signals:
    void edited();

private:
    int indexOf(const KeyValue& value);

    std::function<QString(const QString&)> describe_;
    KeyValue loaded_;
    bool touched_ = false;
    bool loading_ = false;
};

// Built-in text (UTF-8) as the editor shows it.
QString builtInText(std::string_view text);
// A colour value in the "$" form that both colours and number keys accept.
QString colorValueText(std::uint32_t value);

// An about line as the window reads it ("^" or missing: no line) and back.
KeyValue aboutLineShown(const KeyValue& fileValue);
QString aboutLineForFile(const QString& line);

}  // namespace pictrove::tuneup
