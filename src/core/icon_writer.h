// The files Pictrove writes from an icon: the 16-colour icon file image
// (also the record of icon collection files) and the bitmap file of the
// export bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/image.h"

namespace pictrove {

// The standard VGA colours as 0x00RRGGBB, in the order of the colour table
// of every icon file image: black, the dark colours, light grey, dark grey,
// the bright colours, white.
extern const std::array<std::uint32_t, 16> kVgaPalette;

// The index of the palette colour nearest to `rgb` (0x00RRGGBB) by squared
// distance in RGB; the first on a tie. A palette colour maps to itself.
std::uint8_t nearestColour(std::uint32_t rgb, const std::uint32_t* palette, std::size_t size);

// A single-image icon file of 4 bits per pixel: header, directory entry,
// bitmap header, the VGA colour table, colour rows and AND-mask rows, bottom
// row first. 766 bytes for 32 x 32. Transparent pixels carry colour 0 unless
// the icon is a classic one whose colour under a set mask inverts the screen;
// that colour is kept. Nothing for an empty image.
std::optional<std::vector<std::uint8_t>> encodeIconFile(const Image& icon);

// An opaque picture the size of `icon`: the background (0x00RRGGBB) with the
// icon drawn on it as the shell draws icons. Images with alpha are blended;
// classic ones AND their mask into the background and XOR their colour.
Image drawIconOver(const Image& icon, std::uint32_t background);

// The export bitmap: 32 x 32, white, with the icon drawn at (0, 0); an icon
// of another size is cut at the right and bottom or leaves white beside it.
Image prepareExportBitmap(const Image& icon);

// A BMP file (14-byte file header, 40-byte info header, colour table for
// depths up to 8, rows bottom-up padded to 4 bytes) of an opaque picture at
// `depth` bits per pixel: 32, 24, 16 (5-5-5), 8, 4 or 1. Nothing for another
// depth or an empty picture.
std::optional<std::vector<std::uint8_t>> encodeBitmapFile(const Image& picture, int depth = 32);

}  // namespace pictrove
