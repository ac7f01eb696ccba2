// Writing a file so that a failure never costs the user the old one: the
// bytes go to a temporary file in the same folder, which replaces the target
// only once it is complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "result.h"

namespace pictrove {

// Nothing on success; on failure the target is untouched and no temporary
// file is left behind. A replaced file keeps its permission bits, and its
// owner and group where the process may set them. Where the folder takes no
// new file but the existing target may be written, the bytes are written
// over it in place (a failure there can leave it cut short).
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

namespace detail {
// The write loop of every save: all bytes through `write` (the system's
// write() in saves), retried after interruptions. False with an errno value
// when a write fails or stores nothing, which would otherwise repeat forever.
using WriteCall = std::function<long(int fd, const std::uint8_t* data, std::size_t size)>;
bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error, const WriteCall& write);
}  // namespace detail

}  // namespace pictrove
