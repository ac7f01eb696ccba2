// macOS icon files: "icns" and the file's length, then members of a type
// (four characters) and a length that counts their 8-byte header, all
// big-endian. Each picture member is one image of the file's one icon: PNG
// and JPEG 2000 ones (icp4 ... ic14, ic04/ic05), 32-bit ARGB ones (ic04,
// ic05, icp4, icp5 beginning "ARGB"), and the older 24-bit ones (is32,
// il32, ih32, it32), whose transparency is the 8-bit mask member of their
// size (s8mk, l8mk, h8mk, t8mk). Everything but PNG is converted to a 32-bit
// bitmap, so that the rest of the program sees only bitmaps and PNG. The
// classic members are bitmaps of their own depth, as an icon file's
// low-colour images are: 1-bit pictures followed by their mask (ICN#, ics#,
// icm#, ich#), and 4- and 8-bit ones in the system's 16- and 256-colour
// palettes (icl4 ... ich8), transparent where the 1-bit member of their
// size masks them.
//
// A conversion is made only when its bitmap is first read: a file may hold
// thousands of members of a few hundred bytes each, whose bitmaps would
// take hundreds of MB, and one thumbnail needs one of them. Listing takes
// each picture's size from its type (JPEG 2000: from its header), and looks
// through packed data only far enough to know it is whole, so that a
// damaged member is left out as it always was, never listed and then found
// to be no picture.
//
// A type names one picture of the icon: readers look a picture up by its
// type, so a type given again names no further picture, and the first member
// of a type that is whole is the one taken. Thousands of members of one type
// are then one image, not thousands to convert.
#include <algorithm>
#include <array>
#include <functional>
#include <span>
#include <string_view>

#include "icon_source/readers.h"
#include "image/dib.h"
#include "image/jpeg2000.h"
#include "image/png.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::uint64_t kMemberHeader = 8;

std::uint32_t loadU32Be(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) << 24 | std::to_integer<std::uint32_t>(p[1]) << 16 |
           std::to_integer<std::uint32_t>(p[2]) << 8 | std::to_integer<std::uint32_t>(p[3]);
}

struct Member {
    std::string_view type;  // points into `types` below or is empty
    FileRange body;
};

// The 24-bit types, the masks that go with them, and their side.
struct RgbType {
    std::string_view colour, mask;
    std::uint32_t side;
};
constexpr std::array<RgbType, 4> kRgbTypes{{
    {"is32", "s8mk", 16},
    {"il32", "l8mk", 32},
    {"ih32", "h8mk", 48},
    {"it32", "t8mk", 128},
}};

// The classic types of one size: the 1-bit picture and mask, the 4-bit
// and the 8-bit picture.
struct ClassicSize {
    std::array<std::string_view, 3> types;  // of 1, 4 and 8 bits
    std::uint32_t width, height;
};
constexpr std::array<ClassicSize, 4> kClassicSizes{{
    {{"ICN#", "icl4", "icl8"}, 32, 32},
    {{"ics#", "ics4", "ics8"}, 16, 16},
    {{"icm#", "icm4", "icm8"}, 16, 12},
    {{"ich#", "ich4", "ich8"}, 48, 48},
}};
constexpr std::array<std::uint16_t, 3> kClassicBits{1, 4, 8};

// The types that hold PNG, JPEG 2000 or ARGB data, with the side an ARGB
// picture has (0 where the type never holds one).
struct PictureType {
    std::string_view type;
    std::uint32_t argbSide;
};
constexpr std::array<PictureType, 13> kPictureTypes{{
    {"ic04", 16},
    {"ic05", 32},
    {"icp4", 16},
    {"icp5", 32},
    {"icp6", 0},
    {"ic07", 0},
    {"ic08", 0},
    {"ic09", 0},
    {"ic10", 0},
    {"ic11", 0},
    {"ic12", 0},
    {"ic13", 0},
    {"ic14", 0},
}};

