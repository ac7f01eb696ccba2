// JPEG 2000 pictures, which macOS icon files hold for their larger sizes:
// a JP2 file (boxes) or a bare codestream. Decoded by libopenjp2, in the
// pictrove-jpeg2000 module, where the build has it; elsewhere they are
// recognised and left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "byte_reader.h"
#include "image/image.h"

namespace pictrove {

bool isJpeg2000(Bytes data);

// The width and height a picture's header gives (a JP2 file's image header
// box, a bare codestream's size marker), read from its first bytes (a few
// dozen); nothing when they do not say.
std::optional<std::pair<std::uint32_t, std::uint32_t>> jpeg2000Size(Bytes head);

// Whether this build decodes them.
bool canDecodeJpeg2000();

// The picture, when its header asks for no more than the image limits and
// every component covers it at full resolution; nothing on any damage.
std::optional<Image> decodeJpeg2000(Bytes data);

// What the pictrove-jpeg2000 module holds, and the names of the module and
// of its entry, a function taking nothing and giving the table (see module_loader.h).
struct Jpeg2000Decoder {
    std::size_t size = sizeof(Jpeg2000Decoder);  // the module and the program must agree
    std::optional<Image> (*decode)(Bytes data) = nullptr;
};
inline constexpr const char* kJpeg2000Module = "pictrove-jpeg2000.so";
inline constexpr const char* kJpeg2000ModuleEntry = "pictrove_jpeg2000_decoder";

}  // namespace pictrove
