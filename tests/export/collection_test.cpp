#include "collection_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

#include "icon_writer.h"
#include "unread_marking_storage.h"

namespace pictrove {
namespace {

namespace fs = std::filesystem;

class CollectionFile : public ::testing::Test {
protected:
    fs::path dir_ = fs::temp_directory_path() / ("pictrove-collection-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return dir_ / name;
    }

    // Icon file images of `count` icons of distinct solid colours.
    static std::vector<std::vector<std::uint8_t>> records(std::size_t count) {
        std::vector<std::vector<std::uint8_t>> out;
        for (std::size_t i = 0; i < count; ++i) {
            Image icon;
            icon.width = icon.height = 32;
            icon.mask.assign(1024, 0);
            for (int p = 0; p < 1024; ++p)
                icon.bgra.insert(icon.bgra.end(), {0, 0, static_cast<std::uint8_t>(i * 10), 255});
            out.push_back(encodeIconFile(icon).value());
        }
        return out;
    }

    static std::vector<std::uint8_t> collection(const std::vector<std::vector<std::uint8_t>>& images,
                                                const std::string& name) {
        const std::vector<std::span<const std::uint8_t>> spans(images.begin(), images.end());
        return buildCollection(spans, name);
    }

    std::vector<std::vector<std::uint8_t>> readAll(const fs::path& path, const std::string& extension) {
        auto reader = CollectionReader::open(path, extension);
        EXPECT_TRUE(reader.ok());
        EXPECT_TRUE(reader.ok() && reader->has_value());
        std::vector<std::vector<std::uint8_t>> out;
        std::span<const std::uint8_t> record;
        while (reader.ok() && *reader && (*reader)->next(record))
            out.emplace_back(record.begin(), record.end());
        return out;
    }
};

std::string trailerText(const std::vector<std::uint8_t>& file) {
    return std::string(file.end() - 13, file.end());
}

TEST_F(CollectionFile, SavesAndReadsBackRecordsInOrder) {
    const auto images = records(25);
    const auto file = collection(images, "C:/Work/Toolbar.ICS");
    EXPECT_EQ(file.size(), 25 * 766 + 13u);
    EXPECT_EQ(trailerText(file), "Icons.ics    ");
    const auto back = readAll(write("Toolbar.ICS", file), ".ics");
    ASSERT_EQ(back.size(), 25u);
    EXPECT_EQ(back, images);
    EXPECT_EQ(collection(back, "again.ics"), file);
    for (std::size_t i = 0; i < 25; ++i) {
        const Image icon = decodeRecordIcon(back[i]);
        EXPECT_EQ(icon.width, 32u);
        // Reds that are not VGA colours come back as their nearest VGA colour.
        const std::uint8_t red = icon.bgra[2];
        EXPECT_TRUE(red == 0 || red == 128 || red == 255) << int(red);
    }
}

TEST_F(CollectionFile, TrailersFollowTheSavedName) {
    const struct {
        const char* name;
        const char* trailer;
    } cases[] = {{"icons", "Icons        "},  {"icons.iconsets", "Icons.iconset"},
                 {"/a.b/c", "Icons        "}, {"x.ICX", "Icons.icx    "},
                 {"x.", "Icons.       "},     {"a.b.ics", "Icons.ics    "}};
    for (const auto& c : cases) {
        const auto trailer = collectionTrailer(c.name);
        EXPECT_EQ(std::string(trailer.begin(), trailer.end()), c.trailer) << c.name;
    }
}

TEST_F(CollectionFile, TrailerTestComparesOnlyTheBeginning) {
    const auto bytes = [](const std::string& text) {
        std::vector<std::byte> out(13, std::byte{' '});
        std::memcpy(out.data(), text.data(), std::min<std::size_t>(text.size(), 13));
        return out;
    };
    const struct {
        std::string trailer;
        const char* extension;
        bool collection;
    } cases[] = {
        {"Icons.ics    ", ".ics", true},
        {"Icons.ics    ", ".ic", true},  // renamed a.ics to a.ic
        {"Icons.ics    ", ".icx", false},
        {"Icons.iconset", ".iconsets", false},
        {std::string("Icons.i\0s   ", 13), ".ics", false},  // text ends at the zero
        {std::string("Icons.i\0s   ", 13), ".i", true},
        {"icons.ics    ", ".ics", false},
    };
    for (const auto& c : cases) {
        const auto trailer = bytes(c.trailer);
        EXPECT_EQ(isCollectionTrailer(trailer, c.extension), c.collection) << c.trailer << " " << c.extension;
    }
}

TEST_F(CollectionFile, ShortAndMissingFiles) {
    const auto trailerOnly = collection({}, "empty.ics");
    ASSERT_EQ(trailerOnly.size(), 13u);
    EXPECT_TRUE(readAll(write("empty.ics", trailerOnly), ".ics").empty());

    const auto shortFile = CollectionReader::open(write("short.ics", {'I', 'c', 'o', 'n', 's'}), ".ics");
    ASSERT_FALSE(shortFile.ok());
    EXPECT_EQ(shortFile.error().message, "Stream read error");

    const auto missing = CollectionReader::open(dir_ / "missing.ics", ".ics");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "Cannot open file " + (dir_ / "missing.ics").string());

