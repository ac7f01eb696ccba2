// Asks the system's own icon extraction (ExtractIconW) about every file under
// a folder and compares it with the engine: the number of icons of each file,
// and the 32 x 32 pixels of each icon whose chosen image needs no scaling.
// Under Wine this checks the engine against an independent implementation.
//
//   extract_icon_check FOLDER
//
// Prints one line per difference; exit status 1 when there is one.
// windows.h first: the others need its types.
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "icon_source/icon_file.h"
#include "path_text.h"

namespace {

namespace fs = std::filesystem;
using pictrove::IconFile;
using pictrove::Image;
using pictrove::kIconSize;
using pictrove::SourceKind;

constexpr int kSide = static_cast<int>(kIconSize);

// Pixels and mask of an icon as the system hands it out, top row first.
struct SystemIcon {
    std::vector<std::uint8_t> bgra;  // 32-bit colour as stored, alpha included
    std::vector<std::uint8_t> mask;  // 1 where the AND mask is set
};

bool readBitmap(HDC dc, HBITMAP bitmap, std::vector<std::uint8_t>& bgra) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kSide;
    info.bmiHeader.biHeight = -kSide;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bgra.assign(kIconSize * kIconSize * 4, 0);
    return GetDIBits(dc, bitmap, 0, kIconSize, bgra.data(), &info, DIB_RGB_COLORS) == kSide;
}

std::optional<SystemIcon> systemIcon(const fs::path& file, UINT index) {
    HICON icon = ExtractIconW(GetModuleHandleW(nullptr), file.c_str(), index);
    if (!icon) return std::nullopt;
    ICONINFO parts{};
    const bool split = GetIconInfo(icon, &parts) != 0;
    HDC dc = CreateCompatibleDC(nullptr);
    SystemIcon result;
    std::vector<std::uint8_t> mask;
    BITMAP shape{};
    const bool read = split && parts.hbmColor && GetObjectW(parts.hbmColor, sizeof shape, &shape) &&
                      shape.bmWidth == kSide && shape.bmHeight == kSide &&
                      readBitmap(dc, parts.hbmColor, result.bgra) && readBitmap(dc, parts.hbmMask, mask);
    DeleteDC(dc);
    if (parts.hbmColor) DeleteObject(parts.hbmColor);
    if (parts.hbmMask) DeleteObject(parts.hbmMask);
    DestroyIcon(icon);
    if (!read) return std::nullopt;
    for (std::size_t i = 0; i < mask.size(); i += 4) result.mask.push_back(mask[i] != 0 ? 1 : 0);
    return result;
}

std::string describe(const Image& engine, const SystemIcon& system, std::size_t p) {
    char text[160];
    const auto* e = &engine.bgra[p * 4];
    const auto* s = &system.bgra[p * 4];
    std::snprintf(text, sizeof text,
                  "pixel (%zu,%zu): engine bgra %u,%u,%u,%u mask %u, system bgra %u,%u,%u,%u mask %u",
                  p % kIconSize, p / kIconSize, e[0], e[1], e[2], e[3], engine.mask[p], s[0], s[1], s[2],
                  s[3], system.mask[p]);
    return text;
}

struct Tally {
    int icons = 0;      // compared pixel by pixel
    int explained = 0;  // differences with a known cause
};

std::size_t systemCount(const fs::path& file) {
    const auto count =
        reinterpret_cast<std::uintptr_t>(ExtractIconW(GetModuleHandleW(nullptr), file.c_str(), UINT_MAX));
    return static_cast<std::size_t>(count);
}

// How the system's 32 x 32 picture of an icon relates to the engine's.
enum class Match { same, sameButWidening, sameButMaskDropped, different };

