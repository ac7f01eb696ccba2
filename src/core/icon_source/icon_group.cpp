#include "icon_source/icon_group.h"

#include <algorithm>

#include "image/dib.h"
#include "image/png.h"

namespace pictrove {

std::optional<IconImage> inspectImage(Bytes data) {
    const auto info = isPng(data) ? peekPng(data) : peekDib(data);
    if (!info) return std::nullopt;
    return IconImage{*info, data, std::nullopt};
}

void ImageIndex::finish() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

Bytes ImageIndex::find(std::uint16_t id) const {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                                     [](const auto& entry, std::uint16_t key) { return entry.first < key; });
    return it != entries_.end() && it->first == id ? it->second : Bytes();
}

void orderGroups(std::vector<IconGroup>& groups) {
    std::stable_sort(groups.begin(), groups.end(), [](const IconGroup& a, const IconGroup& b) {
        const bool aNumbered = a.name && a.name->id;
        const bool bNumbered = b.name && b.name->id;
        if (aNumbered != bNumbered) return bNumbered;  // names before numbers
        return aNumbered && *a.name->id < *b.name->id;
    });
}

}  // namespace pictrove
