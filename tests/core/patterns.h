// The pixel patterns the fixture scripts draw with (tests/data/tools/iconlib.py),
// computed again here so that tests know every expected pixel on their own.
#pragma once

#include <cstdint>
#include <ostream>

namespace pictrove::test {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "rgba(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

inline Rgba paletteRgb(int i) {
    return {(i * 73 + 40) & 255, (i * 151 + 7) & 255, (i * 29 + 200) & 255};
}
inline int indexAt(int x, int y, int bits) {
    return (x + 3 * y) % (1 << bits);
}
inline Rgba rgbAt(int x, int y) {
    return {(x * 8 + y) & 255, (y * 8 + x * 3) & 255, (x * y) & 255};
}
inline int alphaAt(int x, int y) {
    return (x * 9 + y * 17) & 255;
}
inline bool andAt(int x, int y) {
    return (x < 4 && y < 8) || (x * y) % 13 == 1;
}

// 5- and 6-bit fields widened the way the decoder widens them.
inline int widen(int value, int bits) {
    return value * 255 / ((1 << bits) - 1);
}
inline Rgba r5g5b5At(int x, int y) {
    return {widen(x % 32, 5), widen(y % 32, 5), widen((x ^ y) % 32, 5)};
}
inline Rgba r5g6b5At(int x, int y) {
    return {widen(x % 32, 5), widen((2 * y + 1) % 64, 6), widen((x ^ y) % 32, 5)};
}

inline Rgba blockRgb(int x, int y, int block) {
    const int bx = x / block, by = y / block;
    return {(bx * 40 + 15) & 255, (by * 50 + 5) & 255, ((bx + by) * 30) & 255};
}

// The 256 px PNG images: 8-pixel blocks with a clear 64 px top-left corner.
inline Rgba pngPattern(int x, int y) {
    Rgba c = blockRgb(x, y, 8);
    c.a = x < 64 && y < 64 ? 0 : 255;
    return c;
}

}  // namespace pictrove::test
