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
    const auto byId = [](const auto& a, const auto& b) { return a.first < b.first; };
    // Resource directories list IDs in ascending order.
    if (!std::is_sorted(entries_.begin(), entries_.end(), byId))
        std::stable_sort(entries_.begin(), entries_.end(), byId);
    slots_.clear();
    if (entries_.empty()) return;
    const std::size_t span = std::size_t{entries_.back().first} - entries_.front().first + 1;
    if (span > entries_.size() * 4 + 256) return;
    slots_.assign(span, 0);
    for (std::size_t i = entries_.size(); i-- > 0;)
        slots_[entries_[i].first - entries_.front().first] = static_cast<std::uint32_t>(i + 1);
}

std::optional<FileRange> ImageIndex::find(std::uint16_t id) const {
    if (!slots_.empty()) {
        // An ID below the lowest wraps around to past the end.
        const std::size_t slot = std::size_t{id} - entries_.front().first;
        if (slot >= slots_.size() || slots_[slot] == 0) return std::nullopt;
        return entries_[slots_[slot] - 1].second;
    }
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
