#include "group_file.h"

#include <algorithm>
#include <cstring>

#include "image/dib.h"
#include "image/png.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

// Directory entries hold sizes in one byte, with 0 for 256 and beyond.
std::uint8_t sizeByte(std::uint32_t side) {
    return side >= 256 ? 0 : static_cast<std::uint8_t>(side);
}

// Palette images name their colour count (the table's, when the header
// gives one); deeper ones and PNG images name none.
std::uint8_t colourCount(const IconImage& image) {
    if (image.info.png || image.info.bits >= 8) return 0;
    // The header's count is the file's word: one beyond what the depth can
    // index is taken as the full table.
    const std::uint32_t full = 1u << image.info.bits;
    const std::uint32_t used = u32At(image.data.head(kImageHeadSize), 32).value_or(0);
    return static_cast<std::uint8_t>(used != 0 && used < full ? used : full);
}

}  // namespace

Bytes imageBytes(const IconImage& image) {
    const Bytes data = image.data;
    return data.first(image.info.png ? storedPngSize(data) : storedDibSize(data));
}

bool isDamagedBitmap(const IconImage& image) {
    return !image.info.png && !peekDib(imageBytes(image));
}

bool isCursorGroup(const IconGroup& group) {
    return !group.images.empty() && std::all_of(group.images.begin(), group.images.end(),
                                                [](const IconImage& i) { return i.hotSpot; });
}

std::optional<std::uint64_t> groupFileSize(const IconGroup& group) {
    const std::size_t count = group.images.size();
    if (count == 0 || count > 0xFFFF) return std::nullopt;
    // Groups may name one image many times over, so the sum is checked as
    // it grows.
    std::uint64_t total = kHeaderSize + std::uint64_t{kEntrySize} * count;
    for (const IconImage& image : group.images) {
        if (isDamagedBitmap(image)) return std::nullopt;
        total += imageBytes(image).size();
        if (total > limits::kMaxGroupFileSize) return std::nullopt;
    }
    return total;
}

bool writeGroupFile(const IconGroup& group, const std::function<void(std::span<const std::uint8_t>)>& sink) {
    // Nothing is read or handed over before the whole size is known to be
    // bearable.
    if (!groupFileSize(group)) return false;
    const std::size_t count = group.images.size();
    std::vector<Bytes> images;
    images.reserve(count);
    for (const IconImage& image : group.images) images.push_back(imageBytes(image));
    const bool cursor = isCursorGroup(group);
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + kEntrySize * count);
    put16(out, 0);
    put16(out, cursor ? 2 : 1);
    put16(out, static_cast<std::uint16_t>(count));
    std::uint32_t offset = static_cast<std::uint32_t>(kHeaderSize + kEntrySize * count);
    for (std::size_t i = 0; i < count; ++i) {
        const IconImage& image = group.images[i];
        out.push_back(sizeByte(image.info.width));
        out.push_back(sizeByte(image.info.height));
        out.push_back(colourCount(image));
        out.push_back(0);
        put16(out, cursor ? image.hotSpot->x : 1);
        put16(out, cursor ? image.hotSpot->y : image.info.bits);
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    sink(out);
    for (const Bytes image : images)
        sink({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()});
    return true;
}

std::optional<std::vector<std::uint8_t>> buildGroupFile(const IconGroup& group) {
    const auto total = groupFileSize(group);
    if (!total) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(*total));
    writeGroupFile(group, [&](std::span<const std::uint8_t> bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    });
    return out;
}

}  // namespace pictrove
