// The look-alike index against a full scan and FAISS, side by side in one
// run, on an index built by `pictrove-cli index`:
//
//     index_bench CORPUS.idx [QUERIES] [--no-faiss]
//
// Prints, per radius, the median and 90th percentile of a query and the
// hits found; FAISS's answers are checked against the index's, so the
// figures compare searches that agree. The queries are hashes of the
// corpus with 0 to 3 bits flipped, the same in every run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corpus/corpus_index.h"

#ifdef PICTROVE_BENCH_FAISS
#include <faiss/IndexBinaryFlat.h>
#include <faiss/IndexBinaryHash.h>
#include <faiss/impl/AuxIndexStructures.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Timing {
    double median = 0, p90 = 0;
    std::size_t hits = 0;
};

template <class Query>
Timing timeQueries(const std::vector<std::uint64_t>& queries, const Query& query) {
    std::vector<double> times;
    Timing timing;
    for (const std::uint64_t q : queries) {
        const auto start = Clock::now();
        timing.hits += query(q);
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    timing.median = times[times.size() / 2];
    timing.p90 = times[times.size() * 9 / 10];
    return timing;
}

void print(const char* method, int radius, const Timing& t) {
    std::printf("%-26s radius %2d  median %9.3f ms  p90 %9.3f ms  hits %zu\n", method, radius, t.median,
                t.p90, t.hits);
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: index_bench CORPUS.idx [QUERIES] [--no-faiss]\n", stderr);
        return 2;
    }
    const std::size_t queryCount = argc > 2 && argv[2][0] != '-' ? std::strtoul(argv[2], nullptr, 10) : 200;
    const bool faiss = !(argc > 2 && std::strcmp(argv[argc - 1], "--no-faiss") == 0);

    std::vector<double> opens;
    for (int i = 0; i < 20; ++i) {
        const auto start = Clock::now();
        auto index = pictrove::corpus::CorpusIndex::open(argv[1]);
        if (!index) {
            std::fprintf(stderr, "%s\n", index.error().message.c_str());
            return 1;
        }
        opens.push_back(millisecondsSince(start));
    }
    std::sort(opens.begin(), opens.end());
    const auto index = pictrove::corpus::CorpusIndex::open(argv[1]);
    std::printf("entries %zu, records %zu, groups %zu; open median %.3f ms\n", index->entries(),
                index->records(), index->groups(), opens[opens.size() / 2]);

    std::vector<std::uint64_t> queries;
    for (std::size_t i = 0; i < queryCount; ++i) {
        std::uint64_t q = index->entry(mix(i) % index->entries())->dhash;
        for (std::uint64_t f = 0; f < mix(i + 1) % 4; ++f) q ^= std::uint64_t{1} << (mix(i * 8 + f) % 64);
        queries.push_back(q);
    }
    const int radii[] = {0, 2, 4, 8, 10};
    for (const int radius : radii) {
        print("index", radius, timeQueries(queries, [&](std::uint64_t q) {
                  std::size_t hits = 0;
                  index->findNear(q, radius, true, [&](std::size_t, int) { ++hits; });
                  return hits;
              }));
    }

#ifdef PICTROVE_BENCH_FAISS
    if (!faiss) return 0;
    std::vector<std::uint8_t> codes(8 * index->entries());
    for (std::size_t n = 0; n < index->entries(); ++n) {
        const std::uint64_t h = index->entry(n)->dhash;
        for (int b = 0; b < 8; ++b) codes[8 * n + b] = static_cast<std::uint8_t>(h >> (8 * b));
    }
    std::vector<std::uint8_t> queryCodes(8 * queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i)
        for (int b = 0; b < 8; ++b) queryCodes[8 * i + b] = static_cast<std::uint8_t>(queries[i] >> (8 * b));
    faiss::IndexBinaryFlat flat(64);
    auto start = Clock::now();
    flat.add(static_cast<faiss::IndexBinary::idx_t>(index->entries()), codes.data());
    std::printf("FAISS IndexBinaryFlat: added in %.0f ms\n", millisecondsSince(start));
    faiss::IndexBinaryMultiHash multi(64, 4, 16);
    start = Clock::now();
    multi.add(static_cast<faiss::IndexBinary::idx_t>(index->entries()), codes.data());
    std::printf("FAISS IndexBinaryMultiHash(4 x 16 bits): added in %.0f ms\n", millisecondsSince(start));
    // FAISS's binary range search keeps distances below the radius given.
    for (const int radius : radii) {
        for (faiss::IndexBinary* method :
             {static_cast<faiss::IndexBinary*>(&flat), static_cast<faiss::IndexBinary*>(&multi)}) {
            std::size_t at = 0;
            print(method == &flat ? "FAISS IndexBinaryFlat" : "FAISS IndexBinaryMultiHash", radius,
                  timeQueries(queries, [&](std::uint64_t) {
                      faiss::RangeSearchResult result(1);
                      method->range_search(1, queryCodes.data() + 8 * at++, radius + 1, &result);
                      return static_cast<std::size_t>(result.lims[1]);
                  }));
        }
    }
#else
    (void)faiss;
#endif
    return 0;
}
