#include "image/decoded_images.h"

namespace pictrove {

bool PixelBudget::take(std::uint64_t pixels) {
    if (passed()) return false;
    const std::uint64_t before = used_.fetch_add(pixels, std::memory_order_relaxed);
    if (before + pixels > limit_ || before + pixels < before) passed_.store(true, std::memory_order_relaxed);
    return !passed();
}

namespace {
thread_local PixelBudget* openRequest = nullptr;
}  // namespace

DecodeRequest::DecodeRequest(std::uint64_t pixels) : budget_(pixels), outer_(openRequest) {
    openRequest = &budget_;
}

DecodeRequest::~DecodeRequest() {
    openRequest = outer_;
}

PixelBudget* DecodeRequest::current() {
    return openRequest;
}

}  // namespace pictrove