// Images with alpha are compared with their alpha; classic ones by colour
// and mask. `widening` allows the one step by which 5- and 6-bit channels of
// 16-bit images may differ: the engine widens them as v * 255 / max, rounded
// down, Wine by repeating the top bits.
Match compare(const Image& engine, const SystemIcon& system, bool widening, std::string& where) {
    bool widened = false, maskDropped = false;
    for (std::size_t p = 0; p < engine.pixelCount(); ++p) {
        const std::size_t channels = engine.hasAlpha ? 4 : 3;
        for (std::size_t c = 0; c < channels; ++c) {
            const int step = std::abs(engine.bgra[p * 4 + c] - system.bgra[p * 4 + c]);
            widened = widened || step == 1;
            if (step > (widening ? 1 : 0)) {
                where = describe(engine, system, p);
                return Match::different;
            }
        }
        if (!engine.hasAlpha && engine.mask[p] != system.mask[p]) {
            maskDropped = widening && system.mask[p] == 0;
            if (!maskDropped) {
                where = describe(engine, system, p);
                return Match::different;
            }
        }
    }
    if (maskDropped) return Match::sameButMaskDropped;
    return widened ? Match::sameButWidening : Match::same;
}

// Compares icon `i` when it is shown without scaling; prints a line when
// the pictures differ. Returns 1 for a difference without a known cause.
int compareIcon(const IconFile& engine, std::size_t i, const std::vector<std::optional<SystemIcon>>& system,
                const std::string& name, Tally& tally) {
    const auto& chosen = engine.group(i).images.at(engine.chosenImage(i)).info;
    if (chosen.width != kIconSize || chosen.height != kIconSize) return 0;  // scaled: sizes agree only
    ++tally.icons;
    const auto ours = engine.icon(i);
    std::string where = ours ? "the system has no 32 x 32 picture" : "the engine decodes nothing";
    Match match = Match::different;
    if (ours && system[i]) match = compare(*ours, *system[i], chosen.bits == 16, where);
    if (match == Match::same) return 0;
    std::size_t elsewhere = system.size();
    for (std::size_t j = 0; match == Match::different && ours && j < system.size(); ++j) {
        std::string unused;
        if (system[j] && compare(*ours, *system[j], false, unused) == Match::same) elsewhere = j;
    }
    const bool known =
        match != Match::different || (engine.kind() == SourceKind::ne && elsewhere < system.size());
    tally.explained += known ? 1 : 0;
    std::printf("%s %s #%zu: ", known ? "known" : "DIFFERENT", name.c_str(), i);
    if (match == Match::sameButWidening) std::printf("16-bit colours one step apart\n");
    if (match == Match::sameButMaskDropped) std::printf("the system drops the AND mask\n");
    if (match == Match::different && elsewhere < system.size())
        std::printf("the system numbers it #%zu\n", elsewhere);
    if (match == Match::different && elsewhere == system.size()) std::printf("%s\n", where.c_str());
    return known ? 0 : 1;
}

// Compares one file; returns the number of differences without a known cause.
int compareFile(const fs::path& file, Tally& tally) {
    const std::string name = pictrove::utf8Of(file);
    const auto engine = IconFile::open(file);
    const std::size_t engineCount = engine ? engine->count() : 0;
    const std::size_t count = systemCount(file);
    if (count != engineCount) {
        const bool cursor =
            engine && (engine->kind() == SourceKind::cur || engine->kind() == SourceKind::ani);
        const bool known = cursor && count == 0;
        tally.explained += known ? 1 : 0;
        std::printf("%s %s: %zu icons, the system counts %zu\n", known ? "known" : "DIFFERENT", name.c_str(),
                    engineCount, count);
        return known ? 0 : 1;
    }
    std::vector<std::optional<SystemIcon>> system;
    for (std::size_t i = 0; i < count; ++i) system.push_back(systemIcon(file, static_cast<UINT>(i)));
    int differences = 0;
    for (std::size_t i = 0; i < count; ++i) differences += compareIcon(*engine, i, system, name, tally);
    return differences;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: extract_icon_check FOLDER\n");
        return 2;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(argv[1])) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    int differences = 0;
    Tally tally;
    for (const fs::path& file : files) differences += compareFile(file, tally);
    std::printf("%zu files, %d icons compared pixel by pixel, %d known differences, %d others\n",
                files.size(), tally.icons, tally.explained, differences);
    return differences == 0 ? 0 : 1;
}
