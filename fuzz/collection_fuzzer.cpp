// Icon collections: the trailer test and the records, read through the same
// byte source as files are, one that leaves every byte never asked for at
// 0xA5, so a record handed out before it was read differs from the input.
// Each record's icon must then be decoded strictly within its 766 bytes.
#include <cstring>
#include <vector>

#include "collection_file.h"
#include "fuzz_support.h"
#include "unread_marking_storage.h"

namespace {

using namespace pictrove;

void readCollection(std::vector<std::byte> bytes) {
    const MappedFile file = test::readWhereAsked(bytes);
    auto reader = CollectionReader::fromFile(file, ".ics");
    if (!reader || !*reader) return;
    std::span<const std::uint8_t> record;
    for (std::size_t offset = 0; (*reader)->next(record); offset += kCollectionRecordSize) {
        PICTROVE_FUZZ_CHECK(record.size() == kCollectionRecordSize);
        PICTROVE_FUZZ_CHECK(std::memcmp(record.data(), bytes.data() + offset, record.size()) == 0);
        if (!isAcceptedRecord(record)) continue;
        const Image icon = decodeRecordIcon(record);
        PICTROVE_FUZZ_CHECK(icon.width == kIconSize && icon.height == kIconSize &&
                            icon.bgra.size() == 32 * 32 * 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::asBytes(data, size);
    // The input as it is, then as the records of a saved collection: a
    // shorter last one filled with zeros, as a shorter icon file image is,
    // and the trailer behind them.
    readCollection({input.begin(), input.end()});
    std::vector<std::byte> saved(input.begin(), input.end());
    saved.resize((size + kCollectionRecordSize - 1) / kCollectionRecordSize * kCollectionRecordSize);
    const auto trailer = collectionTrailer("fuzz.ics");
    for (const char c : trailer) saved.push_back(static_cast<std::byte>(c));
    readCollection(std::move(saved));
    return 0;
}
