#include <gtest/gtest.h>

#include "icon_source/icon_group.h"
#include "icon_source/readers.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using List = std::vector<std::string>;

class PeFixture : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        bytes = readFixture(GetParam());
        fields = readFields(GetParam());
    }
    std::uint64_t valueOf(const std::string& label) const {
        const Field& f = fields.at(label);
        return peek(bytes, f.offset, f.width);
    }
    // The groups left after a change, checking on the way that reading only
    // the first group (as a thumbnail does) finds the same one.
    List namesAfter(const std::string& label, std::uint64_t value) const {
        auto copy = bytes;
        patch(copy, fields, label, value);
        const List names = groupNames(openBytes(copy));
        const List first = names.empty() ? List{} : List{names.front()};
        EXPECT_EQ(groupNames(IconFile::fromFile(readWhereAsked(std::move(copy)), GroupKind::icons, 1)), first)
            << label << "=" << value;
        return names;
    }

    std::vector<std::byte> bytes;
    Fields fields;
};

TEST_P(PeFixture, NamedGroupFirstThenIdsWithEveryImage) {
    const auto file = openBytes(bytes);
    EXPECT_EQ(file.kind(), std::string(GetParam()).find("64") != std::string::npos ? SourceKind::pe32plus
                                                                                   : SourceKind::pe32);
    ASSERT_EQ(groupNames(file), (List{"NAMED", "1", "2"}));
    EXPECT_EQ(imageList(file.group(0)), (List{"32x32x32"}));
    EXPECT_EQ(imageList(file.group(1)),
              (List{"16x16x4", "32x32x8", "32x32x32", "48x48x32", "256x256x32png"}));
    EXPECT_EQ(imageList(file.group(2)), (List{"32x32x4", "16x16x8"}));
    EXPECT_EQ(file.chosenImage(1), 2u);
    EXPECT_EQ(file.chosenImage(2), 0u);

    const auto alpha = [](int x, int y) {
        Rgba c = rgbAt(x, y);
        c.a = alphaAt(x, y);
        return c;
    };
    expectPixels(*file.icon(0), alpha, "NAMED");
    expectPixels(*file.icon(1), alpha, "group 1");
    expectPixels(
        *file.icon(2),
        [](int x, int y) {
            Rgba c = paletteRgb(indexAt(x, y, 4));
            c.a = andAt(x, y) ? 0 : 255;
            return c;
        },
        "group 2");
}

// Every way of breaking one group's directory or its path through the tree.
TEST_P(PeFixture, ADamagedGroupIsSkippedAndTheOthersStayInOrder) {
    const List all{"NAMED", "1", "2"};
    for (const std::string& group : all) {
        const std::string res = "res.group." + group;
        const std::uint64_t fit = *fields.at(res + ".size").fit;
        const std::uint64_t target = valueOf(res + ".target");
        const struct {
            std::string label;
            std::uint64_t value;
        } cases[] = {
            {"group." + group + ".type", 2},
            {"group." + group + ".count", 0},
            {"group." + group + ".count", 0xFFFF},
            {res + ".size", 0},
            {res + ".size", fit + 1},
            {res + ".size", 0xFFFFFFFF},
            {res + ".rva", 0},
            {res + ".rva", 0xFFFFFFFF},
            {res + ".target", 0x80000000},                    // back to the root
            {res + ".target", valueOf("root.group.target")},  // back to its parent
            {res + ".target", target & 0x7FFFFFFF},           // a data entry where languages belong
            {res + ".lang", target},                          // its language directory holds itself
            {res + ".lang", 0x7FFFFFF0},
            {"dir.group." + group + ".ids", 0},
            {"dir.group." + group + ".ids", 0xFFFF},
        };
        List rest = all;
        std::erase(rest, group);
        for (const auto& c : cases)
            EXPECT_EQ(namesAfter(c.label, c.value), rest) << c.label << "=" << c.value;
        EXPECT_EQ(namesAfter(res + ".size", fit), all) << res << " size reaching the section end";
    }
    EXPECT_EQ(namesAfter("name.NAMED.length", 0xFFFF), (List{"1", "2"}));
    EXPECT_EQ(namesAfter("res.group.NAMED.name", 0xFFFFFFFF), (List{"1", "2"}));
}

TEST_P(PeFixture, MissingIconIdsCostOnlyTheirImages) {
    EXPECT_EQ(namesAfter("group.NAMED.0.id", 999), (List{"1", "2"}));
    auto copy = bytes;
    patch(copy, fields, "group.1.2.id", 999);
    const auto file = openBytes(std::move(copy));
    ASSERT_EQ(groupNames(file), (List{"NAMED", "1", "2"}));
    EXPECT_EQ(imageList(file.group(1)), (List{"16x16x4", "32x32x8", "48x48x32", "256x256x32png"}));
    EXPECT_EQ(file.chosenImage(1), 1u);
}

