// A scan record must describe one file as it was: a file cut short or
// replaced between the hash and the icons gets an error record or the record
// of the file first opened, never a record mixing two files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/path_stream.h"
#include "cli/scan.h"
#include "corpus/record_lines.h"
#include "fingerprint/sha256.h"

namespace pictrove::cli {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::string content(static_cast<std::size_t>(fs::file_size(path)), '\0');
    std::ifstream(path, std::ios::binary).read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

class ScanRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("pictrove-scan-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        file_ = folder_ / "sample.dll";
        fs::copy_file(fs::path(PICTROVE_TEST_DATA) / "sample.dll", file_,
                      fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::remove_all(folder_); }

    nlohmann::json record(const std::function<void()>& whileRead, bool& failed) {
        const ScanRecord scanned = scanFile({file_.string(), {}}, Options{}, whileRead);
        failed = scanned.failed;
        return nlohmann::json::parse(scanned.line);
    }

    fs::path folder_;
    fs::path file_;
};

// A job's turn holds what drawing a thumbnail takes too, so that jobs
// drawing large thumbnails stay within the memory they share.
TEST_F(ScanRecordTest, ThumbnailsAreHeldBeforeTheyAreDrawn) {
    const auto held = [&](std::optional<std::uint32_t> thumbnail) {
        std::uint64_t most = 0;
        const ScanRecord scanned =
            scanRecord(file_.string(), ScanSettings{false, std::nullopt, ".ics", thumbnail}, {},
                       [&](std::uint64_t bytes) { most = std::max(most, bytes); });
        EXPECT_FALSE(scanned.failed) << scanned.line;
        return most;
    };
    EXPECT_GE(held(1024), held(std::nullopt) + std::uint64_t{1024} * 1024 * 24);
}

TEST_F(ScanRecordTest, AFileCutShortWhileReadGetsAnErrorRecord) {
    bool failed = false;
    const auto cut = record([&] { fs::resize_file(file_, 4096); }, failed);
    EXPECT_TRUE(failed);
    ASSERT_TRUE(cut.contains("error")) << cut.dump();
    EXPECT_NE(cut["error"].get<std::string>().find("changed while read"), std::string::npos);
    EXPECT_FALSE(cut.contains("sha256"));
}

// The name is a link led elsewhere in between, which leaves the file first
// opened as it was: its record is all of that file.
TEST_F(ScanRecordTest, ANameLedToAnotherFileWhileReadIsDescribedAsFirstOpened) {
    const std::string original = contentOf(file_);
    const fs::path other = folder_ / "other.ico";
    fs::copy_file(fs::path(PICTROVE_TEST_DATA) / "ico" / "bpp1.ico", other);
    const fs::path target = file_;
    file_ = folder_ / "link.dll";
    std::error_code noLinks;
    fs::create_symlink(target, file_, noLinks);
    if (noLinks) GTEST_SKIP() << "no symbolic links here: " << noLinks.message();
    bool failed = false;
    const auto record = this->record(
        [&] {
            fs::create_symlink(other, folder_ / "next.dll");
            fs::rename(folder_ / "next.dll", file_);
        },
        failed);
    EXPECT_FALSE(failed) << record.dump();
    const auto digest = sha256Of({reinterpret_cast<const std::uint8_t*>(original.data()), original.size()});
    EXPECT_EQ(record["sha256"], hexText(digest));
    EXPECT_EQ(record["size"], original.size());
    EXPECT_EQ(record["kind"], "PE32");
    EXPECT_GT(record["icons"].get<int>(), 1);
}

// -r walks a folder as its names are asked for: a file put in a later
// folder after the first name came out is found, as it would not be in a
// walk made whole first.
TEST_F(ScanRecordTest, FoldersAreWalkedAsTheNamesAreAskedFor) {
    fs::create_directories(folder_ / "z");
    Options options;
    options.recursive = true;
    options.files = {folder_.string()};
    std::ostringstream err;
    PathStream paths(options, nullptr, err);
    const auto first = paths.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(fs::path(first->name), file_);
    std::ofstream(folder_ / "z" / "late.ico") << "late";
    const auto second = paths.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(fs::path(second->name), folder_ / "z" / "late.ico");
    EXPECT_FALSE(paths.next());
    EXPECT_TRUE(paths.complete());
}

// Records are read a block at a time; a line that outgrows the longest one
// held is passed over whole, and the line after it is read as it stands.
// Small limits stand in for the real megabytes.
TEST(RecordLines, LinesAcrossBlocksAndLinesTooLongToHold) {
    const std::string longLine(50, 'y');
    const struct {
        std::string input;
        std::vector<std::string> expected;  // "!" where a line was too long
    } cases[] = {
        {"a\nbb\n\nccc", {"a", "bb", "", "ccc"}},
        {"0123456789abcdef\nx\n", {"0123456789abcdef", "x"}},
        {std::string(19, 'x') + "\nz\n", {std::string(19, 'x'), "z"}},
        {std::string(20, 'x') + "\nz\n", {"!", "z"}},
        {"short\n" + longLine + "\nafter\n", {"short", "!", "after"}},
        {longLine + "\n" + longLine + "\nend", {"!", "!", "end"}},
        {"a\n" + longLine, {"a", "!"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::FILE* in = std::tmpfile();
        ASSERT_TRUE(in);
        std::fwrite(c.input.data(), 1, c.input.size(), in);
        std::rewind(in);
        std::vector<std::string> seen;
        EXPECT_TRUE(corpus::forEachLine(
            in, [&](std::string_view line) { seen.emplace_back(line); }, [&] { seen.emplace_back("!"); },
            {.block = 8, .longest = 20}));
        std::fclose(in);
        EXPECT_EQ(seen, c.expected) << c.input;
    }
}

}  // namespace
}  // namespace pictrove::cli
