// Icon bitmaps on their own. peekDib promises that decodeDib will not fail on
// what it accepted, and the two must agree on the size; the icon readers rely
// on both.
#include "fuzz_support.h"
#include "image/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto bytes = fuzz::asBytes(data, size);
    const auto info = peekDib(bytes);
    const auto image = decodeDib(bytes);
    PICTROVE_FUZZ_CHECK(info.has_value() == image.has_value());
    if (!image) return 0;
    fuzz::checkImage(*image);
    PICTROVE_FUZZ_CHECK(image->width == info->width && image->height == info->height);
    PICTROVE_FUZZ_CHECK(!info->png);
    // The alpha a classic image gets is exactly its mask.
    if (!image->hasAlpha) {
        for (std::size_t i = 0; i < image->pixelCount(); ++i) {
            PICTROVE_FUZZ_CHECK(image->bgra[i * 4 + 3] == (image->mask[i] ? 0 : 255));
        }
    }
    return 0;
}