TEST_P(PeFixture, HeaderAndSectionTableLies) {
    const List all{"NAMED", "1", "2"}, none;
    const std::uint64_t size = bytes.size();
    const struct {
        std::string label;
        std::uint64_t value;
        List names;
    } cases[] = {
        {"pe.sections", 0, none},
        {"pe.sections", 2, none},  // the resource section is the third
        {"pe.sections", 0xFFFF, all},
        {"pe.optional_size", 0, none},
        {"pe.optional_size", 0xFFFF, none},
        {"pe.magic", 0x10C, none},
        {"pe.rva_count", 2, none},
        {"pe.rva_count", 0xFFFFFFFF, all},
        {"pe.resource_rva", 0, none},
        {"pe.resource_rva", 0xFFFFFFFF, none},
        {"pe.resource_size", 0, all},  // the tree's own offsets are what count
        {"section.rsrc.rawptr", size, none},
        {"section.rsrc.rawptr", 0xFFFFFFFF, none},
        {"section.rsrc.rawsize", 0, none},
        {"section.rsrc.rawsize", 0x7FFFFFFF, all},  // cut to the file
        // The section now ends inside group 2's directory, which is still in the file.
        {"section.rsrc.rawsize",
         fields.at("group.2.type").offset + 8 - valueOf("section.rsrc.rawptr"),
         {"NAMED", "1"}},
        {"section.rsrc.vsize", 0, all},
        {"section.rsrc.va", 0xFFFFF000, none},
        {"dir.root.ids", 0, none},
        {"dir.root.ids", 0xFFFF, none},
        {"root.group.target", 0x80000000, none},
        {"root.group.target", 0x7FFFFFFF, none},
        {"root.icon.target", valueOf("root.group.target"), none},
        {"dir.icon.ids", 0, none},
    };
    for (const auto& c : cases) EXPECT_EQ(namesAfter(c.label, c.value), c.names) << c.label << "=" << c.value;

    auto noPe = bytes;
    patch(noPe, fields, "pe.lfanew", 0xFFFFFFFF);
    EXPECT_EQ(openBytes(std::move(noPe)).kind(), SourceKind::none);
}

INSTANTIATE_TEST_SUITE_P(Dlls, PeFixture, testing::Values("pe/three32.dll", "pe/three64.dll"),
                         [](const auto& param) {
                             return std::string(param.param).find("64") != std::string::npos ? "pe64"
                                                                                             : "pe32";
                         });

// Files past the size read whole are read in 64 KiB blocks as the reader asks. With the
// headers moved to just before a chunk boundary the optional header and the
// section table cross it: read in parts, every fixture must give what the
// same bytes give read whole. The sources for tests never read a file whole,
// so the padding past that size is needed only on disk.
TEST(PeReader, HeadersAcrossAChunkBoundary) {
    constexpr std::size_t kPastReadWhole = 1'400'000;
    constexpr std::uint32_t kBoundary = 65536;
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-headers-across.dll";
    for (const char* fixture :
         {"pe/three32.dll", "pe/three64.dll", "pe/langs64.dll", "pe/cursors32.dll", "sample.dll"}) {
        const GroupKind kind =
            std::string(fixture).find("cursors") != std::string::npos ? GroupKind::cursors : GroupKind::icons;
        const auto original = readFixture(fixture);
        const IconFile whole = IconFile::fromFile(MappedFile::fromBuffer(original), kind);
        ASSERT_GT(whole.count(), 0u) << fixture;
        for (std::uint32_t k = 26; k <= 160; ++k) {
            const std::string what = std::string(fixture) + " at " + std::to_string(kBoundary - k);
            const auto bytes = withHeadersAt(original, kBoundary - k, 0);
            if (k == 26)
                expectSameGroups(IconFile::fromFile(MappedFile::fromBuffer(bytes), kind), whole, what);
            expectSameGroups(openBytes(bytes, kind), whole, what);
            expectSameGroups(
                IconFile::fromFile(readWhereAsked(bytes, MappedFile::Storage::kChunk, std::byte{0}), kind),
                whole, what + " in chunks");
            if (k % 30 != 10) continue;
            const auto padded = withHeadersAt(original, kBoundary - k, kPastReadWhole);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(padded.data()),
                       static_cast<std::streamsize>(padded.size()));
            const auto onDisk = IconFile::open(path, kind);
            ASSERT_TRUE(onDisk);
            expectSameGroups(*onDisk, whole, what + " on disk");
        }
    }
    std::filesystem::remove(path);
}

// Lookups by ID, whether the IDs lie close together (looked up by place) or
// far apart (searched), stored in order or not: the first of repeated IDs wins.
TEST(PeReader, ImageIndexFindsEachIdAndNoOther) {
    const std::vector<std::vector<std::uint16_t>> layouts = {
        {1, 2, 3, 5, 5, 8}, {8, 5, 1, 5, 3, 2}, {1, 2, 3, 5, 5, 40000}, {40000, 5, 3, 5, 2, 1}, {7}, {}};
    for (const auto& ids : layouts) {
        ImageIndex index;
        for (std::size_t i = 0; i < ids.size(); ++i) index.add(ids[i], FileRange{i * 100, i + 1});
        index.finish();
        for (const int id : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 39999, 40000, 40001, 65535}) {
            const auto first = std::find(ids.begin(), ids.end(), id);
            const auto found = index.find(static_cast<std::uint16_t>(id));
            if (first == ids.end()) {
                EXPECT_FALSE(found) << id;
            } else {
                ASSERT_TRUE(found) << id;
                EXPECT_EQ(found->offset, static_cast<std::uint64_t>(first - ids.begin()) * 100) << id;
            }
        }
    }
}

TEST(PeReader, TakesTheFirstLanguage) {
    // Group 1 exists in German (stored first) and English (16x16 1-bit).
    const auto file = IconFile::open(dataPath("pe/langs64.dll"));
    ASSERT_TRUE(file);
    ASSERT_EQ(groupNames(*file), (List{"1", "2"}));
    EXPECT_EQ(imageList(file->group(0)), (List{"32x32x32"}));
    EXPECT_EQ(imageList(file->group(1)), (List{"32x32x24"}));
}

TEST(PeReader, SampleLibrary) {
    const auto file = IconFile::open(dataPath("sample.dll"));
    ASSERT_TRUE(file);
    EXPECT_EQ(groupNames(*file), (List{"PICTROVE", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
}

}  // namespace
}  // namespace pictrove::test