// The file's members, as far as they lie inside it, in stored order.
std::vector<Member> readMembers(const FileView& file) {
    std::vector<Member> members;
    std::uint64_t offset = kMemberHeader;
    while (members.size() < limits::kMaxIcnsMembers && fitsIn(file.size(), offset, kMemberHeader)) {
        const auto header = file.exact(offset, kMemberHeader);
        if (!header) break;
        const std::uint32_t length = loadU32Be(header->data() + 4);
        if (length < kMemberHeader || !fitsIn(file.size(), offset, length)) break;
        const std::string_view type(reinterpret_cast<const char*>(header->data()), 4);
        std::string_view known;
        for (const RgbType& each : kRgbTypes) {
            if (type == each.colour) known = each.colour;
            if (type == each.mask) known = each.mask;
        }
        for (const PictureType& each : kPictureTypes) {
            if (type == each.type) known = each.type;
        }
        for (const ClassicSize& each : kClassicSizes) {
            for (const std::string_view classic : each.types) {
                if (type == classic) known = classic;
            }
        }
        if (!known.empty()) members.push_back({known, {offset + kMemberHeader, length - kMemberHeader}});
        offset += length;
    }
    return members;
}

// PackBits as icon files use it, one channel of `count` bytes: a byte below
// 0x80 is followed by that many plus one bytes to copy, one of 0x80 or more
// by one byte to repeat that many less 125 times. A run past the channel's
// end is cut there. False when the data ends first. With no `out`, it only
// walks the channel, to know that it is whole.
bool unpackChannel(ByteReader& in, std::uint8_t* out, std::size_t count, std::size_t step) {
    std::size_t done = 0;
    while (done < count) {
        const std::uint8_t control = in.u8();
        if (!in.ok()) return false;
        if (control < 0x80) {
            const std::size_t run = std::min<std::size_t>(control + 1u, count - done);
            const Bytes literal = in.bytes(run);
            if (!in.ok()) return false;
            for (std::size_t i = 0; out && i < run; ++i)
                out[(done + i) * step] = std::to_integer<std::uint8_t>(literal[i]);
            done += run;
        } else {
            const std::size_t run = std::min<std::size_t>(control - 125u, count - done);
            const std::uint8_t value = in.u8();
            if (!in.ok()) return false;
            for (std::size_t i = 0; out && i < run; ++i) out[(done + i) * step] = value;
            done += run;
        }
    }
    return true;
}

// Whether `planes` packed channels of `pixels` each lie whole in `data`
// from `offset` on, so that the member they are will decode.
bool planesWhole(Bytes data, std::size_t offset, std::size_t planes, std::size_t pixels) {
    ByteReader in(data, offset);
    for (std::size_t plane = 0; plane < planes; ++plane) {
        if (!unpackChannel(in, nullptr, pixels, 0)) return false;
    }
    return true;
}

Image opaqueImage(std::uint32_t side) {
    Image image;
    image.width = image.height = side;
    image.bgra.assign(image.pixelCount() * 4, 255);
    image.hasAlpha = true;
    return image;
}

// A 24-bit member: packed red, green and blue planes (it32 after four zero
// bytes), or, when its length says so, plain 32-bit pixels whose first byte
// is unused.
std::optional<Image> decodeRgb(Bytes data, std::uint32_t side, bool leadingZeros) {
    Image image = opaqueImage(side);
    const std::size_t pixels = image.pixelCount();
    if (data.size() == pixels * 4) {
        for (std::size_t i = 0; i < pixels; ++i) {
            for (std::size_t c = 0; c < 3; ++c)
                image.bgra[i * 4 + 2 - c] = std::to_integer<std::uint8_t>(data[i * 4 + 1 + c]);
        }
        return image;
    }
    ByteReader in(data, leadingZeros ? 4 : 0);
    for (std::size_t c = 0; c < 3; ++c) {
        if (!unpackChannel(in, image.bgra.data() + 2 - c, pixels, 4)) return std::nullopt;
    }
    return image;
}

