// macOS icon files: the member walk, the unpacking of 24-bit and ARGB
// pictures with their masks, JPEG 2000 through its decoder, and the cap on
// what the conversions may make.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    MadeBytes made(madeBytesBudget(size));
    if (const auto group = readIcnsFile(FileView(fuzz::asBytes(data, size)), made))
        fuzz::decodeGroups({*group}, data, size, &made);
    PICTROVE_FUZZ_CHECK(made.total() <= madeBytesBudget(size));
    return 0;
}
