#include "save_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "path_text.h"

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
    // The message names the file in UTF-8, whatever the system's own form.
    const auto missingFolder = saveFile(folder / "no" / pathFromUtf8("ä.png"), kBytes);
    ASSERT_TRUE(missingFolder);
    EXPECT_EQ(missingFolder->code, ErrorCode::cannotCreate);
    EXPECT_NE(missingFolder->message.find("ä.png"), std::string::npos);

    // A folder in the way is left as it was, and no temporary file stays.
    fs::create_directory(folder / "taken.png");
    std::ofstream(folder / "taken.png" / "inside").put('k');
    EXPECT_TRUE(saveFile(folder / "taken.png", kBytes));
    EXPECT_TRUE(fs::is_directory(folder / "taken.png"));
    EXPECT_EQ(entries(), 1u);

    // A write that stores nothing is a full disk, not a reason to try again.
    int calls = 0;
    int error = 0;
    const auto storesTwoThenNothing = [&calls](int, const std::uint8_t*, std::size_t) -> long {
        return ++calls == 1 ? 2 : calls < 10 ? 0 : -1;
    };
    EXPECT_FALSE(detail::writeAll(-1, kBytes, error, storesTwoThenNothing));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(error, ENOSPC);
}

#ifndef _WIN32
TEST_F(SaveFile, KeepsTheReplacedFileAndWritesInPlaceWhereTheFolderIsClosed) {
    const auto target = folder / "private.ico";
    std::ofstream(target).put('o');
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(target.c_str(), 1234, 5678), 0);
    }
    ASSERT_FALSE(saveFile(target, kBytes));
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(std::make_pair(info.st_uid, info.st_gid), std::make_pair(uid_t{1234}, gid_t{5678}));
    }

    // A folder that takes no new file, around a file that may be written. As
    // root, only another user finds the folder closed.
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(saveFile(target, std::vector<std::uint8_t>{'n', 'e', 'w'}) ? 1 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(target), "new");
    EXPECT_EQ(entries(), 1u);
}
#endif

}  // namespace
}  // namespace pictrove
