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

std::optional<SectionHeaderLayout> readLayout(const FileView& file) {
    // The ELF header is 0x34 bytes in 32-bit files, 0x40 in 64-bit ones.
    const Bytes header = file.read(0, 0x40);
    const auto elfClass = u8At(header, 4);
    const auto encoding = u8At(header, 5);
    if (!hasTagAt(header, 0,
                  "\x7F"
                  "ELF") ||
        !elfClass || encoding != std::optional<std::uint8_t>(1)) {
        return std::nullopt;  // only little-endian files: the readers assume it throughout
    }
    SectionHeaderLayout layout{};
    if (*elfClass == 1) {
        layout = {u32At(header, 0x20).value_or(0),
                  u16At(header, 0x2E).value_or(0),
                  u16At(header, 0x30).value_or(0),
                  u16At(header, 0x32).value_or(0),
                  0,
                  0x10,
                  0x14,
                  false};
    } else if (*elfClass == 2) {
        layout = {u64At(header, 0x28).value_or(0),
                  u16At(header, 0x3A).value_or(0),
                  u16At(header, 0x3C).value_or(0),
                  u16At(header, 0x3E).value_or(0),
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

// Where section `index` is in the file, when it lies inside it. Only the
// fields used are read from its header, not the whole table.
std::optional<FileRange> sectionRange(const FileView& file, const SectionHeaderLayout& layout,
                                      std::uint64_t index) {
    const std::uint64_t header = layout.tableOffset + index * layout.entrySize;
    const auto fields = file.exact(header + layout.offsetAt, layout.wide ? 16 : 8);
    if (!fields) return std::nullopt;
    const std::uint64_t offset = layout.wide ? u64At(*fields, 0).value_or(0) : loadU32(fields->data());
    const std::uint64_t size = layout.wide ? u64At(*fields, 8).value_or(0) : loadU32(fields->data() + 4);
    if (!fitsIn(file.size(), offset, size)) return std::nullopt;
    return FileRange{offset, size};
}

}  // namespace

std::optional<IconGroup> readElfIcon(const FileView& file) {
    const auto layout = readLayout(file);
    if (!layout || layout->namesIndex >= layout->count) return std::nullopt;
    const auto names = sectionRange(file, *layout, layout->namesIndex);
    if (!names) return std::nullopt;
    // Each section's name is read alone: the name table may be large, and
    // only one name is looked for.
    const std::uint64_t nameLength = kElfIconSection.size() + 1;
    for (std::uint64_t i = 0; i < layout->count; ++i) {
        const auto nameOffset = file.u32At(layout->tableOffset + i * layout->entrySize + layout->nameAt);
        if (!nameOffset || !fitsIn(names->length, *nameOffset, nameLength)) continue;
        const auto name = file.exact(names->offset + *nameOffset, nameLength);
        if (!name || !hasTagAt(*name, 0, kElfIconSection) || u8At(*name, kElfIconSection.size()) != 0)
            continue;
        const auto contents = sectionRange(file, *layout, i);
        if (!contents) return std::nullopt;
        auto group = readIcoFile(file.window(contents->offset, contents->length));
        if (group) group->name = ResourceName::text("MAINICON");
        return group;
    }
    return std::nullopt;
}

}  // namespace pictrove
