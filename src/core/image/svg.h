// SVG icons, as Linux applications ship them: drawn by librsvg, in the
// pictrove-svg module, where the build has it; elsewhere they are recognised
// and left out.
#pragma once

#include <cstddef>
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

// What the pictrove-svg module holds, and the names of the module and of its
// entry, a function taking nothing and giving the table (see module_loader.h).
struct SvgDrawing {
    std::size_t size = sizeof(SvgDrawing);  // the module and the program must agree
    std::optional<Image> (*draw)(Bytes data, std::uint32_t side) = nullptr;
};
inline constexpr const char* kSvgModule = "pictrove-svg.so";
inline constexpr const char* kSvgModuleEntry = "pictrove_svg_drawing";

}  // namespace pictrove
