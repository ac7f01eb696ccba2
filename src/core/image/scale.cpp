#include "image/scale.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace pictrove {
namespace {

// The source pixels one target pixel covers along one axis, with the share
// each contributes; the shares of a target pixel add up to 1.
struct Span {
    std::uint32_t first = 0;
    std::vector<float> weights;
};

std::vector<Span> areaSpans(std::uint32_t sourceLength, std::uint32_t targetLength) {
    std::vector<Span> spans(targetLength);
    const double scale = static_cast<double>(sourceLength) / targetLength;
    for (std::uint32_t t = 0; t < targetLength; ++t) {
        const double begin = t * scale;
        const double end = (t + 1) * scale;
        auto first = static_cast<std::uint32_t>(std::floor(begin));
        auto last = std::min(static_cast<std::uint32_t>(std::ceil(end)), sourceLength);
        if (last <= first) last = std::min(first + 1, sourceLength);
        Span& span = spans[t];
        span.first = first;
        for (std::uint32_t s = first; s < last; ++s) {
            const double covered = std::min<double>(s + 1, end) - std::max<double>(s, begin);
            span.weights.push_back(static_cast<float>(std::max(covered, 0.0) / scale));
        }
    }
    return spans;
}

// Enlarging by whole factors: every target pixel lies inside one source
// pixel, so the filter comes down to repeating it. Colour under a fully
// transparent pixel is cleared, as the filter's premultiplication does.
Image repeatPixels(const Image& source, std::uint32_t width, std::uint32_t height) {
    Image target;
    target.width = width;
    target.height = height;
    target.hasAlpha = true;
    target.bgra.resize(target.pixelCount() * 4);
    const std::uint32_t across = width / source.width;
    const std::uint32_t down = height / source.height;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = source.bgra.data() + std::size_t{y / down} * source.width * 4;
        std::uint8_t* out = target.bgra.data() + std::size_t{y} * width * 4;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = in + std::size_t{x / across} * 4;
            if (p[3] != 0) std::copy(p, p + 4, out + std::size_t{x} * 4);
        }
    }
    deriveMaskFromAlpha(target);
    return target;
}

}  // namespace

Image scaleArea(const Image& source, std::uint32_t width, std::uint32_t height) {
    if (source.width == width && source.height == height) return source;
    Image target;
    if (source.empty() || width == 0 || height == 0) return target;
    if (width % source.width == 0 && height % source.height == 0) return repeatPixels(source, width, height);

    const auto columns = areaSpans(source.width, width);
    const auto rows = areaSpans(source.height, height);

    // Premultiplied, so colour hidden under transparent pixels cannot bleed
    // into the edges of the result.
    std::vector<float> premultiplied(source.pixelCount() * 4);
    for (std::size_t i = 0; i < source.pixelCount(); ++i) {
        const float alpha = source.bgra[i * 4 + 3] / 255.0f;
        for (int c = 0; c < 3; ++c) premultiplied[i * 4 + c] = source.bgra[i * 4 + c] * alpha;
        premultiplied[i * 4 + 3] = alpha;
    }

    // Horizontal pass: source rows, target columns.
    std::vector<float> horizontal(std::size_t{width} * source.height * 4, 0.0f);
    for (std::uint32_t y = 0; y < source.height; ++y) {
        const float* in = premultiplied.data() + std::size_t{y} * source.width * 4;
        float* out = horizontal.data() + std::size_t{y} * width * 4;
        for (std::uint32_t x = 0; x < width; ++x) {
            const Span& span = columns[x];
            for (std::size_t k = 0; k < span.weights.size(); ++k) {
                const float* p = in + (span.first + k) * 4;
                for (int c = 0; c < 4; ++c) out[x * 4 + c] += p[c] * span.weights[k];
            }
        }
    }

    target.width = width;
    target.height = height;
    target.hasAlpha = true;
    target.bgra.resize(target.pixelCount() * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        const Span& span = rows[y];
        for (std::uint32_t x = 0; x < width; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (std::size_t k = 0; k < span.weights.size(); ++k) {
                const float* p = horizontal.data() + ((span.first + k) * width + x) * 4;
                for (int c = 0; c < 4; ++c) sum[c] += p[c] * span.weights[k];
            }
            std::uint8_t* out = target.bgra.data() + (std::size_t{y} * width + x) * 4;
            const float alpha = std::clamp(sum[3], 0.0f, 1.0f);
            for (int c = 0; c < 3; ++c) {
                const float straight = alpha > 0 ? sum[c] / alpha : 0.0f;
                out[c] = static_cast<std::uint8_t>(std::lround(std::clamp(straight, 0.0f, 255.0f)));
            }
            out[3] = static_cast<std::uint8_t>(std::lround(alpha * 255.0f));
        }
    }
    deriveMaskFromAlpha(target);
    return target;
}

}  // namespace pictrove
