// What the window shows when no settings file tells it otherwise, and the
// names of the settings keys that change it. The window starts from these
// values, and the configurator offers them as its "Defaults", so a settings
// file holding them changes nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pictrove::settings_defaults {

inline constexpr std::string_view kTitle = "Pictrove";
inline constexpr std::string_view kSaveDialogTitle = "Save Icon as ...";

struct MenuCaption {
    std::string_view key;  // in section "Menu"
    std::string_view caption;
};
// The icon menu's items in menu order. A missing key gives the item its
// number in this list as caption ("1" to "8").
inline constexpr std::array<MenuCaption, 8> kMenuCaptions = {{
    {"Copy", "&Copy Icon to clipboard"},
    {"Icon", "Save Icon as *.&ICO ..."},
    {"Bitmap", "Save Icon as *.&BMP ..."},
    {"Background", "Backgr&ound color ..."},
    {"Homepage", "&Website ..."},
    {"EMail", "&E-mail ..."},
    {"Help", "&Help ..."},
    {"About", "&About ..."},
}};

// The items for an icon's stored images, after the bitmap save. These keys
// came later: a settings file without them keeps the built-in caption, so
// files written before they existed still read sensibly.
inline constexpr std::array<MenuCaption, 3> kOriginalMenuCaptions = {{
    {"Original", "Save Ori&ginal Icon as ..."},
    {"Png", "Save Icon as *.&PNG ..."},
    {"Details", "Icon &Details ..."},
}};

inline constexpr std::array<std::string_view, 3> kMasks = {"*.ic?", "*.exe;*.dll;*.ocx;*.cpl;*.ico", "*.*"};
// Mask keys are "E1", "E2", ... up to the first missing or empty one; every
// lookup reads the file again, so past this many the list is long enough.
inline constexpr int kMaxMasks = 256;

// One line; with a settings file the About box shows its lines instead.
inline constexpr std::string_view kAboutText =
    "Pictrove - finds the icons inside programs, libraries and icon files, and saves them.";

inline constexpr std::string_view kWebsite = "https://pictrove.example.org/";
inline constexpr std::string_view kEmail = "mailto:pictrove@example.org?subject=Pictrove";

inline constexpr std::string_view kCollectionExtension = ".ics";

// A system colour (top bit set, index below): the desktop background.
inline constexpr std::uint32_t kDisplayColor = 0x80000001;

// About lines are keys "L1" to "L6"; a value of exactly this adds no line.
inline constexpr int kAboutLineCount = 6;
inline constexpr std::string_view kNoAboutLine = "^";
// A line that must keep its leading blanks is written after this mark, of
// which the window keeps this many characters.
inline constexpr char kAboutLineMark = '>';
inline constexpr std::size_t kMaxMarkedAboutLine = 255;

}  // namespace pictrove::settings_defaults
