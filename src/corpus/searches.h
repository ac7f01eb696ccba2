// The answers of the searches over a look-alike index, as the command-line
// tool prints them and the Python package hands them out: one place for
// both, so that the two never differ.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"

namespace pictrove::corpus {

struct Match {
    int distance = 0;
    std::string file;
    std::size_t index = 0;
    std::uint64_t hash = 0;
};

// Nearest first, then by file name and icon index.
bool before(const Match& a, const Match& b);

// The icons of `index` within `maxDistance` of `hash`, or (by matchesOfGroup)
// of the group hash `sha256`, in that order; nothing when a damaged part of
// the index was met.
std::optional<std::vector<Match>> matchesNear(const CorpusIndex& index, std::uint64_t hash, int maxDistance,
                                              bool allIcons);
std::optional<std::vector<Match>> matchesOfGroup(const CorpusIndex& index, std::string_view sha256,
                                                 bool allIcons);

// A match as `similar --json` prints it.
nlohmann::ordered_json matchJson(const Match& match);
// A family as `clusters` prints it.
nlohmann::ordered_json clusterJson(const Cluster& cluster);

}  // namespace pictrove::corpus
