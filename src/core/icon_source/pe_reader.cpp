// PE32 / PE32+ resource trees.
//
// The resource section holds a three-level tree: type, then name, then
// language, each level an IMAGE_RESOURCE_DIRECTORY followed by its 8-byte
// entries (named ones first). Offsets inside the tree are relative to its
// root; the leaves give the data as an RVA, mapped to the file through the
// section table.
#include <algorithm>
#include <string>
#include <utility>

#include "icon_source/readers.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::uint16_t kRtCursor = 1;
constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupCursor = 12;
constexpr std::uint16_t kRtGroupIcon = 14;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kNameFlag = 0x80000000u;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kEntrySize = 8;

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;  // cut to the end of the file
    std::uint32_t rawOffset = 0;
    std::uint32_t declaredSize = 0;  // as the section table gives it
};

class PeImage {
public:
    // Nothing when the file is no PE image with resources; `cut` is set
    // when it names resources that lie past the end of the file.
    static std::optional<PeImage> parse(const FileView& file, bool& cut);

    const FileView& file() const { return file_; }

    // Where [rva, rva + size) is in the file, or nothing when it is not all
    // in one section's raw data (noted as cut when it would be, were the
    // file as long as its section table says).
    std::optional<FileRange> atRva(std::uint32_t rva, std::uint32_t size) const {
        for (const Section& section : sections_) {
            const std::uint32_t span = std::max({section.virtualSize, section.rawSize, section.declaredSize});
            if (rva < section.virtualAddress || rva - section.virtualAddress >= span) continue;
            const std::uint64_t delta = rva - section.virtualAddress;
            if (delta + size > section.rawSize) {
                if (delta + size <= section.declaredSize) cut_ = true;
                return std::nullopt;
            }
            return FileRange{std::uint64_t{section.rawOffset} + delta, size};
        }
        return std::nullopt;
    }

    // The resource tree: from its root to the end of its section's raw data.
    // Its bytes are read as the walk reaches them, not at once.
    const FileView& resources() const { return resources_; }

    // [offset, offset + length) of the tree, when all of it is in the file;
    // noted as cut when only the end of the file keeps it out.
    std::optional<Bytes> inTree(std::uint64_t offset, std::uint64_t length) const {
        auto bytes = resources_.exact(offset, length);
        if (!bytes && fitsIn(declaredTreeSize_, offset, length)) cut_ = true;
        return bytes;
    }

    // Whether [offset, offset + length) of the tree is in the file, read or
    // not; noted as cut when only the end of the file keeps it out.
    bool fitsTree(std::uint64_t offset, std::uint64_t length) const {
        if (fitsIn(resources_.size(), offset, length)) return true;
        if (fitsIn(declaredTreeSize_, offset, length)) cut_ = true;
        return false;
    }

    bool cut() const { return cut_; }

private:
    FileView file_;
    std::vector<Section> sections_;
    FileView resources_;
    std::uint64_t declaredTreeSize_ = 0;
    mutable bool cut_ = false;
};

