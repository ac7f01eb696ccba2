// Decoded pictures as the rest of the program sees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictrove {

// A decoded icon image. Pixels are stored top row first, 4 bytes each in the
// order blue, green, red, alpha (straight, not premultiplied).
//
// Two kinds of icon exist and both are kept faithfully:
//  - images with alpha (hasAlpha): the alpha channel says how opaque each
//    pixel is; the mask is derived from it (alpha below half = transparent);
//  - classic images: colour plus the 1-bit AND mask. Where the mask is set the
//    screen shows through, XORed with the colour (so a set mask over a non-black
//    colour inverts the screen). Alpha is 255 where the mask is clear and 0
//    where it is set, and the colour is kept in both cases.
struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> bgra;  // width * height * 4
    std::vector<std::uint8_t> mask;  // width * height, 1 = transparent
    bool hasAlpha = false;

    bool empty() const { return width == 0 || height == 0; }
    std::size_t pixelCount() const { return std::size_t{width} * height; }
};

// The system icon size: every icon the engine delivers for display has it.
inline constexpr std::uint32_t kIconSize = 32;

// How many of an encoded image's first bytes tell its size and depth: the
// longest bitmap header read, with the masks it may carry, or a PNG's
// signature and header chunk.
inline constexpr std::uint64_t kImageHeadSize = 64;

// What an encoded image says about itself without being decoded.
struct ImageInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 0;  // bits per pixel; PNG images count as 32
    bool png = false;
};

// Sets every mask bit from alpha: pixels less than half opaque are transparent.
void deriveMaskFromAlpha(Image& image);

}  // namespace pictrove
