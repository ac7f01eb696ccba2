// Builds small PE32 libraries with icon resources in memory, for tests and
// benchmarks that need files with an exact number of icons.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace pictrove::testing {

// One 32 x 32 icon image of 32 bits with alpha, every pixel of one colour
// (0xAARRGGBB); a DIB as icon resources store it.
std::vector<std::uint8_t> solidIconDib(std::uint32_t argb, std::uint32_t size = 32);

// A 32 x 32 icon image of 32 bits whose left half is `argb` and whose right
// half is fully transparent.
std::vector<std::uint8_t> halfTransparentIconDib(std::uint32_t argb);

// A PE32 library whose resource tree holds one icon group per image, the
// groups and images numbered from 1.
std::vector<std::uint8_t> buildIconLibrary(const std::vector<std::vector<std::uint8_t>>& images);

// The same, with `count` icons of distinct colours, written to `path`.
void writeIconLibrary(const std::filesystem::path& path, std::size_t count);

// The colour buildIconLibrary gives icon `index` in writeIconLibrary.
std::uint32_t iconColour(std::size_t index);

}  // namespace pictrove::testing
