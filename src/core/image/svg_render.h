// The drawing of SVG documents by librsvg with cairo, as the helper program
// pictrove-svg-draw runs it (see svg.h): nothing else loads librsvg.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"

namespace pictrove::svg_render {

// Whether librsvg reads `data` as an SVG document; `why` says why not.
bool readable(Bytes data, std::string& why);

// The document drawn to fit `side` x `side`, centred, transparent around it:
// side * side pixels of blue, green, red and straight alpha, top row first.
std::optional<std::vector<std::uint8_t>> draw(Bytes data, std::uint32_t side, std::string& why);

}  // namespace pictrove::svg_render
