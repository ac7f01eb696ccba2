// The picture of one icon at a chosen size, as a PNG: what `thumbnail`
// writes, what `scan --thumbnail` puts in records and what a report shows.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/sources.h"
#include "image/image.h"
#include "result.h"

namespace pictrove {

// The image fitted into size x size, keeping its aspect.
Image fitInto(const Image& image, std::uint32_t size);

// `icon` of `source` as a PNG that fits size x size, made from the stored
// image best suited to that size (the next best when it is damaged); an icon
// without stored images is drawn at the system icon size. A stored PNG of
// just that size in 8-bit RGBA comes as it is stored. An error with code
// invalidFormat when there is nothing to show, writeFailed when the picture
// cannot be encoded.
Result<std::vector<std::uint8_t>> iconPng(const Source& source, const SourceIcon& icon, std::uint32_t size);

}  // namespace pictrove
