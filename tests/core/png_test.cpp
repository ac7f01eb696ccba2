#include "image/png.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#ifndef _WIN32
#include <libdeflate.h>
#include <zlib.h>
#endif

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

// A PNG laid out byte by byte, its image data in stored (uncompressed)
// deflate blocks, so that any colour type, depth and interlacing can be made.
struct PngLayout {
    std::uint8_t colourType, depth;
    bool interlaced;
    std::vector<std::uint8_t> palette, transparency;
    std::function<std::vector<int>(int k)> samples;  // of pixel k = x + 3 * y
};

void putChunk(std::vector<std::byte>& png, const char* type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t b : body) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    const std::size_t at = png.size();
    png.resize(at + 4 + body.size() + 4);
    putBigEndian(png, at, static_cast<std::uint32_t>(data.size()));
    for (std::size_t i = 0; i < body.size(); ++i) png[at + 4 + i] = std::byte{body[i]};
    putBigEndian(png, png.size() - 4, ~crc);
}

// A 3 x 3 image, interlaced or not.
std::vector<std::byte> buildPng(const PngLayout& layout) {
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes =
        layout.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                          : std::vector<Pass>{{0, 0, 1, 1}};
    std::vector<std::uint8_t> raw;
    for (const Pass& pass : passes) {
        for (int y = pass.y0; y < 3 && pass.x0 < 3; y += pass.dy) {
            raw.push_back(0);  // no filter
            std::uint32_t bits = 0, held = 0;
            for (int x = pass.x0; x < 3; x += pass.dx) {
                for (int sample : layout.samples(x + 3 * y)) {
                    if (layout.depth == 16) raw.push_back(static_cast<std::uint8_t>(sample >> 8));
                    bits = bits << (layout.depth % 16 == 0 ? 8 : layout.depth) | (sample & 0xFF);
                    held += layout.depth == 16 ? 8 : layout.depth;
                    for (; held >= 8; held -= 8) raw.push_back(static_cast<std::uint8_t>(bits >> (held - 8)));
                }
            }
            if (held > 0) raw.push_back(static_cast<std::uint8_t>(bits << (8 - held)));
        }
    }
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) b = (b + (a = (a + byte) % 65521)) % 65521;
    const auto n = static_cast<std::uint16_t>(raw.size());
    std::vector<std::uint8_t> zlib = {
        0x78, 0x01, 0x01, std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(~n), std::uint8_t(~n >> 8)};
    zlib.insert(zlib.end(), raw.begin(), raw.end());
    for (int shift : {24, 16, 8, 0}) zlib.push_back(static_cast<std::uint8_t>((b << 16 | a) >> shift));

    std::vector<std::byte> png = {std::byte{0x89}, std::byte{'P'},  std::byte{'N'},  std::byte{'G'},
                                  std::byte{'\r'}, std::byte{'\n'}, std::byte{0x1A}, std::byte{'\n'}};
    putChunk(png, "IHDR", {0, 0, 0, 3, 0, 0, 0, 3, layout.depth, layout.colourType, 0, 0, layout.interlaced});
    if (!layout.palette.empty()) putChunk(png, "PLTE", layout.palette);
    if (!layout.transparency.empty()) putChunk(png, "tRNS", layout.transparency);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

// Every colour type and the depths icons use, each decoded to straight BGRA
// by whichever codec the platform has: transparency chunks applied, 16-bit
// samples cut to their high byte, small samples scaled to the full range.
TEST(Png, DecodesEveryColourTypeAlike) {
    using Samples = std::vector<int>;
    struct Case {
        const char* what;
        PngLayout layout;
        std::function<Rgba(int k)> expected;
    };
    // clang-format off
    const Case cases[] = {
        {"grey 8", {0, 8, false, {}, {}, [](int k) { return Samples{k * 30}; }},
         [](int k) { return Rgba{k * 30, k * 30, k * 30}; }},
        {"grey 8 with a transparent value", {0, 8, false, {}, {0, 60}, [](int k) { return Samples{k * 30}; }},
         [](int k) { return Rgba{k * 30, k * 30, k * 30, k == 2 ? 0 : 255}; }},
        {"grey 1", {0, 1, false, {}, {}, [](int k) { return Samples{k % 2}; }},
         [](int k) { return Rgba{k % 2 * 255, k % 2 * 255, k % 2 * 255}; }},
        {"grey and alpha 8", {4, 8, false, {}, {}, [](int k) { return Samples{k * 30, 255 - k * 20}; }},
         [](int k) { return Rgba{k * 30, k * 30, k * 30, 255 - k * 20}; }},
        {"rgb 8 with a transparent colour",
         {2, 8, false, {}, {0, 60, 0, 100, 0, 170}, [](int k) { return Samples{k * 20, 100, 200 - k * 10}; }},
         [](int k) { return Rgba{k * 20, 100, 200 - k * 10, k == 3 ? 0 : 255}; }},
        {"rgba 16", {6, 16, false, {}, {}, [](int k) { return Samples{k * 7000, 300, 65535, 40000}; }},
         [](int k) { return Rgba{k * 7000 >> 8, 1, 255, 156}; }},
        {"palette 2 with partial transparency",
         {3, 2, false, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}, {0, 128, 255},
          [](int k) { return Samples{k % 4}; }},
         [](int k) { return Rgba{10 + k % 4 * 30, 20 + k % 4 * 30, 30 + k % 4 * 30, std::array{0, 128, 255, 255}[k % 4]}; }},
        {"rgba 8 interlaced", {6, 8, true, {}, {}, [](int k) { return Samples{k * 25, 50, 75, 255 - k}; }},
         [](int k) { return Rgba{k * 25, 50, 75, 255 - k}; }},
    };
    // clang-format on
    for (const Case& c : cases) {
        const auto image = decodePng(buildPng(c.layout));
        ASSERT_TRUE(image) << c.what;
        expectPixels(
            *image, [&](int x, int y) { return c.expected(x + 3 * y); }, c.what);
    }
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

