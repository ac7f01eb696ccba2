// The look-alike index as `similar --index` and `clusters --index` read it:
// an index file that may be damaged, cut short or made up, searched at every
// kind of radius, its entries, names and groups read, its families found.
// Inputs that start with '{' are records instead, built into an index first,
// which must then agree with a plain search of the records.
#include <string_view>
#include <vector>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"
#include "corpus/record_reader.h"
#include "fingerprint/dhash.h"
#include "fuzz_support.h"

namespace {

using namespace pictrove::corpus;

void searchIndex(const CorpusIndex& index) {
    // Entries are capped by the file's size: every one takes 16 bytes of it.
    for (std::size_t n = 0; n < index.entries(); ++n) {
        if (const auto entry = index.entry(n)) index.fileName(entry->record);
    }
    for (std::size_t g = 0; g < index.groups(); ++g) {
        index.groupSha256(g);
        index.groupEntries(g, [](std::size_t) {});
    }
    for (const int radius : {0, 3, 10, 64})
        index.findNear(0x0123456789ABCDEFull, radius, radius % 2 == 0, [](std::size_t, int) {});
    index.withGroup(std::string(64, '0'), false, [](std::size_t) {});
    forEachCluster(index, ClusterSettings{},
                   [](const Cluster& cluster) { PICTROVE_FUZZ_CHECK(!cluster.members.empty()); });
}

// Built from records, the index finds what a plain walk of them finds.
void buildFromRecords(std::string_view text) {
    IndexBuilder builder;
    std::vector<RecordIcons> records;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        if (builder.addLine(line)) {
            if (auto record = readRecord(line)) records.push_back(std::move(*record));
        }
        at = end + 1;
    }
    auto image = builder.finish();
    PICTROVE_FUZZ_CHECK(image.ok());
    auto index = CorpusIndex::fromBytes(std::move(*image));
    PICTROVE_FUZZ_CHECK(index.ok());
    constexpr std::uint64_t kReference = 0xF0F0F0F0F0F0F0F0ull;
    std::size_t expected = 0;
    for (const RecordIcons& record : records)
        for (const RecordIcon& icon : record.icons)
            if (icon.dhash && compared(icon, record, true) &&
                pictrove::hammingDistance(*icon.dhash, kReference) <= 12)
                ++expected;
    std::size_t found = 0;
    PICTROVE_FUZZ_CHECK(index->findNear(kReference, 12, true, [&](std::size_t, int) { ++found; }));
    PICTROVE_FUZZ_CHECK(found == expected);
    searchIndex(*index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.starts_with('{')) {
        buildFromRecords(input);
        return 0;
    }
    std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                                 reinterpret_cast<const std::byte*>(data) + size);
    if (auto index = CorpusIndex::fromBytes(std::move(bytes))) searchIndex(*index);
    return 0;
}
