// The look-alike index and the icon families against plain searches of the
// same icons, on bucket tables as large corpora get them.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"
#include "fingerprint/dhash.h"

namespace pictrove::corpus {
namespace {

struct Icon {
    std::string file;
    std::uint32_t index;
    std::uint64_t dhash;
};

constexpr std::uint64_t kEdges[] = {0, ~std::uint64_t{0}, 0xFFFF000012345678, 0x00000000FFFFFFFF};

// Random hashes, families of hashes a few bits from a center, exact copies,
// and files of three icons each.
std::vector<Icon> plantedIcons(std::size_t count, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> centers(count / 50 + 1);
    for (auto& center : centers) center = random();
    std::vector<Icon> icons;
    for (std::size_t n = 0; n < count; ++n) {
        std::uint64_t hash = random();
        if (n % 3 == 0) {
            hash = centers[random() % centers.size()];
            for (std::uint64_t flips = random() % 8; flips > 0; --flips)
                hash ^= std::uint64_t{1} << (random() % 64);
        }
        icons.push_back({"f" + std::to_string(n / 3), static_cast<std::uint32_t>(n % 3), hash});
    }
    return icons;
}

// Every third icon's file is recorded with all its icons, the others with
// their main one alone.
CorpusIndex indexOf(const std::vector<Icon>& icons, std::uint32_t bits) {
    IndexBuilder builder;
    for (std::size_t n = 0; n < icons.size(); n += 3) {
        const auto json = [&](std::size_t i) {
            return "{\"index\":" + std::to_string(icons[i].index) + ",\"dhash\":\"" +
                   dhashText(icons[i].dhash) + "\"}";
        };
        std::string all;
        for (std::size_t i = n; i < std::min(n + 3, icons.size()); ++i)
            all += (all.empty() ? "" : ",") + json(i);
        const bool withAll = n % 2 == 0;
        EXPECT_TRUE(builder.addLine("{\"file\":\"" + icons[n].file + "\",\"main\":" + json(n) +
                                    (withAll ? ",\"all\":[" + all + "]" : "") + "}"));
    }
    auto image = builder.finish(bits);
    EXPECT_TRUE(image.ok());
    auto index = CorpusIndex::fromBytes(std::move(*image));
    EXPECT_TRUE(index.ok());
    return std::move(*index);
}

using Hits = std::map<std::size_t, int>;

Hits bruteForce(const std::vector<IndexEntry>& entries, std::uint64_t query, int radius, bool allIcons) {
    Hits hits;
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const int distance = hammingDistance(entries[n].dhash, query);
        if (distance <= radius && (allIcons ? entries[n].inAll : entries[n].main)) hits[n] = distance;
    }
    return hits;
}

TEST(CorpusIndex, FindsEveryIconWithinTheRadiusOnceWhateverTheBucketTables) {
    auto icons = plantedIcons(6000, 1);
    // Hashes at the ends of every table.
    for (const std::uint64_t edge : kEdges)
        icons.push_back({"edges", static_cast<std::uint32_t>(icons.size() % 3), edge});
    // Long runs of one hash, as blank icons make: main icons and others.
    for (std::size_t copy = 0; copy < 900; ++copy)
        icons.push_back({"blank", static_cast<std::uint32_t>(icons.size() % 3), kEdges[copy % 2 ? 0 : 3]});
    for (const std::uint32_t bits : {16u, 20u, 22u}) {
        const CorpusIndex index = indexOf(icons, bits);
        std::vector<IndexEntry> entries;
        for (std::size_t n = 0; n < index.entries(); ++n) entries.push_back(*index.entry(n));
        std::mt19937_64 random(bits);
        for (std::size_t q = 0; q < 15 + std::size(kEdges); ++q) {
            std::uint64_t query = icons[random() % icons.size()].dhash;
            for (std::uint64_t flips = random() % 6; flips > 0; --flips)
                query ^= std::uint64_t{1} << (random() % 64);
            // Three bits off in the high half, so found through the low one.
            if (q >= 15) query = kEdges[q - 15] ^ std::uint64_t{0x7} << 60;
            for (const int radius : {0, 1, 4, 5, 10, 64}) {
                for (const bool allIcons : {false, true}) {
                    Hits hits;
                    ASSERT_TRUE(index.findNear(query, radius, allIcons, [&](std::size_t n, int distance) {
                        EXPECT_TRUE(hits.emplace(n, distance).second) << "entry " << n << " handed out twice";
                    }));
                    ASSERT_EQ(hits, bruteForce(entries, query, radius, allIcons))
                        << "bits " << bits << " radius " << radius << " all " << allIcons;
                    // One of each hash: the first entry compared of each
                    // hash among the hits.
                    Hits firsts;
                    std::set<std::uint64_t> hashes;
                    for (const auto& [n, distance] : hits) {
                        if (hashes.insert(entries[n].dhash).second) firsts.emplace(n, distance);
                    }
                    Hits distinct;
                    ASSERT_TRUE(index.findNear(
                        query, radius, allIcons,
                        [&](std::size_t n, int distance) {
                            EXPECT_TRUE(distinct.emplace(n, distance).second)
                                << "entry " << n << " handed out twice";
                        },
                        true));
                    ASSERT_EQ(distinct, firsts)
                        << "bits " << bits << " radius " << radius << " all " << allIcons;
                }
            }
        }
    }
}

TEST(CorpusIndex, KeepsNamesIndexesAndWhichIconsAreCompared) {
    const auto icons = plantedIcons(30, 2);
    const CorpusIndex index = indexOf(icons, 0);
    // Records 0, 2, 4 hold every icon of their file, 1 and 3 the main one.
    EXPECT_EQ(index.records(), 10u);
    std::multiset<std::tuple<std::string, std::uint32_t, bool, bool>> seen;
    for (std::size_t n = 0; n < index.entries(); ++n) {
        const auto entry = index.entry(n);
        ASSERT_TRUE(entry);
        seen.emplace(std::string(*index.fileName(entry->record)), entry->index, entry->main, entry->inAll);
    }
    std::multiset<std::tuple<std::string, std::uint32_t, bool, bool>> expected;
    for (std::size_t n = 0; n < icons.size(); ++n) {
        const bool withAll = (n / 3) % 2 == 0;
        if (withAll || n % 3 == 0)
            expected.emplace(icons[n].file, icons[n].index, n % 3 == 0, withAll || n % 3 == 0);
    }
    EXPECT_EQ(seen, expected);
}

// Copies of one hash reached through table B are followed by their links
// into table A; a link past the entries is damage there too, though the
// bytes just past table A (its padding) read as the same hash.
TEST(CorpusIndex, ALinkPastTheEntriesAmongCopiesIsDamage) {
    constexpr std::uint64_t kCopied = 0xFFFF000000000000;  // what the padding after its keys reads as
    IndexBuilder builder;
    for (const char* file : {"a", "b", "c"})
        ASSERT_TRUE(builder.addLine(std::string("{\"file\":\"") + file +
                                    "\",\"main\":{\"index\":0,\"dhash\":\"" + dhashText(kCopied) + "\"}}"));
    auto image = builder.finish(16);
    ASSERT_TRUE(image.ok());
    // The parts before the links, each rounded up to 8 bytes.
    const auto rounded = [](std::uint64_t bytes) { return (bytes + 7) / 8 * 8; };
    const std::uint64_t buckets = (1u << 16) + 1, slots = (1u << 16) + 1;
    const std::uint64_t linkB = 72 + rounded(4 * buckets) + rounded(6 * 3) + rounded(4 * slots) +
                                rounded(4 * buckets) + rounded(2 * 3);
    // Three high bits away and the same low half: found through table B.
    const std::uint64_t query = kCopied ^ 0x0007000000000000;
    const auto search = [&](std::vector<std::byte> bytes) {
        auto index = CorpusIndex::fromBytes(std::move(bytes));
        EXPECT_TRUE(index.ok());
        std::vector<std::size_t> hits;
        const bool sound =
            index.ok() && index->findNear(
                              query, 4, false, [&](std::size_t n, int) { hits.push_back(n); }, true);
        return std::pair{sound, hits};
    };
    EXPECT_EQ(search(*image), std::pair(true, std::vector<std::size_t>{0}));
    std::vector<std::byte> damaged = *image;
    ASSERT_EQ(std::to_integer<int>(damaged[linkB + 4]), 1);  // the second copy's link
    damaged[linkB + 4] = std::byte{3};
    EXPECT_FALSE(search(damaged).first);
}

// A group whose members run past the list of grouped entries is damage, not
// a reason to read past it.
TEST(CorpusIndex, AGroupRunningPastItsListIsDamage) {
    const std::string group(64, 'a');
    IndexBuilder builder;
    for (const char* file : {"a", "b", "c"})
        ASSERT_TRUE(builder.addLine(
            std::string("{\"file\":\"") + file +
            "\",\"main\":{\"index\":0,\"dhash\":\"00000000000000ff\",\"group_sha256\":\"" + group + "\"}}"));
    auto image = builder.finish(16);
    ASSERT_TRUE(image.ok());
    // Three entries, no icon but the first of a file, one group hash: the
    // group's start and end come after 32 bytes of group hashes.
    const auto rounded = [](std::uint64_t bytes) { return (bytes + 7) / 8 * 8; };
    const std::uint64_t buckets = (1u << 16) + 1, slots = (1u << 16) + 1;
    const std::uint64_t groupStart = 72 + rounded(4 * buckets) + rounded(6 * 3) + rounded(4 * slots) +
                                     rounded(4 * buckets) + rounded(2 * 3) + rounded(4 * 3) + rounded(4 * 3) +
                                     32;
    const auto members = [&](std::vector<std::byte> bytes) {
        auto index = CorpusIndex::fromBytes(std::move(bytes));
        EXPECT_TRUE(index.ok());
        std::size_t found = 0;
        const bool sound = index.ok() && index->withGroup(group, false, [&](std::size_t) { ++found; });
        return std::pair{sound, found};
    };
    EXPECT_EQ(members(*image), std::pair(true, std::size_t{3}));
    std::vector<std::byte> damaged = *image;
    ASSERT_EQ(std::to_integer<int>(damaged[groupStart + 4]), 3);  // where the group ends
    // Ends past the list that still read as entries (the padding and the
    // names' ends after it), and an end far past.
    for (const int end : {4, 8, 200}) {
        damaged[groupStart + 4] = std::byte(end);
        EXPECT_FALSE(members(damaged).first) << end;
    }
}

// Single linkage by hand: every pair within the radius joined.
std::vector<std::set<std::pair<std::string, std::size_t>>> familiesByHand(const CorpusIndex& index,
                                                                          int radius) {
    std::vector<std::size_t> chosen;
    for (std::size_t n = 0; n < index.entries(); ++n)
        if (index.entry(n)->inAll) chosen.push_back(n);
    std::vector<std::size_t> family(chosen.size());
    for (std::size_t i = 0; i < chosen.size(); ++i) family[i] = i;
    const auto root = [&](std::size_t i) {
        while (family[i] != i) i = family[i];
        return i;
    };
    for (std::size_t i = 0; i < chosen.size(); ++i)
        for (std::size_t j = i + 1; j < chosen.size(); ++j)
            if (hammingDistance(index.entry(chosen[i])->dhash, index.entry(chosen[j])->dhash) <= radius)
                family[root(i)] = root(j);
    std::map<std::size_t, std::set<std::pair<std::string, std::size_t>>> byRoot;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const auto entry = index.entry(chosen[i]);
        byRoot[root(i)].emplace(std::string(*index.fileName(entry->record)), entry->index);
    }
    std::vector<std::set<std::pair<std::string, std::size_t>>> families;
    for (auto& [top, members] : byRoot)
        if (members.size() >= 2) families.push_back(members);
    std::sort(families.begin(), families.end());
    return families;
}

