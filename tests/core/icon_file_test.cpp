#include "icon_source/icon_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "icon_source/readers.h"
#include "image/decoded_images.h"
#include "image/png.h"
#include "pe_builder.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

std::vector<IconImage> images(std::initializer_list<ImageInfo> infos) {
    std::vector<IconImage> list;
    for (const ImageInfo& info : infos) list.push_back(IconImage{info, {}, {}});
    return list;
}

TEST(RankImages, ClosestSizeThenClosestDepthThenFirst) {
    struct Case {
        const char* what;
        std::vector<IconImage> images;
        std::vector<std::size_t> order;
    } cases[] = {
        {"exact size beats deeper", images({{48, 48, 32}, {32, 32, 4}, {16, 16, 32}}), {1, 0, 2}},
        {"size ties fall to depth", images({{16, 16, 8}, {48, 48, 32}}), {1, 0}},
        {"depth closest to 32", images({{32, 32, 8}, {32, 32, 24}, {32, 32, 32}, {32, 32, 1}}), {2, 1, 0, 3}},
        {"first of equals", images({{32, 32, 8}, {32, 32, 8}, {32, 32, 8}}), {0, 1, 2}},
        {"width and height differences add up",
         images({{40, 40, 32}, {32, 16, 32}, {32, 64, 32}}),
         {0, 1, 2}},
        {"256 is far away", images({{256, 256, 32, true}, {16, 16, 1}}), {1, 0}},
        {"png counts as 32 bits", images({{32, 32, 8}, {32, 32, 32, true}}), {1, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rankImages(c.images), c.order) << c.what;
        EXPECT_EQ(bestImage(c.images), c.order.front()) << c.what;
    }
    EXPECT_EQ(rankImages(images({{16, 16, 4}, {48, 48, 8}}), 48), (std::vector<std::size_t>{1, 0}));
    EXPECT_EQ(bestImage(images({{16, 16, 4}, {48, 48, 8}}), 48), 1u);
}

// An ELF file whose section kElfIconSection holds an icon file; fields are
// written little-endian whatever byte order the header claims.
std::vector<std::byte> elfWithIcon(bool wide, std::uint8_t byteOrder, std::uint16_t entrySize) {
    const std::string names = std::string("\0.shstrtab\0", 11) + std::string(kElfIconSection) + '\0';
    std::vector<std::byte> file(wide ? 0x40 : 0x34);
    poke(file, 0, 4, 0x464C457F);                                    // "\x7F" "ELF"
    poke(file, 4, 3, (wide ? 2u : 1u) | byteOrder << 8 | 1u << 16);  // class, byte order, version
    const std::uint64_t namesAt = file.size();
    for (const char c : names) file.push_back(std::byte(c));
    const auto icon = readFixture("ico/bpp1.ico");
    const std::uint64_t iconAt = file.size();
    file.insert(file.end(), icon.begin(), icon.end());
    const std::uint64_t table = file.size();
    file.resize(table + 3 * std::uint64_t{entrySize} + 8);  // room for the fields of an entry too short
    const int width = wide ? 8 : 4;
    poke(file, wide ? 0x28 : 0x20, width, table);
    poke(file, wide ? 0x3A : 0x2E, 2, entrySize);
    poke(file, wide ? 0x3C : 0x30, 2, 3);
    poke(file, wide ? 0x3E : 0x32, 2, 1);  // the section names
    const std::uint64_t sections[2][3] = {{1, namesAt, names.size()}, {11, iconAt, icon.size()}};
    for (int i = 0; i < 2; ++i) {  // name, offset and size of sections 1 and 2
        const std::uint64_t header = table + (i + 1) * std::uint64_t{entrySize};
        poke(file, header, 4, sections[i][0]);
        poke(file, header + (wide ? 0x18 : 0x10), width, sections[i][1]);
        poke(file, header + (wide ? 0x20 : 0x14), width, sections[i][2]);
    }
    return file;
}

TEST(IconFile, ElfIconSectionsOfEitherClassLittleEndianOnly) {
    struct Case {
        bool wide;
        std::uint8_t byteOrder;
        std::uint16_t entrySize;
        std::size_t count;
    } cases[] = {
        {false, 1, 40, 1}, {false, 1, 0x18, 1}, {false, 1, 0x17, 0},  // the fields read must fit the entry
        {true, 1, 64, 1},  {true, 1, 0x28, 1},  {true, 1, 0x27, 0},
        {false, 2, 40, 0}, {true, 2, 64, 0},  // big-endian
    };
    for (const Case& c : cases) {
        const IconFile file = openBytes(elfWithIcon(c.wide, c.byteOrder, c.entrySize));
        EXPECT_EQ(file.kind(), SourceKind::elf);
        EXPECT_EQ(file.count(), c.count) << c.wide << " " << int{c.byteOrder} << " " << c.entrySize;
    }
}

// Past the size read whole, every kind is read in the parts its reader walks:
// a large library with no icons, or a large icon file, is not read through.
TEST(IconFile, LargeFilesAreReadOnlyWhereTheReaderWalks) {
    const auto path = std::filesystem::path(::testing::TempDir()) / "pictrove-large-source";
    const std::pair<const char*, std::vector<std::byte>> cases[] = {
        {"ico", readFixture("ico/multi.ico")}, {"ani", readFixture("ico/anim.ani")},
        {"ne", readFixture("ne/icons.icl")},   {"pe", readFixture("pe/three64.dll")},
        {"elf", elfWithIcon(true, 1, 64)},     {"elf without icons", elfWithIcon(true, 1, 0x27)},
    };
    for (const auto& [what, bytes] : cases) {
        auto large = bytes;
        large.resize(limits::kReadWholeUpTo + (std::size_t{2} << 20), std::byte{0x5A});
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(large.data()), static_cast<std::streamsize>(large.size()));
        const auto file = MappedFile::open(path);
        ASSERT_TRUE(file);
        const IconFile icons = IconFile::fromFile(*file);
        const IconFile small = IconFile::fromFile(MappedFile::fromBuffer(bytes));
        expectSameGroups(icons, small, what);
        EXPECT_LE(file->bytesRead(), std::uint64_t{128} << 10) << what;
    }
    std::filesystem::remove(path);
}