// A 32-bit member: "ARGB", then packed alpha, red, green and blue planes.
std::optional<Image> decodeArgb(Bytes data, std::uint32_t side) {
    Image image = opaqueImage(side);
    ByteReader in(data, 4);
    constexpr std::array<std::size_t, 4> kPlaneOffsets{3, 2, 1, 0};  // into BGRA
    for (const std::size_t at : kPlaneOffsets) {
        if (!unpackChannel(in, image.bgra.data() + at, image.pixelCount(), 4)) return std::nullopt;
    }
    return image;
}

// What the bitmap of a picture takes: header, palette, colour rows and the
// 1-bit mask rows. Sides are at most limits::kMaxImageSide.
std::uint64_t bitmapBytes(std::uint64_t width, std::uint64_t height, std::uint16_t bits = 32) {
    const std::uint64_t palette = bits < 32 ? std::uint64_t{4} << bits : 0;
    return 40 + palette + (width * bits + 31) / 32 * 4 * height + (width + 31) / 32 * 4 * height;
}

using MakeBitmap = std::function<std::optional<std::vector<std::byte>>()>;

// A picture listed at its size and depth, its bitmap kept in `made` and
// made by `make` when first read. What cannot be made then (no memory for
// it) leaves the bitmap's bytes all zero, which no decoder takes for a
// picture, as a JPEG 2000 member that fails to decode does.
std::optional<IconImage> laterBitmap(ImageInfo info, MadeBytes& made, MakeBitmap make) {
    const std::uint64_t length = bitmapBytes(info.width, info.height, info.bits);
    const auto later = made.keepLater(length, [length, make = std::move(make)] {
        auto bitmap = make();
        return bitmap && bitmap->size() == length ? std::move(*bitmap) : std::vector<std::byte>{};
    });
    if (!later) return std::nullopt;
    return IconImage{info, *later, std::nullopt};
}

std::optional<std::vector<std::byte>> bitmapOf(const std::optional<Image>& image) {
    return image ? encodeIconBitmap(*image) : std::nullopt;
}

// How much of a JPEG 2000 member is looked at for its size.
constexpr std::uint64_t kJpeg2000Head = 256;

// A JPEG 2000 member, listed at the size its header gives (a list of the
// icon's sizes needs none decoded). One decoded at another size makes no
// bitmap.
std::optional<IconImage> laterJpeg2000(const FileBytes& body, MadeBytes& made) {
    const auto size = canDecodeJpeg2000() ? jpeg2000Size(body.head(kJpeg2000Head)) : std::nullopt;
    if (!size || size->first > limits::kMaxImageSide || size->second > limits::kMaxImageSide)
        return std::nullopt;
    const std::uint32_t width = size->first, height = size->second;
    return laterBitmap({width, height, 32, false}, made, [body, width, height] {
        const auto image = decodeJpeg2000(body);
        return image && image->width == width && image->height == height ? bitmapOf(image) : std::nullopt;
    });
}

std::optional<IconImage> readPicture(const FileView& file, const Member& member, std::uint32_t argbSide,
                                     MadeBytes& made) {
    const FileBytes body = file.later(member.body.offset, member.body.length);
    const Bytes head = body.head(kImageHeadSize);
    if (isPng(head)) return inspectImage(body, head);
    if (argbSide && hasTagAt(head, 0, "ARGB")) {
        const std::size_t pixels = std::size_t{argbSide} * argbSide;
        if (!made.hasRoomFor(bitmapBytes(argbSide, argbSide)) || !planesWhole(body, 4, 4, pixels))
            return std::nullopt;
        return laterBitmap({argbSide, argbSide, 32, false}, made,
                           [body, argbSide] { return bitmapOf(decodeArgb(body, argbSide)); });
    }
    return isJpeg2000(head) ? laterJpeg2000(body, made) : std::nullopt;
}

