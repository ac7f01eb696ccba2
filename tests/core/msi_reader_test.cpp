// Installer databases built here as compound files by libgsf's writer, so
// that each table, string and stream is under the test's control.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>
#include <gtest/gtest.h>

#include <string>

#include "icon_source/readers.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

using Data = std::vector<std::byte>;
using Streams = std::vector<std::pair<std::string, Data>>;  // name as stored, bytes

Data compoundFile(const Streams& streams) {
    GsfOutput* memory = gsf_output_memory_new();
    GsfOutfile* root = gsf_outfile_msole_new(memory);
    for (const auto& [name, bytes] : streams) {
        GsfOutput* child = gsf_outfile_new_child(root, name.c_str(), FALSE);
        gsf_output_write(child, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
        gsf_output_close(child);
        g_object_unref(child);
    }
    gsf_output_close(reinterpret_cast<GsfOutput*>(root));
    g_object_unref(root);
    const auto* begin = reinterpret_cast<const std::byte*>(
        gsf_output_memory_get_bytes(reinterpret_cast<GsfOutputMemory*>(memory)));
    Data file(begin, begin + gsf_output_size(memory));
    g_object_unref(memory);
    return file;
}

void putLe(Data& out, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out.push_back(std::byte(value >> (8 * i)));
}

// A database of the given strings (IDs from 1), Icon rows (name IDs),
// Property rows (name and value IDs) and icon streams by name.
struct Database {
    std::vector<std::string> strings;
    std::vector<std::uint32_t> icons;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> properties;
    Streams iconStreams;
    bool longIds = false;

    Data build() const {
        const std::size_t idSize = longIds ? 3 : 2;
        Data pool, text;
        putLe(pool, longIds ? 0x80000000u : 0u, 4);
        for (const std::string& s : strings) {
            if (s.size() >= 0x10000) {
                putLe(pool, 0, 2);
                putLe(pool, 1, 2);  // the count of references
            }
            putLe(pool, static_cast<std::uint32_t>(s.size() & 0xFFFF), 2);
            putLe(pool, s.size() >= 0x10000 ? static_cast<std::uint32_t>(s.size() >> 16) : 1, 2);
            for (char c : s) text.push_back(std::byte(c));
        }
        Data icon, property;
        for (std::uint32_t id : icons) putLe(icon, id, idSize);
        for (std::size_t i = 0; i < icons.size(); ++i) putLe(icon, 0, 2);
        for (const auto& row : properties) putLe(property, row.first, idSize);
        for (const auto& row : properties) putLe(property, row.second, idSize);
        Streams streams{{msiStreamName("_StringPool", true), pool},
                        {msiStreamName("_StringData", true), text},
                        {msiStreamName("Icon", true), icon},
                        {msiStreamName("Property", true), property}};
        for (const auto& [name, bytes] : iconStreams)
            streams.push_back({msiStreamName("Icon." + name, false), bytes});
        return compoundFile(streams);
    }
};

std::vector<std::string> namesOf(const IconFile& file) {
    std::vector<std::string> names;
    for (const IconGroup& group : file.groups()) names.push_back(group.name ? group.name->name : "-");
    return names;
}

TEST(MsiReader, ProductIconFirstThenStoredOrder) {
    const Data ico = readFixture("ico/multi.ico"), small = readFixture("ico/bpp1.ico");
    const Data program = readFixture("pe/three32.dll");
    const std::vector<std::string> strings{"b.ico",   "a.ico", "ARPPRODUCTICON",
                                           "app.exe", "Other", "gone.ico"};
    const Streams streams{{"a.ico", ico}, {"b.ico", small}, {"app.exe", program}};
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> properties;
        std::vector<std::string> names;
    } cases[] = {
        {"no property", {}, {"b.ico", "a.ico", "app.exe"}},
        {"the product icon", {{5, 1}, {3, 2}}, {"a.ico", "b.ico", "app.exe"}},
        {"the last row", {{3, 4}}, {"app.exe", "b.ico", "a.ico"}},
        {"an icon the table lacks", {{3, 6}}, {"b.ico", "a.ico", "app.exe"}},
        {"another property names it", {{5, 2}}, {"b.ico", "a.ico", "app.exe"}},
    };
    for (const Case& c : cases) {
        Database database{strings, {1, 2, 4}, c.properties, streams};
        const IconFile file = openBytes(database.build());
        ASSERT_EQ(file.kind(), SourceKind::msi) << c.what;
        EXPECT_EQ(namesOf(file), c.names) << c.what;
    }
    // A program's stream is its first icon.
    Database database{strings, {4}, {}, streams};
    const IconFile file = openBytes(database.build());
    ASSERT_EQ(file.count(), 1u);
    EXPECT_EQ(imageList(file.group(0)), imageList(openBytes(program).group(0)));
}

