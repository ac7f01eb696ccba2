#include "mapped_file.h"

#include <gtest/gtest.h>

#include <fstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "allocation_watch.h"
#include "icon_source/icon_file.h"
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

// Borrowed bytes are read where they lie, every way of reading, and their
// keeper lets go only once the file and the ranges taken from it are gone.
TEST(MappedFile, BorrowedBytesAreReadInPlaceWhileKept) {
    auto bytes = std::make_shared<std::vector<std::byte>>(readFixture("pe/three32.dll"));
    const std::weak_ptr<std::vector<std::byte>> kept = bytes;
    const Bytes view(*bytes);
    auto file = std::make_unique<MappedFile>(MappedFile::fromBorrowed(view, std::move(bytes)));
    EXPECT_EQ(file->size(), view.size());
    EXPECT_EQ(file->read(100, 10).data(), view.data() + 100);
    EXPECT_EQ(file->later(view.size() - 8, 100).get().data(), view.data() + view.size() - 8);
    const FileBytes range[] = {file->later(64, 4)};
    const auto heads = readHeads(range, 4);
    EXPECT_TRUE(std::equal(heads.begin(), heads.end(), view.begin() + 64));
    EXPECT_EQ(file->bytesRead(), 0u);  // nothing came from a file
    auto icons = std::make_unique<IconFile>(IconFile::fromFile(*file));
    EXPECT_EQ(icons->count(), 3u);
    file.reset();
    EXPECT_FALSE(kept.expired());  // the icons still read them
    EXPECT_TRUE(icons->icon(1).has_value());
    icons.reset();
    EXPECT_TRUE(kept.expired());
}

// Whatever the order and the way of reading (a reader's walk, an image body
// read alone, heads read together), every byte handed out is the file's:
// through a file on disk read in pages and blocks, and through a source that
// marks every byte never asked for. The last chunk holds one byte, so that
// reading all but it leaves exactly one chunk unread.
TEST(MappedFile, EveryWayOfReadingGivesTheFilesBytes) {
    std::vector<std::byte> bytes(limits::kReadWholeUpTo + 3 * MappedFile::Storage::kChunk + 1);
    std::uint32_t seed = 7;
    for (std::byte& b : bytes) b = static_cast<std::byte>((seed = seed * 1103515245 + 12345) >> 16 | 1);
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-read-orders";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto same = [&](Bytes got, std::uint64_t at, const std::string& what) {
        ASSERT_LE(at + got.size(), bytes.size()) << what;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)))
            << what;
    };
    const std::uint64_t last = bytes.size() - 1;
    for (int source = 0; source < 2; ++source) {
        const MappedFile file = source == 0 ? *MappedFile::open(path) : readWhereAsked(bytes, 16);
        const std::string what = source == 0 ? "file" : "marked";
        // Out of file order, the second starting before the first and overlapping it.
        const FileBytes heads[] = {file.later(last - 70, 70), file.later(last - 90, 30), file.later(5, 100),
                                   file.later(last, 1)};
        const auto read = readHeads(heads, 64);
        same(Bytes(read).subspan(0, 64), last - 70, what + " head 0");
        same(Bytes(read).subspan(64, 30), last - 90, what + " head 1");
        same(Bytes(read).subspan(128, 64), 5, what + " head 2");
        same(Bytes(read).subspan(192, 1), last, what + " head 3");
        same(file.later(0, last).get(), 0, what + " all but the last byte");
        EXPECT_EQ(file.later(0, last).get().size(), last) << what;
        same(file.later(last, 1).get(), last, what + " the last byte");
        same(file.read(last - 5000, 6000), last - 5000, what + " a walk's read");
        same(file.bytes(), 0, what + " all");
    }
    // The body at the very end read alone, then a walk through the block that
    // holds it: the block stops at the file's end, past which no chunk lies.
    const auto endFirst = MappedFile::open(path);
    ASSERT_TRUE(endFirst);
    same(endFirst->later(last, 1).get(), last, "the last byte first");
    same(endFirst->read(last - 5000, 100), last - 5000, "then a walk");
    // A small file, read in one go, cut after it was opened: what is gone
    // reads as zeros, whatever the memory held before.
    std::filesystem::resize_file(path, 4000);
    const auto cut = MappedFile::open(path);
    ASSERT_TRUE(cut);
    std::filesystem::resize_file(path, 1000);
    const Bytes kept = cut->bytes();
    ASSERT_EQ(kept.size(), 4000u);
    same(kept.first(1000), 0, "cut file");
    EXPECT_TRUE(std::all_of(kept.begin() + 1000, kept.end(), [](std::byte b) { return b == std::byte{0}; }));
    std::filesystem::remove(path);
}