// Listing a library reads each image's header; a body is read when its
// image is first decoded, and only that body.
TEST(IconFile, ImageBodiesAreReadWhenDecoded) {
    std::vector<std::vector<std::uint8_t>> images;
    for (std::uint32_t i = 0; i < 4; ++i) images.push_back(testing::solidIconDib(0xFF000000u | i, 256));
    const auto library = testing::buildIconLibrary(images);
    std::vector<std::byte> bytes(library.size());
    std::memcpy(bytes.data(), library.data(), library.size());
    const MappedFile file = readWhereAsked(bytes);
    const IconFile icons = IconFile::fromFile(file);
    ASSERT_EQ(icons.count(), 4u);
    const std::uint64_t listed = file.bytesRead();
    EXPECT_LT(listed, 4096u);
    ASSERT_TRUE(icons.icon(2));
    const std::uint64_t body = file.bytesRead() - listed;
    EXPECT_GE(body, images[2].size());
    EXPECT_LT(body, 2 * images[2].size());
    expectSameGroups(icons, IconFile::fromFile(MappedFile::fromBuffer(bytes)), "library");
}

TEST(IconFile, KindsAndCountsOfEveryFixture) {
    struct Case {
        const char* fixture;
        SourceKind kind;
        std::size_t count;
    } cases[] = {
        {"ico/bpp8.ico", SourceKind::ico, 1},
        {"ico/multi.ico", SourceKind::ico, 1},
        {"ico/cursor.cur", SourceKind::cur, 1},
        {"ico/anim.ani", SourceKind::ani, 1},
        {"pe/three32.dll", SourceKind::pe32, 3},
        {"pe/three64.dll", SourceKind::pe32plus, 3},
        {"sample.dll", SourceKind::pe32, 12},
        {"ne/icons.icl", SourceKind::ne, 4},
        {"ne/shift9.exe", SourceKind::ne, 2},
        {"ne/icons.icl.fields", SourceKind::none, 0},
        {"pe/cursors32.dll", SourceKind::pe32, 1},
        {"ne/cursors.exe", SourceKind::ne, 1},
        {"windows/System32/IMAGERES.DLL", SourceKind::pe32plus, 0},
    };
    for (const Case& c : cases) {
        const auto file = IconFile::open(dataPath(c.fixture));
        ASSERT_TRUE(file) << c.fixture;
        EXPECT_EQ(file->kind(), c.kind) << c.fixture;
        EXPECT_EQ(file->count(), c.count) << c.fixture;
    }
}

