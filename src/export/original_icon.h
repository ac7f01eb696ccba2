// The stored images behind one picture of the grid, reached again from the
// file the picture was loaded from, for the commands that hand out more than
// the 32 x 32 icon the grid shows.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "export/icon_stamp.h"
#include "icon_source/icon_group.h"
#include "image/image.h"

namespace pictrove {

class TIconPicture;

class OriginalIcon {
public:
    // The picture's group read afresh from its file: the engine's group for
    // an executable or icon file, the icon file a collection record holds
    // for a record (a record is a one-image icon file, so that is all there
    // is). Nothing when the file no longer holds it or is not the one the
    // picture was shown from.
    static std::optional<OriginalIcon> of(const TIconPicture& picture);

    const QString& fileName() const { return fileName_; }
    std::size_t index() const { return index_; }
    const IconGroup& group() const { return group_; }

    // The whole group as an .ico or .cur file; nothing when it cannot be built.
    std::optional<std::vector<std::uint8_t>> groupFile() const;
    bool isCursor() const;
    // The icon chosen and scaled for `size` x `size` with alpha, as a PNG file.
    std::optional<std::vector<std::uint8_t>> pngAt(std::uint32_t size) const;
    // One stored image as a PNG file: a stored PNG as it is, a bitmap decoded.
    std::optional<std::vector<std::uint8_t>> storedPng(std::size_t image) const;
    // One stored image decoded at its own size.
    std::optional<Image> storedImage(std::size_t image) const;
    // What these hand out is read from the file as it is then (a group's
    // images only when first asked for), so each gives nothing once the
    // file was changed or replaced since the picture was shown.
    // The sizes a PNG save offers: every stored width and the usual icon
    // sizes, ascending; and the largest stored one, offered first.
    std::vector<std::uint32_t> offeredSizes() const;
    std::uint32_t largestStoredSize() const;
    // The stored image with the most pixels, the deepest on a tie.
    std::size_t largestImage() const;

private:
    bool stillShown() const;

    QString fileName_;
    std::size_t index_ = 0;
    IconGroup group_;
    // Keeps the bytes the group's images point into.
    std::shared_ptr<const void> storage_;
    std::function<std::optional<Image>(std::uint32_t)> icon_;
    std::optional<IconStamp> shown_;  // nothing for a collection's record, which is in memory
};

}  // namespace pictrove
