#include "image/dib.h"

#include <gtest/gtest.h>

#include <functional>

#include "icon_source/readers.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

// The first stored image of an icon fixture, as a copy the test may change.
std::vector<std::byte> firstImage(const std::string& fixture) {
    const auto file = readFixture(fixture);
    const auto group = readIcoFile(file);
    EXPECT_TRUE(group) << fixture;
    if (!group) return {};
    const Bytes data = group->images.front().data;
    return {data.begin(), data.end()};
}

Rgba opaqueUnlessMasked(Rgba colour, int x, int y) {
    colour.a = andAt(x, y) ? 0 : 255;
    return colour;
}

struct DepthCase {
    const char* fixture;
    std::uint32_t size;
    std::uint16_t bits;
    bool hasAlpha;
    std::function<Rgba(int, int)> expected;
};

class DibDepths : public testing::TestWithParam<DepthCase> {};

TEST_P(DibDepths, DecodesEveryPixelAndMaskBit) {
    const DepthCase& c = GetParam();
    const auto data = firstImage(c.fixture);
    const auto info = peekDib(data);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, c.size);
    EXPECT_EQ(info->height, c.size);
    EXPECT_EQ(info->bits, c.bits);

    const auto image = decodeDib(data);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, c.size);
    ASSERT_EQ(image->height, c.size);
    EXPECT_EQ(image->hasAlpha, c.hasAlpha);
    expectPixels(*image, c.expected, c.fixture);
    // The mask always agrees with alpha, whichever of them the file stored.
    for (std::size_t i = 0; i < image->pixelCount(); ++i) {
        ASSERT_EQ(image->mask[i], image->bgra[i * 4 + 3] < 128 ? 1 : 0) << c.fixture << " pixel " << i;
    }
}

Rgba indexed(int x, int y, int bits) {
    return opaqueUnlessMasked(paletteRgb(indexAt(x, y, bits)), x, y);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DibDepths,
    testing::Values(DepthCase{"ico/bpp1.ico", 16, 1, false, [](int x, int y) { return indexed(x, y, 1); }},
                    DepthCase{"ico/bpp4.ico", 20, 4, false, [](int x, int y) { return indexed(x, y, 4); }},
                    DepthCase{"ico/bpp8.ico", 24, 8, false, [](int x, int y) { return indexed(x, y, 8); }},
                    // Only 16 table entries: indexes past them have no colour and come out black.
                    DepthCase{"ico/bpp8_clrused.ico", 24, 8, false,
                              [](int x, int y) {
                                  const int i = indexAt(x, y, 8);
                                  return opaqueUnlessMasked(i < 16 ? paletteRgb(i) : Rgba{0, 0, 0}, x, y);
                              }},
                    DepthCase{"ico/bpp16_555.ico", 17, 16, false,
                              [](int x, int y) { return opaqueUnlessMasked(r5g5b5At(x, y), x, y); }},
                    DepthCase{"ico/bpp16_565.ico", 17, 16, false,
                              [](int x, int y) { return opaqueUnlessMasked(r5g6b5At(x, y), x, y); }},
                    DepthCase{"ico/bpp24.ico", 21, 24, false,
                              [](int x, int y) { return opaqueUnlessMasked(rgbAt(x, y), x, y); }},
                    DepthCase{"ico/bpp24_nomask.ico", 16, 24, false,
                              [](int x, int y) { return rgbAt(x, y); }},
                    DepthCase{"ico/bpp32_alpha.ico", 32, 32, true,
                              [](int x, int y) {
                                  Rgba c = rgbAt(x, y);
                                  c.a = alphaAt(x, y);
                                  return c;
                              }},
                    // Every alpha byte zero: an old-style image whose transparency is the AND mask.
                    DepthCase{"ico/bpp32_noalpha.ico", 32, 32, false,
                              [](int x, int y) { return opaqueUnlessMasked(rgbAt(x, y), x, y); }},
                    DepthCase{"ico/bpp32_v5.ico", 24, 32, true,
                              [](int x, int y) {
                                  Rgba c = rgbAt(x, y);
                                  c.a = alphaAt(x, y);
                                  return c;
                              }}),
    [](const auto& param) {
        std::string name = std::filesystem::path(param.param.fixture).stem().string();
        return name;
    });