TEST(IconFile, EveryFixtureIconComesOut32x32) {
    for (const std::string& fixture : allFixtures()) {
        const auto file = IconFile::open(dataPath(fixture));
        ASSERT_TRUE(file) << fixture;
        ASSERT_GT(file->count(), 0u) << fixture;
        for (std::size_t i = 0; i < file->count(); ++i) {
            const auto icon = file->icon(i);
            ASSERT_TRUE(icon) << fixture << " icon " << i;
            EXPECT_EQ(icon->width, 32u);
            EXPECT_EQ(icon->height, 32u);
            EXPECT_EQ(icon->bgra.size(), 32u * 32 * 4);
            EXPECT_EQ(icon->mask.size(), 32u * 32);
        }
        EXPECT_FALSE(file->icon(file->count())) << fixture;
    }
}

// "name:WxHxB@x,y" per image of every cursor group, in delivery order.
std::vector<std::string> cursorList(const IconFile& file) {
    std::vector<std::string> list;
    const auto names = groupNames(file);
    for (std::size_t i = 0; i < file.count(); ++i) {
        const auto images = imageList(file.group(i));
        for (std::size_t j = 0; j < images.size(); ++j) {
            const auto& spot = file.group(i).images[j].hotSpot;
            list.push_back(names[i] + ":" + images[j] +
                           (spot ? "@" + std::to_string(spot->x) + "," + std::to_string(spot->y) : ""));
        }
    }
    return list;
}

TEST(IconFile, CursorGroupsWithTheirHotSpots) {
    struct Case {
        const char* fixture;
        std::vector<std::string> cursors;
    } cases[] = {
        {"pe/cursors32.dll", {"HAND:32x32x32@16,9", "1:32x32x1@3,5", "1:48x48x32@30,2"}},
        {"ne/cursors.exe", {"POINT:16x16x4@16,9", "1:32x32x1@3,5", "1:48x48x32@30,2"}},
        {"ico/cursor.cur", {"-:32x32x1@5,7"}},  // cursor files are read alike either way
        {"pe/three32.dll", {}},
    };
    for (const Case& c : cases) {
        const auto file = IconFile::open(dataPath(c.fixture), GroupKind::cursors);
        ASSERT_TRUE(file) << c.fixture;
        EXPECT_EQ(cursorList(*file), c.cursors) << c.fixture;
        for (std::size_t i = 0; i < file->count(); ++i) EXPECT_TRUE(file->icon(i)) << c.fixture << " " << i;
    }
    // Icon groups carry no hot spot, and a cursor file's spot is not mistaken
    // for an icon's planes and depth.
    EXPECT_EQ(cursorList(*IconFile::open(dataPath("ne/cursors.exe"))),
              (std::vector<std::string>{"1:32x32x4"}));
}

