#include "image/scale.h"

#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"

namespace pictrove::test {
namespace {

Image draw(std::uint32_t width, std::uint32_t height, const std::function<Rgba(int, int)>& colour) {
    Image image;
    image.width = width;
    image.height = height;
    image.hasAlpha = true;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgba c = colour(static_cast<int>(x), static_cast<int>(y));
            for (int v : {c.b, c.g, c.r, c.a}) image.bgra.push_back(static_cast<std::uint8_t>(v));
        }
    }
    deriveMaskFromAlpha(image);
    return image;
}

Rgba checker(int x, int y, int cell) {
    return (x / cell + y / cell) % 2 ? Rgba{255, 255, 255} : Rgba{0, 0, 0};
}

// Barely opaque, with a clear corner pixel whose colour must not survive.
Rgba faint(int x, int y) {
    return x + y ? Rgba{9, 8, 7, 1 + x} : Rgba{5, 5, 5, 0};
}
Rgba faintTimes4(int x, int y) {
    return x < 4 && y < 4 ? Rgba{0, 0, 0, 0} : faint(x / 4, y / 4);
}

struct ScaleCase {
    const char* what;
    std::uint32_t sourceSize;
    std::function<Rgba(int, int)> source;
    std::function<Rgba(int, int)> expected;  // at 32 x 32
};

class ScaleTo32 : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleTo32, AveragesTheAreaEachTargetPixelCovers) {
    const ScaleCase& c = GetParam();
    const Image scaled = scaleArea(draw(c.sourceSize, c.sourceSize, c.source), 32, 32);
    ASSERT_EQ(scaled.width, 32u);
    ASSERT_EQ(scaled.height, 32u);
    EXPECT_TRUE(scaled.hasAlpha);
    expectPixels(scaled, c.expected, c.what);
    for (std::size_t i = 0; i < scaled.pixelCount(); ++i) {
        ASSERT_EQ(scaled.mask[i], scaled.bgra[i * 4 + 3] < 128 ? 1 : 0) << c.what << " pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, ScaleTo32,
                         testing::Values(
                             // Every target pixel covers two black and two white ones: 127.5, rounded up.
                             ScaleCase{"pixel_checker_64", 64, [](int x, int y) { return checker(x, y, 1); },
                                       [](int, int) {
                                           return Rgba{128, 128, 128};
                                       }},
                             // 2x2 blocks become single pixels with their colour unchanged.
                             ScaleCase{"block_checker_64", 64, [](int x, int y) { return checker(x, y, 2); },
                                       [](int x, int y) { return checker(x, y, 1); }},
                             // 48 -> 32 maps every 3x3 block onto a 2x2 one exactly.
                             ScaleCase{"blocks_48", 48, [](int x, int y) { return blockRgb(x, y, 3); },
                                       [](int x, int y) { return blockRgb(x, y, 2); }},
                             // ... and splits a 1-pixel checker in shares of 2/3 and 1/3 per axis, so
                             // each target pixel is 5/9 the colour of the source pixel it mostly
                             // covers: white (141.7) or black (4/9 white, 113.3).
                             ScaleCase{"pixel_checker_48", 48, [](int x, int y) { return checker(x, y, 1); },
                                       [](int x, int y) {
                                           const int v = (x / 2 + y / 2) % 2 ? 142 : 113;
                                           return Rgba{v, v, v};
                                       }},
                             // Upscaling repeats each source pixel over a 2x2 block.
                             ScaleCase{"pattern_16", 16, rgbAt,
                                       [](int x, int y) { return rgbAt(x / 2, y / 2); }},
                             ScaleCase{"faint_8", 8, faint, faintTimes4},
                             ScaleCase{"png_pattern_256", 256, pngPattern,
                                       [](int x, int y) {
                                           Rgba c = blockRgb(x, y, 1);
                                           c.a = x < 8 && y < 8 ? 0 : 255;
                                           if (c.a == 0) c = {0, 0, 0, 0};
                                           return c;
                                       }}),
                         [](const auto& param) { return std::string(param.param.what); });

TEST(Scale, ColourUnderTransparentPixelsDoesNotBleed) {
    // Half the area is clear red, half opaque blue: half as opaque, all blue.
    const Image source = draw(2, 1, [](int x, int) { return x == 0 ? Rgba{255, 0, 0, 0} : Rgba{0, 0, 255}; });
    const Image scaled = scaleArea(source, 1, 1);
    EXPECT_EQ(pixel(scaled, 0, 0), (Rgba{0, 0, 255, 128}));
    EXPECT_EQ(scaled.mask[0], 0);
    // Partly covered alpha: 1/4 opaque is less than half, so masked.
    const Image quarter = scaleArea(draw(2, 2,
                                         [](int x, int y) {
                                             return x + y == 0 ? Rgba{9, 9, 9} : Rgba{0, 0, 0, 0};
                                         }),
                                    1, 1);
    EXPECT_EQ(pixel(quarter, 0, 0), (Rgba{9, 9, 9, 64}));
    EXPECT_EQ(quarter.mask[0], 1);
}

TEST(Scale, KeepsTheSameSizeAndRefusesEmptyTargets) {
    Image classic = draw(32, 32, rgbAt);
    classic.hasAlpha = false;  // a masked image passes through untouched, flags included
    const Image same = scaleArea(classic, 32, 32);
    EXPECT_EQ(same.bgra, classic.bgra);
    EXPECT_FALSE(same.hasAlpha);
    EXPECT_TRUE(scaleArea(classic, 0, 32).empty());
    EXPECT_TRUE(scaleArea(Image{}, 32, 32).empty());
}

}  // namespace
}  // namespace pictrove::test
