// What the readers find in a file: groups of images, one group per icon.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "byte_reader.h"
#include "image/image.h"
#include "mapped_file.h"

namespace pictrove {

// How a resource is named inside an executable: a number or a string.
struct ResourceName {
    std::optional<std::uint16_t> id;
    std::string name;  // UTF-8; used when id is empty

    static ResourceName number(std::uint16_t value) { return {value, {}}; }
    static ResourceName text(std::string value) { return {std::nullopt, std::move(value)}; }
};

// Where a cursor points, in pixels from the image's top-left corner.
struct HotSpot {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    friend bool operator==(const HotSpot&, const HotSpot&) = default;
};

// One stored image of an icon or cursor: what its header says and where its
// bytes are. The bytes are those of the file the group was read from, read
// when first asked for.
struct IconImage {
    ImageInfo info;
    FileBytes data;                  // the bitmap or PNG alone, without a cursor's hot spot
    std::optional<HotSpot> hotSpot;  // cursors only
};

// Executables keep icons and cursors apart, each as groups of images.
enum class GroupKind { icons, cursors };

// One icon: the group directory of an executable, or the whole of an icon file.
struct IconGroup {
    std::optional<ResourceName> name;  // none for icon, cursor and animated cursor files
    std::vector<IconImage> images;     // in directory order; never empty
};

// Why a picture of these images could not be made, when one of them is a
// picture a reader makes (an SVG drawing) that was asked for and stopped:
// a front end gives it with "cannot be decoded". Empty otherwise.
inline std::string whyNotMade(const std::vector<IconImage>& images) {
    for (const IconImage& image : images) {
        if (auto why = image.data.whyNotMade(); !why.empty()) return why;
    }
    return {};
}

// Where a resource's bytes are in its file, to be read when needed.
struct FileRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Image resources by ID, for the lookups of group directory entries. When IDs
// repeat, the first one stored wins, as the system loader finds it first.
class ImageIndex {
public:
    void add(std::uint16_t id, FileRange range) { entries_.emplace_back(id, range); }
    void finish();  // call once after the last add
    std::optional<FileRange> find(std::uint16_t id) const;

private:
    std::vector<std::pair<std::uint16_t, FileRange>> entries_;
    // When the IDs lie close together, as they mostly do: for each ID from
    // the lowest, its first entry's place plus one, or 0 for none.
    std::vector<std::uint32_t> slots_;
};

// Checks an image's header, reading no more of it; nothing when it is
// neither a usable bitmap nor PNG.
std::optional<IconImage> inspectImage(FileBytes data);
// The same with the image's first bytes (kImageHeadSize of them, or all of a
// shorter image) read already.
std::optional<IconImage> inspectImage(FileBytes data, Bytes head);

// Orders groups as the shell numbers them: named groups first in the order
// they are stored, then numbered ones by ascending ID.
void orderGroups(std::vector<IconGroup>& groups);

// The comparison behind orderGroups, for a stable sort.
// A missing name (a single-icon file) counts as a name.
bool shellOrderBefore(const ResourceName* a, const ResourceName* b);

}  // namespace pictrove
