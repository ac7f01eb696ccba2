// One icon of the grid: a small picture control that shows its icon over the
// display area's colour and reports the mouse to the main window.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>
#include <optional>

#include "export/icon_stamp.h"
#include "icon_record.h"

class QMenu;

namespace pictrove {

class TIconPicture : public QWidget {
    Q_OBJECT

public:
    // The mark by which the grid's pictures are told from other components.
    static constexpr int kGridTag = 999;

    TIconPicture(std::shared_ptr<IconRecord> record, QWidget* parent);

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    const std::shared_ptr<IconRecord>& record() const { return record_; }
    bool empty() const { return !record_ || !record_->icon(); }

    void setPopupMenu(QMenu* menu) { popupMenu_ = menu; }
    QMenu* popupMenu() const { return popupMenu_; }

    // Where the icon came from: the file and the icon's number in it (for a
    // collection, the record's number, and the record holds the icon), and
    // what tells that file from another put in its place since.
    struct Origin {
        QString fileName;
        std::size_t index = 0;
        bool collectionRecord = false;
        std::optional<IconStamp> stamp;  // for an icon of the engine's; nothing when unknown
    };
    void setOrigin(Origin origin) { origin_ = std::move(origin); }
    const Origin& origin() const { return origin_; }

    // Sizes the picture to its icon, as a picture with auto-size does.
    void setAutoSize(bool on);

signals:
    void mouseMoved(TIconPicture* sender);
    void doubleClicked(TIconPicture* sender);
    // The left button went down on the picture and the mouse then moved
    // beyond the platform's drag distance.
    void dragStarted(TIconPicture* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::shared_ptr<IconRecord> record_;
    Origin origin_;
    int tag_ = 0;
    std::optional<QPoint> pressedAt_;
    QMenu* popupMenu_ = nullptr;
    // The icon drawn over the background it was last shown on.
    QImage rendered_;
    QRgb renderedOver_ = 0;
};

}  // namespace pictrove
