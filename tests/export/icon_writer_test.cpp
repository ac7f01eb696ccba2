#include "icon_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "icon_record.h"

namespace pictrove {
namespace {

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

// A classic icon of one colour; `alpha` makes it an icon with alpha instead.
Image solid(std::uint32_t size, std::uint32_t rgb, bool alpha = false) {
    Image image;
    image.width = image.height = size;
    image.hasAlpha = alpha;
    image.mask.assign(image.pixelCount(), 0);
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        image.bgra.insert(image.bgra.end(),
                          {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                           static_cast<std::uint8_t>(rgb >> 16), 255});
    }
    return image;
}

void setPixel(Image& image, std::uint32_t x, std::uint32_t y, std::uint32_t rgb, std::uint8_t alpha,
              bool masked) {
    std::uint8_t* p = image.bgra.data() + (std::size_t{y} * image.width + x) * 4;
    p[0] = static_cast<std::uint8_t>(rgb);
    p[1] = static_cast<std::uint8_t>(rgb >> 8);
    p[2] = static_cast<std::uint8_t>(rgb >> 16);
    p[3] = alpha;
    image.mask[std::size_t{y} * image.width + x] = masked;
}

// The colour index of pixel (x, y) of a 32 x 32 icon file image (rows bottom-up).
int indexAt(const std::vector<std::uint8_t>& file, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t byte = file[126 + (31 - y) * 16 + x / 2];
    return x % 2 ? byte & 0x0F : byte >> 4;
}

bool maskAt(const std::vector<std::uint8_t>& file, std::uint32_t x, std::uint32_t y) {
    return file[638 + (31 - y) * 4 + x / 8] >> (7 - x % 8) & 1;
}

TEST(IconFileImage, HeaderAndLayoutOfThe32PixelIcon) {
    const auto file = encodeIconFile(solid(32, 0xFFFFFF)).value();
    ASSERT_EQ(file.size(), 766u);
    const std::uint8_t header[22] = {0, 0, 1, 0,    1, 0, 0x20, 0x20, 4, 0, 0,
                                     0, 0, 0, 0xE8, 2, 0, 0,    0x16, 0, 0, 0};
    EXPECT_EQ(std::memcmp(file.data(), header, 22), 0);
    EXPECT_EQ(u32(file, 22), 40u);
    EXPECT_EQ(u32(file, 26), 32u);
    EXPECT_EQ(u32(file, 30), 64u);  // colour and mask rows
    EXPECT_EQ(file[36], 4);
    EXPECT_EQ(u32(file, 38), 0u);
    EXPECT_EQ(u32(file, 42), 512u);  // the colour rows only
    for (std::size_t at = 46; at < 62; at += 4) EXPECT_EQ(u32(file, at), 0u);
    // The colour table: blue, green, red, 0 in the VGA order.
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint32_t rgb = kVgaPalette[i];
        const std::uint8_t entry[4] = {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                                       static_cast<std::uint8_t>(rgb >> 16), 0};
        EXPECT_EQ(std::memcmp(&file[62 + 4 * i], entry, 4), 0) << i;
    }
    EXPECT_EQ(file[126], 0xFF);  // white everywhere, index 15 twice per byte
    EXPECT_EQ(file[765], 0x00);  // opaque
}

TEST(IconFileImage, SizesFollowTheIconSize) {
    for (const auto& [size, length] :
         {std::pair{16u, 318u}, {32u, 766u}, {48u, 1662u}, {24u, 22u + 104 + 12 * 24 + 4 * 24}}) {
        const auto file = encodeIconFile(solid(size, 0)).value();
        EXPECT_EQ(file.size(), length) << size;
        EXPECT_EQ(u32(file, 14), length - 22) << size;
        EXPECT_EQ(file[6], size % 256);
        EXPECT_EQ(u32(file, 30), 2 * size);
    }
    EXPECT_FALSE(encodeIconFile(Image{}).has_value());
}

TEST(IconFileImage, VgaColoursStayAndOthersTakeTheNearest) {
    Image icon = solid(32, 0);
    for (std::uint32_t i = 0; i < 16; ++i) setPixel(icon, i, 0, kVgaPalette[i], 255, false);
    const struct {
        std::uint32_t rgb;
        int index;
    } nearest[] = {{0xC80A0A, 9}, {0x646464, 8},  {0x969696, 8}, {0xFAFAFA, 15},
                   {0x101010, 0}, {0x00C000, 10}, {0xA0A0A0, 7}, {0x7F0000, 1}};
    for (std::uint32_t i = 0; i < std::size(nearest); ++i) setPixel(icon, i, 5, nearest[i].rgb, 255, false);

    const auto file = encodeIconFile(icon).value();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(indexAt(file, static_cast<std::uint32_t>(i), 0), i);
    for (std::uint32_t i = 0; i < std::size(nearest); ++i)
        EXPECT_EQ(indexAt(file, i, 5), nearest[i].index) << i;
    EXPECT_EQ(indexAt(file, 31, 31), 0);
}