#ifndef _WIN32
// The quick encoding is libdeflate's quickest level, byte for byte, however
// the encoder keeps its compressor from one image to the next, and a stream
// zlib itself reads back: noise (a literal per byte) and flat areas, at sizes
// around block ends (22 x 23 and 26 x 39 give 2,047 and 4,095 bytes).
TEST(Png, QuickEncodingIsLibdeflatesQuickestLevel) {
    libdeflate_compressor* const compressor = libdeflate_alloc_compressor(1);
    ASSERT_NE(compressor, nullptr);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {1, 1}, {5, 3}, {16, 16}, {22, 23}, {26, 39}, {32, 32}, {33, 31}, {48, 48}, {64, 64}, {90, 90}};
    std::uint32_t seed = 12345;
    for (const auto& [width, height] : sizes) {
        for (const bool noise : {true, false}) {
            Image image;
            image.width = width;
            image.height = height;
            image.bgra.resize(image.pixelCount() * 4);
            image.mask.resize(image.pixelCount());
            for (std::size_t i = 0; i < image.bgra.size(); ++i) {
                seed = seed * 1103515245 + 12345;
                image.bgra[i] =
                    noise ? static_cast<std::uint8_t>(seed >> 16) : static_cast<std::uint8_t>(i / 97);
            }
            const auto png = encodePng(image, true);
            ASSERT_TRUE(png);
            // Signature and header chunk, then the one image data chunk.
            const std::size_t length = std::size_t{(*png)[33]} << 24 | std::size_t{(*png)[34]} << 16 |
                                       std::size_t{(*png)[35]} << 8 | (*png)[36];
            ASSERT_EQ(std::string(png->begin() + 37, png->begin() + 41), "IDAT");
            const std::vector<std::uint8_t> idat(png->begin() + 41, png->begin() + 41 + length);
            std::vector<std::uint8_t> rows(std::size_t{height} * (width * 4 + 1));
            uLongf size = static_cast<uLongf>(rows.size());
            ASSERT_EQ(uncompress(rows.data(), &size, idat.data(), static_cast<uLong>(idat.size())), Z_OK);
            ASSERT_EQ(size, rows.size());
            std::vector<std::uint8_t> expected(libdeflate_zlib_compress_bound(compressor, size));
            expected.resize(
                libdeflate_zlib_compress(compressor, rows.data(), size, expected.data(), expected.size()));
            EXPECT_EQ(idat, expected) << width << " x " << height << (noise ? " noise" : " flat");
        }
    }
    libdeflate_free_compressor(compressor);
}
#endif

#ifndef _WIN32
// A PNG of `side` x `side` 8-bit RGBA pixels, put together chunk by chunk:
// `before` ancillary chunks ahead of the image data, the stream split into
// `parts` chunks, `after` bytes after the end chunk. `window` sets the
// stream's window (bits), `filter` each row's filter byte, `extra` bytes
// after the stream inside the data.
struct PngParts {
    std::uint32_t side = 8;
    std::uint8_t colourType = 6;
    std::uint8_t interlace = 0;
    std::vector<std::pair<std::string, std::string>> before = {};
    int parts = 1;
    int window = 15;
    std::uint8_t filter = 1;
    std::string extra = {};
    std::vector<std::pair<std::string, std::string>> between = {};  // after the data, before the end
    std::string after = {};
};