TEST(IconFile, SystemLibrariesHandOverToTheirMunFile) {
    namespace fs = std::filesystem;
    const fs::path library = dataPath("windows/System32/IMAGERES.DLL");
    const auto redirected = IconFile::openFollowingRedirect(library);
    ASSERT_TRUE(redirected);
    EXPECT_EQ(redirected->count(), 2u);
    EXPECT_EQ(redirected->redirectedTo().filename(), "imageres.dll.mun");
    EXPECT_EQ(redirected->icon(1)->width, 32u);

    // Files with icons of their own, or without a .mun, stay themselves; so
    // does a library whose .mun holds no groups of the kind asked for.
    const fs::path temp = fs::temp_directory_path() / ("pictrove-mun-" + std::to_string(getpid()));
    fs::create_directories(temp / "bin");
    fs::create_directories(temp / "SYSTEMRESOURCES");
    fs::copy_file(library, temp / "bin" / "imageres.dll");
    fs::copy_file(library, temp / "bin" / "other.dll");
    fs::copy_file(dataPath("windows/SystemResources/imageres.dll.mun"),
                  temp / "SYSTEMRESOURCES" / "IMAGERES.DLL.MUN");
    struct Case {
        fs::path file;
        GroupKind kind;
        std::size_t count;
        bool redirected;
    } cases[] = {
        {temp / "bin" / "imageres.dll", GroupKind::icons, 2, true},
        {temp / "bin" / "other.dll", GroupKind::icons, 0, false},
        {temp / "bin" / "imageres.dll", GroupKind::cursors, 0, false},
        {dataPath("pe/three32.dll"), GroupKind::icons, 3, false},
        {dataPath("windows/SystemResources/imageres.dll.mun"), GroupKind::icons, 2, false},
    };
    for (const Case& c : cases) {
        const auto file = IconFile::openFollowingRedirect(c.file, c.kind);
        ASSERT_TRUE(file) << c.file;
        EXPECT_EQ(file->count(), c.count) << c.file;
        EXPECT_EQ(!file->redirectedTo().empty(), c.redirected) << c.file;
    }
    fs::remove_all(temp);
    EXPECT_FALSE(IconFile::openFollowingRedirect(temp / "bin" / "imageres.dll"));
}

TEST(IconFile, ChoosesByImageHeadersNotDirectoryEntries) {
    // Entries claiming 0x0 (read as 256 by some), 1 bit and a wrong colour
    // count must not move the choice away from the 32x32 32-bit image.
    auto bytes = readFixture("ico/multi.ico");
    const auto honest = openBytes(bytes);
    ASSERT_EQ(honest.chosenImage(0), 2u);
    for (std::size_t entry = 0; entry < 5; ++entry) {
        const std::size_t at = 6 + 16 * entry;
        poke(bytes, at, 1, 0);      // width
        poke(bytes, at + 1, 1, 0);  // height
        poke(bytes, at + 2, 1, 7);  // colours
        poke(bytes, at + 6, 2, 1);  // bit count
    }
    const auto lying = openBytes(bytes);
    ASSERT_EQ(lying.count(), 1u);
    EXPECT_EQ(imageList(lying.group(0)), imageList(honest.group(0)));
    EXPECT_EQ(lying.chosenImage(0), 2u);
    EXPECT_EQ(lying.icon(0)->bgra, honest.icon(0)->bgra);
}

TEST(IconFile, ScalesToTheSystemSize) {
    struct Case {
        const char* fixture;
        std::function<Rgba(int, int)> expected;
    } cases[] = {
        {"ico/blocks48.ico", [](int x, int y) { return blockRgb(x, y, 2); }},
        {"ico/only16.ico",
         [](int x, int y) {
             Rgba c = rgbAt(x / 2, y / 2);
             if (andAt(x / 2, y / 2)) c = {0, 0, 0, 0};
             return c;
         }},
        {"ico/png256.ico",
         [](int x, int y) {
             Rgba c = blockRgb(x, y, 1);
             if (x < 8 && y < 8) c = {0, 0, 0, 0};
             return c;
         }},
        {"ico/bpp32_alpha.ico",
         [](int x, int y) {
             Rgba c = rgbAt(x, y);
             c.a = alphaAt(x, y);
             return c;
         }},
    };
    for (const Case& c : cases) {
        const auto file = IconFile::open(dataPath(c.fixture));
        ASSERT_TRUE(file && file->count() == 1) << c.fixture;
        const auto icon = file->icon(0);
        ASSERT_TRUE(icon) << c.fixture;
        expectPixels(*icon, c.expected, c.fixture);
    }
}

// An icon file of the given stored images, with honest directory entries.
std::vector<std::byte> iconFileOf(const std::vector<Bytes>& images) {
    std::vector<std::byte> out(6 + 16 * images.size());
    poke(out, 2, 2, 1);
    poke(out, 4, 2, images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        poke(out, 6 + 16 * i + 8, 4, images[i].size());
        poke(out, 6 + 16 * i + 12, 4, out.size());
        out.insert(out.end(), images[i].begin(), images[i].end());
    }
    return out;
}

