// AppImages: the runtime's section headers to the image, the SquashFS image
// through libsquashfs over the same byte source real files use, links, the
// .desktop file, and the icons' PNG and SVG pictures.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictrove::fuzz::readPackage(pictrove::readAppImageIcons, data, size);
}
