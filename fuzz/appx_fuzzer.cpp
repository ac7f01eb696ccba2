// App packages and bundles: the zip archive through libzip over the same
// byte source real files use, the manifests through pugixml, the logo
// variants, and a bundle's package read where it lies.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictrove::fuzz::readPackage(pictrove::readAppxIcons, data, size);
}
