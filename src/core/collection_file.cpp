#include "collection_file.h"

#include <algorithm>
#include <cstring>

#include "icon_source/icon_file.h"
#include "icon_source/readers.h"
#include "image/scale.h"
#include "path_text.h"
#include "paths.h"

namespace pictrove {
namespace {

constexpr std::string_view kTrailerTag = "Icons";

Image blank(std::uint32_t rgb, std::uint8_t alpha) {
    Image image;
    image.width = image.height = kIconSize;
    image.hasAlpha = true;
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        image.bgra.insert(image.bgra.end(),
                          {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                           static_cast<std::uint8_t>(rgb >> 16), alpha});
    }
    return image;
}

void fill(Image& image, std::uint32_t left, std::uint32_t top, std::uint32_t right, std::uint32_t bottom,
          std::uint32_t rgb) {
    for (std::uint32_t y = top; y < bottom; ++y) {
        for (std::uint32_t x = left; x < right; ++x) {
            std::uint8_t* p = image.bgra.data() + (std::size_t{y} * image.width + x) * 4;
            p[0] = static_cast<std::uint8_t>(rgb);
            p[1] = static_cast<std::uint8_t>(rgb >> 8);
            p[2] = static_cast<std::uint8_t>(rgb >> 16);
            p[3] = 255;
        }
    }
}

}  // namespace

std::array<char, kCollectionTrailerSize> collectionTrailer(std::string_view fileName) {
    std::array<char, kCollectionTrailerSize> trailer{};
    std::fill(trailer.begin(), trailer.end(), ' ');
    std::memcpy(trailer.data(), kTrailerTag.data(), kTrailerTag.size());
    const std::string extension = lowerExtension(fileName);
    std::memcpy(trailer.data() + kTrailerTag.size(), extension.data(),
                std::min<std::size_t>(extension.size(), 8));
    return trailer;
}

bool isCollectionTrailer(Bytes trailer, std::string_view extension) {
    std::size_t length = 0;
    while (length < trailer.size() && trailer[length] != std::byte{0}) ++length;
    const std::string expected = std::string(kTrailerTag) + std::string(extension);
    return expected.size() <= length && std::memcmp(trailer.data(), expected.data(), expected.size()) == 0;
}

std::vector<std::uint8_t> buildCollection(const std::vector<std::span<const std::uint8_t>>& images,
                                          std::string_view fileName) {
    std::vector<std::uint8_t> out(images.size() * kCollectionRecordSize, 0);
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::copy_n(images[i].begin(), std::min(images[i].size(), kCollectionRecordSize),
                    out.begin() + static_cast<std::ptrdiff_t>(i * kCollectionRecordSize));
    }
    const auto trailer = collectionTrailer(fileName);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

bool isAcceptedRecord(std::span<const std::uint8_t> record) {
    if (record.size() < 4) return false;
    const unsigned type = record[2] | record[3] << 8;
    return type == 0 || type == 1;
}

Image decodeRecordIcon(std::span<const std::uint8_t> record) {
    if (!isAcceptedRecord(record)) return damagedIconPlaceholder();
    if ((record[2] | record[3] << 8) == 0) return applicationIcon();
    const Bytes bytes = std::as_bytes(record);
    const auto group = readIcoFile(bytes);
    if (!group) return damagedIconPlaceholder();
    for (std::size_t candidate : rankImages(group->images)) {
        if (auto image = decodeImage(group->images[candidate]))
            return scaleArea(*image, kIconSize, kIconSize);
    }
    return damagedIconPlaceholder();
}

Image applicationIcon() {
    // A plain window: frame, blue title bar with its buttons, white inside.
    Image icon = blank(0, 0);
    fill(icon, 1, 3, 31, 29, 0x404040);
    fill(icon, 2, 4, 30, 9, 0x000080);
    fill(icon, 25, 5, 29, 8, 0xC0C0C0);
    fill(icon, 2, 9, 30, 28, 0xFFFFFF);
    deriveMaskFromAlpha(icon);
    return icon;
}

Image damagedIconPlaceholder() {
    // A grey tile crossed out in red, unmistakably not a real icon.
    Image icon = blank(0, 0);
    fill(icon, 2, 2, 30, 30, 0x808080);
    fill(icon, 4, 4, 28, 28, 0xE0E0E0);
    for (std::uint32_t i = 6; i < 26; ++i) {
        fill(icon, i, i, i + 2, i + 1, 0xC00000);
        fill(icon, 30 - i, i, 32 - i, i + 1, 0xC00000);
    }
    deriveMaskFromAlpha(icon);
    return icon;
}

Result<std::optional<CollectionReader>> CollectionReader::open(const std::filesystem::path& path,
                                                               std::string_view extension) {
    auto file = MappedFile::open(path);
    if (!file) return Error{ErrorCode::cannotOpen, "Cannot open file " + utf8Of(path)};
    return fromFile(std::move(*file), extension);
}

Result<std::optional<CollectionReader>> CollectionReader::fromFile(MappedFile file,
                                                                   std::string_view extension) {
    if (file.size() < kCollectionTrailerSize) return Error{ErrorCode::readFailed, "Stream read error"};
    if (!isCollectionTrailer(file.read(file.size() - kCollectionTrailerSize, kCollectionTrailerSize),
                             extension)) {
        return std::optional<CollectionReader>();
    }
    return std::optional<CollectionReader>(CollectionReader(std::move(file)));
}

bool CollectionReader::next(std::span<const std::uint8_t>& record) {
    if (!fitsIn(file_.size(), offset_, kCollectionRecordSize)) return false;
    // Records are read in file order, so the reads' blocks take in the
    // records that follow as well.
    const Bytes bytes = file_.read(offset_, kCollectionRecordSize);
    if (bytes.size() != kCollectionRecordSize) return false;  // no memory to read it into
    record = {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    offset_ += kCollectionRecordSize;
    return true;
}

}  // namespace pictrove
