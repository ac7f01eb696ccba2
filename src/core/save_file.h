// Writing a file so that a failure never costs the user the old one: the
// bytes go to a temporary file in the same folder, which replaces the target
// only once it is complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "result.h"

namespace pictrove {

// Nothing on success; on failure the target is untouched and no temporary
// file is left behind.
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace pictrove
