#include "mapped_file.h"

#include <gtest/gtest.h>

#include <fstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "allocation_watch.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

TEST(MappedFile, MapsPlainFilesOnly) {
    const auto path = dataPath("ico/bpp1.ico");
    const auto file = MappedFile::open(path);
    ASSERT_TRUE(file);
    const auto expected = readFixture("ico/bpp1.ico");
    ASSERT_EQ(file->size(), expected.size());
    // Opening reads nothing (a folder walk opens many files that are no
    // icon source); the bytes come when asked for.
    EXPECT_EQ(file->bytesRead(), 0u);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file->bytes().begin()));
    EXPECT_EQ(file->bytesRead(), expected.size());

    const auto missing = MappedFile::open(dataPath("ico/missing.ico"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::cannotOpen);
    EXPECT_NE(missing.error().message.find("missing.ico"), std::string::npos);

    const auto folder = MappedFile::open(dataPath("ico"));
    ASSERT_FALSE(folder);
    EXPECT_NE(folder.error().message.find("folder"), std::string::npos);

#ifndef _WIN32
    // A device could hand out endless bytes; opening a pipe would wait for a writer.
    EXPECT_FALSE(MappedFile::open("/dev/zero"));
    const auto pipe = std::filesystem::path(testing::TempDir()) / "pictrove-pipe.exe";
    std::filesystem::remove(pipe);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const auto fromPipe = MappedFile::open(pipe);
    std::filesystem::remove(pipe);
    ASSERT_FALSE(fromPipe);
    EXPECT_NE(fromPipe.error().message.find("not a regular file"), std::string::npos);
#else
    // The null device opens like a file but is none.
    const auto device = MappedFile::open("NUL");
    ASSERT_FALSE(device);
    EXPECT_NE(device.error().message.find("not a regular file"), std::string::npos);
#endif
}

TEST(MappedFile, EmptyFilesAndBuffers) {
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-empty-file";
    std::ofstream(path).close();
    const auto empty = MappedFile::open(path);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->bytes().empty());
    std::filesystem::remove(path);

    EXPECT_TRUE(MappedFile().bytes().empty());
    const auto buffer = MappedFile::fromBuffer({std::byte{1}, std::byte{2}});
    const MappedFile copy = buffer;  // shares the bytes
    EXPECT_EQ(copy.bytes().size(), 2u);
    EXPECT_EQ(copy.bytes().data(), buffer.bytes().data());
}

// A sparse file past the view: the view stops at its cap, and a header that
// points to the view's last bytes is read from there, with memory taken only
// for the chunks read, never for the file.
TEST(MappedFile, SparseFilePastTheView) {
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-sparse.dll";
    {
        std::ofstream out(path, std::ios::binary);
        const char header[0x40] = {'M', 'Z'};
        out.write(header, sizeof header);
        out.seekp(0x3C);
        const std::uint32_t peAt = static_cast<std::uint32_t>(limits::kMaxFileView - 16);
        for (int i = 0; i < 4; ++i) out.put(static_cast<char>(peAt >> (8 * i)));
        out.seekp(static_cast<std::streamoff>(peAt));
        out.write("PE\0\0", 4);
    }
    std::filesystem::resize_file(path, limits::kMaxFileView + (std::uint64_t{1} << 20));
    resetLargestAllocation();
    const auto file = MappedFile::open(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), limits::kMaxFileView);
    EXPECT_EQ(file->read(limits::kMaxFileView - 8, 100).size(), 8u);
    EXPECT_TRUE(file->read(limits::kMaxFileView, 1).empty());
    EXPECT_EQ(file->bytesRead(), MappedFile::Storage::kWalkBlock);

    const auto icons = IconFile::open(path);
    ASSERT_TRUE(icons);
    EXPECT_EQ(icons->kind(), SourceKind::pe32);
    EXPECT_EQ(icons->count(), 0u);  // its headers would run past the view
    EXPECT_LT(largestAllocation(), std::size_t{1} << 20);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace pictrove::test