std::optional<PeImage> PeImage::parse(const FileView& file, bool& cut) {
    constexpr std::size_t kSignatureAndFileHeader = 24;
    constexpr std::size_t kSectionHeaderSize = 40;
    const auto peOffset = file.u32At(0x3C);
    if (!file.hasTagAt(0, "MZ") || !peOffset) return std::nullopt;
    const auto header = file.exact(*peOffset, kSignatureAndFileHeader);
    if (!header || !hasTagAt(*header, 0, std::string_view("PE\0\0", 4))) return std::nullopt;
    const std::uint16_t sectionCount = loadU16(header->data() + 6);
    const std::uint16_t optionalSize = loadU16(header->data() + 20);
    const std::uint64_t optionalOffset = std::uint64_t{*peOffset} + kSignatureAndFileHeader;

    // The optional header and the section table behind it, in one read.
    const std::size_t count = std::min<std::size_t>(sectionCount, limits::kMaxSections);
    const Bytes headers = file.read(optionalOffset, optionalSize + count * kSectionHeaderSize);
    if (headers.size() < optionalSize) return std::nullopt;

    // Data directory 2 (resources) sits at a fixed place after the fields
    // whose width differs between PE32 and PE32+.
    const auto magic = u16At(headers, 0);
    std::size_t countOffset = 0;
    if (magic == 0x10B) {
        countOffset = 92;
    } else if (magic == 0x20B) {
        countOffset = 108;
    } else {
        return std::nullopt;
    }
    if (countOffset + 4 + 3 * 8 > optionalSize) return std::nullopt;
    const std::uint32_t directoryCount = loadU32(headers.data() + countOffset);
    const std::uint32_t resourceRva = loadU32(headers.data() + countOffset + 4 + 2 * 8);
    if (directoryCount <= 2 || resourceRva == 0) return std::nullopt;

    PeImage image;
    image.file_ = file;
    ByteReader table(headers, optionalSize);
    for (std::size_t i = 0; i < count && table.ok(); ++i) {
        table.skip(8);  // name
        Section section;
        section.virtualSize = table.u32();
        section.virtualAddress = table.u32();
        section.rawSize = table.u32();
        section.rawOffset = table.u32();
        table.skip(16);  // relocations, line numbers, characteristics
        if (!table.ok()) break;
        // Raw data that runs past the end of the file is cut to what is
        // there: the section table tells what was cut off, should a
        // resource lie there. Slack past the end that nothing uses is
        // common and no damage.
        section.declaredSize = section.rawSize;
        section.rawSize = section.rawOffset > file.size()
                              ? 0
                              : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                    section.rawSize, file.size() - section.rawOffset));
        image.sections_.push_back(section);
    }

    for (const Section& section : image.sections_) {
        const std::uint32_t span = std::max({section.virtualSize, section.rawSize, section.declaredSize});
        if (resourceRva < section.virtualAddress || resourceRva - section.virtualAddress >= span) continue;
        const std::uint32_t delta = resourceRva - section.virtualAddress;
        if (delta >= section.rawSize) {
            cut = delta < section.declaredSize;
            return std::nullopt;
        }
        image.resources_ = file.window(std::uint64_t{section.rawOffset} + delta, section.rawSize - delta);
        image.declaredTreeSize_ = std::max(section.rawSize, section.declaredSize) - delta;
        return image;
    }
    return std::nullopt;
}

struct DirectoryEntry {
    std::uint32_t name;    // an ID, or (with kNameFlag) the offset of a counted UTF-16 string
    std::uint32_t target;  // a data entry, or (with kSubdirectoryFlag) a directory
};

// The entries of the directory at `offset`; empty when it does not fit.
std::vector<DirectoryEntry> readDirectory(const PeImage& pe, std::uint32_t offset) {
    const auto header = pe.inTree(offset, kDirectoryHeaderSize);
    if (!header) return {};
    const std::size_t count = std::size_t{loadU16(header->data() + 12)} + loadU16(header->data() + 14);
    if (count > limits::kMaxDirectoryEntries) return {};
    const auto list = pe.inTree(std::uint64_t{offset} + kDirectoryHeaderSize, count * kEntrySize);
    if (!list) return {};
    ByteReader in(*list);
    std::vector<DirectoryEntry> entries(count);
    for (DirectoryEntry& entry : entries) {
        entry.name = in.u32();
        entry.target = in.u32();
    }
    return entries;
}

// The first entry of the directory at `offset`, under the same checks as
// readDirectory. Only a resource's first language is used, and reading the
// whole language directory for every name would let many names sharing one
// huge directory cost quadratic time.
std::optional<DirectoryEntry> readFirstEntry(const PeImage& pe, std::uint32_t offset) {
    const auto header = pe.inTree(offset, kDirectoryHeaderSize + kEntrySize);
    if (!header) return std::nullopt;
    const std::size_t count = std::size_t{loadU16(header->data() + 12)} + loadU16(header->data() + 14);
    const std::uint64_t entries = std::uint64_t{offset} + kDirectoryHeaderSize;
    if (count == 0 || count > limits::kMaxDirectoryEntries || !pe.fitsTree(entries, count * kEntrySize)) {
        return std::nullopt;
    }
    return DirectoryEntry{loadU32(header->data() + kDirectoryHeaderSize),
                          loadU32(header->data() + kDirectoryHeaderSize + 4)};
}

