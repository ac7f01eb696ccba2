#include "image/dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>

#include "reader_limits.h"

namespace pictrove {
namespace {

// Offsets inside BITMAPINFOHEADER.
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

// Where everything of one icon bitmap lies, all checked against the data.
struct DibLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;  // of the picture: half the header's height
    std::uint16_t bits = 0;
    bool bitfields = false;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    std::uint64_t paletteOffset = 0;
    std::uint32_t paletteEntries = 0;  // entries the pixels may index
    std::uint64_t xorOffset = 0;
    std::uint64_t xorStride = 0;
    std::uint64_t andOffset = 0;
    std::uint64_t andStride = 0;
    bool hasAndMask = false;
};

std::uint64_t rowStride(std::uint64_t width, std::uint64_t bits) {
    return (width * bits + 31) / 32 * 4;
}

// `data` is the bitmap's first bytes, at least kImageHeadSize of them, or
// the whole bitmap; `size` is how long the whole bitmap is. Only the header
// and its masks are read from `data`, all within the first 56 bytes.
std::optional<DibLayout> parseLayout(Bytes data, std::uint64_t size) {
    ByteReader in(data);
    const std::uint32_t headerSize = in.u32();
    const std::int32_t width = in.i32();
    const std::int32_t doubledHeight = in.i32();
    in.u16();  // planes: ignored, files in the wild hold 0 as often as 1
    const std::uint16_t bits = in.u16();
    const std::uint32_t compression = in.u32();
    in.skip(12);  // image size and resolution say nothing we rely on
    const std::uint32_t coloursUsed = in.u32();
    if (!in.ok() || headerSize < kInfoHeaderSize || headerSize > size) return std::nullopt;

    // Icon bitmaps are stored bottom-up with the colour and mask rows stacked,
    // so the header's height is twice the picture's.
    if (width <= 0 || doubledHeight < 2) return std::nullopt;
    const auto pictureWidth = static_cast<std::uint32_t>(width);
    const auto pictureHeight = static_cast<std::uint32_t>(doubledHeight) / 2;
    if (pictureWidth > limits::kMaxImageSide || pictureHeight > limits::kMaxImageSide) {
        return std::nullopt;
    }
    switch (bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: break;
        default: return std::nullopt;
    }
    if (compression != kBiRgb && !(compression == kBiBitfields && (bits == 16 || bits == 32))) {
        return std::nullopt;
    }

    DibLayout layout;
    layout.width = pictureWidth;
    layout.height = pictureHeight;
    layout.bits = bits;
    std::uint64_t offset = headerSize;

    if (compression == kBiBitfields) {
        layout.bitfields = true;
        // A plain 40-byte header is followed by three masks; longer headers
        // carry them (and from 56 bytes on, the alpha mask) inside.
        const std::uint64_t maskOffset = kInfoHeaderSize;
        const std::uint32_t maskCount = headerSize >= 56 ? 4 : 3;
        for (std::uint32_t i = 0; i < maskCount; ++i) {
            const auto mask = u32At(data, maskOffset + 4 * i);
            if (!mask) return std::nullopt;
            layout.masks[i] = *mask;
        }
        if (headerSize == kInfoHeaderSize) offset += 12;
    } else if (bits == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F, 0};
    }

    // The colour table: indexed images need one; deeper images may carry an
    // optional one, which the pixels then follow.
    const std::uint32_t maxEntries = bits <= 8 ? (1u << bits) : 0;
    if (coloursUsed > 256) return std::nullopt;
    const std::uint32_t tableEntries = coloursUsed != 0 ? coloursUsed : maxEntries;
    layout.paletteOffset = offset;
    layout.paletteEntries = std::min(tableEntries, maxEntries);
    offset += std::uint64_t{tableEntries} * 4;

    layout.xorOffset = offset;
    layout.xorStride = rowStride(pictureWidth, bits);
    const std::uint64_t xorSize = layout.xorStride * pictureHeight;
    if (!fitsIn(size, layout.xorOffset, xorSize)) return std::nullopt;

    // A missing or cut mask is tolerated: images with alpha do not need it,
    // and the others are then shown fully opaque.
    layout.andOffset = layout.xorOffset + xorSize;
    layout.andStride = rowStride(pictureWidth, 1);
    layout.hasAndMask = fitsIn(size, layout.andOffset, layout.andStride * pictureHeight);
    return layout;
}

std::optional<DibLayout> parseLayout(Bytes data) {
    return parseLayout(data, data.size());
}

// Scales a field selected by a bit mask to 0..255.
std::uint8_t channel(std::uint32_t value, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const std::uint32_t field = (value & mask) >> shift;
    const int width = static_cast<int>(std::bit_width(mask >> shift));
    if (width >= 8) return static_cast<std::uint8_t>(field >> (width - 8));
    const std::uint32_t maxValue = (1u << width) - 1;
    return static_cast<std::uint8_t>(field * 255 / maxValue);
}

