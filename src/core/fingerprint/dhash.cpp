#include "fingerprint/dhash.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace pictrove {
namespace {

constexpr int kHashWidth = 9;
constexpr int kHashHeight = 8;
constexpr int kPrecisionBits = 32 - 8 - 2;

// Rounds v / 255 to the nearest whole number for v up to 255 * 255.
constexpr std::uint32_t divideBy255(std::uint32_t v) {
    const std::uint32_t t = v + 128;
    return ((t >> 8) + t) >> 8;
}

// The taps of one output sample of a box filter shrinking `in` samples to
// `out`: which inputs it covers and their fixed-point weights.
struct Taps {
    int first = 0;
    std::vector<std::int32_t> weights;
};

std::vector<Taps> boxTaps(int in, int out) {
    const double scale = static_cast<double>(in) / out;
    const double filterScale = std::max(scale, 1.0);
    const double support = 0.5 * filterScale;
    std::vector<Taps> taps(static_cast<std::size_t>(out));
    for (int o = 0; o < out; ++o) {
        const double centre = (o + 0.5) * scale;
        const int first = std::max(0, static_cast<int>(centre - support + 0.5));
        const int end = std::min(in, static_cast<int>(centre + support + 0.5));
        std::vector<double> raw;
        double sum = 0;
        for (int i = first; i < end; ++i) {
            const double x = (i - centre + 0.5) / filterScale;
            const double w = (x > -0.5 && x <= 0.5) ? 1.0 : 0.0;
            raw.push_back(w);
            sum += w;
        }
        Taps& t = taps[static_cast<std::size_t>(o)];
        t.first = first;
        for (double w : raw) {
            const double k = sum != 0 ? w / sum : w;
            t.weights.push_back(static_cast<std::int32_t>(0.5 + k * (1 << kPrecisionBits)));
        }
    }
    return taps;
}

std::uint8_t clampSample(std::int64_t sum) {
    if (sum <= 0) return 0;
    if (sum >= (std::int64_t{255} << kPrecisionBits)) return 255;
    return static_cast<std::uint8_t>(sum >> kPrecisionBits);
}

std::uint8_t applyTaps(const Taps& taps, const std::uint8_t* samples, std::size_t stride) {
    std::int64_t sum = std::int64_t{1} << (kPrecisionBits - 1);
    for (std::size_t k = 0; k < taps.weights.size(); ++k)
        sum += std::int64_t{samples[(static_cast<std::size_t>(taps.first) + k) * stride]} * taps.weights[k];
    return clampSample(sum);
}

}  // namespace

std::uint64_t differenceHash(const Image& icon) {
    if (icon.empty()) return 0;
    const std::size_t w = icon.width;
    const std::size_t h = icon.height;
    std::vector<std::uint8_t> grey(w * h);
    for (std::size_t p = 0; p < w * h; ++p) {
        const std::uint8_t* px = &icon.bgra[p * 4];
        const std::uint32_t a = px[3];
        const auto overWhite = [a](std::uint32_t c) { return divideBy255(c * a + 255 * (255 - a)); };
        const std::uint32_t r = overWhite(px[2]);
        const std::uint32_t g = overWhite(px[1]);
        const std::uint32_t b = overWhite(px[0]);
        grey[p] = static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 0x8000) >> 16);
    }
    // Across first, then down, each pass rounded to bytes, as the reference does.
    // The engine's icons are all of the system size: their taps are worked
    // out once, not for every icon of a corpus.
    static const std::vector<Taps> acrossIcon = boxTaps(static_cast<int>(kIconSize), kHashWidth);
    static const std::vector<Taps> downIcon = boxTaps(static_cast<int>(kIconSize), kHashHeight);
    std::vector<Taps> acrossOther, downOther;
    const std::vector<Taps>& across =
        w == kIconSize ? acrossIcon : (acrossOther = boxTaps(static_cast<int>(w), kHashWidth));
    const std::vector<Taps>& down =
        h == kIconSize ? downIcon : (downOther = boxTaps(static_cast<int>(h), kHashHeight));
    std::vector<std::uint8_t> narrow(h * kHashWidth);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < kHashWidth; ++x)
            narrow[y * kHashWidth + x] = applyTaps(across[x], &grey[y * w], 1);
    std::uint8_t small[kHashHeight][kHashWidth];
    for (int y = 0; y < kHashHeight; ++y)
        for (int x = 0; x < kHashWidth; ++x)
            small[y][x] = applyTaps(down[static_cast<std::size_t>(y)], &narrow[static_cast<std::size_t>(x)],
                                    kHashWidth);
    std::uint64_t hash = 0;
    for (int row = 0; row < kHashHeight; ++row)
        for (int col = 0; col < kHashWidth - 1; ++col)
            if (small[row][col] > small[row][col + 1]) hash |= std::uint64_t{1} << (63 - (8 * row + col));
    return hash;
}

std::string dhashText(std::uint64_t hash) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) text[static_cast<std::size_t>(i)] = kDigits[hash & 0xF];
    return text;
}

std::optional<std::uint64_t> parseDhash(std::string_view text) {
    if (text.size() != 16) return std::nullopt;
    std::uint64_t hash = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        hash = hash << 4 | static_cast<std::uint64_t>(digit);
    }
    return hash;
}

int hammingDistance(std::uint64_t a, std::uint64_t b) {
    return std::popcount(a ^ b);
}

}  // namespace pictrove
