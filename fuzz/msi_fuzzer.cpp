// Installer databases: the compound file through libgsf over the same byte
// source real files use, the string pool, the Icon and Property tables, and
// the icon files and programs their streams hold.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto bytes = fuzz::asBytes(data, size);
    const MappedFile file = MappedFile::fromBuffer({bytes.begin(), bytes.end()});
    MadeBytes made(madeBytesBudget(size));
    if (const auto groups = readMsiIcons(FileView(file), made))
        fuzz::decodeGroups(*groups, data, size, &made);
    PICTROVE_FUZZ_CHECK(made.total() <= madeBytesBudget(size));
    return 0;
}
