// The seam between the PNG rules of png.cpp and the platform's PNG codec:
// libspng on Linux, the Windows Imaging Component on Windows. Callers have
// already checked the signature and the size the header gives.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "byte_reader.h"

namespace pictrove::png_codec {

// Straight-alpha BGRA pixels, top row first, of an image whose header said
// `width` x `height`; nothing on any damage or when the codec sees another size.
std::optional<std::vector<std::uint8_t>> decodeBgra(Bytes png, std::uint32_t width, std::uint32_t height);

// Whether decodeBgra would give pixels, found without making them where
// the file is a plain 8-bit RGBA picture whose every part checks out;
// otherwise by decoding.
bool decodes(Bytes png, std::uint32_t width, std::uint32_t height);

// A PNG file of straight-alpha BGRA pixels, which the codec may reorder in
// place. `fast` asks for quick compression where the codec lets us choose.
std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast);

}  // namespace pictrove::png_codec
