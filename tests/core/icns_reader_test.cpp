#include <gtest/gtest.h>

#include <string>

#include "group_file.h"
#include "icon_source/readers.h"
#include "image/dib.h"
#include "image/jpeg2000.h"
#include "image/png.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using Data = std::vector<std::byte>;

void putBe(Data& out, std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(std::byte(value >> (8 * i)));
}

Data bytesOf(std::initializer_list<int> values) {
    Data out;
    for (int v : values) out.push_back(std::byte(v));
    return out;
}

Data repeated(int value, std::size_t count) {
    return Data(count, std::byte(value));
}

Data joined(std::initializer_list<Data> parts) {
    Data out;
    for (const Data& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An icon file of the members given, each (type, body).
Data icnsFile(const std::vector<std::pair<std::string, Data>>& members) {
    Data out;
    for (char c : std::string("icns")) out.push_back(std::byte(c));
    std::size_t total = 8;
    for (const auto& [type, body] : members) total += 8 + body.size();
    putBe(out, total, 4);
    for (const auto& [type, body] : members) {
        for (char c : type) out.push_back(std::byte(c));
        putBe(out, body.size() + 8, 4);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

// One channel of 256 bytes, packed: 130 of `first`, then 126 of `second`.
Data twoRuns(int first, int second) {
    return bytesOf({0xFF, first, 0xFB, second});
}

// 16 x 16 planes: red in two runs, green as literal bytes 0..255, blue one
// value.
Data packedRgb16() {
    Data green;
    for (int half = 0; half < 2; ++half) {
        green.push_back(std::byte{0x7F});
        for (int i = 0; i < 128; ++i) green.push_back(std::byte(half * 128 + i));
    }
    return joined({twoRuns(0x10, 0x20), green, twoRuns(0x30, 0x30)});
}

Data mask16() {
    Data mask(256);
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = std::byte(i);
    return mask;
}

// The pixel at `index` of the first image of the file, as 0xAARRGGBB.
std::uint32_t pixelOf(const IconFile& file, std::size_t image, std::size_t index) {
    const auto decoded = file.decode(file.group(0).images.at(image));
    if (!decoded) return 0xDEADBEEF;
    const std::uint8_t* p = decoded->bgra.data() + index * 4;
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

TEST(IcnsReader, PackedPlanesTakeTheirMaskAsAlpha) {
    const IconFile file = openBytes(icnsFile({{"is32", packedRgb16()}, {"s8mk", mask16()}}));
    ASSERT_EQ(file.kind(), SourceKind::icns);
    ASSERT_EQ(file.count(), 1u);
    ASSERT_EQ(imageList(file.group(0)), std::vector<std::string>{"16x16x32"});
    EXPECT_EQ(pixelOf(file, 0, 0), 0x00100030u);
    EXPECT_EQ(pixelOf(file, 0, 129), 0x81108130u);  // last of the first red run
    EXPECT_EQ(pixelOf(file, 0, 130), 0x82208230u);
    EXPECT_EQ(pixelOf(file, 0, 255), 0xFF20FF30u);
}

TEST(IcnsReader, EveryKindOfMemberIsAnImageInStoredOrder) {
    Data plain;  // 16 x 16 unpacked: an unused byte, then red, green, blue
    for (int i = 0; i < 256; ++i)
        plain.insert(plain.end(), {std::byte{0}, std::byte(i), std::byte{7}, std::byte{9}});
    const Data argb = joined(
        {bytesOf({'A', 'R', 'G', 'B'}), twoRuns(0x80, 0x40), twoRuns(1, 2), twoRuns(3, 4), twoRuns(5, 6)});
    // 128 x 128 after four zero bytes: each plane 129 runs of 127 or fewer.
    Data big = repeated(0, 4);
    for (int plane = 0; plane < 3; ++plane) {
        for (std::size_t left = 128 * 128; left > 0;) {
            const std::size_t run = std::min<std::size_t>(left, 130);
            big.insert(big.end(), {std::byte(run + 125), std::byte(plane + 1)});
            left -= run;
        }
    }
    const Data png = readFixture("ico/png256.ico");
    const Data pngBody(png.begin() + 22, png.end());  // the image behind a one-entry directory
    const Data file = icnsFile({{"TOC ", repeated(0, 8)},
                                {"is32", plain},
                                {"t8mk", repeated(0x40, 128 * 128)},
                                {"it32", big},
                                {"ic04", argb},
                                {"ic08", pngBody}});
    const IconFile icons = openBytes(file);
    ASSERT_EQ(icons.count(), 1u);
    EXPECT_EQ(imageList(icons.group(0)),
              (std::vector<std::string>{"16x16x32", "128x128x32", "16x16x32", "256x256x32png"}));
    EXPECT_EQ(pixelOf(icons, 0, 3), 0xFF030709u);
    EXPECT_EQ(pixelOf(icons, 1, 0), 0x40010203u);
    EXPECT_EQ(pixelOf(icons, 2, 0), 0x80010305u);
    EXPECT_EQ(pixelOf(icons, 2, 255), 0x40020406u);
    // A PNG member is the file's own bytes, read when decoded.
    const IconImage& stored = icons.group(0).images[3];
    EXPECT_EQ(stored.data.fileOffset(), std::optional<std::uint64_t>(file.size() - pngBody.size()));
    EXPECT_TRUE(icons.decode(stored));
}

// 16 x 16 1-bit member: picture bits, then mask bits clear only in the
// first row (transparent there).
Data mono16() {
    return joined({repeated(0xAA, 32), repeated(0, 2), repeated(0xFF, 30)});
}

TEST(IcnsReader, ClassicMembersAreBitmapsOfTheirDepthInTheSystemPalettes) {
    // 4-bit: indexes 1 and 14 by turns; 8-bit: 0, 1, ..., 255.
    Data eight;
    for (int i = 0; i < 256; ++i) eight.push_back(std::byte(i));
    const IconFile file = openBytes(icnsFile({{"ics#", mono16()},
                                              {"ics4", repeated(0x1E, 128)},
                                              {"ics8", eight},
                                              {"icm8", repeated(0xD7, 16 * 12)},
                                              {"icm#", repeated(0xFF, 48)}}));
    ASSERT_EQ(file.count(), 1u);
    ASSERT_EQ(imageList(file.group(0)),
              (std::vector<std::string>{"16x16x1", "16x16x4", "16x16x8", "16x12x8", "16x12x1"}));
    struct Case {
        std::size_t image, pixel;
        std::uint32_t argb;
    } cases[] = {
        {0, 0, 0x00000000},   // the first row is masked out
        {0, 16, 0xFF000000},  // a set bit is black
        {0, 17, 0xFFFFFFFF},  {1, 16, 0xFFFCF305},  {1, 17, 0xFF404040},
        {2, 15, 0x00000000},  {2, 16, 0xFFFF9933},   // the cube, blue changing fastest
        {2, 214, 0xFF000033},                        // its last colour
        {2, 215, 0xFFEE0000},                        // the red ramp
        {2, 234, 0xFF001100},                        // the last of the green one
        {2, 254, 0xFF111111},                        // the last grey
        {2, 255, 0xFF000000}, {3, 191, 0xFFEE0000},  // a later 1-bit member of the size masks it all opaque
        {4, 0, 0xFF000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pixelOf(file, c.image, c.pixel), c.argb) << c.image << " " << c.pixel;
}

TEST(IcnsReader, DamageLeavesOutWhatItTouches) {
    const Data good = packedRgb16();
    const Data cut(good.begin(), good.end() - 1);
    // The first red run claims 130 bytes more than the channel holds: it is
    // cut at the channel's end, and the planes after it still line up.
    const Data overrun = joined({bytesOf({0xFF, 1, 0xFF, 2}), twoRuns(3, 3), twoRuns(4, 4)});
    struct Case {
        const char* what;
        Data file;
        std::vector<std::string> images;
        std::optional<std::uint32_t> firstPixel = std::nullopt;
    } cases[] = {
        {"packed data cut short", icnsFile({{"is32", cut}, {"il32", repeated(0, 4096)}}), {"32x32x32"}},
        {"packed data ending between runs, after its red plane",
         icnsFile({{"is32", twoRuns(0x10, 0x20)}, {"il32", repeated(0, 4096)}}),
         {"32x32x32"}},
        {"a mask of the wrong length leaves it opaque",
         icnsFile({{"is32", good}, {"s8mk", repeated(0, 255)}}),
         {"16x16x32"},
         0xFF100030},
        {"a mask of another size is not taken",
         icnsFile({{"is32", good}, {"l8mk", repeated(0, 1024)}}),
         {"16x16x32"},
         0xFF100030},
        {"the first mask of the right length is taken",
         icnsFile(
             {{"s8mk", repeated(0, 255)}, {"is32", good}, {"s8mk", repeated(0x40, 256)}, {"s8mk", mask16()}}),
         {"16x16x32"},
         0x40100030},
        {"a run past the channel's end", icnsFile({{"is32", overrun}}), {"16x16x32"}, 0xFF010304},
        {"a type given again: the first whole member of it is the one image",
         icnsFile({{"is32", cut}, {"is32", good}, {"is32", overrun}, {"is32", good}}),
         {"16x16x32"},
         0xFF100030},
        {"ARGB in a type without a fixed size",
         icnsFile({{"ic07", joined({bytesOf({'A', 'R', 'G', 'B'}), good})}}),
         {}},
        {"neither PNG nor JPEG 2000", icnsFile({{"ic09", repeated(0x42, 100)}}), {}},
        {"only masks", icnsFile({{"s8mk", mask16()}}), {}},
        {"a classic member one byte short",
         icnsFile({{"ics8", repeated(0, 255)}, {"ics4", repeated(0, 127)}}),
         {}},
        {"a 1-bit member cut in its mask", icnsFile({{"ics#", repeated(0, 63)}}), {}},
        {"a classic member longer than its picture",
         icnsFile({{"ics4", repeated(0xFF, 129)}}),
         {"16x16x4"},
         0xFF000000},
        {"no 1-bit member of the size leaves it opaque",
         icnsFile({{"ics8", repeated(0xD7, 256)}, {"ICN#", repeated(0, 256)}}),
         {"16x16x8", "32x32x1"},
         0xFFEE0000},
        {"the first 1-bit member long enough masks the others",
         icnsFile({{"ics#", repeated(0xFF, 63)}, {"ics4", repeated(0x33, 128)}, {"ics#", mono16()}}),
         {"16x16x4", "16x16x1"},
         0x00000000},
    };
    for (Case& c : cases) {
        const IconFile file = openBytes(c.file);
        ASSERT_EQ(file.count(), c.images.empty() ? 0u : 1u) << c.what;
        if (c.images.empty()) continue;
        EXPECT_EQ(imageList(file.group(0)), c.images) << c.what;
        if (c.firstPixel) {
            EXPECT_EQ(pixelOf(file, 0, 0), *c.firstPixel) << c.what;
        }
    }
}

TEST(IcnsReader, MembersStopAtTheFirstOneThatDoesNotFit) {
    const Data one = icnsFile({{"is32", repeated(0, 1024)}});
    struct Case {
        const char* what;
        std::uint32_t length;
        std::size_t images;
    } cases[] = {
        {"length below the header", 7, 1},
        {"length zero", 0, 1},
        {"one byte past the end", 8 + 4096 + 1, 1},
        {"all ones", 0xFFFFFFFF, 1},
        {"exact fit", 8 + 4096, 2},
    };
    for (const Case& c : cases) {
        Data file = joined({one, bytesOf({'i', 'l', '3', '2'})});
        putBe(file, c.length, 4);
        file.insert(file.end(), 4096, std::byte{0});
        const IconFile icons = openBytes(file);
        ASSERT_EQ(icons.count(), 1u) << c.what;
        EXPECT_EQ(icons.group(0).images.size(), c.images) << c.what;
    }
}

TEST(IcnsReader, ConvertedPicturesStayWithinTheirShare) {
    const Data argb16 = joined({textOf("ARGB"), twoRuns(1, 1), twoRuns(2, 2), twoRuns(3, 3), twoRuns(4, 4)});
    const MappedFile file =
        readWhereAsked(icnsFile({{"is32", repeated(0, 1024)}, {"ic04", argb16}, {"icp4", argb16}}));
    // Each 16 x 16 bitmap takes 40 + 1024 + 64 bytes: room for two.
    MadeBytes made(2500);
    const auto group = readIcnsFile(FileView(file), made);
    ASSERT_TRUE(group);
    EXPECT_EQ(group->images.size(), 2u);
    EXPECT_LE(made.total(), 2500u);
}

// A 128 x 128 member (it32) whose planes are each one value throughout.
Data flatPacked128(int red, int green, int blue) {
    Data out = repeated(0, 4);
    for (const int value : {red, green, blue}) {
        for (std::size_t left = 128 * 128; left > 0;) {
            const std::size_t run = std::min<std::size_t>(left, 130);
            out.insert(out.end(), {std::byte(run + 125), std::byte(value)});
            left -= run;
        }
    }
    return out;
}

// A file may hold thousands of packed members of a few hundred bytes each,
// whose pictures would take hundreds of MB: listing them makes none, a type
// given again is no further image, and a picture is made from its member
// alone when first read, once.
TEST(IcnsReader, PicturesAreMadeWhenTheirPixelsAreFirstRead) {
    std::vector<std::pair<std::string, Data>> members{
        {"t8mk", repeated(0x40, 128 * 128)},
        {"ic04", joined({textOf("ARGB"), twoRuns(1, 1), twoRuns(2, 2), twoRuns(3, 3), twoRuns(4, 4)})},
        {"icl8", repeated(0x23, 1024)},
    };
    for (int i = 0; i < 40; ++i) members.push_back({"it32", flatPacked128(i, i + 100, i + 200)});
    const MappedFile file = readWhereAsked(icnsFile(members));
    MadeBytes made(std::uint64_t{64} << 20);
    const auto group = readIcnsFile(FileView(file), made);
    ASSERT_TRUE(group);
    EXPECT_EQ(imageList(*group), (std::vector<std::string>{"16x16x32", "32x32x8", "128x128x32"}));
    EXPECT_EQ(made.madeSoFar(), 0u);
    const std::uint64_t bitmap128 = 40 + 128 * 128 * 4 + 128 * 16;
    EXPECT_EQ(group->images[2].data.size(), bitmap128);
    for (int round = 0; round < 2; ++round) {
        const auto picture = decodeDib(group->images[2].data);  // the first it32 member
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, 128u);
        EXPECT_EQ(std::vector<std::uint8_t>(picture->bgra.end() - 4, picture->bgra.end()),
                  (std::vector<std::uint8_t>{200, 100, 0, 0x40}));
        EXPECT_EQ(made.madeSoFar(), bitmap128) << round;
    }
}

// A bare codestream of one 8-bit grey component, `width` x `height`, in
// one tile whose one packet is empty: it decodes to a flat picture.
Data codestream(std::uint32_t width, std::uint32_t height) {
    Data out = bytesOf({0xFF, 0x4F, 0xFF, 0x51});
    putBe(out, 41, 2);
    putBe(out, 0, 2);
    for (std::uint32_t value : {width, height, 0u, 0u, width, height, 0u, 0u}) putBe(out, value, 4);
    putBe(out, 1, 2);
    out.insert(out.end(), {std::byte{7}, std::byte{1}, std::byte{1}});
    // COD: no levels, 4 x 4 code blocks, reversible; QCD without quantisation.
    out = joined({out, bytesOf({0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 0, 2, 2, 0, 1}),
                  bytesOf({0xFF, 0x5C, 0, 4, 0x40, 0x48}),
                  bytesOf({0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 15, 0, 1, 0xFF, 0x93, 0, 0xFF, 0xD9})});
    return out;
}

void pokeBe(Data& data, std::size_t at, std::uint32_t value) {
    Data field;
    putBe(field, value, 4);
    std::copy(field.begin(), field.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

Data box(const std::string& type, const Data& body) {
    Data out;
    putBe(out, body.size() + 8, 4);
    for (char c : type) out.push_back(std::byte(c));
    return joined({out, body});
}

// A JP2 file of `stream` whose image header gives `width` x `height`.
Data jp2(const Data& stream, std::uint32_t width, std::uint32_t height) {
    Data header;
    putBe(header, height, 4);
    putBe(header, width, 4);
    header = joined({header, bytesOf({0, 1, 7, 7, 0, 0})});  // one 8-bit component
    return joined({box("jP  ", bytesOf({0x0D, 0x0A, 0x87, 0x0A})),
                   box("ftyp", joined({textOf("jp2 "), repeated(0, 4), textOf("jp2 ")})),
                   box("jp2h", joined({box("ihdr", header), box("colr", bytesOf({1, 0, 0, 0, 0, 0, 17}))})),
                   box("jp2c", stream)});
}

TEST(IcnsReader, JpegTwoThousandSizesComeFromTheHeaders) {
    Data offsets = codestream(40, 30);  // the picture from (8, 6) on
    pokeBe(offsets, 16, 8);
    pokeBe(offsets, 20, 6);
    const auto cut = [](Data data, std::size_t length) {
        data.resize(length);
        return data;
    };
    const auto withFtypLength = [](std::uint32_t length) {
        Data file = jp2(codestream(7, 9), 7, 9);
        pokeBe(file, 12, length);
        return file;
    };
    Data longBox = jp2(codestream(5, 6), 5, 6);  // ftyp with a 64-bit length
    longBox.insert(longBox.begin() + 20, {std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0},
                                          std::byte{0}, std::byte{0}, std::byte{0}, std::byte{28}});
    pokeBe(longBox, 12, 1);
    struct Case {
        const char* what;
        Data head;
        std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
    } cases[] = {
        {"codestream", codestream(48, 16), std::pair(48u, 16u)},
        {"codestream with offsets", offsets, std::pair(32u, 24u)},
        {"codestream cut", cut(codestream(4, 4), 23), std::nullopt},
        {"JP2", jp2(codestream(7, 9), 7, 9), std::pair(7u, 9u)},
        {"JP2 with a 64-bit box length", longBox, std::pair(5u, 6u)},
        {"JP2 header without a width", cut(jp2(codestream(7, 9), 7, 9), 54), std::nullopt},
        {"JP2 of width 0", jp2(codestream(7, 9), 0, 9), std::nullopt},
        {"JP2 box running to the end before the header", withFtypLength(0), std::nullopt},
        {"JP2 box shorter than its own header", withFtypLength(7), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(jpeg2000Size(c.head), c.size) << c.what;
}

TEST(IcnsReader, JpegTwoThousandIsDecodedWhenItsPixelsAreFirstRead) {
    if (!canDecodeJpeg2000()) GTEST_SKIP() << "built without JPEG 2000";
    const Data padded = joined({codestream(16, 16), repeated(0, 8192)});
    const MappedFile file = readWhereAsked(icnsFile({{"ic08", padded},
                                                     {"ic09", jp2(codestream(24, 20), 24, 20)},
                                                     {"ic10", jp2(codestream(32, 32), 16, 16)}}));
    MadeBytes made(1 << 20);
    const auto group = readIcnsFile(FileView(file), made);
    ASSERT_TRUE(group);
    ASSERT_EQ(imageList(*group), (std::vector<std::string>{"16x16x32", "24x20x32", "16x16x32"}));
    EXPECT_LT(file.bytesRead(), 1024u);  // the members' heads alone
    // Made bytes have no place in the file, to be taken for another image's.
    EXPECT_FALSE(group->images[0].data.fileOffset());
    const auto first = decodeDib(group->images[0].data);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 16u);
    EXPECT_GT(file.bytesRead(), padded.size());
    const auto second = decodeDib(group->images[1].data);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width, 24u);
    EXPECT_EQ(second->height, 20u);
    // A picture of another size than its header gave decodes to nothing,
    // and no icon file is made of it.
    EXPECT_FALSE(decodeDib(group->images[2].data));
    EXPECT_FALSE(buildGroupFile(IconGroup{std::nullopt, {group->images[1], group->images[2]}}));
    EXPECT_TRUE(buildGroupFile(IconGroup{std::nullopt, {group->images[1]}}));
}

TEST(IcnsReader, JpegTwoThousandWithinTheImageLimits) {
    if (!canDecodeJpeg2000()) GTEST_SKIP() << "built without JPEG 2000";
    struct Case {
        std::uint32_t side;
        bool decodes;
    } cases[] = {
        {16, true}, {limits::kMaxImageSide, true}, {limits::kMaxImageSide + 1, false}, {65535, false}};
    for (const Case& c : cases) {
        const Data stream = codestream(c.side, c.side);
        const auto image = decodeJpeg2000(stream);
        ASSERT_EQ(image.has_value(), c.decodes) << c.side;
        if (image) {
            EXPECT_EQ(image->width, c.side);
        }
    }
    const IconFile file =
        openBytes(icnsFile({{"ic08", codestream(16, 16)}, {"ic09", codestream(65535, 65535)}}));
    ASSERT_EQ(file.count(), 1u);
    EXPECT_EQ(imageList(file.group(0)), std::vector<std::string>{"16x16x32"});
}

}  // namespace
}  // namespace pictrove::test
