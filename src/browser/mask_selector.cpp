// The mask selector: a mask picked with the mouse filters the file box at
// once; one reached with the keyboard, or typed, only when Enter is pressed.
// Every key that goes down in the selector cuts the change link until it
// comes up again.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/errors.h"
#include "app/form1.h"
#include "filebox/file_box.h"

namespace pictrove {
namespace {

bool isWithin(const QObject* object, const QWidget* ancestor) {
    for (; object; object = object->parent()) {
        if (object == ancestor) return true;
    }
    return false;
}

bool producesEnter(const QKeyEvent& event) {
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
           !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

QString asciiLowered(const QString& text) {
    QString lowered = text;
    for (QChar& c : lowered) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + ('a' - 'A'));
    }
    return lowered;
}

}  // namespace

void TForm1::connectMaskSelector() {
    // Only the user's own picks arrive here, not changes made by the program.
    connect(ComboBox1, &QComboBox::activated, this, [this] { maskSelectorChanged(); });
}

void TForm1::maskSelectorChanged() {
    if (maskChangeAttached_) guarded(this, [this] { ComboBox1Change(); });
}

void TForm1::setMaskSelectorEditable(bool editable) {
    if (ComboBox1->isEditable() == editable) return;
    ComboBox1->setEditable(editable);
    if (!editable) return;
    // Enter is the selector's own business, and a mask is typed as it is,
    // without completion from the list.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    QLineEdit* edit = ComboBox1->lineEdit();
    // The edit field shares the selector's popup menu.
    edit->setContextMenuPolicy(Qt::NoContextMenu);
    connect(edit, &QLineEdit::textEdited, this, [this] { maskSelectorChanged(); });
}

void TForm1::ComboBox1Change() {
    FileBox1->setFileMask(ComboBox1->currentText());
}

void TForm1::ComboBox1KeyDown(int&, Qt::KeyboardModifiers) {
    maskChangeAttached_ = false;
}

void TForm1::ComboBox1KeyUp(int&, Qt::KeyboardModifiers) {
    maskChangeAttached_ = true;
}

void TForm1::ComboBox1KeyPress(QChar& key) {
    if (key != QChar(13)) return;
    key = QChar();
    const QString text = ComboBox1->currentText();
    const QString lowered = asciiLowered(text);
    bool known = false;
    for (int i = 0; i < ComboBox1->count() && !known; ++i)
        known = asciiLowered(ComboBox1->itemText(i)) == lowered;
    if (!known) ComboBox1->addItem(text);
    ComboBox1Change();
}

bool TForm1::maskSelectorEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::FocusOut) return false;
    // The open list is a window of its own, but still part of the selector.
    if (!isWithin(watched, ComboBox1)) return false;
    if (type == QEvent::FocusOut) {
        // A key that goes up somewhere else (Tab, or switching away while a
        // key is held) would leave mouse picks cut off for good. The open
        // list taking the focus is still the selector.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
            !isWithin(QApplication::focusWidget(), ComboBox1))
            maskChangeAttached_ = true;
        return false;
    }
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    int key = keyEvent->key();
    if (type == QEvent::KeyRelease) {
        if (!keyEvent->isAutoRepeat()) ComboBox1KeyUp(key, keyEvent->modifiers());
        return false;
    }
    ComboBox1KeyDown(key, keyEvent->modifiers());
    if (!producesEnter(*keyEvent)) return false;
    // Enter in the open list takes the highlighted mask, as the list itself
    // would, before the mask is applied.
    if (ComboBox1->view()->isVisible()) {
        const int row = ComboBox1->view()->currentIndex().row();
        ComboBox1->hidePopup();
        if (row >= 0) ComboBox1->setCurrentIndex(row);
    }
    QChar character(13);
    guarded(this, [&] { ComboBox1KeyPress(character); });
    return character.isNull();
}

}  // namespace pictrove
