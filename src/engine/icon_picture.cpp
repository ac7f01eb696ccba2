#include "engine/icon_picture.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "group_file.h"
#include "icon_source/icon_file.h"
#include "image/png.h"
#include "image/scale.h"

namespace pictrove {
namespace {

// The picture for an icon: the decoded image, and the stored PNG bytes when
// they can be written as they are.
struct Picture {
    std::shared_ptr<const Image> image;
    Bytes storedPng;
};

// A stored PNG of just the asked size in 8-bit RGBA, once it has decoded, is
// the picture already: taking it as stored spares a second compression.
bool fitsAsStored(const IconImage& stored, const Image& decoded, std::uint32_t size) {
    return decoded.width == size && decoded.height == size && isRgba8Png(stored);
}

// The image the choice rule picks for `size`, decoded at its own size; the
// next best when it is damaged. Icons without stored images are drawn at
// the system icon size.
std::optional<Picture> bestPicture(const Source& source, const SourceIcon& icon, std::uint32_t size) {
    for (const std::size_t candidate : rankImages(icon.images, size)) {
        const IconImage& stored = icon.images[candidate];
        if (auto image = source.decode(stored)) {
            // What follows the PNG stream in its resource is no part of it.
            const Bytes png = fitsAsStored(stored, *image, size) ? imageBytes(stored) : Bytes{};
            return Picture{std::move(image), png};
        }
    }
    if (!icon.images.empty()) return std::nullopt;
    auto drawn = icon.icon(kIconSize);
    return drawn ? std::optional(Picture{std::make_shared<const Image>(std::move(*drawn)), {}})
                 : std::nullopt;
}

}  // namespace

Image fitInto(const Image& image, std::uint32_t size) {
    if (std::max(image.width, image.height) == size) return image;
    const double scale = static_cast<double>(size) / std::max(image.width, image.height);
    const auto side = [&](std::uint32_t length) {
        return std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(length * scale)), 1, size);
    };
    return scaleArea(image, side(image.width), side(image.height));
}

Result<std::vector<std::uint8_t>> iconPng(const Source& source, const SourceIcon& icon, std::uint32_t size) {
    const auto picture = bestPicture(source, icon, size);
    if (!picture || picture->image->empty()) {
        const std::string why = whyNotMade(icon.images);
        return Error{ErrorCode::invalidFormat, why.empty() ? "no icon to show" : "no icon to show: " + why};
    }
    if (const Bytes stored = picture->storedPng; !stored.empty()) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(stored.data());
        return std::vector<std::uint8_t>(bytes, bytes + stored.size());
    }
    auto png = encodePng(fitInto(*picture->image, size));
    if (!png) return Error{ErrorCode::writeFailed, "the picture could not be encoded"};
    return std::move(*png);
}

}  // namespace pictrove