TEST(IconFile, FallsBackWhenTheChosenImageWillNotDecode) {
    // A PNG whose header claims 32x32 is chosen first, but its checksum no
    // longer matches; the 16x16 bitmap is shown instead, scaled up.
    const auto pngFile = readFixture("ico/png256.ico");
    const auto dibFile = readFixture("ico/only16.ico");
    std::vector<std::byte> png(pngFile.begin() + 22, pngFile.end());
    for (std::size_t at : {16u, 20u}) poke(png, at, 4, 0x20000000);  // big-endian 32
    const Bytes dib = Bytes(dibFile).subspan(22);

    const auto file = openBytes(iconFileOf({png, dib}));
    ASSERT_EQ(file.count(), 1u);
    EXPECT_EQ(imageList(file.group(0)), (std::vector<std::string>{"32x32x32png", "16x16x24"}));
    EXPECT_EQ(file.chosenImage(0), 0u);
    const auto icon = file.icon(0);
    ASSERT_TRUE(icon);
    EXPECT_EQ(pixel(*icon, 31, 31), rgbAt(15, 15));

    const auto broken = openBytes(iconFileOf({png}));
    ASSERT_EQ(broken.count(), 1u);
    EXPECT_FALSE(broken.icon(0));
}

TEST(IconFile, OpenErrorsAndEmptyFiles) {
    const auto missing = IconFile::open(dataPath("no-such-file.dll"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::cannotOpen);
    EXPECT_NE(missing.error().message.find("no-such-file.dll"), std::string::npos);

    const auto folder = IconFile::open(dataPath("ico"));
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code, ErrorCode::cannotOpen);

    using namespace std::literals;
    for (std::string_view bytes : {""sv, "MZ"sv, "\0\0\1\0"sv, "\0\0\1\0\0\0"sv, "RIFF\4\0\0\0ACON"sv}) {
        const auto* begin = reinterpret_cast<const std::byte*>(bytes.data());
        EXPECT_EQ(openBytes({begin, begin + bytes.size()}).count(), 0u) << bytes.size() << " bytes";
    }
}

// The resource section moved 2 MiB past the headers, so that the file is read
// in parts: every icon must still come out, and a file cut short on disk
// after it was opened must give damaged icons, never a fault.
TEST(IconFile, FilesReadInPartsAndFilesThatShrink) {
    const IconFile expected = openBytes(readFixture("sample.dll"));
    auto bytes = readFixture("sample.dll");
    const std::uint64_t rsrc = peek(bytes, readFields("sample.dll").at("section.rsrc.rawptr").offset, 4);
    constexpr std::size_t kGap = std::size_t{2} << 20;
    for (const auto& [label, field] : readFields("sample.dll")) {
        if (label.ends_with(".rawptr") && peek(bytes, field.offset, 4) >= rsrc)
            poke(bytes, field.offset, 4, peek(bytes, field.offset, 4) + kGap);
    }
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(rsrc), kGap, std::byte{0});
    const auto path = std::filesystem::path(::testing::TempDir()) / "pictrove-shrinking.dll";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    const auto whole = IconFile::open(path);
    const auto early = MappedFile::open(path);
    ASSERT_TRUE(whole && early);
    const auto first = IconFile::open(path, GroupKind::icons, 1);
    ASSERT_TRUE(first && first->count() == 1);
    EXPECT_EQ(first->icon(0)->bgra, expected.icon(0)->bgra);
    // Icons decoded before the cut read their images then, and those bytes
    // stay as they were.
    ASSERT_EQ(whole->count(), expected.count());
    for (std::size_t i = 0; i < expected.count(); ++i) ASSERT_TRUE(whole->icon(i)) << i;
    std::filesystem::resize_file(path, rsrc + kGap + 600);
    for (std::size_t i = 0; i < expected.count(); ++i) {
        const auto icon = whole->icon(i);
        ASSERT_TRUE(icon) << i;
        EXPECT_EQ(icon->bgra, expected.icon(i)->bgra) << i;
    }
    // Images not yet read when the file was cut come out damaged or not at all.
    for (std::size_t i = 0; i < first->count(); ++i) first->icon(i, 48);
    // Cut before the resources were read: what is missing reads as zero.
    const IconFile shrunk = IconFile::fromFile(*early);
    EXPECT_LT(shrunk.count(), expected.count());
    for (std::size_t i = 0; i < shrunk.count(); ++i) shrunk.icon(i);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace pictrove::test

