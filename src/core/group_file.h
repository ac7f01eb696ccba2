// A whole icon group as a file of its own: every stored image byte for byte,
// PNG images included, behind a directory rebuilt from the images.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "icon_source/icon_group.h"

namespace pictrove {

// An icon file (.ico), or a cursor file (.cur) when every image carries a hot
// spot. The directory entries come from the image headers, not from the
// group directory the images were found through, so a directory that lies
// about sizes or depths still gives a file that reads back correctly; for an
// honest one the result is what the resource compiler was given. Nothing for
// an empty group or one whose images would pass limits::kMaxGroupFileSize.
std::optional<std::vector<std::uint8_t>> buildGroupFile(const IconGroup& group);

// Hands the bytes of the file buildGroupFile gives to `sink`, a piece at a
// time, without ever holding more than its directory: for a digest of a
// group that names one large image many times over. False, and nothing
// handed over, where buildGroupFile gives nothing.
bool writeGroupFile(const IconGroup& group, const std::function<void(std::span<const std::uint8_t>)>& sink);

// Whether an image is a bitmap that turned out damaged when it was made
// (a reader may list a picture it converts only when first read).
bool isDamagedBitmap(const IconImage& image);

// The size of what buildGroupFile gives for `group`, worked out without
// building it; nothing where it gives nothing (too large, or a bitmap that
// turned out damaged when it was made).
std::optional<std::uint64_t> groupFileSize(const IconGroup& group);

// The bytes of a stored image without what follows it in its resource
// (16-bit executables pad every resource to their alignment): what a group
// file holds of it.
Bytes imageBytes(const IconImage& image);

// True when buildGroupFile writes a cursor file for `group`.
bool isCursorGroup(const IconGroup& group);

}  // namespace pictrove