    const auto other =
        CollectionReader::open(write("other.ics", std::vector<std::uint8_t>(100, 'x')), ".ics");
    ASSERT_TRUE(other.ok());
    EXPECT_FALSE(other->has_value());  // not a collection: the engine takes it
}

// Opening reads the trailer alone, and each record is read when asked for,
// through a source that leaves unread bytes marked.
TEST_F(CollectionFile, ReadsTheTrailerThenTheRecordsAskedFor) {
    const auto images = records(3);
    const auto bytes = collection(images, "x.ics");
    const MappedFile file = test::readWhereAsked(
        std::vector<std::byte>(reinterpret_cast<const std::byte*>(bytes.data()),
                               reinterpret_cast<const std::byte*>(bytes.data() + bytes.size())));
    auto reader = CollectionReader::fromFile(file, ".ics");
    ASSERT_TRUE(reader.ok() && reader->has_value());
    EXPECT_EQ(file.bytesRead(), kCollectionTrailerSize);
    EXPECT_EQ((*reader)->recordCount(), 3u);
    std::span<const std::uint8_t> record;
    for (std::size_t i = 0; i < images.size(); ++i) {
        ASSERT_TRUE((*reader)->next(record));
        EXPECT_TRUE(std::equal(record.begin(), record.end(), images[i].begin())) << i;
        EXPECT_EQ(file.bytesRead(), kCollectionTrailerSize + (i + 1) * kCollectionRecordSize) << i;
    }
    EXPECT_FALSE((*reader)->next(record));
}

TEST_F(CollectionFile, RecordsOfOtherTypesAreRefused) {
    auto images = records(4);
    images[0][2] = 2;
    images[2][2] = 2;
    images[3][2] = 0;
    EXPECT_FALSE(isAcceptedRecord(images[0]));
    EXPECT_TRUE(isAcceptedRecord(images[1]));
    EXPECT_FALSE(isAcceptedRecord(images[2]));
    EXPECT_TRUE(isAcceptedRecord(images[3]));
    const Image standard = decodeRecordIcon(images[3]);
    EXPECT_EQ(standard.bgra, applicationIcon().bgra);
}

TEST_F(CollectionFile, DamagedRecordsShowThePlaceholderWithoutReadingBeyond) {
    const auto good = records(1)[0];
    std::vector<std::vector<std::uint8_t>> damaged(5, good);
    damaged[0][4] = 0;      // no image listed
    damaged[1][18] = 0xF0;  // image offset far outside the record
    damaged[2][14] = 0xFF;  // image size beyond the record
    damaged[2][15] = 0xFF;
    damaged[3][22] = 12;    // a header size no bitmap has
    damaged[4][30] = 0xFF;  // a height beyond any limit
    damaged[4][31] = 0x7F;
    const auto placeholder = damagedIconPlaceholder().bgra;
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        // Exactly 766 bytes on the heap, so a read past the end is caught.
        const auto icon = decodeRecordIcon(damaged[i]);
        EXPECT_EQ(icon.width, 32u) << i;
        if (i != 2) {
            EXPECT_EQ(icon.bgra, placeholder) << i;
        }
    }
}

TEST_F(CollectionFile, CorruptCollectionsNeverCrash) {
    const auto file = collection(records(3), "x.ics");
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        auto bytes = file;
        bytes.resize(random() % (bytes.size() + 1));
        for (int flips = 0; flips < 8 && !bytes.empty(); ++flips)
            bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(random());
        if (bytes.size() >= 13) std::memcpy(bytes.data() + bytes.size() - 13, "Icons.ics    ", 13);
        auto reader = CollectionReader::open(write("fuzz.ics", bytes), ".ics");
        if (!reader.ok() || !*reader) continue;
        std::span<const std::uint8_t> record;
        while ((*reader)->next(record)) {
            const std::vector<std::uint8_t> copy(record.begin(), record.end());
            EXPECT_EQ(decodeRecordIcon(copy).width, 32u);
        }
    }
}

}  // namespace
}  // namespace pictrove