namespace pictrove::test {
namespace {

// Two threads ask for every icon and every stored image of `file`, the way
// extract spreads one file's icons over the cores.
void askForEverything(const IconFile& file, bool decodes) {
    const auto ask = [&] {
        for (std::size_t i = 0; i < file.count(); ++i) {
            EXPECT_EQ(file.icon(i).has_value(), decodes);
            EXPECT_EQ(file.icon(i, 48).has_value(), decodes);
            for (const IconImage& image : file.group(i).images)
                EXPECT_EQ(file.decode(image) != nullptr, decodes);
        }
    };
    std::thread other(ask);
    ask();
    other.join();
}

TEST(IconFile, AnImageNamedManyTimesIsDecodedOnce) {
    // 500 groups sharing one 1024 x 1024 PNG; one group naming a PNG that
    // fails late 1,000 times.
    for (const auto& [name, decodes] :
         {std::pair("work-shared-png.dll", true), {"work-failing-png.dll", false}}) {
        const auto file = openBytes(readFixture(std::string("../../fuzz/crashers/icon_file/") + name));
        ASSERT_GT(file.count(), 0u) << name;
        askForEverything(file, decodes);
        EXPECT_EQ(file.decodesRun(), 1u) << name;
        EXPECT_FALSE(file.decodeBudgetPassed()) << name;
    }
}

// What is kept of shared pictures stays within its room: past it, a picture
// is made for each caller and nothing more is held.
TEST(IconFile, SharedPicturesAreKeptWithinTheirRoom) {
    MadeOnce<int> made(10);
    int makes = 0;
    const auto make = [&]() -> std::optional<int> { return ++makes; };
    for (int ask = 0; ask < 3; ++ask) EXPECT_EQ(*made.get({1, 1, 0}, 6, make), 1);
    EXPECT_EQ(makes, 1);
    for (int ask = 0; ask < 3; ++ask) made.get({2, 1, 0}, 6, make);
    EXPECT_EQ(makes, 4);
    for (int ask = 0; ask < 3; ++ask) made.get({3, 1, 0}, 4, make);
    EXPECT_EQ(makes, 5);
}

TEST(IconFile, DecodingStopsAtTheFilesPixelBudget) {
    EXPECT_EQ(decodeBudget(0), std::uint64_t{16} << 20);
    EXPECT_EQ(decodeBudget(std::uint64_t{3} << 20), std::uint64_t{48} << 20);
    EXPECT_EQ(decodeBudget(UINT64_MAX), UINT64_MAX / 16 * 16);
    // Seventeen 1024 x 1024 images in a file far smaller than a million
    // bytes: sixteen fit the budget.
    std::vector<std::vector<std::byte>> pngs;
    for (std::uint8_t n = 0; n < 17; ++n) {
        Image image;
        image.width = image.height = 1024;
        image.bgra.assign(image.pixelCount() * 4, n);
        const auto png = encodePng(image);
        ASSERT_TRUE(png);
        const Bytes bytes = std::as_bytes(std::span(*png));
        pngs.emplace_back(bytes.begin(), bytes.end());
    }
    const auto file = openBytes(iconFileOf({pngs.begin(), pngs.end()}));
    ASSERT_EQ(file.count(), 1u);
    std::size_t decoded = 0;
    for (const IconImage& image : file.group(0).images) decoded += file.decode(image) != nullptr;
    EXPECT_EQ(decoded, 16u);
    EXPECT_TRUE(file.decodeBudgetPassed());
    // Nothing more is tried once the budget is spent.
    EXPECT_FALSE(file.icon(0, 1024 - 1));
    EXPECT_EQ(file.decodesRun(), 16u);
}

}  // namespace
}  // namespace pictrove::test
