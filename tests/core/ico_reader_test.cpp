#include <gtest/gtest.h>

#include "group_file.h"
#include "icon_source/readers.h"
#include "image/dib.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using List = std::vector<std::string>;

TEST(IcoReader, OneIconOfAllStoredImages) {
    struct Case {
        const char* fixture;
        List images;
    } cases[] = {
        {"ico/multi.ico", {"16x16x4", "32x32x8", "32x32x32", "48x48x32", "256x256x32png"}},
        {"ico/bpp16_565.ico", {"17x17x16"}},
        {"ico/png256.ico", {"256x256x32png"}},
        {"ico/cursor.cur", {"32x32x1"}},
    };
    for (const Case& c : cases) {
        const auto file = readFixture(c.fixture);
        const auto read = readWhereAsked(file, readIcoFile);
        const auto& group = read.group;
        ASSERT_TRUE(group) << c.fixture;
        EXPECT_FALSE(group->name) << c.fixture;
        EXPECT_EQ(imageList(*group), c.images) << c.fixture;
    }
}

// Offsets in the 6-byte header and in the first 16-byte entry.
constexpr std::size_t kType = 2, kCount = 4, kEntrySize = 6 + 8, kEntryOffset = 6 + 12;

TEST(IcoReader, DirectoryDamage) {
    const auto good = readFixture("ico/multi.ico");
    const std::uint64_t size = good.size();
    struct Case {
        const char* what;
        std::size_t offset;
        int width;
        std::uint64_t value;
        std::size_t images;  // 0: no icon at all
    } cases[] = {
        {"reserved word set", 0, 2, 1, 0},
        {"type 3", kType, 2, 3, 0},
        {"no images", kCount, 2, 0, 0},
        {"more entries than fit", kCount, 2, 0xFFFF, 0},
        {"fewer entries", kCount, 2, 2, 2},
        {"first image offset at the end", kEntryOffset, 4, size, 4},
        {"first image offset all ones", kEntryOffset, 4, 0xFFFFFFFF, 4},
        {"first image offset into the directory", kEntryOffset, 4, 6, 4},
        {"first image size zero", kEntrySize, 4, 0, 4},
        // A size past the end is damage, even where the bitmap would fit.
        {"first image size all ones", kEntrySize, 4, 0xFFFFFFFF, 4},
        {"first image size huge", kEntrySize, 4, 0x7FFFFFFF, 4},
        {"last image one byte past the end", kEntrySize + 4 * 16, 4,
         size - peek(good, kEntryOffset + 4 * 16, 4) + 1, 4},
        // The PNG's header lies right behind the four bytes the entry holds.
        {"PNG image shorter than its header", kEntrySize + 4 * 16, 4, 4, 4},
    };
    for (const Case& c : cases) {
        auto bytes = good;
        poke(bytes, c.offset, c.width, c.value);
        const auto read = readWhereAsked(bytes, readIcoFile);
        EXPECT_EQ(read.group ? read.group->images.size() : 0u, c.images) << c.what;
    }
}

TEST(IcoReader, CutFilesKeepTheImagesStillWhole) {
    // Cutting multi.ico inside its fourth image leaves the first three.
    auto bytes = readFixture("ico/multi.ico");
    const std::uint64_t fourth = peek(bytes, 6 + 3 * 16 + 12, 4);
    bytes.resize(fourth + 100);
    const auto read = readWhereAsked(bytes, readIcoFile);
    ASSERT_TRUE(read.group);
    EXPECT_EQ(imageList(*read.group), (List{"16x16x4", "32x32x8", "32x32x32"}));
    bytes.resize(6 + 5 * 16 - 1);
    EXPECT_FALSE(readWhereAsked(bytes, readIcoFile).group);
}