// Stream names as installers store them: two characters of the name
// alphabet packed into one, a lone one alone, any other as it is; a table's
// name marked. Worked out by hand (_StringPool is every installer's).
TEST(MsiReader, StreamNamesPackTheirCharacters) {
    EXPECT_EQ(msiStreamName("_StringPool", true), "\u4840\u3f3f\u4577\u446c\u3e6a\u44b2\u482f");
    EXPECT_EQ(msiStreamName("Icon.a-b c", false), "\u4192\u4472\u413e-\u4825 \u4826");
    const Data ico = readFixture("ico/multi.ico");
    const IconFile file = openBytes(Database{{"a-b c.ico"}, {1}, {}, {{"a-b c.ico", ico}}}.build());
    EXPECT_EQ(namesOf(file), std::vector<std::string>{"a-b c.ico"});
}

TEST(MsiReader, RowsWithoutAnIconAreLeftOut) {
    const Data ico = readFixture("ico/multi.ico");
    const Data cut(ico.begin(), ico.begin() + 20);
    Database database{{"a", "cut", "missing", "text", "a"},
                      {1, 2, 3, 4, 99, 5},
                      {},
                      {{"a", ico}, {"cut", cut}, {"text", Data(100, std::byte{'x'})}}};
    const IconFile file = openBytes(database.build());
    EXPECT_EQ(namesOf(file), (std::vector<std::string>{"a", "a"}));
}

TEST(MsiReader, StringsOfThreeByteIdsAndPast64KiB) {
    const Data ico = readFixture("ico/bpp1.ico");
    Database database{{std::string(0x10005, 'x'), "after.ico"}, {2}, {}, {{"after.ico", ico}}, true};
    const IconFile file = openBytes(database.build());
    EXPECT_EQ(namesOf(file), std::vector<std::string>{"after.ico"});
}

TEST(MsiReader, DamagedTablesGiveNoIcons) {
    const Data ico = readFixture("ico/bpp1.ico");
    Database good{{"a.ico"}, {1}, {}, {{"a.ico", ico}}};
    struct Case {
        const char* what;
        Streams streams;
        SourceKind kind;
    } cases[] = {
        {"a compound file of something else", {{"WordDocument", Data(600)}}, SourceKind::none},
        {"a string pool shorter than its header",
         {{msiStreamName("_StringPool", true), Data(3)}, {msiStreamName("_StringData", true), Data(4)}},
         SourceKind::none},
        {"an Icon table of a row and a half",
         {{msiStreamName("_StringPool", true), Data(8)},
          {msiStreamName("_StringData", true), Data(4)},
          {msiStreamName("Icon", true), Data(6)}},
         SourceKind::msi},
        {"no Icon table",
         {{msiStreamName("_StringPool", true), Data(8)}, {msiStreamName("_StringData", true), Data(4)}},
         SourceKind::msi},
    };
    for (const Case& c : cases) {
        const IconFile file = openBytes(compoundFile(c.streams));
        EXPECT_EQ(file.kind(), c.kind) << c.what;
        EXPECT_EQ(file.count(), 0u) << c.what;
    }
    EXPECT_EQ(openBytes(good.build()).count(), 1u);
}

TEST(MsiReader, TakesOutOnlyTheIconsDelivered) {
    const Data ico = readFixture("ico/multi.ico"), small = readFixture("ico/bpp1.ico");
    Database database{{"big", "small", "ARPPRODUCTICON"}, {1, 2}, {{3, 2}}, {{"big", ico}, {"small", small}}};
    const MappedFile file = readWhereAsked(database.build());
    MadeBytes made(limits::kMaxMadeBytes);
    const auto groups = readMsiIcons(FileView(file), made, 1);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 1u);
    EXPECT_EQ(made.total(), small.size());
    // A stream past what may still be made is the file's error, said before
    // any of it is read.
    MadeBytes little(small.size() - 1);
    EXPECT_EQ(readMsiIcons(FileView(file), little)->size(), 0u);
    EXPECT_TRUE(little.failure());
    EXPECT_EQ(little.takenOut(), 0u);
}

// Rows naming one stream read it once, however many they are.
TEST(MsiReader, RowsNamingOneStreamShareItsReading) {
    const Data ico = readFixture("ico/multi.ico");
    Database database{{"a.ico"}, std::vector<std::uint32_t>(20000, 1), {}, {{"a.ico", ico}}};
    const MappedFile file = readWhereAsked(database.build());
    MadeBytes made(ico.size());
    const auto groups = readMsiIcons(FileView(file), made);
    ASSERT_TRUE(groups);
    EXPECT_EQ(groups->size(), 20000u);
    EXPECT_EQ(made.takenOut(), ico.size());
    EXPECT_FALSE(made.failure());
}

}  // namespace
}  // namespace pictrove::test
