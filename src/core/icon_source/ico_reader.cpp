// Icon and cursor files: ICONDIR (reserved, type 1 for icons or 2 for
// cursors, count) and 16-byte entries whose last two fields give the size and
// file offset of each image. Cursors keep their hot spot where icons keep
// planes and bit count; the hot spot is kept, the rest the image headers say.
#include <algorithm>

#include "icon_source/readers.h"

namespace pictrove {

std::optional<IconGroup> readIcoFile(const FileView& file) {
    constexpr std::size_t kHeaderSize = 6;
    constexpr std::size_t kEntrySize = 16;
    const auto header = file.exact(0, kHeaderSize);
    if (!header) return std::nullopt;
    const std::uint16_t reserved = loadU16(header->data());
    const std::uint16_t type = loadU16(header->data() + 2);
    const std::uint16_t count = loadU16(header->data() + 4);
    if (reserved != 0 || (type != 1 && type != 2) || count == 0) return std::nullopt;
    const auto entries = file.exact(kHeaderSize, std::uint64_t{count} * kEntrySize);
    if (!entries) return std::nullopt;
    ByteReader in(*entries);

    IconGroup group;
    group.images.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        in.skip(4);  // width, height, colours, reserved
        const HotSpot hotSpot{in.u16(), in.u16()};
        const std::uint32_t size = in.u32();
        const std::uint32_t offset = in.u32();
        // An image that runs past the end was cut short, or its size lies:
        // it is left out, as the system's loader leaves it, instead of taking
        // whatever follows it up to the end of the file as its bytes.
        if (!fitsIn(file.size(), offset, size)) continue;
        if (auto image = inspectImage(file.later(offset, size))) {
            if (type == 2) image->hotSpot = hotSpot;
            group.images.push_back(*image);
        }
    }
    if (group.images.empty()) return std::nullopt;
    return group;
}

}  // namespace pictrove
