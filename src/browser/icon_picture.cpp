#include "browser/icon_picture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "browser/icon_image.h"

namespace pictrove {

TIconPicture::TIconPicture(std::shared_ptr<IconRecord> record, QWidget* parent)
    : QWidget(parent), record_(std::move(record)) {
    setMouseTracking(true);  // moves without a button pressed select the icon
    setAttribute(Qt::WA_OpaquePaintEvent);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

void TIconPicture::setAutoSize(bool on) {
    if (on && !empty())
        resize(static_cast<int>(record_->icon()->width), static_cast<int>(record_->icon()->height));
}

void TIconPicture::paintEvent(QPaintEvent*) {
    if (empty()) return;
    // Transparent parts show the display area's colour, which the parent holds.
    const QColor background = parentWidget() ? parentWidget()->palette().color(QPalette::Window) : Qt::white;
    if (rendered_.isNull() || renderedOver_ != background.rgb()) {
        rendered_ = renderIcon(*record_->icon(), background);
        renderedOver_ = background.rgb();
    }
    QPainter painter(this);
    painter.drawImage(0, 0, rendered_);
}

void TIconPicture::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressedAt_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void TIconPicture::mouseMoveEvent(QMouseEvent* event) {
    emit mouseMoved(this);
    // Only a press on the picture itself starts a drag; hovering selects.
    if (pressedAt_ && !(event->buttons() & Qt::LeftButton)) pressedAt_.reset();
    if (pressedAt_ &&
        (event->position().toPoint() - *pressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
        pressedAt_.reset();
        emit dragStarted(this);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TIconPicture::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit doubleClicked(this);
}

void TIconPicture::contextMenuEvent(QContextMenuEvent* event) {
    if (popupMenu_) popupMenu_->popup(event->globalPos());
}

}  // namespace pictrove
