// The device-independent bitmaps stored in icon resources and icon files:
// a BITMAPINFOHEADER (or a later, longer version of it), an optional colour
// table or bit-field masks, the colour (XOR) rows and the 1-bit AND rows, all
// bottom row first. The header's height counts both sets of rows.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "byte_reader.h"
#include "image/image.h"

namespace pictrove {

// Reads the header and checks that every byte the colour rows need is
// present, so that decodeDib cannot fail on a layout peekDib accepted.
std::optional<ImageInfo> peekDib(Bytes data);
// The same from the first bytes alone of a bitmap `size` bytes long: at
// least kImageHeadSize of them, or all when it is shorter.
std::optional<ImageInfo> peekDib(Bytes head, std::uint64_t size);

// How many of the bytes belong to the bitmap: through the AND rows when they
// are whole, else through the colour rows. Resources padded to an alignment
// (as in 16-bit executables) carry more. All of `data` when it is no usable
// bitmap.
std::size_t storedDibSize(Bytes data);

// Decodes the image; nothing when the data is not a usable icon bitmap.
std::optional<Image> decodeDib(Bytes data);

// A 32-bit icon bitmap of `image` (colour rows with alpha, then AND rows set
// where alpha is below half), as icon files hold them: what a picture that
// came in another format is handed on as. Nothing for an empty image.
std::optional<std::vector<std::byte>> encodeIconBitmap(const Image& image);

// An icon bitmap of 1, 4 or 8 `bits` a pixel over `palette` (0x00RRGGBB, an
// entry for every index): `indexes` and `transparent` (non-zero where the
// pixel is) hold one byte per pixel, top row first. A transparent pixel's
// index is kept as it is, so it should be the palette's black. Nothing when
// the sizes do not agree.
std::optional<std::vector<std::byte>> encodeIndexedIconBitmap(std::uint32_t width, std::uint32_t height,
                                                              std::uint16_t bits,
                                                              std::span<const std::uint32_t> palette,
                                                              std::span<const std::uint8_t> indexes,
                                                              std::span<const std::uint8_t> transparent);

}  // namespace pictrove
