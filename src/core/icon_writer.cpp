#include "icon_writer.h"

#include <algorithm>

namespace pictrove {
namespace {

class Out {
public:
    std::vector<std::uint8_t> bytes;
    void u8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) {
        u8(v & 0xFF);
        u8(v >> 8 & 0xFF);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void colour(std::uint32_t rgb) {  // colour table entry: blue, green, red, 0
        u8(rgb & 0xFF);
        u8(rgb >> 8 & 0xFF);
        u8(rgb >> 16 & 0xFF);
        u8(0);
    }
};

std::uint32_t rowBytes(std::uint32_t width, std::uint32_t bits) {
    return (width * bits + 31) / 32 * 4;
}

std::uint32_t rgbAt(const Image& image, std::size_t pixel) {
    const std::uint8_t* p = image.bgra.data() + pixel * 4;
    return std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

void infoHeader(Out& out, std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                std::uint32_t imageSize, std::uint32_t coloursUsed) {
    out.u32(40);
    out.u32(width);
    out.u32(height);
    out.u16(1);
    out.u16(bits);
    out.u32(0);  // BI_RGB
    out.u32(imageSize);
    out.u32(0);
    out.u32(0);
    out.u32(coloursUsed);
    out.u32(0);
}

// 256 colours for 8-bit bitmaps: the 16 VGA colours, a 6 x 6 x 6 colour cube
// and 24 greys, enough for nearest-colour mapping without dithering.
std::array<std::uint32_t, 256> makePalette256() {
    std::array<std::uint32_t, 256> palette{};
    std::size_t n = 0;
    for (std::uint32_t c : kVgaPalette) palette[n++] = c;
    for (std::uint32_t r = 0; r < 6; ++r) {
        for (std::uint32_t g = 0; g < 6; ++g) {
            for (std::uint32_t b = 0; b < 6; ++b) palette[n++] = (r * 51) << 16 | (g * 51) << 8 | b * 51;
        }
    }
    for (std::uint32_t k = 0; k < 24; ++k) {
        const std::uint32_t v = 8 + k * 10;
        palette[n++] = v << 16 | v << 8 | v;
    }
    return palette;
}

}  // namespace

const std::array<std::uint32_t, 16> kVgaPalette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

std::uint8_t nearestColour(std::uint32_t rgb, const std::uint32_t* palette, std::size_t size) {
    std::size_t best = 0;
    std::uint32_t bestDistance = UINT32_MAX;
    for (std::size_t i = 0; i < size; ++i) {
        const auto d = [&](int shift) {
            const int a = static_cast<int>(rgb >> shift & 0xFF);
            const int b = static_cast<int>(palette[i] >> shift & 0xFF);
            return static_cast<std::uint32_t>((a - b) * (a - b));
        };
        const std::uint32_t distance = d(16) + d(8) + d(0);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

std::optional<std::vector<std::uint8_t>> encodeIconFile(const Image& icon) {
    if (icon.empty() || icon.bgra.size() != icon.pixelCount() * 4 || icon.mask.size() != icon.pixelCount()) {
        return std::nullopt;
    }
    const std::uint32_t w = icon.width;
    const std::uint32_t h = icon.height;
    const std::uint32_t colourRow = rowBytes(w, 4);
    const std::uint32_t maskRow = rowBytes(w, 1);
    const std::uint32_t imageBytes = 40 + 64 + colourRow * h + maskRow * h;

    Out out;
    out.bytes.reserve(22 + imageBytes);
    out.u16(0);
    out.u16(1);
    out.u16(1);
    out.u8(w % 256);
    out.u8(h % 256);
    out.u8(4);  // planes times bits of the stored image, as the system writes it
    out.u8(0);
    out.u16(0);
    out.u16(0);
    out.u32(imageBytes);
    out.u32(22);
    infoHeader(out, w, 2 * h, 4, colourRow * h, 0);
    for (std::uint32_t c : kVgaPalette) out.colour(c);

    for (std::uint32_t row = 0; row < h; ++row) {
        const std::uint32_t y = h - 1 - row;
        std::vector<std::uint8_t> line(colourRow, 0);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::size_t pixel = std::size_t{y} * w + x;
            // Alpha icons have no colour worth keeping where they are clear.
            const bool cleared = icon.hasAlpha && icon.mask[pixel];
            const std::uint8_t index =
                cleared ? 0 : nearestColour(rgbAt(icon, pixel), kVgaPalette.data(), 16);
            line[x / 2] |= static_cast<std::uint8_t>(x % 2 ? index : index << 4);
        }
        out.bytes.insert(out.bytes.end(), line.begin(), line.end());
    }
    for (std::uint32_t row = 0; row < h; ++row) {
        const std::uint32_t y = h - 1 - row;
        std::vector<std::uint8_t> line(maskRow, 0);
        for (std::uint32_t x = 0; x < w; ++x) {
            if (icon.mask[std::size_t{y} * w + x]) line[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
        out.bytes.insert(out.bytes.end(), line.begin(), line.end());
    }
    return out.bytes;
}

Image drawIconOver(const Image& icon, std::uint32_t background) {
    Image out;
    out.width = icon.width;
    out.height = icon.height;
    out.bgra.resize(icon.pixelCount() * 4);
    out.mask.assign(icon.pixelCount(), 0);
    const std::uint8_t back[3] = {static_cast<std::uint8_t>(background),
                                  static_cast<std::uint8_t>(background >> 8),
                                  static_cast<std::uint8_t>(background >> 16)};
    for (std::size_t i = 0; i < icon.pixelCount(); ++i) {
        const std::uint8_t* p = icon.bgra.data() + i * 4;
        std::uint8_t* q = out.bgra.data() + i * 4;
        for (int c = 0; c < 3; ++c) {
            if (icon.hasAlpha) {
                q[c] = static_cast<std::uint8_t>((p[c] * p[3] + back[c] * (255 - p[3]) + 127) / 255);
            } else {
                q[c] = static_cast<std::uint8_t>((icon.mask[i] ? back[c] : 0) ^ p[c]);
            }
        }
        q[3] = 255;
    }
    return out;
}

Image prepareExportBitmap(const Image& icon) {
    constexpr std::uint32_t kSize = kIconSize;
    constexpr std::uint32_t kWhite = 0xFFFFFF;
    Image bitmap;
    bitmap.width = kSize;
    bitmap.height = kSize;
    bitmap.bgra.assign(std::size_t{kSize} * kSize * 4, 0xFF);
    bitmap.mask.assign(std::size_t{kSize} * kSize, 0);
    const Image drawn = drawIconOver(icon, kWhite);
    const std::uint32_t w = std::min(kSize, drawn.width);
    const std::uint32_t h = std::min(kSize, drawn.height);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::copy_n(drawn.bgra.data() + std::size_t{y} * drawn.width * 4, std::size_t{w} * 4,
                    bitmap.bgra.data() + std::size_t{y} * kSize * 4);
    }
    return bitmap;
}

std::optional<std::vector<std::uint8_t>> encodeBitmapFile(const Image& picture, int depth) {
    if (picture.empty() || picture.bgra.size() != picture.pixelCount() * 4) return std::nullopt;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(depth);
    const std::uint32_t w = picture.width;
    const std::uint32_t h = picture.height;
    const std::uint32_t row = rowBytes(w, bits);
    const std::uint32_t imageSize = row * h;

    std::vector<std::uint32_t> palette;
    if (bits == 1) palette = {0x000000, 0xFFFFFF};
    if (bits == 4) palette.assign(kVgaPalette.begin(), kVgaPalette.end());
    if (bits == 8) {
        static const auto palette256 = makePalette256();
        palette.assign(palette256.begin(), palette256.end());
    }
    const auto colours = static_cast<std::uint32_t>(palette.size());
    const std::uint32_t headers = 14 + 40 + 4 * colours;

    Out out;
    out.bytes.reserve(headers + imageSize);
    out.u16(0x4D42);  // "BM"
    out.u32(headers + imageSize);
    out.u16(0);
    out.u16(0);
    out.u32(headers);
    infoHeader(out, w, h, bits, imageSize, colours);
    for (std::uint32_t c : palette) out.colour(c);

    for (std::uint32_t r = 0; r < h; ++r) {
        const std::uint32_t y = h - 1 - r;
        std::vector<std::uint8_t> line(row, 0);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::size_t pixel = std::size_t{y} * w + x;
            const std::uint8_t* p = picture.bgra.data() + pixel * 4;
            switch (bits) {
                case 32:
                    std::copy_n(p, 3, &line[x * 4]);  // the fourth byte is reserved: 0
                    break;
                case 24: std::copy_n(p, 3, &line[x * 3]); break;
                case 16: {
                    const std::uint32_t v = (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3;
                    line[x * 2] = static_cast<std::uint8_t>(v);
                    line[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                default: {
                    const std::uint32_t index =
                        nearestColour(rgbAt(picture, pixel), palette.data(), palette.size());
                    const std::uint32_t bit = x * bits;
                    line[bit / 8] |= static_cast<std::uint8_t>(index << (8 - bits - bit % 8));
                }
            }
        }
        out.bytes.insert(out.bytes.end(), line.begin(), line.end());
    }
    return out.bytes;
}

}  // namespace pictrove
