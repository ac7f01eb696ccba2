// The icon behind one or more pictures of the grid: the icon itself and,
// once it has been built (or when it came from a collection record), its icon
// file image. Pictures that show the same icon share one record, so the file
// image is built at most once however often the icon is saved.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "image/image.h"
#include "result.h"

namespace pictrove {

class IconRecord {
public:
    explicit IconRecord(Image icon) : icon_(std::move(icon)) {}
    // An icon read from stored icon file bytes, which are kept exactly as read.
    IconRecord(Image icon, std::vector<std::uint8_t> fileImage)
        : icon_(std::move(icon)), fileImage_(std::move(fileImage)) {}
    // A record of an icon collection file that passed isAcceptedRecord, kept
    // as read. Its icon, which it always has, is built from the bytes when it
    // is first asked for, so that only the icons drawn or used are decoded.
    struct CollectionRecord {};
    IconRecord(CollectionRecord, std::vector<std::uint8_t> record)
        : fileImage_(std::move(record)), iconPending_(true) {}

    // The icon at the system icon size; nothing when the record holds none.
    const Image* icon() const;
    // Whether icon() gives one, and of what size, told without building it.
    bool hasIcon() const { return iconPending_ || !icon_.empty(); }
    std::uint32_t iconWidth() const { return iconPending_ ? kIconSize : icon_.width; }
    std::uint32_t iconHeight() const { return iconPending_ ? kIconSize : icon_.height; }

    // The bytes written for this icon by an icon save and by a collection
    // record: kept as they came, or built from the icon on first use.
    Result<std::span<const std::uint8_t>> fileImage();

    bool hasFileImage() const { return fileImage_.has_value(); }

private:
    // Built on first use for a collection record: the record is shared by
    // the pictures and commands of the GUI thread only.
    mutable Image icon_;
    std::optional<std::vector<std::uint8_t>> fileImage_;
    mutable bool iconPending_ = false;
};

}  // namespace pictrove