// A 24-bit member, made transparent by `mask` where there is one.
std::optional<IconImage> readRgb(const FileView& file, const Member& colour, const RgbType& type,
                                 const Member* mask, MadeBytes& made) {
    if (!made.hasRoomFor(bitmapBytes(type.side, type.side))) return std::nullopt;
    const std::size_t pixels = std::size_t{type.side} * type.side;
    const bool leadingZeros = type.colour == "it32";
    const Bytes data = file.read(colour.body.offset, colour.body.length);
    if (data.size() != pixels * 4 && !planesWhole(data, leadingZeros ? 4 : 0, 3, pixels)) return std::nullopt;
    const FileBytes body = file.later(colour.body.offset, colour.body.length);
    const FileBytes maskBody = mask ? file.later(mask->body.offset, pixels) : FileBytes();
    return laterBitmap(
        {type.side, type.side, 32, false}, made,
        [body, maskBody, side = type.side, leadingZeros]() -> std::optional<std::vector<std::byte>> {
            auto image = decodeRgb(body, side, leadingZeros);
            const Bytes alpha = maskBody;
            if (!image || alpha.size() != maskBody.size()) return std::nullopt;
            for (std::size_t i = 0; i < alpha.size(); ++i)
                image->bgra[i * 4 + 3] = std::to_integer<std::uint8_t>(alpha[i]);
            return bitmapOf(image);
        });
}

// The system palettes: 16 colours, and 256 made of a colour cube without
// black, ramps of red, green, blue and grey, and black. Black comes last in
// both, as it does in the 1-bit pair of white and black.
constexpr std::array<std::uint32_t, 2> kMonoPalette{0xFFFFFF, 0x000000};
constexpr std::array<std::uint32_t, 16> kPalette16{0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5,
                                                   0x0000D4, 0x02ABEA, 0x1FB714, 0x006411, 0x562C05, 0x90713A,
                                                   0xC0C0C0, 0x808080, 0x404040, 0x000000};

