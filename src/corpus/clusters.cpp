#include "corpus/clusters.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <numeric>
#include <thread>

#include "corpus/corpus_index.h"
#include "fingerprint/dhash.h"

namespace pictrove::corpus {
namespace {

// Sets of entries, joined one link at a time.
class Families {
public:
    explicit Families(std::size_t size) : parent_(size) { std::iota(parent_.begin(), parent_.end(), 0u); }

    std::uint32_t root(std::uint32_t n) {
        while (parent_[n] != n) n = parent_[n] = parent_[parent_[n]];
        return n;
    }
    void join(std::uint32_t a, std::uint32_t b) {
        a = root(a);
        b = root(b);
        if (a != b) parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

// The links of look-alike hashes, found on several threads: each thread
// takes the next block of hashes and hands its links over in batches. The
// families come out the same in whatever order the links are joined.
bool linkNearHashes(const CorpusIndex& index, const std::vector<std::uint32_t>& firsts,
                    const ClusterSettings& settings, Families& families) {
    std::mutex joining;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> damaged{false};
    constexpr std::size_t kBlock = 1024;
    constexpr std::size_t kBatch = std::size_t{1} << 16;
    const auto work = [&] {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
        const auto hand = [&] {
            const std::lock_guard lock(joining);
            for (const auto& [a, b] : links) families.join(a, b);
            links.clear();
        };
        for (;;) {
            const std::size_t from = next.fetch_add(kBlock);
            if (from >= firsts.size()) break;
            for (std::size_t u = from; u < std::min(from + kBlock, firsts.size()); ++u) {
                const std::uint32_t entry = firsts[u];
                const auto me = index.entry(entry);
                if (!me) continue;
                // Each pair once: from the hash that sorts first.
                // Copies of one hash are joined already: the first of each
                // hash near stands for them all.
                const bool sound = index.findNear(
                    me->dhash, settings.radius, settings.allIcons,
                    [&](std::size_t other, int distance) {
                        if (distance > 0 && other > entry)
                            links.emplace_back(entry, static_cast<std::uint32_t>(other));
                    },
                    true);
                if (!sound) damaged = true;
                if (links.size() >= kBatch) hand();
            }
        }
        hand();
    };
    const std::size_t threads = std::max<std::size_t>(1, std::min(settings.jobs, firsts.size() / kBlock + 1));
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    return !damaged;
}

// The member whose hash differs least from all the others, in sum; the
// first of them in member order where several do.
std::size_t representativeOf(const std::vector<ClusterMember>& members) {
    std::array<std::size_t, 64> ones{};
    for (const ClusterMember& m : members)
        for (int bit = 0; bit < 64; ++bit) ones[bit] += m.dhash >> bit & 1;
    std::size_t best = 0;
    std::uint64_t bestCost = UINT64_MAX;
    for (std::size_t i = 0; i < members.size(); ++i) {
        std::uint64_t cost = 0;
        for (int bit = 0; bit < 64; ++bit)
            cost += members[i].dhash >> bit & 1 ? members.size() - ones[bit] : ones[bit];
        if (cost < bestCost) {
            bestCost = cost;
            best = i;
        }
    }
    return best;
}

}  // namespace

bool forEachCluster(const CorpusIndex& index, const ClusterSettings& settings,
                    const std::function<void(const Cluster&)>& each) {
    const std::size_t count = index.entries();
    std::vector<std::optional<IndexEntry>> entries(count);
    std::vector<bool> chosen(count);
    bool sound = true;
    for (std::size_t n = 0; n < count; ++n) {
        entries[n] = index.entry(n);
        sound &= entries[n].has_value();
        chosen[n] = entries[n] && (settings.allIcons ? entries[n]->inAll : entries[n]->main);
    }
    Families families(count);
    // The same hash: the entries are sorted on it.
    std::vector<std::uint32_t> firsts;  // the first chosen entry of each hash
    for (std::size_t n = 0, last = SIZE_MAX; n < count; ++n) {
        if (!chosen[n]) continue;
        if (last != SIZE_MAX && entries[last]->dhash == entries[n]->dhash) {
            families.join(static_cast<std::uint32_t>(last), static_cast<std::uint32_t>(n));
        } else {
            firsts.push_back(static_cast<std::uint32_t>(n));
        }
        last = n;
    }
    // The same group hash, and which group each entry has.
    std::vector<std::uint32_t> groupOf(count, UINT32_MAX);
    for (std::size_t g = 0; g < index.groups(); ++g) {
        std::optional<std::uint32_t> first;
        sound &= index.groupEntries(g, [&](std::size_t n) {
            groupOf[n] = static_cast<std::uint32_t>(g);
            if (!chosen[n]) return;
            if (first) families.join(*first, static_cast<std::uint32_t>(n));
            first = first.value_or(static_cast<std::uint32_t>(n));
        });
    }
    if (settings.radius > 0) sound &= linkNearHashes(index, firsts, settings, families);
    if (!sound) return false;

    // Gather the families, each member in order of file name, then index.
    std::vector<std::uint32_t> sizes(count);
    for (std::size_t n = 0; n < count; ++n)
        if (chosen[n]) ++sizes[families.root(static_cast<std::uint32_t>(n))];
    std::vector<std::uint32_t> roots;
    for (std::size_t n = 0; n < count; ++n)
        if (chosen[n] && families.root(static_cast<std::uint32_t>(n)) == n && sizes[n] >= settings.minSize)
            roots.push_back(static_cast<std::uint32_t>(n));
    std::vector<std::uint32_t> start(count + 1);
    for (std::size_t n = 0; n < count; ++n)
        start[n + 1] = start[n] + (sizes[n] >= settings.minSize ? sizes[n] : 0);
    std::vector<std::uint32_t> placed(start.back());
    std::vector<std::uint32_t> filled(start.begin(), start.end() - 1);
    for (std::size_t n = 0; n < count; ++n) {
        if (!chosen[n]) continue;
        const std::uint32_t root = families.root(static_cast<std::uint32_t>(n));
        if (sizes[root] >= settings.minSize) placed[filled[root]++] = static_cast<std::uint32_t>(n);
    }
    const auto name = [&](std::uint32_t n) { return index.fileName(entries[n]->record).value_or(""); };
    const auto memberBefore = [&](std::uint32_t a, std::uint32_t b) {
        const auto na = name(a), nb = name(b);
        return na != nb                                 ? na < nb
               : entries[a]->index != entries[b]->index ? entries[a]->index < entries[b]->index
                                                        : a < b;
    };
    for (const std::uint32_t root : roots)
        std::sort(placed.begin() + start[root], placed.begin() + start[root] + sizes[root], memberBefore);
    std::sort(roots.begin(), roots.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (sizes[a] != sizes[b]) return sizes[a] > sizes[b];
        return memberBefore(placed[start[a]], placed[start[b]]);
    });

    Cluster cluster;
    for (const std::uint32_t root : roots) {
        cluster.members.clear();
        std::vector<std::uint32_t> records;
        for (std::uint32_t i = start[root]; i < start[root] + sizes[root]; ++i) {
            const std::uint32_t n = placed[i];
            ClusterMember member;
            member.file = std::string(name(n));
            member.index = entries[n]->index;
            member.dhash = entries[n]->dhash;
            if (groupOf[n] != UINT32_MAX) member.groupSha256 = index.groupSha256(groupOf[n]);
            cluster.members.push_back(std::move(member));
            records.push_back(entries[n]->record);
        }
        std::sort(records.begin(), records.end());
        cluster.files =
            static_cast<std::size_t>(std::unique(records.begin(), records.end()) - records.begin());
        cluster.representative = representativeOf(cluster.members);
        const std::uint64_t center = cluster.members[cluster.representative].dhash;
        for (ClusterMember& member : cluster.members) member.distance = hammingDistance(member.dhash, center);
        each(cluster);
        ++cluster.number;
    }
    return true;
}

}  // namespace pictrove::corpus
