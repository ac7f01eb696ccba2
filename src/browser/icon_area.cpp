#include "browser/icon_area.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>

#include "browser/icon_picture.h"

namespace pictrove {

IconArea::IconArea(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);  // moves without a button pressed select the icon
}

IconArea::~IconArea() {
    releaseRetired();
    for (TIconPicture* picture : pictures_) delete picture;
}

void IconArea::add(std::unique_ptr<TIconPicture> picture) {
    tallest_ = std::max(tallest_, picture->height());
    pictures_.push_back(picture.release());
}

void IconArea::clear() {
    if (retired_.empty()) {
        if (!pictures_.empty()) QTimer::singleShot(0, this, [this] { releaseRetired(); });
        retired_.swap(pictures_);
    } else {
        retired_.insert(retired_.end(), pictures_.begin(), pictures_.end());
        pictures_.clear();
    }
    tallest_ = 0;
    grabbedBy_.reset();
    leftPressedAt_.reset();
    update();
}

void IconArea::releaseRetired() {
    for (TIconPicture* picture : retired_) delete picture;
    retired_.clear();
}

std::vector<TIconPicture*>::const_iterator IconArea::firstReaching(int top) const {
    return std::partition_point(pictures_.begin(), pictures_.end(),
                                [&](const TIconPicture* picture) { return picture->y() + tallest_ <= top; });
}

TIconPicture* IconArea::pictureAt(QPoint at) const {
    const auto first = firstReaching(at.y());
    auto last = std::partition_point(first, pictures_.end(),
                                     [&](const TIconPicture* picture) { return picture->y() <= at.y(); });
    while (last != first) {
        TIconPicture* picture = *--last;
        if (picture->geometry().contains(at)) return picture;
    }
    return nullptr;
}

void IconArea::paintEvent(QPaintEvent* event) {
    // The background is filled already; transparent parts of the icons show it.
    const QRect exposed = event->rect();
    const QColor background = palette().color(QPalette::Window);
    QPainter painter(this);
    for (auto it = firstReaching(exposed.top()); it != pictures_.end() && (*it)->y() <= exposed.bottom();
         ++it) {
        if ((*it)->geometry().intersects(exposed))
            painter.drawImage((*it)->pos(), (*it)->rendered(background));
    }
}

bool IconArea::event(QEvent* event) {
    if (event->type() == QEvent::ContextMenu && pictureMenu_) {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        if (pictureAt(menuEvent->pos())) {
            pictureMenu_->popup(menuEvent->globalPos());
            return true;
        }
    }
    return QWidget::event(event);
}

void IconArea::takeMouse(QPoint at) {
    if (!grabbedBy_) grabbedBy_ = pictureAt(at);
}

void IconArea::mousePressEvent(QMouseEvent* event) {
    takeMouse(event->position().toPoint());
    if (event->button() == Qt::LeftButton && *grabbedBy_) leftPressedAt_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void IconArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton) grabbedBy_.reset();
    QWidget::mouseReleaseEvent(event);
}

void IconArea::mouseMoveEvent(QMouseEvent* event) {
    // A drag run by the platform takes the release: no button means none is held.
    if (event->buttons() == Qt::NoButton) grabbedBy_.reset();
    const QPoint at = event->position().toPoint();
    TIconPicture* picture = grabbedBy_ ? *grabbedBy_ : pictureAt(at);
    if (!picture) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    emit mouseMoved(picture);
    // Only a press on a picture starts a drag; hovering selects.
    if (leftPressedAt_ && !(event->buttons() & Qt::LeftButton)) leftPressedAt_.reset();
    if (leftPressedAt_ && (at - *leftPressedAt_).manhattanLength() >= QApplication::startDragDistance()) {
        leftPressedAt_.reset();
        emit dragStarted(picture);
    }
}

void IconArea::mouseDoubleClickEvent(QMouseEvent* event) {
    TIconPicture* picture = pictureAt(event->position().toPoint());
    if (!picture) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    takeMouse(event->position().toPoint());
    if (event->button() == Qt::LeftButton) emit doubleClicked(picture);
}

}  // namespace pictrove
