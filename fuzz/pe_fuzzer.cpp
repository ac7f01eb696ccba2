// Executables: the PE resource tree walk, then every image it finds. The
// input is read through a source that reads only the ranges asked for and
// leaves every other byte at 0xA5, so a field looked at before its range was
// asked for shows as an image that differs from the input.
#include <cstring>

#include "fuzz_support.h"
#include "icon_source/readers.h"
#include "unread_marking_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto input = fuzz::asBytes(data, size);
    for (const GroupKind kind : {GroupKind::icons, GroupKind::cursors}) {
        const MappedFile file = test::readWhereAsked({input.begin(), input.end()});
        const auto groups = readPeIcons(FileView(file), kind);
        const auto* base = reinterpret_cast<const std::uint8_t*>(file.read(0, 1).data());
        for (const IconGroup& group : groups) {
            for (const IconImage& image : group.images) {
                const Bytes bytes = image.data;
                PICTROVE_FUZZ_CHECK(bytes.size() == image.data.size());
                const auto* at = reinterpret_cast<const std::uint8_t*>(bytes.data());
                PICTROVE_FUZZ_CHECK(at >= base && at + bytes.size() <= base + size);
                PICTROVE_FUZZ_CHECK(std::memcmp(at, data + (at - base), bytes.size()) == 0);
            }
        }
        fuzz::decodeGroups(groups, base, size);
    }
    return 0;
}
