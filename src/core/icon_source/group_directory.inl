// Implementation of readGroupDirectory, shared by the PE and NE readers.
#pragma once

#include "reader_limits.h"

namespace pictrove {

template <class Resolve>
std::optional<IconGroup> readGroupDirectory(Bytes directory, Resolve&& resolve) {
    constexpr std::size_t kHeaderSize = 6;
    constexpr std::size_t kEntrySize = 14;
    ByteReader in(directory);
    in.u16();  // reserved
    const std::uint16_t type = in.u16();
    const std::uint16_t count = in.u16();
    if (!in.ok() || type != 1) return std::nullopt;
    // The entries must all be there; a directory cut short is damage.
    if (!fitsIn(directory.size(), kHeaderSize, std::uint64_t{count} * kEntrySize)) {
        return std::nullopt;
    }
    IconGroup group;
    group.images.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        in.skip(12);  // width, height, colours, reserved, planes, bits, size
        const std::uint16_t id = in.u16();
        if (auto image = inspectImage(resolve(id))) group.images.push_back(*image);
    }
    if (group.images.empty()) return std::nullopt;
    return group;
}

template <class Resolve>
std::vector<IconGroup> readGroups(std::vector<std::pair<ResourceName, Bytes>> directories,
                                  Resolve&& resolve) {
    std::vector<IconGroup> groups;
    std::size_t images = 0;
    for (auto& [name, data] : directories) {
        if (groups.size() >= limits::kMaxIconGroups || images >= limits::kMaxImagesPerFile) break;
        if (auto group = readGroupDirectory(data, resolve)) {
            images += group->images.size();
            group->name = std::move(name);
            groups.push_back(std::move(*group));
        }
    }
    orderGroups(groups);
    return groups;
}

}  // namespace pictrove
