#include "corpus/searches.h"

#include <algorithm>
#include <tuple>

#include "engine/scan_record.h"
#include "fingerprint/dhash.h"

namespace pictrove::corpus {
namespace {

using Json = nlohmann::ordered_json;

// The entries `search` hands out, as matches in order.
template <class Search>
std::optional<std::vector<Match>> collect(const CorpusIndex& index, const Search& search) {
    std::vector<Match> matches;
    bool sound = true;
    const auto take = [&](std::size_t n, int distance) {
        const auto entry = index.entry(n);
        const auto file = entry ? index.fileName(entry->record) : std::nullopt;
        if (!file) {
            sound = false;
            return;
        }
        matches.push_back({distance, std::string(*file), entry->index, entry->dhash});
    };
    if (!search(take) || !sound) return std::nullopt;
    std::sort(matches.begin(), matches.end(), before);
    return matches;
}

Json memberJson(const ClusterMember& member, bool distance) {
    Json json;
    putFileName(json, member.file);
    json["index"] = member.index;
    json["dhash"] = dhashText(member.dhash);
    json["group_sha256"] = member.groupSha256 ? Json(*member.groupSha256) : Json(nullptr);
    if (distance) json["distance"] = member.distance;
    return json;
}

}  // namespace

bool before(const Match& a, const Match& b) {
    return std::tie(a.distance, a.file, a.index) < std::tie(b.distance, b.file, b.index);
}

std::optional<std::vector<Match>> matchesNear(const CorpusIndex& index, std::uint64_t hash, int maxDistance,
                                              bool allIcons) {
    return collect(index,
                   [&](const auto& take) { return index.findNear(hash, maxDistance, allIcons, take); });
}

std::optional<std::vector<Match>> matchesOfGroup(const CorpusIndex& index, std::string_view sha256,
                                                 bool allIcons) {
    return collect(index, [&](const auto& take) {
        return index.withGroup(sha256, allIcons, [&](std::size_t n) { take(n, 0); });
    });
}

Json matchJson(const Match& match) {
    Json line = {{"distance", match.distance}};
    putFileName(line, match.file);
    line["index"] = match.index;
    line["dhash"] = dhashText(match.hash);
    return line;
}

Json clusterJson(const Cluster& cluster) {
    const ClusterMember& center = cluster.members[cluster.representative];
    Json line = {{"cluster", cluster.number}, {"size", cluster.members.size()}, {"files", cluster.files}};
    line["representative"] = memberJson(center, false);
    auto& members = line["members"] = Json::array();
    for (const ClusterMember& member : cluster.members) members.push_back(memberJson(member, true));
    return line;
}

}  // namespace pictrove::corpus