constexpr std::array<std::uint32_t, 256> makePalette256() {
    constexpr std::array<std::uint32_t, 6> kCube{0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
    constexpr std::array<std::uint32_t, 10> kRamp{0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
    std::array<std::uint32_t, 256> palette{};
    std::size_t n = 0;
    for (const std::uint32_t r : kCube) {
        for (const std::uint32_t g : kCube) {
            for (const std::uint32_t b : kCube) {
                if (r | g | b) palette[n++] = r << 16 | g << 8 | b;
            }
        }
    }
    for (const int shift : {16, 8, 0}) {
        for (const std::uint32_t level : kRamp) palette[n++] = level << shift;
    }
    for (const std::uint32_t level : kRamp) palette[n++] = level << 16 | level << 8 | level;
    return palette;  // the last entry stays black
}
constexpr std::array<std::uint32_t, 256> kPalette256 = makePalette256();

// The bitmap of a classic picture of `bits` a pixel, transparent where
// `mask` is clear (none: opaque). `colours` and `mask` hold all its pixels.
std::optional<std::vector<std::byte>> classicBitmap(Bytes colours, Bytes mask, std::uint32_t width,
                                                    std::uint32_t height, std::uint16_t bits) {
    const std::span<const std::uint32_t> palette = bits == 1   ? std::span<const std::uint32_t>(kMonoPalette)
                                                   : bits == 4 ? std::span<const std::uint32_t>(kPalette16)
                                                               : std::span<const std::uint32_t>(kPalette256);
    const auto bitAt = [](Bytes bytes, std::size_t index, std::uint16_t depth) {
        const std::size_t bit = index * depth;
        return std::to_integer<std::uint8_t>(bytes[bit / 8]) >> (8 - depth - bit % 8) & ((1u << depth) - 1);
    };
    const std::size_t pixels = std::size_t{width} * height;
    std::vector<std::uint8_t> indexes(pixels), transparent(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        transparent[i] = !mask.empty() && !bitAt(mask, i, 1);
        // A transparent pixel is black, or it would invert what lies below.
        indexes[i] = static_cast<std::uint8_t>(transparent[i] ? palette.size() - 1 : bitAt(colours, i, bits));
    }
    return encodeIndexedIconBitmap(width, height, bits, palette, indexes, transparent);
}

// A classic member of `bits` a pixel, transparent where its mask is clear:
// a 1-bit member's own, else `mask` (the size's, or nothing). Nothing when
// the member holds fewer bytes than its picture (and mask).
std::optional<IconImage> readClassic(const FileView& file, const Member& member, const ClassicSize& size,
                                     std::uint16_t bits, FileBytes mask, MadeBytes& made) {
    const std::size_t pixels = std::size_t{size.width} * size.height;
    const std::size_t length = pixels * bits / 8 * (bits == 1 ? 2 : 1);
    if (member.body.length < length) return std::nullopt;
    const FileBytes data = file.later(member.body.offset, length);
    if (bits == 1) mask = data.from(pixels / 8);
    return laterBitmap({size.width, size.height, bits, false}, made,
                       [data, mask, width = size.width, height = size.height,
                        bits]() -> std::optional<std::vector<std::byte>> {
                           const Bytes colours = data, maskBits = mask;
                           if (colours.size() != data.size() || maskBits.size() != mask.size())
                               return std::nullopt;
                           return classicBitmap(colours, maskBits, width, height, bits);
                       });
}

}  // namespace

std::optional<IconGroup> readIcnsFile(const FileView& file, MadeBytes& made) {
    if (!file.hasTagAt(0, "icns")) return std::nullopt;
    const std::vector<Member> members = readMembers(file);
    // The first mask of the right length for each 24-bit size, found once.
    std::array<const Member*, kRgbTypes.size()> masks{};
    for (const Member& member : members) {
        for (std::size_t t = 0; t < kRgbTypes.size(); ++t) {
            const RgbType& type = kRgbTypes[t];
            if (!masks[t] && member.type == type.mask &&
                member.body.length == std::uint64_t{type.side} * type.side)
                masks[t] = &member;
        }
    }
    // The mask of each classic size: the second half of its first 1-bit
    // member that holds both.
    std::array<FileBytes, kClassicSizes.size()> classicMasks{};
    for (std::size_t s = 0; s < kClassicSizes.size(); ++s) {
        const std::uint64_t half = std::uint64_t{kClassicSizes[s].width} * kClassicSizes[s].height / 8;
        for (const Member& member : members) {
            if (member.type != kClassicSizes[s].types[0] || member.body.length < 2 * half) continue;
            classicMasks[s] = file.later(member.body.offset + half, half);
            break;
        }
    }
    IconGroup group;
    std::vector<std::string_view> taken;  // the types that gave an image, a few dozen at most
    for (const Member& member : members) {
        if (std::find(taken.begin(), taken.end(), member.type) != taken.end()) continue;
        std::optional<IconImage> image;
        for (std::size_t s = 0; s < kClassicSizes.size(); ++s) {
            for (std::size_t depth = 0; depth < kClassicBits.size(); ++depth) {
                if (member.type == kClassicSizes[s].types[depth])
                    image = readClassic(file, member, kClassicSizes[s], kClassicBits[depth], classicMasks[s],
                                        made);
            }
        }
        for (std::size_t t = 0; t < kRgbTypes.size(); ++t) {
            if (member.type == kRgbTypes[t].colour)
                image = readRgb(file, member, kRgbTypes[t], masks[t], made);
        }
        for (const PictureType& type : kPictureTypes) {
            if (member.type == type.type) image = readPicture(file, member, type.argbSide, made);
        }
        if (!image) continue;
        group.images.push_back(*image);
        taken.push_back(member.type);
    }
    if (group.images.empty()) return std::nullopt;
    return group;
}

}  // namespace pictrove
