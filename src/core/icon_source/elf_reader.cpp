// ELF executables: only the section that holds the program's own icon file.
#include "icon_source/readers.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

struct SectionHeaderLayout {
    std::uint64_t tableOffset, entrySize, count, namesIndex;
    std::uint64_t nameAt, offsetAt, sizeAt;  // field offsets inside one header
    bool wide;                               // 64-bit offsets and sizes
};

std::optional<SectionHeaderLayout> readLayout(Bytes file) {
    const auto elfClass = u8At(file, 4);
    const auto encoding = u8At(file, 5);
    if (!hasTagAt(file, 0,
                  "\x7F"
                  "ELF") ||
        !elfClass || encoding != std::optional<std::uint8_t>(1)) {
        return std::nullopt;  // only little-endian files: the readers assume it throughout
    }
    SectionHeaderLayout layout{};
    if (*elfClass == 1) {
        layout = {u32At(file, 0x20).value_or(0),
                  u16At(file, 0x2E).value_or(0),
                  u16At(file, 0x30).value_or(0),
                  u16At(file, 0x32).value_or(0),
                  0,
                  0x10,
                  0x14,
                  false};
    } else if (*elfClass == 2) {
        layout = {u64At(file, 0x28).value_or(0),
                  u16At(file, 0x3A).value_or(0),
                  u16At(file, 0x3C).value_or(0),
                  u16At(file, 0x3E).value_or(0),
                  0,
                  0x18,
                  0x20,
                  true};
    } else {
        return std::nullopt;
    }
    const std::uint64_t minimum = layout.wide ? 0x28 : 0x18;
    if (layout.entrySize < minimum || layout.count > limits::kMaxSections ||
        !fitsIn(file.size(), layout.tableOffset, layout.entrySize * layout.count)) {
        return std::nullopt;
    }
    return layout;
}

std::optional<Bytes> sectionBytes(Bytes file, const SectionHeaderLayout& layout, std::uint64_t index) {
    const std::uint64_t header = layout.tableOffset + index * layout.entrySize;
    const auto field = [&](std::uint64_t at) -> std::optional<std::uint64_t> {
        if (layout.wide) return u64At(file, header + at);
        return u32At(file, header + at);
    };
    const auto offset = field(layout.offsetAt);
    const auto size = field(layout.sizeAt);
    if (!offset || !size) return std::nullopt;
    return slice(file, *offset, *size);
}

}  // namespace

std::optional<IconGroup> readElfIcon(Bytes file) {
    const auto layout = readLayout(file);
    if (!layout || layout->namesIndex >= layout->count) return std::nullopt;
    const auto names = sectionBytes(file, *layout, layout->namesIndex);
    if (!names) return std::nullopt;
    for (std::uint64_t i = 0; i < layout->count; ++i) {
        const auto nameOffset = u32At(file, layout->tableOffset + i * layout->entrySize + layout->nameAt);
        if (!nameOffset || !hasTagAt(*names, *nameOffset, kElfIconSection) ||
            u8At(*names, *nameOffset + kElfIconSection.size()) != std::optional<std::uint8_t>(0)) {
            continue;
        }
        const auto contents = sectionBytes(file, *layout, i);
        if (!contents) return std::nullopt;
        auto group = readIcoFile(*contents);
        if (group) group->name = ResourceName::text("MAINICON");
        return group;
    }
    return std::nullopt;
}

}  // namespace pictrove