// Header fields at their offsets in BITMAPINFOHEADER.
constexpr int kHeaderSize = 0, kWidth = 4, kHeight = 8, kBits = 14, kCompression = 16, kClrUsed = 32;

struct HeaderCase {
    const char* what;
    const char* fixture;
    int offset;
    int width;
    std::uint32_t value;
    bool accepted;
};

class DibHeaders : public testing::TestWithParam<HeaderCase> {};

TEST_P(DibHeaders, RefusesWhatCannotBeAnIconBitmap) {
    const HeaderCase& c = GetParam();
    auto data = firstImage(c.fixture);
    poke(data, static_cast<std::uint64_t>(c.offset), c.width, c.value);
    EXPECT_EQ(peekDib(data).has_value(), c.accepted);
    EXPECT_EQ(decodeDib(data).has_value(), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DibHeaders,
    testing::Values(HeaderCase{"zero_width", "ico/bpp24.ico", kWidth, 4, 0, false},
                    HeaderCase{"negative_width", "ico/bpp24.ico", kWidth, 4, 0xFFFFFFEB, false},
                    HeaderCase{"narrower_fits", "ico/bpp24.ico", kWidth, 4, 20, true},
                    HeaderCase{"wider_than_data", "ico/bpp24.ico", kWidth, 4, 40, false},
                    HeaderCase{"huge_width", "ico/bpp24.ico", kWidth, 4, 0x7FFFFFFF, false},
                    HeaderCase{"top_down", "ico/bpp24.ico", kHeight, 4, 0xFFFFFFD6, false},
                    HeaderCase{"height_one", "ico/bpp24.ico", kHeight, 4, 1, false},
                    HeaderCase{"height_two", "ico/bpp24.ico", kHeight, 4, 2, true},
                    HeaderCase{"huge_height", "ico/bpp24.ico", kHeight, 4, 0xFFFFFFFE, false},
                    HeaderCase{"two_bits", "ico/bpp4.ico", kBits, 2, 2, false},
                    HeaderCase{"zero_bits", "ico/bpp4.ico", kBits, 2, 0, false},
                    HeaderCase{"rle8", "ico/bpp8.ico", kCompression, 4, 1, false},
                    HeaderCase{"bitfields_on_24_bits", "ico/bpp24.ico", kCompression, 4, 3, false},
                    HeaderCase{"png_compression", "ico/bpp32_alpha.ico", kCompression, 4, 5, false},
                    HeaderCase{"table_over_256", "ico/bpp8.ico", kClrUsed, 4, 257, false},
                    HeaderCase{"table_runs_past_data", "ico/bpp8.ico", kClrUsed, 4, 0xFFFFFFFF, false},
                    HeaderCase{"core_header", "ico/bpp4.ico", kHeaderSize, 4, 12, false},
                    HeaderCase{"header_past_data", "ico/bpp4.ico", kHeaderSize, 4, 0x10000, false},
                    HeaderCase{"zero_planes", "ico/bpp4.ico", 12, 2, 0, true}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(Dib, RefusesSidesPastTheLimitEvenWhenTheDataIsThere) {
    // One row of 1025 1-bit pixels takes only 132 bytes; with a few bytes
    // added the 16x16 image has them, so only the side limit stands in the way.
    auto data = firstImage("ico/bpp1.ico");
    data.resize(data.size() + 64);
    poke(data, kHeight, 4, 2);
    poke(data, kWidth, 4, 1024);
    ASSERT_TRUE(decodeDib(data));
    EXPECT_EQ(decodeDib(data)->width, 1024u);
    poke(data, kWidth, 4, 1025);
    EXPECT_FALSE(peekDib(data));
    EXPECT_FALSE(decodeDib(data));
}

TEST(Dib, ToleratesACutMaskButNotCutColourRows) {
    auto data = firstImage("ico/bpp4.ico");
    const std::size_t maskSize = 4 * 20;  // 20 rows of 20 bits, padded to 4 bytes
    data.resize(data.size() - maskSize);
    const auto image = decodeDib(data);
    ASSERT_TRUE(image);
    expectPixels(
        *image, [](int x, int y) { return paletteRgb(indexAt(x, y, 4)); }, "maskless bpp4");

    data.pop_back();
    EXPECT_FALSE(peekDib(data));
    EXPECT_FALSE(decodeDib(data));
}

TEST(Dib, UsesEntriesOfAShortColourTable) {
    // A 4-bit image declaring 3 colours: pixels that name entries 0-2 get them,
    // and the pixel rows start right after those 3 entries.
    auto data = firstImage("ico/bpp4.ico");
    poke(data, kClrUsed, 4, 3);
    data.erase(data.begin() + 40 + 3 * 4, data.begin() + 40 + 16 * 4);
    const auto image = decodeDib(data);
    ASSERT_TRUE(image);
    expectPixels(
        *image,
        [](int x, int y) {
            const int i = indexAt(x, y, 4);
            return opaqueUnlessMasked(i < 3 ? paletteRgb(i) : Rgba{0, 0, 0}, x, y);
        },
        "3-colour bpp4");
}

TEST(Dib, BitfieldsWithoutAlphaMaskUseTheAndMask) {
    // A 40-byte header with BI_BITFIELDS has room for colour masks only, so
    // whatever sits in the fourth byte is not alpha.
    const auto rgba = firstImage("ico/bpp32_alpha.ico");
    std::vector<std::byte> data(rgba.begin(), rgba.begin() + 40);
    poke(data, kCompression, 4, 3);
    for (std::uint32_t mask : {0xFF0000u, 0xFF00u, 0xFFu}) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::byte>(mask >> (8 * i)));
    }
    data.insert(data.end(), rgba.begin() + 40, rgba.end());
    const auto image = decodeDib(data);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->hasAlpha);
    expectPixels(
        *image, [](int x, int y) { return opaqueUnlessMasked(rgbAt(x, y), x, y); }, "bitfields");
}

