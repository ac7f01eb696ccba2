// 16-bit executables and icon libraries: the NE resource table, then every
// image it finds.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto groups = readNeIcons(fuzz::asBytes(data, size));
    fuzz::decodeGroups(groups, data, size);
    return 0;
}
