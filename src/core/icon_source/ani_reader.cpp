// Animated cursors: a RIFF file of form "ACON" whose "LIST" chunk of type
// "fram" holds one "icon" chunk per frame, each a complete icon or cursor
// file. Chunks are padded to an even length.
#include "icon_source/readers.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

struct Chunk {
    std::uint64_t dataOffset;
    std::uint32_t size;
    std::string_view id;
};

// Calls `visit` for each chunk of [begin, end) until it returns true; the
// walk stops at the first chunk that does not fit, and after a fixed number.
template <class Visit>
bool forEachChunk(const FileView& file, std::uint64_t begin, std::uint64_t end, Visit&& visit) {
    std::uint64_t offset = begin;
    for (std::size_t n = 0; n < limits::kMaxRiffChunks && offset + 8 <= end; ++n) {
        const auto header = file.exact(offset, 8);
        if (!header) return false;
        const std::uint32_t size = loadU32(header->data() + 4);
        if (!fitsIn(end, offset + 8, size)) return false;
        const auto* id = reinterpret_cast<const char*>(header->data());
        if (visit(Chunk{offset + 8, size, std::string_view(id, 4)})) return true;
        offset += 8 + std::uint64_t{size} + (size & 1);
    }
    return false;
}

}  // namespace

std::optional<IconGroup> readAniFile(const FileView& file) {
    if (!file.hasTagAt(0, "RIFF") || !file.hasTagAt(8, "ACON")) return std::nullopt;
    // The RIFF size is often a little off in the wild; the file's end is the
    // firmer bound.
    const std::uint64_t end = file.size();
    std::optional<IconGroup> frame;
    forEachChunk(file, 12, end, [&](const Chunk& list) {
        if (list.id != "LIST" || !file.hasTagAt(list.dataOffset, "fram")) return false;
        return forEachChunk(file, list.dataOffset + 4, list.dataOffset + list.size, [&](const Chunk& chunk) {
            if (chunk.id != "icon") return false;
            frame = readIcoFile(file.window(chunk.dataOffset, chunk.size));
            return true;  // the first frame decides, good or bad
        });
    });
    return frame;
}

}  // namespace pictrove