TEST(IconFileImage, MasksOfClassicAndAlphaIcons) {
    Image classic = solid(32, 0x0000FF);
    setPixel(classic, 3, 0, 0x000000, 0, true);  // transparent
    setPixel(classic, 4, 0, 0xFFFFFF, 0, true);  // inverts the screen: the colour stays
    Image alpha = solid(32, 0x00FF00, true);
    setPixel(alpha, 3, 0, 0xFF0000, 0, true);     // clear: colour 0
    setPixel(alpha, 4, 0, 0xFF0000, 200, false);  // mostly opaque: its colour
    const auto a = encodeIconFile(classic).value();
    const auto b = encodeIconFile(alpha).value();
    EXPECT_TRUE(maskAt(a, 3, 0) && maskAt(a, 4, 0) && !maskAt(a, 5, 0));
    EXPECT_EQ(indexAt(a, 3, 0), 0);
    EXPECT_EQ(indexAt(a, 4, 0), 15);
    EXPECT_EQ(indexAt(a, 5, 0), 12);
    EXPECT_TRUE(maskAt(b, 3, 0) && !maskAt(b, 4, 0));
    EXPECT_EQ(indexAt(b, 3, 0), 0);
    EXPECT_EQ(indexAt(b, 4, 0), 9);
    EXPECT_EQ(indexAt(b, 5, 0), 10);
}

TEST(IconRecord, BuildsTheFileImageOnceAndRefusesEmptyIcons) {
    IconRecord record(solid(32, 0x808000));
    EXPECT_FALSE(record.hasFileImage());
    const auto first = record.fileImage();
    ASSERT_TRUE(first.ok());
    const auto second = record.fileImage();
    EXPECT_EQ(first->data(), second->data());  // the same cached bytes
    EXPECT_EQ(first->size(), 766u);

    IconRecord empty(Image{});
    const auto none = empty.fileImage();
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().message, "Icon image is not valid");
}

TEST(ExportBitmap, IconsAreDrawnOverWhite) {
    Image alpha = solid(32, 0x0000FF, true);
    setPixel(alpha, 0, 0, 0x000000, 0, true);
    setPixel(alpha, 1, 0, 0x000000, 128, false);
    Image classic = solid(32, 0x00FF00);
    setPixel(classic, 0, 0, 0, 0, true);
    setPixel(classic, 1, 0, 0x00FFFF, 0, true);  // white XOR cyan = red
    const Image a = prepareExportBitmap(alpha);
    const Image b = prepareExportBitmap(classic);
    const auto rgb = [](const Image& image, std::uint32_t x) {
        const std::uint8_t* p = image.bgra.data() + x * 4;
        return std::uint32_t{p[2]} << 16 | p[1] << 8 | p[0];
    };
    EXPECT_EQ(rgb(a, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb(a, 1), 0x7F7F7Fu);
    EXPECT_EQ(rgb(a, 2), 0x0000FFu);
    EXPECT_EQ(rgb(b, 0), 0xFFFFFFu);
    EXPECT_EQ(rgb(b, 1), 0xFF0000u);
    EXPECT_EQ(rgb(b, 2), 0x00FF00u);

    // A smaller icon leaves white beside it, a larger one is cut.
    const Image small = prepareExportBitmap(solid(16, 0));
    EXPECT_EQ(small.width, 32u);
    EXPECT_EQ(rgb(small, 15), 0u);
    EXPECT_EQ(rgb(small, 16), 0xFFFFFFu);
    EXPECT_EQ(prepareExportBitmap(solid(48, 0)).width, 32u);
}

TEST(BitmapFile, SizesAndOffsetsOfEveryDepth) {
    const Image picture = prepareExportBitmap(solid(32, 0xFF0000));
    const struct {
        int depth;
        std::uint32_t offset, size, colours;
    } table[] = {{32, 54, 4150, 0},    {24, 54, 3126, 0}, {16, 54, 2102, 0},
                 {8, 1078, 2102, 256}, {4, 118, 630, 16}, {1, 62, 190, 2}};
    for (const auto& row : table) {
        const auto file = encodeBitmapFile(picture, row.depth).value();
        EXPECT_EQ(file.size(), row.size) << row.depth;
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(u32(file, 2), row.size);
        EXPECT_EQ(u32(file, 10), row.offset);
        EXPECT_EQ(u32(file, 14), 40u);
        EXPECT_EQ(u32(file, 22), 32u);  // positive: bottom row first
        EXPECT_EQ(file[28], row.depth);
        EXPECT_EQ(u32(file, 34), row.size - row.offset);
        EXPECT_EQ(u32(file, 46), row.colours);
    }
    const auto deep = encodeBitmapFile(picture, 32).value();
    EXPECT_EQ(u32(deep, 54), 0x00FF0000u);  // blue, green, red, reserved 0
    const auto high = encodeBitmapFile(picture, 16).value();
    EXPECT_EQ(high[54] | high[55] << 8, 0x7C00);  // 5-5-5 red
    const auto vga = encodeBitmapFile(picture, 4).value();
    EXPECT_EQ(vga[118], 0x99);  // bright red, index 9, twice
    EXPECT_FALSE(encodeBitmapFile(picture, 2).has_value());
}

}  // namespace
}  // namespace pictrove
