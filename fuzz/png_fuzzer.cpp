// PNG icon images. Whatever decodes must match the size its header announced
// and must survive our own encoder unchanged, since extraction writes every
// icon through it.
#include "fuzz_support.h"
#include "image/png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto bytes = fuzz::asBytes(data, size);
    const auto info = peekPng(bytes);
    const auto image = decodePng(bytes);
    if (!info) PICTROVE_FUZZ_CHECK(!image.has_value());
    // Telling whether it decodes, without decoding where it can, agrees.
    PICTROVE_FUZZ_CHECK(pngDecodes(bytes) == image.has_value());
    if (!image) return 0;
    fuzz::checkImage(*image);
    PICTROVE_FUZZ_CHECK(image->width == info->width && image->height == info->height);

    const auto encoded = encodePng(*image);
    PICTROVE_FUZZ_CHECK(encoded.has_value());
    const auto again = decodePng(std::as_bytes(std::span(*encoded)));
    PICTROVE_FUZZ_CHECK(again.has_value());
    PICTROVE_FUZZ_CHECK(again->width == image->width && again->height == image->height);
    for (std::size_t i = 0; i < image->pixelCount(); ++i) {
        const std::uint8_t* before = image->bgra.data() + i * 4;
        const std::uint8_t* after = again->bgra.data() + i * 4;
        PICTROVE_FUZZ_CHECK(before[3] == after[3]);
        // Fully transparent pixels are written as zeroes; their colour is gone.
        if (before[3] != 0) PICTROVE_FUZZ_CHECK(std::equal(before, before + 3, after));
    }
    return 0;
}
