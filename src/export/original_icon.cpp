#include "export/original_icon.h"

#include <algorithm>

#include "app/file_names.h"
#include "browser/icon_picture.h"
#include "collection_file.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "icon_source/readers.h"
#include "image/png.h"
#include "image/scale.h"

namespace pictrove {
namespace {

// The sizes people ask of icons, offered beside the stored ones.
constexpr std::uint32_t kUsualSizes[] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
// What the command-line tool accepts as --size.
constexpr std::uint32_t kMinSize = 8;
constexpr std::uint32_t kMaxSize = 1024;

}  // namespace

std::optional<OriginalIcon> OriginalIcon::of(const TIconPicture& picture) {
    const TIconPicture::Origin& origin = picture.origin();
    OriginalIcon original;
    original.fileName_ = origin.fileName;
    original.index_ = origin.index;
    if (origin.collectionRecord) {
        // The record's bytes are its icon file; keep a copy so the group's
        // images stay valid whatever happens to the picture.
        if (!picture.record() || !picture.record()->hasFileImage()) return std::nullopt;
        const auto stored = picture.record()->fileImage();
        if (!stored) return std::nullopt;
        auto bytes = std::make_shared<const std::vector<std::uint8_t>>(stored->begin(), stored->end());
        if (bytes->size() > 2 && (*bytes)[2] == 1) {
            if (auto group = readIcoFile(std::as_bytes(std::span(*bytes))))
                original.group_ = std::move(*group);
        }
        original.icon_ = [bytes](std::uint32_t size) {
            return std::optional<Image>(scaleArea(decodeRecordIcon(*bytes), size, size));
        };
        original.storage_ = std::move(bytes);
        return original;
    }
    // Only the file the icon was shown from: nothing when another stands at
    // its name now, even one of the same size and the same icons.
    const std::filesystem::path path = corePath(origin.fileName);
    auto opened = IconFile::openFollowingRedirect(path);
    if (!opened || origin.index >= opened->count() || !origin.stamp) return std::nullopt;
    const auto now = IconStamp::of(*opened, path);
    if (!now || now->forGroup(opened->group(origin.index)) != *origin.stamp) return std::nullopt;
    original.shown_ = origin.stamp;
    auto file = std::make_shared<const IconFile>(std::move(*opened));
    original.group_ = file->group(origin.index);
    original.icon_ = [file, index = origin.index](std::uint32_t size) { return file->icon(index, size); };
    original.storage_ = std::move(file);
    return original;
}

bool OriginalIcon::stillShown() const {
    return !shown_ || stampFile(shown_->file->path) == shown_->file->stamp;
}

std::optional<std::vector<std::uint8_t>> OriginalIcon::groupFile() const {
    if (group_.images.empty()) return std::nullopt;
    auto bytes = buildGroupFile(group_);
    return stillShown() ? std::optional(std::move(bytes)) : std::nullopt;
}

bool OriginalIcon::isCursor() const {
    return !group_.images.empty() && isCursorGroup(group_);
}

std::optional<std::vector<std::uint8_t>> OriginalIcon::pngAt(std::uint32_t size) const {
    // An icon of a file (a collection record draws its own way) chosen from
    // a stored PNG of just this size is that PNG.
    const auto stored = shown_ ? storedPngShownAt(group_.images, size, imageDecodes) : std::nullopt;
    if (stored && stillShown()) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(stored->data());
        return std::vector<std::uint8_t>(first, first + stored->size());
    }
    const auto shown = icon_ ? icon_(size) : std::nullopt;
    if (!shown || shown->empty() || !stillShown()) return std::nullopt;
    return encodePng(*shown);
}

std::optional<std::vector<std::uint8_t>> OriginalIcon::storedPng(std::size_t image) const {
    if (image >= group_.images.size()) return std::nullopt;
    const IconImage& stored = group_.images[image];
    if (stored.info.png) {
        const Bytes data = stored.data;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        if (!stillShown()) return std::nullopt;
        return std::vector<std::uint8_t>(bytes, bytes + data.size());
    }
    const auto decoded = storedImage(image);
    return decoded ? encodePng(*decoded) : std::nullopt;
}

std::optional<Image> OriginalIcon::storedImage(std::size_t image) const {
    auto decoded = image < group_.images.size() ? decodeImage(group_.images[image]) : std::nullopt;
    return stillShown() ? decoded : std::nullopt;
}

std::size_t OriginalIcon::largestImage() const {
    std::size_t best = 0;
    for (std::size_t i = 1; i < group_.images.size(); ++i) {
        const ImageInfo& a = group_.images[i].info;
        const ImageInfo& b = group_.images[best].info;
        const std::uint64_t pixelsA = std::uint64_t{a.width} * a.height;
        const std::uint64_t pixelsB = std::uint64_t{b.width} * b.height;
        if (pixelsA > pixelsB || (pixelsA == pixelsB && a.bits > b.bits)) best = i;
    }
    return best;
}

std::uint32_t OriginalIcon::largestStoredSize() const {
    if (group_.images.empty()) return kIconSize;
    return std::clamp(group_.images[largestImage()].info.width, kMinSize, kMaxSize);
}

std::vector<std::uint32_t> OriginalIcon::offeredSizes() const {
    std::vector<std::uint32_t> sizes(std::begin(kUsualSizes), std::end(kUsualSizes));
    for (const IconImage& image : group_.images)
        sizes.push_back(std::clamp(image.info.width, kMinSize, kMaxSize));
    sizes.push_back(largestStoredSize());
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}

}  // namespace pictrove
