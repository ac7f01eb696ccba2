// Icon families of a corpus: icons that are the same (equal group hashes) or
// look alike (difference hashes within a radius, single linkage), found over
// a look-alike index, largest family first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pictrove::corpus {

class CorpusIndex;

struct ClusterSettings {
    int radius = 4;           // the largest Hamming distance that links two icons
    std::size_t minSize = 2;  // smaller families are left out
    bool allIcons = false;    // every icon of records that hold them all, not only the main one
    std::size_t jobs = 1;     // threads; the result is the same whatever their number
};

struct ClusterMember {
    std::string file;       // the exact name the record was written for
    std::size_t index = 0;  // the icon's index in its file
    std::uint64_t dhash = 0;
    std::optional<std::string> groupSha256;  // 64 hex digits, where the record has one
    int distance = 0;                        // to the representative's hash
};

struct Cluster {
    std::size_t number = 0;              // 0 for the largest, counting on in the order they come
    std::size_t files = 0;               // how many different files its members come from
    std::size_t representative = 0;      // the member whose hash is nearest all others
    std::vector<ClusterMember> members;  // by file name, then index
};

// Hands `each` the families of `index` in order: largest first, then by
// their first member's file name and index. The same index gives the same
// families in the same order whatever `settings.jobs`. False when a damaged
// part of the index was met (its entries are left out).
bool forEachCluster(const CorpusIndex& index, const ClusterSettings& settings,
                    const std::function<void(const Cluster&)>& each);

}  // namespace pictrove::corpus