// The bitmaps made for images that come from no icon file (a Mac icon's
// members, a drawn SVG): each header field as an .ico holds it, and the
// pixels and transparency read back as they went in, rows in either order.
TEST(Dib, MadeIconBitmapsHoldTheirHeaderAndReadBack) {
    // Size, width, doubled height, planes, bits, compression, image size, colours used.
    const auto header = [](const std::vector<std::byte>& dib) {
        std::vector<std::uint64_t> fields;
        for (const auto& [at, width] :
             {std::pair{0, 4}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 4}, {20, 4}, {32, 4}})
            fields.push_back(peek(dib, at, width));
        return fields;
    };
    Image image;
    image.width = 3;
    image.height = 2;
    image.bgra = {1, 2, 3, 255, 4, 5, 6, 0, 7, 8, 9, 200, 10, 11, 12, 255, 13, 14, 15, 100, 16, 17, 18, 255};
    const auto rgb = encodeIconBitmap(image);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(header(*rgb), (std::vector<std::uint64_t>{40, 3, 4, 1, 32, 0, 24, 0}));
    EXPECT_EQ(rgb->size(), 40u + 24 + 2 * 4);
    const auto back = decodeDib(*rgb);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bgra, image.bgra);
    EXPECT_EQ(back->mask, (std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0}));

    // Two colours a bit: index 1 is red, and the middle column is clear.
    const std::vector<std::uint32_t> palette{0x000000, 0xFF0000};
    const auto mono = encodeIndexedIconBitmap(3, 2, 1, palette, std::vector<std::uint8_t>{1, 0, 1, 0, 0, 1},
                                              std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0});
    ASSERT_TRUE(mono);
    EXPECT_EQ(header(*mono), (std::vector<std::uint64_t>{40, 3, 4, 1, 1, 0, 8, 2}));
    const auto decoded = decodeDib(*mono);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->mask, (std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0}));
    for (const std::size_t i : {0, 2, 3, 5}) {
        const std::uint8_t red = i == 3 ? 0 : 255;
        EXPECT_EQ(std::vector(decoded->bgra.begin() + 4 * i, decoded->bgra.begin() + 4 * i + 4),
                  (std::vector<std::uint8_t>{0, 0, red, 255}))
            << i;
    }
}

}  // namespace
}  // namespace pictrove::test
