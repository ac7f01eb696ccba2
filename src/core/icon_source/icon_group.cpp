#include "icon_source/icon_group.h"

#include <algorithm>

#include "image/dib.h"
#include "image/png.h"

namespace pictrove {

std::optional<IconImage> inspectImage(FileBytes data) {
    return inspectImage(data, data.head(kImageHeadSize));
}

std::optional<IconImage> inspectImage(FileBytes data, Bytes head) {
    const auto info = isPng(head) ? peekPng(head) : peekDib(head, data.size());
    if (!info) return std::nullopt;
    return IconImage{*info, data, std::nullopt};
}

void ImageIndex::finish() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::optional<FileRange> ImageIndex::find(std::uint16_t id) const {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                                     [](const auto& entry, std::uint16_t key) { return entry.first < key; });
    return it != entries_.end() && it->first == id ? std::optional(it->second) : std::nullopt;
}

bool shellOrderBefore(const ResourceName* a, const ResourceName* b) {
    const bool aNumbered = a && a->id;
    const bool bNumbered = b && b->id;
    if (aNumbered != bNumbered) return bNumbered;  // names before numbers
    return aNumbered && *a->id < *b->id;
}

void orderGroups(std::vector<IconGroup>& groups) {
    std::stable_sort(groups.begin(), groups.end(), [](const IconGroup& a, const IconGroup& b) {
        return shellOrderBefore(a.name ? &*a.name : nullptr, b.name ? &*b.name : nullptr);
    });
}

}  // namespace pictrove
