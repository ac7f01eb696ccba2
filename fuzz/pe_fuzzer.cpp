// Executables: the PE resource tree walk, then every image it finds.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    for (const GroupKind kind : {GroupKind::icons, GroupKind::cursors}) {
        fuzz::decodeGroups(readPeIcons(fuzz::asBytes(data, size), kind), data, size);
    }
    return 0;
}
