// Implementation of readGroupDirectory, shared by the PE and NE readers.
#pragma once

#include <algorithm>

#include "reader_limits.h"

namespace pictrove {

// A cursor resource: the hot spot (two 16-bit words), then the image.
inline std::optional<IconImage> inspectCursor(Bytes resource) {
    const auto x = u16At(resource, 0);
    const auto y = u16At(resource, 2);
    if (!x || !y) return std::nullopt;
    auto image = inspectImage(resource.subspan(4));
    if (image) image->hotSpot = HotSpot{*x, *y};
    return image;
}

template <class Resolve>
std::optional<IconGroup> readGroupDirectory(Bytes directory, Resolve&& resolve, GroupKind kind) {
    constexpr std::size_t kHeaderSize = 6;
    constexpr std::size_t kEntrySize = 14;
    ByteReader in(directory);
    in.u16();  // reserved
    const std::uint16_t type = in.u16();
    const std::uint16_t count = in.u16();
    const bool cursors = kind == GroupKind::cursors;
    if (!in.ok() || type != (cursors ? 2 : 1)) return std::nullopt;
    // The entries must all be there; a directory cut short is damage.
    if (!fitsIn(directory.size(), kHeaderSize, std::uint64_t{count} * kEntrySize)) {
        return std::nullopt;
    }
    IconGroup group;
    group.images.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        in.skip(12);  // width, height, colours, reserved, planes, bits, size
        const std::uint16_t id = in.u16();
        const Bytes resource = resolve(id);
        if (auto image = cursors ? inspectCursor(resource) : inspectImage(resource))
            group.images.push_back(*image);
    }
    if (group.images.empty()) return std::nullopt;
    return group;
}

template <class Resolve>
std::vector<IconGroup> readGroups(std::vector<std::pair<ResourceName, Bytes>> directories, Resolve&& resolve,
                                  GroupKind kind, std::size_t groupLimit) {
    const std::size_t wanted = std::min(groupLimit, limits::kMaxIconGroups);
    // For the first few groups only, put the directories in the shell's
    // order first, so that the ones after them are never looked at.
    if (wanted < limits::kMaxIconGroups) {
        std::stable_sort(directories.begin(), directories.end(),
                         [](const auto& a, const auto& b) { return shellOrderBefore(&a.first, &b.first); });
    }
    std::vector<IconGroup> groups;
    std::size_t images = 0;
    for (auto& [name, data] : directories) {
        if (groups.size() >= wanted || images >= limits::kMaxImagesPerFile) break;
        if (auto group = readGroupDirectory(data, resolve, kind)) {
            images += group->images.size();
            group->name = std::move(name);
            groups.push_back(std::move(*group));
        }
    }
    orderGroups(groups);
    return groups;
}

}  // namespace pictrove
