#include "image/png.h"

#include <gtest/gtest.h>

#include "icon_source/readers.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

// The PNG stored in png256.ico, drawn by Pillow.
std::vector<std::byte> storedPng() {
    const auto file = readFixture("ico/png256.ico");
    const auto group = readIcoFile(file);
    EXPECT_TRUE(group);
    if (!group) return {};
    const Bytes data = group->images.front().data;
    return {data.begin(), data.end()};
}

// Offsets in the PNG: IHDR width and height (big-endian), and the first IDAT.
constexpr std::size_t kIhdrWidth = 16, kIhdrHeight = 20;

void putBigEndian(std::vector<std::byte>& data, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) data.at(offset + i) = static_cast<std::byte>(value >> (24 - 8 * i));
}

TEST(Png, DecodesThePillowImageExactly) {
    const auto data = storedPng();
    const auto info = peekPng(data);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 256u);
    EXPECT_EQ(info->height, 256u);
    EXPECT_EQ(info->bits, 32);
    EXPECT_TRUE(info->png);

    const auto image = decodePng(data);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->hasAlpha);
    expectPixels(*image, pngPattern, "png256");
    EXPECT_EQ(image->mask[0], 1);                // clear corner
    EXPECT_EQ(image->mask[255 * 256 + 255], 0);  // opaque elsewhere
}

TEST(Png, EncodesWhatDecodesBackWithTransparentColourCleared) {
    Image image;
    image.width = 3;
    image.height = 2;
    image.bgra = {10, 20, 30, 255, 1, 2, 3, 0, 40, 50, 60, 128, 0, 0, 0, 255, 255, 255, 255, 255, 9, 9, 9, 0};
    image.mask = {0, 1, 0, 0, 0, 1};
    for (bool fast : {true, false}) {
        const auto png = encodePng(image, fast);
        ASSERT_TRUE(png);
        const Bytes bytes(reinterpret_cast<const std::byte*>(png->data()), png->size());
        const auto back = decodePng(bytes);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->width, 3u);
        ASSERT_EQ(back->height, 2u);
        auto expected = image.bgra;
        for (std::size_t i : {4u, 20u}) expected[i] = expected[i + 1] = expected[i + 2] = 0;
        EXPECT_EQ(back->bgra, expected);
        EXPECT_EQ(back->mask, image.mask);
    }
    EXPECT_FALSE(encodePng(Image{}));
}

TEST(Png, RefusesDamageButNotAMissingEnd) {
    const auto good = storedPng();
    struct Case {
        const char* what;
        std::function<void(std::vector<std::byte>&)> damage;
        bool peeks;
        bool decodes = false;
    } cases[] = {
        {"zero width", [](auto& d) { putBigEndian(d, kIhdrWidth, 0); }, false},
        {"width past the limit", [](auto& d) { putBigEndian(d, kIhdrWidth, 1025); }, false},
        {"huge height", [](auto& d) { putBigEndian(d, kIhdrHeight, 0x7FFFFFFF); }, false},
        {"all-ones size", [](auto& d) { putBigEndian(d, kIhdrHeight, 0xFFFFFFFF); }, false},
        // A smaller size with an unchanged checksum: the header no longer checks out.
        {"size without checksum", [](auto& d) { putBigEndian(d, kIhdrWidth, 32); }, true},
        {"signature", [](auto& d) { d[1] = std::byte{'X'}; }, false},
        {"cut in the header", [](auto& d) { d.resize(28); }, false},
        {"cut in the data", [](auto& d) { d.resize(d.size() / 2); }, true},
        // Every pixel is there; only the closing chunk is lost.
        {"no end chunk", [](auto& d) { d.resize(d.size() - 12); }, true, true},
        {"data bytes", [](auto& d) { d[d.size() / 2] ^= std::byte{0x55}; }, true},
    };
    for (const Case& c : cases) {
        auto data = good;
        c.damage(data);
        EXPECT_EQ(peekPng(data).has_value(), c.peeks) << c.what;
        EXPECT_EQ(decodePng(data).has_value(), c.decodes) << c.what;
    }
}

}  // namespace
}  // namespace pictrove::test
