// ELF programs: the section table walk to the embedded icon file, then its images.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    if (const auto group = readElfIcon(fuzz::asBytes(data, size))) fuzz::decodeGroups({*group}, data, size);
    return 0;
}
