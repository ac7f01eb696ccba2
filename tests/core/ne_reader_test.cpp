#include <gtest/gtest.h>

#include "icon_source/readers.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using List = std::vector<std::string>;

Rgba masked(Rgba c, int x, int y) {
    c.a = andAt(x, y) ? 0 : 255;
    return c;
}

TEST(NeReader, NamesFirstAsStoredThenIdsAscending) {
    // Stored as 7, ZED, 2, ALPHA after a type of their own that is skipped.
    const auto file = IconFile::open(dataPath("ne/icons.icl"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->kind(), SourceKind::ne);
    ASSERT_EQ(groupNames(*file), (List{"ZED", "ALPHA", "2", "7"}));
    EXPECT_EQ(imageList(file->group(0)), (List{"16x16x8", "32x32x32"}));
    EXPECT_EQ(imageList(file->group(1)), (List{"24x24x24"}));
    EXPECT_EQ(imageList(file->group(2)), (List{"32x32x1"}));
    EXPECT_EQ(imageList(file->group(3)), (List{"32x32x4"}));

    expectPixels(
        *file->icon(0),
        [](int x, int y) {
            Rgba c = rgbAt(x, y);
            c.a = alphaAt(x, y);
            return c;
        },
        "ZED");
    expectPixels(
        *file->icon(2), [](int x, int y) { return masked(paletteRgb(indexAt(x, y, 1)), x, y); }, "2");
    expectPixels(
        *file->icon(3), [](int x, int y) { return masked(paletteRgb(indexAt(x, y, 4)), x, y); }, "7");
}

TEST(NeReader, LargeAlignmentAndLatin1Names) {
    const auto file = IconFile::open(dataPath("ne/shift9.exe"));
    ASSERT_TRUE(file);
    ASSERT_EQ(groupNames(*file), (List{"CAF\xC3\x89", "1"}));
    EXPECT_EQ(imageList(file->group(0)), (List{"16x16x4"}));
    EXPECT_EQ(imageList(file->group(1)), (List{"32x32x8"}));
    expectPixels(
        *file->icon(1), [](int x, int y) { return masked(paletteRgb(indexAt(x, y, 8)), x, y); }, "1");
}

TEST(NeReader, DamagedTables) {
    const auto good = readFixture("ne/icons.icl");
    const Fields fields = readFields("ne/icons.icl");
    const List all{"ZED", "ALPHA", "2", "7"}, none;
    const struct {
        std::string label;
        std::uint64_t value;
        List names;
    } cases[] = {
        {"ne.restab", 0xFFFF, none},
        {"ne.restab", 0, none},  // the NE header read as a table: nonsense, no icons
        {"res.shift", 17, none},
        {"res.shift", 0xFFFF, none},
        {"res.shift", 5, none},       // every resource now lies at twice its offset
        {"type.1.id", 0x8004, none},  // no icons left to resolve
        {"type.1.count", 0xFFFF, none},
        {"type.2.count", 0xFFFF, none},
        {"type.2.count", 3, {"ZED", "2", "7"}},             // ALPHA's entry is read as the end
        {"type.0.count", 0, none},                          // the first entry is taken for the next type
        {"res.end", 0x8001, all},                           // walking on into the names finds nothing more
        {"res.group.ZED.id", 0x7FFF, {"ALPHA", "2", "7"}},  // name offset past the table
        {"res.group.ZED.offset", 0xFFFF, {"ALPHA", "2", "7"}},
        {"res.group.ZED.length", 0, {"ALPHA", "2", "7"}},
        {"group.ZED.count", 0xFFFF, {"ALPHA", "2", "7"}},
        {"group.ZED.type", 2, {"ALPHA", "2", "7"}},
        {"group.7.0.id", 99, {"ZED", "ALPHA", "2"}},
        {"res.icon.4.id", 0x8063, {"ZED", "ALPHA", "7"}},  // group 2 loses its only image
        {"res.icon.4.id", 4, {"ZED", "ALPHA", "7"}},       // named icons are never looked up
        {"res.icon.4.offset", 0, {"ZED", "ALPHA", "7"}},
        {"res.icon.4.length", 0xFFFF, all},  // cut to the file
        {"name.ZED", 0, {"", "ALPHA", "2", "7"}},
    };
    for (const auto& c : cases) {
        auto bytes = good;
        patch(bytes, fields, c.label, c.value);
        EXPECT_EQ(groupNames(openBytes(std::move(bytes))), c.names) << c.label << "=" << c.value;
    }

    auto noImage = good;
    patch(noImage, fields, "group.ZED.1.id", 99);
    const auto file = openBytes(std::move(noImage));
    ASSERT_EQ(groupNames(file), all);
    EXPECT_EQ(imageList(file.group(0)), (List{"16x16x8"}));
}

TEST(NeReader, CutAfterTheLastResource) {
    // A length rounded up to the alignment may run past the end of a file
    // that stops right after the data; the data itself is all there.
    auto bytes = readFixture("ne/shift9.exe");
    const Fields fields = readFields("ne/shift9.exe");
    const std::uint64_t last = peek(bytes, fields.at("res.group.CAF\xC3\x89.offset").offset, 2) << 9;
    bytes.resize(last + 6 + 14);
    EXPECT_EQ(groupNames(openBytes(bytes)), (List{"CAF\xC3\x89", "1"}));
    bytes.pop_back();
    EXPECT_EQ(groupNames(openBytes(bytes)), (List{"1"}));
}

}  // namespace
}  // namespace pictrove::test