TEST(Clusters, AreTheFamiliesOfSingleLinkageWhateverTheThreads) {
    const auto icons = plantedIcons(1500, 3);
    const CorpusIndex index = indexOf(icons, 20);
    for (const int radius : {0, 4, 9}) {
        std::vector<std::vector<std::pair<std::string, std::size_t>>> first;
        for (const std::size_t jobs : {1u, 2u, 4u}) {
            ClusterSettings settings;
            settings.radius = radius;
            settings.allIcons = true;
            settings.jobs = jobs;
            std::vector<std::vector<std::pair<std::string, std::size_t>>> found;
            std::size_t last = SIZE_MAX;
            ASSERT_TRUE(forEachCluster(index, settings, [&](const Cluster& cluster) {
                EXPECT_LE(cluster.members.size(), last) << "largest first";
                last = cluster.members.size();
                found.emplace_back();
                for (const ClusterMember& m : cluster.members) found.back().emplace_back(m.file, m.index);
            }));
            if (jobs == 1) {
                first = found;
                std::vector<std::set<std::pair<std::string, std::size_t>>> sets;
                for (const auto& family : found) sets.emplace(sets.end(), family.begin(), family.end());
                std::sort(sets.begin(), sets.end());
                EXPECT_EQ(sets, familiesByHand(index, radius)) << "radius " << radius;
            } else {
                EXPECT_EQ(found, first) << "jobs " << jobs;
            }
        }
    }
}

}  // namespace
}  // namespace pictrove::corpus
