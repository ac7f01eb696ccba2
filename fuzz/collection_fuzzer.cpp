// Icon collection records: the type check and the decoding of the record's
// icon, which must stay inside the record's 766 bytes whatever they say.
#include <algorithm>
#include <vector>

#include "collection_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    // A record is always exactly 766 bytes; shorter inputs are padded as a
    // shorter icon file image would be, longer ones give several records.
    for (std::size_t offset = 0; offset == 0 || offset < size; offset += kCollectionRecordSize) {
        std::vector<std::uint8_t> record(kCollectionRecordSize, 0);
        const std::size_t take = std::min(kCollectionRecordSize, size - std::min(size, offset));
        std::copy_n(data + offset, take, record.begin());
        if (!isAcceptedRecord(record)) continue;
        const Image icon = decodeRecordIcon(record);
        if (icon.width != kIconSize || icon.height != kIconSize || icon.bgra.size() != 32 * 32 * 4)
            __builtin_trap();
    }
    const std::vector<std::byte> trailer(
        reinterpret_cast<const std::byte*>(data),
        reinterpret_cast<const std::byte*>(data) + std::min<std::size_t>(size, 13));
    isCollectionTrailer(trailer, ".ics");
    return 0;
}
