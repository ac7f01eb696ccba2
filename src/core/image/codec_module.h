// The PNG codec lives in a module of its own, pictrove-codecs, loaded the
// first time a picture is decoded or encoded as PNG. Its libraries (libspng,
// zlib and libdeflate) would otherwise be loaded and bound at every start:
// a listing, or a scan of files without icons, never needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "byte_reader.h"

namespace pictrove {

using DecodePng = std::optional<std::vector<std::uint8_t>> (*)(Bytes png, std::uint32_t width,
                                                               std::uint32_t height);
using PngDecodes = bool (*)(Bytes png, std::uint32_t width, std::uint32_t height);
using EncodePng = std::optional<std::vector<std::uint8_t>> (*)(std::vector<std::uint8_t> bgra,
                                                               std::uint32_t width, std::uint32_t height,
                                                               bool fast);

// What the module holds, as png_codec.h describes it.
struct Codecs {
    std::size_t size = sizeof(Codecs);  // the module and the program must agree
    DecodePng decodePng = nullptr;
    EncodePng encodePng = nullptr;
    PngDecodes pngDecodes = nullptr;
};

// The module's file name, and the name of its one entry, a function taking
// nothing and giving the table (see module_loader.h).
inline constexpr const char* kCodecModule = "pictrove-codecs.so";
inline constexpr const char* kCodecModuleEntry = "pictrove_codecs";

}  // namespace pictrove