TEST(GroupFile, EveryImageByteForByteBehindARebuiltDirectory) {
    struct Case {
        const char* fixture;
        GroupKind kind;
        std::size_t group;
        std::uint16_t type;
    } cases[] = {
        {"pe/three64.dll", GroupKind::icons, 1, 1},  // PNG included
        {"ico/multi.ico", GroupKind::icons, 0, 1},    {"pe/cursors32.dll", GroupKind::cursors, 1, 2},
        {"ne/cursors.exe", GroupKind::cursors, 1, 2}, {"ico/cursor.cur", GroupKind::icons, 0, 2},
    };
    for (const Case& c : cases) {
        auto bytes = readFixture(c.fixture);
        if (std::string(c.fixture) == "ico/multi.ico") {
            for (std::size_t entry = 0; entry < 5; ++entry)
                poke(bytes, 6 + 16 * entry, 4, 0x01020304);  // lies
        }
        const auto file = openBytes(bytes, c.kind);
        const IconGroup& group = file.group(c.group);
        const auto built = buildGroupFile(group);
        ASSERT_TRUE(built) << c.fixture;
        const std::vector<std::byte> written(
            reinterpret_cast<const std::byte*>(built->data()),
            reinterpret_cast<const std::byte*>(built->data() + built->size()));
        EXPECT_EQ(peek(written, kType, 2), c.type) << c.fixture;
        const auto back = readIcoFile(written);
        ASSERT_TRUE(back) << c.fixture;
        EXPECT_EQ(imageList(*back), imageList(group)) << c.fixture;
        for (std::size_t i = 0; i < group.images.size(); ++i) {
            const auto& a = back->images[i];
            const auto& b = group.images[i];
            // Byte for byte, without the padding 16-bit executables add.
            ASSERT_LE(a.data.size(), b.data.size()) << c.fixture;
            EXPECT_GE(a.data.size() + 16, b.data.size()) << c.fixture;
            const Bytes x = a.data, y = b.data;
            EXPECT_TRUE(std::equal(x.begin(), x.end(), y.begin())) << c.fixture;
            EXPECT_EQ(a.hotSpot, b.hotSpot) << c.fixture << " image " << i;
            const std::size_t entry = 6 + 16 * i;
            EXPECT_EQ(peek(written, entry, 1), b.info.width % 256) << c.fixture;
            if (c.type == 1) {
                EXPECT_EQ(peek(written, entry + 6, 2), b.info.bits) << c.fixture;
            }
        }
    }
    // A group naming one image far too often is refused before any allocation.
    const auto multi = readFixture("ico/multi.ico");
    IconGroup huge;
    huge.images.assign(65535, readIcoFile(multi)->images[3]);  // 48 x 48 x 32, some 9 KiB
    EXPECT_FALSE(buildGroupFile(huge));
    EXPECT_FALSE(buildGroupFile(IconGroup{}));
}

TEST(AniReader, TakesTheFirstFrame) {
    // Reaching the frames at all means the odd-sized INFO list's pad byte was
    // stepped over.
    const auto file = readFixture("ico/anim.ani");
    const auto read = readWhereAsked(file, readAniFile);
    const auto& group = read.group;
    ASSERT_TRUE(group);
    EXPECT_EQ(imageList(*group), (List{"32x32x4"}));  // the second frame is 24-bit
    const auto image = decodeDib(group->images[0].data);
    ASSERT_TRUE(image);
    expectPixels(
        *image,
        [](int x, int y) {
            Rgba c = paletteRgb(indexAt(x, y, 4));
            c.a = andAt(x, y) ? 0 : 255;
            return c;
        },
        "first frame");
}

TEST(AniReader, ChunkDamage) {
    const auto good = readFixture("ico/anim.ani");
    const Fields fields = readFields("ico/anim.ani");
    const std::string fram = "LIST.1.fram.";
    struct Case {
        std::string field;
        std::uint64_t value;
        const char* frame;  // the image list of what is read, or nothing
    } cases[] = {
        // The RIFF size is often wrong in the wild; the file's end is what counts.
        {"riff.size", 0, "32x32x4"},
        {"riff.size", 0xFFFFFFFF, "32x32x4"},
        {"LIST.0.size", 0xFFFFFFFF, nullptr},  // the walk cannot get past it
        {"LIST.0.size", 5, nullptr},           // and lands in the middle of nowhere
        {"LIST.1.size", 0xFFFFFFFF, nullptr},
        {fram + "icon.0.size", 0, nullptr},  // the first frame decides, even when empty
        {fram + "icon.0.size", 0x7FFFFFFF, nullptr},
        {fram + "icon.0.count", 0, nullptr},
        {fram + "icon.0.image_offset", 0xFFFF, nullptr},
        {fram + "icon.0.image_size", 0xFFFFFFFF, nullptr},  // past the chunk
    };
    for (const Case& c : cases) {
        auto bytes = good;
        patch(bytes, fields, c.field, c.value);
        const auto read = readWhereAsked(bytes, readAniFile);
        const auto& group = read.group;
        if (c.frame) {
            ASSERT_TRUE(group) << c.field << "=" << c.value;
            EXPECT_EQ(imageList(*group), List{c.frame}) << c.field << "=" << c.value;
        } else {
            EXPECT_FALSE(group) << c.field << "=" << c.value;
        }
    }
}

}  // namespace
}  // namespace pictrove::test
