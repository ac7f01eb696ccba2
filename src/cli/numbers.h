// Numbers given on the command line.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pictrove::cli {

// A whole decimal number and nothing else (no sign, no blanks) from `low` to
// `high`; nothing otherwise, also for digits beyond 64 bits.
inline std::optional<std::uint64_t> wholeNumber(std::string_view text, std::uint64_t low,
                                                std::uint64_t high) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < low || value > high) return std::nullopt;
    return value;
}

}  // namespace pictrove::cli