void putPixel(std::uint8_t* out, std::uint32_t bgra) {
    out[0] = static_cast<std::uint8_t>(bgra);
    out[1] = static_cast<std::uint8_t>(bgra >> 8);
    out[2] = static_cast<std::uint8_t>(bgra >> 16);
    out[3] = static_cast<std::uint8_t>(bgra >> 24);
}

// One row of colour, a loop per depth: a library's worth of icons runs
// through here, and choosing the depth for every pixel cost more than the
// pixel itself.
void decodeRow(const std::byte* row, const DibLayout& layout, const std::array<std::uint32_t, 256>& palette,
               std::uint8_t* out) {
    const std::uint32_t w = layout.width;
    switch (layout.bits) {
        case 8:
            for (std::uint32_t x = 0; x < w; ++x, out += 4)
                putPixel(out, palette[std::to_integer<std::uint8_t>(row[x])]);
            break;
        case 4:
            for (std::uint32_t x = 0; x < w; ++x, out += 4) {
                const auto pair = std::to_integer<std::uint32_t>(row[x / 2]);
                putPixel(out, palette[x % 2 ? pair & 0x0F : pair >> 4]);
            }
            break;
        case 1:
            for (std::uint32_t x = 0; x < w; ++x, out += 4) {
                const auto eight = std::to_integer<std::uint32_t>(row[x / 8]);
                putPixel(out, palette[(eight >> (7 - x % 8)) & 1]);
            }
            break;
        case 16:
            for (std::uint32_t x = 0; x < w; ++x, out += 4) {
                const std::uint32_t v = loadU16(row + x * 2);
                putPixel(out, channel(v, layout.masks[2]) | channel(v, layout.masks[1]) << 8 |
                                  channel(v, layout.masks[0]) << 16);
            }
            break;
        case 24:
            for (std::uint32_t x = 0; x < w; ++x, out += 4) {
                const std::byte* p = row + std::size_t{x} * 3;
                out[0] = std::to_integer<std::uint8_t>(p[0]);
                out[1] = std::to_integer<std::uint8_t>(p[1]);
                out[2] = std::to_integer<std::uint8_t>(p[2]);
                out[3] = 0;
            }
            break;
        case 32:
            if (!layout.bitfields) {
                std::memcpy(out, row, std::size_t{w} * 4);  // stored as blue, green, red, alpha already
                break;
            }
            for (std::uint32_t x = 0; x < w; ++x, out += 4) {
                const std::uint32_t v = loadU32(row + std::size_t{x} * 4);
                putPixel(out, channel(v, layout.masks[2]) | channel(v, layout.masks[1]) << 8 |
                                  channel(v, layout.masks[0]) << 16 |
                                  std::uint32_t{channel(v, layout.masks[3])} << 24);
            }
            break;
    }
}

void decodeColours(Bytes data, const DibLayout& layout, Image& image) {
    // Colours without their fourth byte; indexes past the table's entries
    // stay black.
    std::array<std::uint32_t, 256> palette{};
    for (std::uint32_t i = 0; i < layout.paletteEntries; ++i) {
        palette[i] = u32At(data, layout.paletteOffset + 4 * i).value_or(0) & 0x00FFFFFF;
    }
    const std::uint32_t w = layout.width;
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        const std::uint64_t rowOffset = layout.xorOffset + layout.xorStride * (layout.height - 1 - y);
        decodeRow(data.data() + rowOffset, layout, palette, image.bgra.data() + std::size_t{y} * w * 4);
    }
}

// The AND mask, and alpha from it: 0 where it is set, 255 elsewhere.
void decodeAndMask(Bytes data, const DibLayout& layout, Image& image) {
    const std::uint32_t w = layout.width;
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        const std::byte* row = data.data() + layout.andOffset + layout.andStride * (layout.height - 1 - y);
        std::uint8_t* out = image.mask.data() + std::size_t{y} * w;
        std::uint8_t* alpha = image.bgra.data() + std::size_t{y} * w * 4 + 3;
        for (std::uint32_t x = 0; x < w; ++x, alpha += 4) {
            out[x] = (std::to_integer<unsigned>(row[x / 8]) >> (7 - x % 8)) & 1;
            *alpha = out[x] ? 0 : 255;
        }
    }
}

}  // namespace

std::optional<ImageInfo> peekDib(Bytes head, std::uint64_t size) {
    const auto layout = parseLayout(head, size);
    if (!layout) return std::nullopt;
    return ImageInfo{layout->width, layout->height, layout->bits, false};
}

std::optional<ImageInfo> peekDib(Bytes data) {
    return peekDib(data, data.size());
}

std::size_t storedDibSize(Bytes data) {
    const auto layout = parseLayout(data);
    if (!layout) return data.size();
    const std::uint64_t end = layout->hasAndMask ? layout->andOffset + layout->andStride * layout->height
                                                 : layout->xorOffset + layout->xorStride * layout->height;
    return static_cast<std::size_t>(end);  // parseLayout saw it within data
}

