// 16-bit NE executables and icon libraries.
//
// The resource table starts with an alignment shift, then holds one TYPEINFO
// block per resource type (type, count, reserved) each followed by its
// 12-byte NAMEINFO entries (offset and length in alignment units, flags, ID,
// two reserved words); a type of 0 ends the list. Type and resource IDs with
// the high bit set are numbers; others are offsets, from the start of the
// table, of length-prefixed names.
#include <algorithm>
#include <string>
#include <utility>

#include "icon_source/readers.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::uint16_t kIntegerFlag = 0x8000;
constexpr std::uint16_t kNeCursor = 0x8001;
constexpr std::uint16_t kNeIcon = 0x8003;
constexpr std::uint16_t kNeGroupCursor = 0x800C;
constexpr std::uint16_t kNeGroupIcon = 0x800E;

struct NeTypes {
    std::uint16_t image;
    std::uint16_t group;
};

NeTypes typesOf(GroupKind kind) {
    if (kind == GroupKind::cursors) return {kNeCursor, kNeGroupCursor};
    return {kNeIcon, kNeGroupIcon};
}
constexpr std::size_t kNameInfoSize = 12;
// Real files use shifts of 4 to 9; anything past 16 would place resources
// beyond any 16-bit program's reach.
constexpr std::uint16_t kMaxAlignShift = 16;

struct NeResource {
    std::uint16_t type;
    ResourceName name;
    FileRange data;
};

// Pascal-style names are in the program's ANSI code page; they are taken as
// Latin-1, which matches it for every ASCII name and most others.
std::optional<std::string> readName(const FileView& table, std::uint32_t offset) {
    const auto length = table.u8At(offset);
    if (!length) return std::nullopt;
    const auto chars = table.exact(std::uint64_t{offset} + 1, *length);
    if (!chars) return std::nullopt;
    std::string utf8;
    for (std::byte b : *chars) {
        const auto c = std::to_integer<unsigned char>(b);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::vector<NeResource> readResourceTable(const FileView& file, NeTypes wanted) {
    constexpr std::size_t kTypeInfoSize = 8;
    const auto neOffset = file.u32At(0x3C);
    if (!file.hasTagAt(0, "MZ") || !neOffset || !file.hasTagAt(*neOffset, "NE")) return {};
    const auto tableOffset = file.u16At(std::uint64_t{*neOffset} + 0x24);
    const auto namesOffset = file.u16At(std::uint64_t{*neOffset} + 0x26);
    if (!tableOffset || !namesOffset) return {};
    const std::uint64_t start = std::uint64_t{*neOffset} + *tableOffset;
    if (start >= file.size()) return {};
    // The resident-name table follows the resource table; where the header
    // places it after the start, it bounds the walk, so a damaged count
    // cannot make entries out of the tables behind.
    std::uint64_t tableLength = file.size() - start;
    if (*namesOffset > *tableOffset)
        tableLength = std::min<std::uint64_t>(tableLength, *namesOffset - *tableOffset);
    const FileView table = file.window(start, tableLength);

    const auto shift = table.u16At(0);
    if (!shift || *shift > kMaxAlignShift) return {};

    std::vector<NeResource> resources;
    // Each pass consumes one TYPEINFO block and its entries, so the walk ends
    // with the table.
    std::uint64_t at = 2;
    while (true) {
        const auto type = table.u16At(at);
        if (!type || *type == 0) break;
        const auto info = table.exact(at, kTypeInfoSize);
        if (!info) break;
        const std::uint16_t count = loadU16(info->data() + 2);
        const std::uint64_t entriesAt = at + kTypeInfoSize;
        const std::uint64_t entriesSize = std::uint64_t{count} * kNameInfoSize;
        if (!fitsIn(table.size(), entriesAt, entriesSize)) break;
        at = entriesAt + entriesSize;
        if (*type != wanted.image && *type != wanted.group) continue;
        const auto entries = table.exact(entriesAt, entriesSize);
        if (!entries) break;
        ByteReader in(*entries);
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t offset = std::uint64_t{in.u16()} << *shift;
            const std::uint64_t length = std::uint64_t{in.u16()} << *shift;
            in.u16();  // flags
            const std::uint16_t id = in.u16();
            in.skip(4);  // handle, usage
            // The length is rounded up to the alignment, so it may run past
            // the end of a file that stops right after the last resource.
            if (offset >= file.size()) continue;
            NeResource resource{*type, {}, {offset, std::min<std::uint64_t>(length, file.size() - offset)}};
            if (id & kIntegerFlag) {
                resource.name = ResourceName::number(id & ~kIntegerFlag);
            } else {
                auto text = readName(table, id);
                if (!text) continue;
                resource.name = ResourceName::text(std::move(*text));
            }
            resources.push_back(std::move(resource));
        }
    }
    return resources;
}

}  // namespace

std::vector<IconGroup> readNeIcons(const FileView& file, GroupKind kind, std::size_t groupLimit) {
    const NeTypes wanted = typesOf(kind);
    std::vector<NeResource> resources = readResourceTable(file, wanted);

    ImageIndex icons;
    for (const NeResource& resource : resources) {
        if (resource.type == wanted.image && resource.name.id) icons.add(*resource.name.id, resource.data);
    }
    icons.finish();
    // Of the images a delivered group names, the headers are read now and
    // the rest when they are decoded or copied.
    const auto lookup = [&icons, &file](std::uint16_t id) {
        const auto range = icons.find(id);
        return range ? file.later(range->offset, range->length) : FileBytes();
    };

    std::vector<std::pair<ResourceName, Bytes>> directories;
    for (NeResource& resource : resources) {
        if (resource.type == wanted.group)
            directories.emplace_back(std::move(resource.name),
                                     file.read(resource.data.offset, resource.data.length));
    }
    return readGroups(std::move(directories), lookup, kind, groupLimit);
}

}  // namespace pictrove
