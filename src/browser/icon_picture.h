// One icon of the grid: the icon, where it came from and where it stands in
// the display area, which paints it and reports the mouse over it.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <memory>
#include <optional>

#include "export/icon_stamp.h"
#include "icon_record.h"

namespace pictrove {

class TIconPicture {
public:
    // The mark by which the grid's pictures are told from other components.
    static constexpr int kGridTag = 999;

    explicit TIconPicture(std::shared_ptr<IconRecord> record) : record_(std::move(record)) {}

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    const std::shared_ptr<IconRecord>& record() const { return record_; }
    bool empty() const { return !record_ || !record_->hasIcon(); }

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

    // The place within the display area.
    QRect geometry() const { return geometry_; }
    QPoint pos() const { return geometry_.topLeft(); }
    QSize size() const { return geometry_.size(); }
    int x() const { return geometry_.x(); }
    int y() const { return geometry_.y(); }
    int width() const { return geometry_.width(); }
    int height() const { return geometry_.height(); }
    void move(int left, int top) { geometry_.moveTo(left, top); }

    // Sizes the picture to its icon, as a picture with auto-size does.
    void setAutoSize(bool on);

    // The icon drawn over `background`: drawn on first use, kept for the
    // next paint over the same colour.
    const QImage& rendered(QColor background);

private:
    std::shared_ptr<IconRecord> record_;
    Origin origin_;
    int tag_ = 0;
    QRect geometry_{0, 0, 0, 0};
    QImage rendered_;
    QRgb renderedOver_ = 0;
};

}  // namespace pictrove
