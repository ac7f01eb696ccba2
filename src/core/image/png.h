// PNG-compressed icon images (Windows Vista and later store large icons so).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "byte_reader.h"
#include "image/image.h"

namespace pictrove {

bool isPng(Bytes data);

// Size from the IHDR chunk, without decompressing anything.
std::optional<ImageInfo> peekPng(Bytes data);

// How many of the bytes belong to the PNG stream: through its IEND chunk;
// all of `data` when no IEND chunk ends it.
std::size_t storedPngSize(Bytes data);

// Full decode, bounded by the image limits; nothing on any damage.
std::optional<Image> decodePng(Bytes data);
// Whether decodePng gives an image, told without decoding a plain, sound one.
bool pngDecodes(Bytes data);

// Encodes straight-alpha RGBA output of an Image as PNG. `fast` trades a
// little file size for much less time, which suits bulk extraction.
std::optional<std::vector<std::uint8_t>> encodePng(const Image& image, bool fast = true);

}  // namespace pictrove
