// App packages and bundles: the zip archive through libzip over the same
// byte source real files use, the manifests through pugixml, the logo
// variants, and a bundle's package read where it lies.
#include "fuzz_support.h"
#include "icon_source/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto bytes = fuzz::asBytes(data, size);
    const MappedFile file = MappedFile::fromBuffer({bytes.begin(), bytes.end()});
    MadeBytes made(madeBytesBudget(size));
    if (const auto groups = readAppxIcons(FileView(file), made))
        fuzz::decodeGroups(*groups, data, size, &made);
    PICTROVE_FUZZ_CHECK(made.total() <= madeBytesBudget(size));
    return 0;
}
