// Implementation of readGroups, shared by the PE and NE readers.
#pragma once

#include <algorithm>

#include "reader_limits.h"

namespace pictrove {
namespace group_directory {

// How much of an image resource tells what it is: a cursor's hot spot (two
// 16-bit words), then the image's header.
inline constexpr std::size_t kResourceHead = 4 + kImageHeadSize;

// The image IDs a group directory (GRPICONDIR) names: 14-byte entries whose
// last field is the ID. None when it is no directory of the kind or is cut
// short, which is damage.
inline std::vector<std::uint16_t> imageIds(Bytes directory, GroupKind kind) {
    constexpr std::size_t kHeaderSize = 6;
    constexpr std::size_t kEntrySize = 14;
    ByteReader in(directory);
    in.u16();  // reserved
    const std::uint16_t type = in.u16();
    const std::uint16_t count = in.u16();
    if (!in.ok() || type != (kind == GroupKind::cursors ? 2 : 1)) return {};
    if (!fitsIn(directory.size(), kHeaderSize, std::uint64_t{count} * kEntrySize)) return {};
    std::vector<std::uint16_t> ids(count);
    for (std::uint16_t& id : ids) {
        in.skip(12);  // width, height, colours, reserved, planes, bits, size
        id = in.u16();
    }
    return ids;
}

// An image resource from its first bytes (`head`, kResourceHead of them or
// all of a shorter one). A cursor resource: the hot spot, then the image,
// which takes it off.
inline std::optional<IconImage> inspectResource(const FileBytes& resource, Bytes head, GroupKind kind) {
    if (kind == GroupKind::icons) return inspectImage(resource, head);
    const auto x = u16At(head, 0);
    const auto y = u16At(head, 2);
    if (!x || !y || resource.size() < 4) return std::nullopt;
    auto image = inspectImage(resource.from(4), head.subspan(4));
    if (image) image->hotSpot = HotSpot{*x, *y};
    return image;
}

}  // namespace group_directory

template <class Resolve>
std::vector<IconGroup> readGroups(std::vector<std::pair<ResourceName, Bytes>> directories, Resolve&& resolve,
                                  GroupKind kind, std::size_t groupLimit) {
    using group_directory::kResourceHead;
    // Headers are read together for this many images at a time at most.
    constexpr std::size_t kBatch = 4096;
    const std::size_t wanted = std::min(groupLimit, limits::kMaxIconGroups);
    // For the first few groups only, put the directories in the shell's
    // order first, so that the ones after them are never looked at.
    if (wanted < limits::kMaxIconGroups) {
        std::stable_sort(directories.begin(), directories.end(),
                         [](const auto& a, const auto& b) { return shellOrderBefore(&a.first, &b.first); });
    }
    std::vector<IconGroup> groups;
    std::size_t images = 0;
    std::vector<FileBytes> resources;
    std::vector<std::size_t> firstOf;  // per directory of a batch, its first resource
    for (std::size_t next = 0; next < directories.size();) {
        if (groups.size() >= wanted || images >= limits::kMaxImagesPerFile) break;
        // Directories that may all still be delivered, as far as a batch goes.
        resources.clear();
        firstOf.clear();
        std::size_t end = next;
        while (end < directories.size() && end - next < wanted - groups.size() && resources.size() < kBatch) {
            firstOf.push_back(resources.size());
            for (const std::uint16_t id : group_directory::imageIds(directories[end].second, kind))
                resources.push_back(resolve(id));
            ++end;
        }
        firstOf.push_back(resources.size());
        const std::vector<std::byte> heads = readHeads(resources, kResourceHead);
        for (std::size_t d = next; d < end; ++d) {
            if (groups.size() >= wanted || images >= limits::kMaxImagesPerFile) break;
            IconGroup group;
            for (std::size_t r = firstOf[d - next]; r < firstOf[d - next + 1]; ++r) {
                const Bytes head = Bytes(heads)
                                       .subspan(r * kResourceHead, kResourceHead)
                                       .first(std::min<std::uint64_t>(kResourceHead, resources[r].size()));
                if (auto image = group_directory::inspectResource(resources[r], head, kind))
                    group.images.push_back(*image);
            }
            if (group.images.empty()) continue;
            images += group.images.size();
            group.name = std::move(directories[d].first);
            groups.push_back(std::move(group));
        }
        next = end;
    }
    orderGroups(groups);
    return groups;
}

}  // namespace pictrove
