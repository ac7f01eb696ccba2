// SVG icons, as Linux applications ship them: drawn by librsvg where the
// build has it; elsewhere they are recognised and left out.
#pragma once

#include <cstdint>
#include <optional>

#include "byte_reader.h"
#include "image/image.h"

namespace pictrove {

// Whether the bytes look like an SVG document (an <svg element among the
// first bytes, after any XML declaration and comments).
bool isSvg(Bytes data);

// The picture drawn to fit `side` x `side`, centred, transparent around
// it; nothing when it cannot be drawn or `side` passes the image limits.
std::optional<Image> renderSvg(Bytes data, std::uint32_t side);

}  // namespace pictrove
