// The platform's system colours, which a colour value names by index when
// its top bit is set (0x80000000 + index). They come from a fixed table, the
// classic Windows scheme, so a settings file looks the same on every desktop.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace pictrove {

struct SystemColor {
    std::string_view name;
    std::uint32_t rgb;  // 0x00BBGGRR
};

// By index (COLOR_*). Index 25 is unused and, like every index past the
// table, is black.
inline constexpr std::array<SystemColor, 31> kSystemColors = {{
    {"Scroll bar", 0xC8D0D4},
    {"Desktop", 0xA56E3A},
    {"Active caption", 0x6A240A},
    {"Inactive caption", 0x808080},
    {"Menu", 0xC8D0D4},
    {"Window", 0xFFFFFF},
    {"Window frame", 0x000000},
    {"Menu text", 0x000000},
    {"Window text", 0x000000},
    {"Caption text", 0xFFFFFF},
    {"Active border", 0xC8D0D4},
    {"Inactive border", 0xC8D0D4},
    {"Application workspace", 0x808080},
    {"Highlight", 0x6A240A},
    {"Highlight text", 0xFFFFFF},
    {"Button face", 0xC8D0D4},
    {"Button shadow", 0x808080},
    {"Grey text", 0x808080},
    {"Button text", 0x000000},
    {"Inactive caption text", 0xC8D0D4},
    {"Button highlight", 0xFFFFFF},
    {"3-D dark shadow", 0x404040},
    {"3-D light", 0xC8D0D4},
    {"Tooltip text", 0x000000},
    {"Tooltip background", 0xE1FFFF},
    {"", 0x000000},
    {"Hot-tracked item", 0x800000},
    {"Active caption gradient", 0xF0CAA6},
    {"Inactive caption gradient", 0xC0C0C0},
    {"Menu highlight", 0x6A240A},
    {"Menu bar", 0xC8D0D4},
}};

inline constexpr std::uint32_t kSystemColorFlag = 0x80000000;

// The 0x00BBGGRR colour a colour value stands for.
inline constexpr std::uint32_t rgbOfColorValue(std::uint32_t value) {
    if (!(value & kSystemColorFlag)) return value & 0xFFFFFF;
    const std::size_t index = value & 0xFFu;
    return index < kSystemColors.size() ? kSystemColors[index].rgb : 0;
}

}  // namespace pictrove