// A window hands out its own bytes only: ranges are cut at its end, and one
// that starts at or past it is empty, whether the bytes lie in a file or in
// memory.
TEST(MappedFile, MadeBytesAreMadeOnceOnTheFirstReadAndLieInNoFile) {
    int made = 0;
    const MappedFile file = MappedFile::madeOnFirstRead(6, [&] {
        ++made;
        return textOf("abcd");  // shorter than promised: zeros follow
    });
    const FileBytes whole = file.later(0, 6), tail = file.later(2, 4);
    EXPECT_EQ(made, 0);
    EXPECT_FALSE(whole.fileOffset());
    EXPECT_FALSE(tail.fileOffset());
    EXPECT_EQ(tail.get()[1], std::byte{'d'});
    EXPECT_EQ(whole.get()[5], std::byte{0});
    EXPECT_EQ(file.bytes()[0], std::byte{'a'});
    EXPECT_EQ(made, 1);
}

TEST(MappedFile, AWindowNeverReachesPastItsEnd) {
    std::vector<std::byte> bytes(32);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i);
    const MappedFile file = MappedFile::fromBuffer(bytes);
    const auto at = [](Bytes got) { return got.empty() ? -1 : std::to_integer<int>(got[0]); };
    for (const FileView whole : {FileView(file), FileView(Bytes(bytes))}) {
        const FileView part = whole.window(4, 8);    // bytes 4 to 11
        const FileView inner = part.window(6, 100);  // bytes 10 and 11
        EXPECT_EQ(part.read(6, 10).size(), 2u);
        EXPECT_EQ(at(part.read(6, 10)), 10);
        for (const std::uint64_t past : {std::uint64_t{8}, std::uint64_t{9}, ~std::uint64_t{0}}) {
            EXPECT_TRUE(part.read(past, 1).empty()) << past;
            EXPECT_TRUE(part.later(past, 1).get().empty()) << past;
            EXPECT_FALSE(part.u8At(past)) << past;
        }
        EXPECT_EQ(at(part.later(7, 5).get()), 11);
        EXPECT_EQ(part.later(7, 5).size(), 1u);
        EXPECT_EQ(inner.size(), 2u);
        EXPECT_EQ(at(inner.read(0, 4)), 10);
        EXPECT_TRUE(inner.read(2, 1).empty());
        EXPECT_EQ(whole.window(40, 4).size(), 0u);
    }
}

// A body is read in the chunks it covers and no more: one that ends where a
// chunk ends does not take the next chunk along.
TEST(MappedFile, ABodyReadsTheChunksItCoversAlone) {
    constexpr std::uint64_t chunk = MappedFile::Storage::kChunk;
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-body-chunks";
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary).put('x');
    std::filesystem::resize_file(path, limits::kReadWholeUpTo + 64 * chunk);
    const auto file = MappedFile::open(path);
    ASSERT_TRUE(file);
    struct Case {
        std::uint64_t offset, length, read;
    };
    const Case cases[] = {{chunk, chunk, chunk},                // one whole chunk
                          {4 * chunk, 2 * chunk, 2 * chunk},    // two whole chunks
                          {9 * chunk - 1, 2, 2 * chunk},        // astride two
                          {20 * chunk + 1, chunk - 1, chunk}};  // the rest of one
    std::uint64_t before = file->bytesRead();
    for (const Case& c : cases) {
        EXPECT_EQ(file->later(c.offset, c.length).get().size(), c.length) << c.offset;
        EXPECT_EQ(file->bytesRead() - before, c.read) << c.offset;
        before = file->bytesRead();
    }
    // Read again, nothing more comes from the disk.
    for (const Case& c : cases) EXPECT_EQ(file->later(c.offset, c.length).get().size(), c.length);
    EXPECT_EQ(file->bytesRead(), before);
    std::filesystem::remove(path);
}

// Ranges read ahead in any order are all read in that one pass; none is
// read again when its bytes are asked for.
TEST(MappedFile, ReadAheadTakesRangesInAnyOrder) {
    constexpr std::uint64_t chunk = MappedFile::Storage::kChunk;
    const auto path = std::filesystem::path(testing::TempDir()) / "pictrove-read-ahead";
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary).put('x');
    std::filesystem::resize_file(path, limits::kReadWholeUpTo + 64 * chunk);
    const auto file = MappedFile::open(path);
    ASSERT_TRUE(file);
    const std::vector<FileBytes> ranges{file->later(40 * chunk, 10), file->later(2 * chunk, 10),
                                        file->later(30 * chunk, 10)};
    readAhead(ranges);
    const std::uint64_t after = file->bytesRead();
    for (const FileBytes& range : ranges) EXPECT_EQ(range.get().size(), 10u);
    EXPECT_EQ(file->bytesRead(), after);
    std::filesystem::remove(path);
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
