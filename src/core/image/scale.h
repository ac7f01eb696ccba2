#pragma once

#include <cstdint>

#include "image/image.h"

namespace pictrove {

// Resamples to width x height with an area (box) filter in premultiplied
// alpha, so every source pixel contributes by the share of the target pixel
// it covers. The result carries alpha and a mask derived from it. An image of
// the requested size is returned unchanged.
Image scaleArea(const Image& source, std::uint32_t width, std::uint32_t height);

}  // namespace pictrove
