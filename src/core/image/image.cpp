#include "image/image.h"

namespace pictrove {

void deriveMaskFromAlpha(Image& image) {
    const std::size_t count = image.pixelCount();
    image.mask.assign(count, 0);
    for (std::size_t i = 0; i < count; ++i) image.mask[i] = image.bgra[i * 4 + 3] < 128 ? 1 : 0;
}

}  // namespace pictrove