std::optional<std::string> readName(const PeImage& pe, std::uint32_t offset) {
    const auto lengthBytes = pe.inTree(offset, 2);
    if (!lengthBytes) return std::nullopt;
    const std::uint16_t length = loadU16(lengthBytes->data());
    const auto chars = pe.inTree(std::uint64_t{offset} + 2, std::uint64_t{length} * 2);
    if (!chars) return std::nullopt;
    std::string utf8;
    utf8.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t c = loadU16(chars->data() + 2 * i);
        // Surrogate pairs become one code point; a lone surrogate becomes U+FFFD.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
            const std::uint32_t low = loadU16(chars->data() + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | c >> 12);
            utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | c >> 18);
            utf8 += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// One named resource of one type: its name and where the data of its first
// language is.
struct Resource {
    ResourceName name;
    FileRange data;
};

// Every resource of the type whose directory is at `typeOffset`, in stored
// order. The tree has exactly three levels, so the walk has a fixed depth;
// a directory that points back at one of its ancestors is refused, so no
// crafted tree can make it go round. The resources' own bytes are left for
// the caller to read when it needs them.
std::vector<Resource> readResources(const PeImage& pe, std::uint32_t typeOffset) {
    std::vector<Resource> resources;
    for (const DirectoryEntry& entry : readDirectory(pe, typeOffset)) {
        if (!(entry.target & kSubdirectoryFlag)) continue;
        const std::uint32_t languages = entry.target & ~kSubdirectoryFlag;
        if (languages == typeOffset || languages == 0) continue;
        const auto language = readFirstEntry(pe, languages);
        if (!language || (language->target & kSubdirectoryFlag)) continue;

        const auto dataEntry = pe.inTree(language->target, 8);
        if (!dataEntry) continue;
        const auto data = pe.atRva(loadU32(dataEntry->data()), loadU32(dataEntry->data() + 4));
        if (!data) continue;

        Resource resource;
        if (entry.name & kNameFlag) {
            auto text = readName(pe, entry.name & ~kNameFlag);
            if (!text) continue;
            resource.name = ResourceName::text(std::move(*text));
        } else {
            resource.name = ResourceName::number(static_cast<std::uint16_t>(entry.name));
        }
        resource.data = *data;
        resources.push_back(std::move(resource));
    }
    return resources;
}

// The directory of one resource type at the root, if present.
std::optional<std::uint32_t> findType(const PeImage& pe, std::uint16_t type) {
    for (const DirectoryEntry& entry : readDirectory(pe, 0)) {
        if (entry.name == type && (entry.target & kSubdirectoryFlag)) {
            const std::uint32_t offset = entry.target & ~kSubdirectoryFlag;
            if (offset != 0) return offset;  // the root itself would be a loop
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<IconGroup> readPeIcons(const FileView& file, GroupKind kind, std::size_t groupLimit, bool* cut) {
    bool headersCut = false;
    const auto pe = PeImage::parse(file, headersCut);
    if (cut) *cut = headersCut;
    if (!pe) return {};
    // Whatever the walk met past the end of the file, once it is over.
    struct Report {
        const PeImage& pe;
        bool* cut;
        ~Report() {
            if (cut) *cut = *cut || pe.cut();
        }
    } report{*pe, cut};
    const bool cursors = kind == GroupKind::cursors;
    const auto groupType = findType(*pe, cursors ? kRtGroupCursor : kRtGroupIcon);
    const auto iconType = findType(*pe, cursors ? kRtCursor : kRtIcon);
    if (!groupType || !iconType) return {};

    // Of the images a delivered group names, the headers are read now and
    // the rest when they are decoded or copied.
    ImageIndex icons;
    for (const Resource& icon : readResources(*pe, *iconType)) {
        if (icon.name.id) icons.add(*icon.name.id, icon.data);
    }
    icons.finish();
    const auto lookup = [&icons, &file](std::uint16_t id) {
        const auto range = icons.find(id);
        if (!range || !fitsIn(file.size(), range->offset, range->length)) return FileBytes();
        return file.later(range->offset, range->length);
    };

    std::vector<std::pair<ResourceName, Bytes>> directories;
    for (Resource& resource : readResources(*pe, *groupType)) {
        if (const auto data = file.exact(resource.data.offset, resource.data.length))
            directories.emplace_back(std::move(resource.name), *data);
    }
    return readGroups(std::move(directories), lookup, kind, groupLimit);
}

}  // namespace pictrove
