#include "image/decoded_images.h"

namespace pictrove {

bool PixelBudget::take(std::uint64_t pixels) {
    if (passed()) return false;
    const std::uint64_t before = used_.fetch_add(pixels, std::memory_order_relaxed);
    if (before + pixels > limit_ || before + pixels < before) passed_.store(true, std::memory_order_relaxed);
    return !passed();
}

}  // namespace pictrove
