#include "save_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace pictrove {
namespace {

namespace fs = std::filesystem;

class SaveFile : public testing::Test {
protected:
    void SetUp() override {
        folder =
            fs::path(testing::TempDir()) /
            ("pictrove-save-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
    }

    fs::path folder;
};

const std::vector<std::uint8_t> kBytes{'i', 'c', 'o', 'n', 0, 255};

TEST_F(SaveFile, WritesAndReplacesWithoutLeftovers) {
    const auto target = folder / "a.png";
    ASSERT_FALSE(saveFile(target, kBytes));
    EXPECT_EQ(contents(target), std::string("icon\0\xFF", 6));
    ASSERT_FALSE(saveFile(target, std::vector<std::uint8_t>{'x'}));
    EXPECT_EQ(contents(target), "x");
    ASSERT_FALSE(saveFile(folder / "empty.png", {}));
    EXPECT_EQ(fs::file_size(folder / "empty.png"), 0u);
    EXPECT_EQ(entries(), 2u);
}

TEST_F(SaveFile, FailsCleanly) {
    const auto missingFolder = saveFile(folder / "no" / "a.png", kBytes);
    ASSERT_TRUE(missingFolder);
    EXPECT_EQ(missingFolder->code, ErrorCode::cannotCreate);
    EXPECT_NE(missingFolder->message.find("a.png"), std::string::npos);

    // A folder in the way is left as it was, and no temporary file stays.
    fs::create_directory(folder / "taken.png");
    std::ofstream(folder / "taken.png" / "inside").put('k');
    EXPECT_TRUE(saveFile(folder / "taken.png", kBytes));
    EXPECT_TRUE(fs::is_directory(folder / "taken.png"));
    EXPECT_EQ(entries(), 1u);
}

}  // namespace
}  // namespace pictrove
