// Installer databases: the compound file through libgsf over the same byte
// source real files use, the string pool, the Icon and Property tables, and
// the icon files and programs their streams hold.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictrove::fuzz::readPackage(pictrove::readMsiIcons, data, size);
}