std::optional<Image> decodeDib(Bytes data) {
    const auto layout = parseLayout(data);
    if (!layout) return std::nullopt;

    Image image;
    image.width = layout->width;
    image.height = layout->height;
    image.bgra.assign(image.pixelCount() * 4, 0);
    image.mask.assign(image.pixelCount(), 0);
    decodeColours(data, *layout, image);

    // A 32-bit image whose alpha bytes are all zero predates alpha icons: its
    // transparency is in the AND mask.
    const bool alphaCapable = layout->bits == 32 && (!layout->bitfields || layout->masks[3] != 0);
    if (alphaCapable) {
        for (std::size_t i = 3; i < image.bgra.size(); i += 4) {
            if (image.bgra[i] != 0) {
                image.hasAlpha = true;
                break;
            }
        }
    }
    if (image.hasAlpha) {
        deriveMaskFromAlpha(image);
        return image;
    }
    if (layout->hasAndMask) {
        decodeAndMask(data, *layout, image);
    } else {
        for (std::size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 255;
    }
    return image;
}

namespace {

// An icon bitmap's header, then room for its colour table, colour rows and
// AND rows, all zero.
std::vector<std::byte> emptyIconBitmap(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                                       std::uint32_t paletteEntries) {
    const std::uint64_t colourBytes = rowStride(width, bits) * height;
    std::vector<std::byte> out(kInfoHeaderSize + std::size_t{paletteEntries} * 4 + colourBytes +
                               rowStride(width, 1) * height);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) out[at + i] = std::byte(value >> (8 * i));
    };
    put32(0, kInfoHeaderSize);
    put32(4, width);
    put32(8, height * 2);    // colour and AND rows
    out[12] = std::byte{1};  // planes
    out[14] = std::byte(bits);
    put32(20, static_cast<std::uint32_t>(colourBytes));
    put32(32, paletteEntries);
    return out;
}

// Sets the AND bit of the pixel at (x, y), top row first, of a picture
// whose AND rows begin at `andRows`.
void setTransparent(std::byte* andRows, std::uint32_t width, std::uint32_t height, std::size_t x,
                    std::size_t y) {
    andRows[(height - 1 - y) * rowStride(width, 1) + x / 8] |= std::byte(0x80 >> (x % 8));
}

}  // namespace

std::optional<std::vector<std::byte>> encodeIconBitmap(const Image& image) {
    if (image.empty() || image.width > limits::kMaxImageSide || image.height > limits::kMaxImageSide ||
        image.bgra.size() != image.pixelCount() * 4) {
        return std::nullopt;
    }
    const std::size_t w = image.width, h = image.height;
    const std::size_t colourStride = w * 4;
    std::vector<std::byte> out = emptyIconBitmap(image.width, image.height, 32, 0);
    std::byte* colour = out.data() + kInfoHeaderSize;
    std::byte* andRows = colour + colourStride * h;
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t row = h - 1 - y;  // bottom row first
        std::memcpy(colour + row * colourStride, image.bgra.data() + y * colourStride, colourStride);
        for (std::size_t x = 0; x < w; ++x) {
            if (image.bgra[(y * w + x) * 4 + 3] < 128)
                setTransparent(andRows, image.width, image.height, x, y);
        }
    }
    return out;
}

std::optional<std::vector<std::byte>> encodeIndexedIconBitmap(std::uint32_t width, std::uint32_t height,
                                                              std::uint16_t bits,
                                                              std::span<const std::uint32_t> palette,
                                                              std::span<const std::uint8_t> indexes,
                                                              std::span<const std::uint8_t> transparent) {
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (width == 0 || height == 0 || width > limits::kMaxImageSide || height > limits::kMaxImageSide ||
        (bits != 1 && bits != 4 && bits != 8) || palette.size() != (1u << bits) || indexes.size() != pixels ||
        transparent.size() != pixels) {
        return std::nullopt;
    }
    std::vector<std::byte> out =
        emptyIconBitmap(width, height, bits, static_cast<std::uint32_t>(palette.size()));
    std::byte* table = out.data() + kInfoHeaderSize;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        for (int c = 0; c < 3; ++c) table[i * 4 + c] = std::byte(palette[i] >> (8 * c));  // blue, green, red
    }
    std::byte* colour = table + palette.size() * 4;
    const std::uint64_t stride = rowStride(width, bits);
    std::byte* andRows = colour + stride * height;
    for (std::size_t y = 0; y < height; ++y) {
        std::byte* row = colour + (height - 1 - y) * stride;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = y * width + x;
            const std::size_t bit = x * bits;
            row[bit / 8] |= std::byte((indexes[at] & ((1u << bits) - 1)) << (8 - bits - bit % 8));
            if (transparent[at]) setTransparent(andRows, width, height, x, y);
        }
    }
    return out;
}

}  // namespace pictrove