std::vector<std::byte> madePng(const PngParts& p) {
    std::string out = "\x89PNG\r\n\x1a\n";
    const auto chunk = [&](const std::string& type, const std::string& body) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>(body.size() >> (24 - 8 * i));
        const std::string typed = type + body;
        out += typed;
        const auto sum = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
        for (int i = 0; i < 4; ++i) out += static_cast<char>(sum >> (24 - 8 * i));
    };
    std::string header;
    for (int i = 0; i < 4; ++i) header += static_cast<char>(p.side >> (24 - 8 * i));
    header += header;
    header +=
        std::string{'\x08', static_cast<char>(p.colourType), '\0', '\0', static_cast<char>(p.interlace)};
    chunk("IHDR", header);
    for (const auto& [type, body] : p.before) chunk(type, body);
    const std::size_t channels = p.colourType == 6 ? 4 : 3;
    std::string rows;
    for (std::uint32_t y = 0; y < p.side; ++y) {
        rows += static_cast<char>(p.filter);
        for (std::size_t x = 0; x < p.side * channels; ++x) rows += static_cast<char>(x * 7 + y * 13);
    }
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, p.window, 8, Z_DEFAULT_STRATEGY);
    std::string stream(deflateBound(&z, static_cast<uLong>(rows.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(rows.data());
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = reinterpret_cast<Bytef*>(stream.data());
    z.avail_out = static_cast<uInt>(stream.size());
    deflate(&z, Z_FINISH);
    stream.resize(z.total_out);
    deflateEnd(&z);
    stream += p.extra;
    const std::size_t part = stream.size() / static_cast<std::size_t>(p.parts) + 1;
    for (std::size_t at = 0; at < stream.size(); at += part) chunk("IDAT", stream.substr(at, part));
    for (const auto& [type, body] : p.between) chunk(type, body);
    chunk("IEND", "");
    out += p.after;
    std::vector<std::byte> bytes(out.size());
    std::memcpy(bytes.data(), out.data(), out.size());
    return bytes;
}

// Whether a stored PNG decodes is told without decoding it where it is
// plainly sound; the answer is the decoder's, whatever the file holds.
TEST(Png, TellingWhetherItDecodesIsTheDecodersAnswer) {
    const std::string gamma("\0\0\xb1\x8f", 4), zeroGamma(4, '\0');
    const std::vector<std::pair<const char*, PngParts>> cases = {
        {"plain", {}},
        {"the data in three chunks", {.parts = 3}},
        {"chunks before the data", {.before = {{"gAMA", gamma}, {"tEXt", std::string("Title\0A", 7)}}}},
        {"a gamma of nothing", {.before = {{"gAMA", zeroGamma}}}},
        {"a critical chunk unknown", {.before = {{"QQQQ", "x"}}}},
        {"a chunk between data and end", {.between = {{"tEXt", std::string("A\0b", 3)}}}},
        {"bytes after the end", {.after = "junk"}},
        {"a smaller window", {.window = 9}},
        {"bytes after the stream", {.extra = "zz"}},
        {"an unknown filter", {.filter = 5}},
        {"the largest filter", {.filter = 4}},
        {"colour without alpha", {.colourType = 2}},
        {"interlaced", {.interlace = 1}},
        {"a large picture", {.side = 300, .parts = 4}},
    };
    const auto agree = [](const std::vector<std::byte>& png, const std::string& what) {
        const auto decoded = decodePng(png);
        EXPECT_EQ(pngDecodes(png), decoded.has_value()) << what;
        return decoded.has_value();
    };
    std::size_t decoding = 0;
    for (const auto& [what, parts] : cases) decoding += agree(madePng(parts), what);
    EXPECT_GE(decoding, 8u);
    // Every byte changed and every length cut, of a plain one and of one in parts.
    for (const PngParts& parts : {PngParts{}, PngParts{.side = 5, .parts = 2, .filter = 4}}) {
        const auto good = madePng(parts);
        for (std::size_t at = 0; at < good.size(); ++at) {
            for (const int flip : {0x01, 0x80, 0xFF}) {
                auto changed = good;
                changed[at] ^= static_cast<std::byte>(flip);
                agree(changed, "byte " + std::to_string(at) + " ^ " + std::to_string(flip));
            }
            agree({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at)},
                  "cut at " + std::to_string(at));
        }
    }
    // And the Pillow image, whole and with its data damaged.
    auto pillow = storedPng();
    agree(pillow, "Pillow's");
    pillow[pillow.size() / 2] ^= std::byte{0x55};
    agree(pillow, "Pillow's, damaged");
}
#endif

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
