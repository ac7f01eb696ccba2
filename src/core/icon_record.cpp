#include "icon_record.h"

#include "collection_file.h"
#include "icon_writer.h"

namespace pictrove {

const Image* IconRecord::icon() const {
    if (iconPending_) {
        icon_ = decodeRecordIcon(*fileImage_);
        iconPending_ = false;
    }
    return icon_.empty() ? nullptr : &icon_;
}

Result<std::span<const std::uint8_t>> IconRecord::fileImage() {
    if (!fileImage_) {
        if (!icon()) return Error{ErrorCode::invalidFormat, "Icon image is not valid"};
        auto encoded = encodeIconFile(icon_);
        if (!encoded) return Error{ErrorCode::invalidFormat, "Bitmap image is not valid"};
        fileImage_ = std::move(*encoded);
    }
    return std::span<const std::uint8_t>(*fileImage_);
}

}  // namespace pictrove
