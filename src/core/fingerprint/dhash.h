// The difference hash of an icon: 64 bits that change little when the
// picture changes little, so look-alike icons are found by counting the bits
// in which their hashes differ. Defined so that anyone can recompute it with
// common image tools from the 32 x 32 PNG that `extract` writes:
//   1. composite the 32 x 32 icon over white: per channel
//      round((c * a + 255 * (255 - a)) / 255);
//   2. grey as (19595 R + 38470 G + 7471 B + 0x8000) >> 16;
//   3. shrink to 9 x 8 with a box filter, in two passes (across, then down),
//      each with weights scaled to 22-bit fixed point and the sum rounded
//      and clamped to 0..255 (what Pillow's resize((9, 8), Image.BOX) does);
//   4. bit 63 - (8 * row + col) is set when pixel (row, col) is brighter
//      than pixel (row, col + 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/image.h"

namespace pictrove {

// The hash of a decoded icon of any size (the engine's icons are 32 x 32).
std::uint64_t differenceHash(const Image& icon);

// 16 lower-case hexadecimal digits, and back (upper case accepted).
std::string dhashText(std::uint64_t hash);
std::optional<std::uint64_t> parseDhash(std::string_view text);

int hammingDistance(std::uint64_t a, std::uint64_t b);

}  // namespace pictrove
