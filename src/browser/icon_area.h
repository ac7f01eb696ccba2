// The inside of the display area: paints the grid's icon pictures itself,
// only those a paint exposes, and tells which picture the mouse is on, so
// that a grid of thousands of icons costs no more than the icons.
#pragma once

#include <QPoint>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "browser/icon_picture.h"

class QMenu;

namespace pictrove {

class IconArea : public QWidget {
    Q_OBJECT

public:
    explicit IconArea(QWidget* parent = nullptr);
    ~IconArea() override;

    // The pictures, in the order they were placed. The area owns them.
    const std::vector<TIconPicture*>& pictures() const { return pictures_; }
    // Places a picture. Pictures come in reading order: none stands above
    // the one before it. The caller shows them (update, repaint) once
    // placed, so that thousands of them cost one paint.
    void add(std::unique_ptr<TIconPicture> picture);
    // Takes every picture off. They are let go at the next turn of the
    // event loop, once whatever replaces them has been shown.
    void clear();

    // The picture at `at`, the one placed last where pictures overlap.
    TIconPicture* pictureAt(QPoint at) const;

    // The menu a right click on a picture opens; elsewhere the area's own
    // context menu request stands.
    void setPictureMenu(QMenu* menu) { pictureMenu_ = menu; }

signals:
    void mouseMoved(TIconPicture* picture);
    void doubleClicked(TIconPicture* picture);
    // The left button went down on the picture and the mouse then moved
    // beyond the platform's drag distance.
    void dragStarted(TIconPicture* picture);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The pictures that may reach down to `top` or below, from the first.
    std::vector<TIconPicture*>::const_iterator firstReaching(int top) const;
    void takeMouse(QPoint at);
    void releaseRetired();

    std::vector<TIconPicture*> pictures_;
    std::vector<TIconPicture*> retired_;
    int tallest_ = 0;  // the height of the tallest picture, which bounds the searches
    QMenu* pictureMenu_ = nullptr;
    // While a button is held the mouse belongs to the picture it went down
    // on (none when it went down beside the pictures), as it would to a
    // control of its own.
    std::optional<TIconPicture*> grabbedBy_;
    std::optional<QPoint> leftPressedAt_;
};

}  // namespace pictrove
