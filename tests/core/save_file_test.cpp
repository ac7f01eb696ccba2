#include "save_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "path_text.h"
#include "temporary_files.h"

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

// Puts a watch in place of the system's flush for one test.
class SyncWatch {
public:
    explicit SyncWatch(detail::SyncCall watch) : real_(detail::replaceSyncCall(std::move(watch))) {}
    ~SyncWatch() { detail::replaceSyncCall(std::move(real_)); }

private:
    detail::SyncCall real_;
};

// Each row saves "new" to t.png in a folder of its own. A caller that held
// the old file open reads the old bytes after a replace, and the new ones
// after a save into the existing file.
struct Saved {
    const char* what;
    const char* before;  // the target's bytes before, or none
    bool throughLink;    // t.png is a link to real/t.png
    SaveOptions options;
};

const Saved kSaved[] = {
    {"new file", nullptr, false, {}},
    {"replaced file", "old", false, {}},
    {"into a placeholder held open", "", false, {.intoExisting = true}},
#ifndef _WIN32
    {"through a link", "old", true, {}},
    {"through a link to a file not there yet", nullptr, true, {}},
#endif
};

TEST_F(SaveFile, WritesAndReplacesWithoutLeftovers) {
    for (std::size_t row = 0; row < std::size(kSaved); ++row) {
        const Saved& c = kSaved[row];
        SCOPED_TRACE(c.what);
        const fs::path sub = folder / std::to_string(row);
        fs::create_directory(sub);
        const fs::path target = sub / "t.png";
        const fs::path file = c.throughLink ? sub / "real" / "t.png" : target;
        if (c.throughLink) {
            fs::create_directory(sub / "real");
            fs::create_symlink(fs::path("real") / "t.png", target);
        }
        if (c.before) std::ofstream(file) << c.before;
#ifndef _WIN32
        const int held = c.before ? ::open(file.c_str(), O_RDONLY) : -1;
#endif
        const auto error = saveFile(target, std::vector<std::uint8_t>{'n', 'e', 'w'}, c.options);
        ASSERT_FALSE(error) << error->message;
        EXPECT_EQ(contents(file), "new");
        EXPECT_EQ(fs::is_symlink(target), c.throughLink);
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(sub), {}), c.throughLink ? 3 : 1);
#ifndef _WIN32
        if (held >= 0) {
            char seen[8] = {};
            const auto n = ::pread(held, seen, sizeof seen, 0);
            ::close(held);
            EXPECT_EQ(std::string(seen, n > 0 ? static_cast<std::size_t>(n) : 0),
                      c.options.intoExisting ? "new" : c.before);
        }
#endif
    }
    ASSERT_FALSE(saveFile(folder / "empty.png", {}));
    EXPECT_EQ(fs::file_size(folder / "empty.png"), 0u);
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
#ifndef _WIN32
    // A loop of links names no file, and none is made in its place.
    fs::create_symlink("loop-b", folder / "loop-a");
    fs::create_symlink("loop-a", folder / "loop-b");
    EXPECT_TRUE(saveFile(folder / "loop-a", kBytes));
    EXPECT_TRUE(fs::is_symlink(folder / "loop-a") && fs::is_symlink(folder / "loop-b"));
    EXPECT_EQ(entries(), 3u);
#endif
}

// The write loop against writes that take part of what they are offered, are
// interrupted, fail (-errno), or store nothing.
TEST(SaveFileWriteLoop, AsksForTheRestUntilAllIsStoredOrAWriteFails) {
    const struct {
        const char* what;
        std::vector<long> answers;
        bool written;
        std::vector<std::size_t> asks;
        int error;
    } cases[] = {
        {"takes at most 3 bytes a call", {3, 3, 2}, true, {8, 5, 2}, 0},
        {"interrupted, then takes all", {-EINTR, 8}, true, {8, 8}, 0},
        // Storing nothing is a full disk, not a reason to try again.
        {"stores two, then nothing", {2, 0, -EIO}, false, {8, 6}, ENOSPC},
        {"fails", {-EIO}, false, {8}, EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::size_t> asks;
        std::string stored;
        const auto write = [&](int, const std::uint8_t* data, std::size_t size) {
            const long n = c.answers.at(asks.size());
            asks.push_back(size);
            errno = n < 0 ? static_cast<int>(-n) : 0;
            if (n > 0) stored.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
            return n < 0 ? -1L : n;
        };
        int error = 0;
        EXPECT_EQ(detail::writeAll(-1, std::vector<std::uint8_t>{'0', '1', '2', '3', '4', '5', '6', '7'},
                                   error, write),
                  c.written);
        EXPECT_EQ(asks, c.asks);
        EXPECT_EQ(error, c.error);
        if (c.written) {
            EXPECT_EQ(stored, "01234567");
        }
    }
}

// A durable save flushes the complete new file before it replaces the old
// one, and the folder after; a failed flush fails the save like a failed
// write. Every flush is seen with what the target held at that moment.
TEST_F(SaveFile, DurableSavesFlushTheFileBeforeTheFolder) {
    struct Flush {
        fs::path path;
        std::string file;    // what the flushed file held, for a file
        std::string target;  // what the target held
    };
    std::vector<Flush> flushes;
    bool fail = false;
    const auto target = folder / "t.ico";
    const SyncWatch watch([&](detail::NativeFile, const fs::path& path) {
        flushes.push_back({path, fs::is_regular_file(path) ? contents(path) : "", contents(target)});
        if (!fail) return true;
        errno = EIO;
#ifdef _WIN32
        SetLastError(ERROR_WRITE_FAULT);
#endif
        return false;
    });

    std::ofstream(target) << "old";
    ASSERT_FALSE(saveFile(target, std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_TRUE(flushes.empty());  // deferred unless asked for

    ASSERT_FALSE(saveFile(target, std::vector<std::uint8_t>{'1', '2'}, {.durability = Durability::flushed}));
    ASSERT_EQ(flushes.size(), 2u);
    EXPECT_EQ(std::make_pair(flushes[0].file, flushes[0].target),
              std::make_pair(std::string("12"), std::string("new")));
    EXPECT_EQ(fs::absolute(flushes[1].path), fs::absolute(folder));
    EXPECT_EQ(flushes[1].target, "12");

    // A new file, too, is followed by its folder.
    flushes.clear();
    ASSERT_FALSE(saveFile(folder / "new.ico", kBytes, {.durability = Durability::flushed}));
    ASSERT_EQ(flushes.size(), 2u);
    EXPECT_EQ(fs::absolute(flushes[1].path), fs::absolute(folder));
    fs::remove(folder / "new.ico");

    fail = true;
    const auto failed = saveFile(target, kBytes, {.durability = Durability::flushed});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ErrorCode::writeFailed);
    EXPECT_EQ(contents(target), "12");
    EXPECT_EQ(entries(), 1u);

    // Written in place, the file is left empty rather than holding part of it.
    EXPECT_TRUE(saveFile(target, kBytes, {.durability = Durability::flushed, .intoExisting = true}));
    EXPECT_EQ(fs::file_size(target), 0u);
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
    if (!root) return;

    // Another user's set-ID program, replaced in an open folder, keeps neither
    // its owner nor its group, so the new file must not run as either; the
    // saver's own keeps its bits.
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    for (const uid_t owner : {1234u, 65534u}) {
        ASSERT_EQ(chown(target.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(target.c_str(), 06755), 0);
        const pid_t other = fork();
        if (other == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
            _exit(saveFile(target, kBytes) ? 1 : 0);
        }
        waitpid(other, &status, 0);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, owner == 65534 ? 06755u : 0755u) << owner;
    }
}

// A pipe is written with blocking writes, whether its reader is slow or not
// there yet: all of the bytes, more than the pipe holds at once.
TEST_F(SaveFile, WaitsForAPipesReader) {
    const auto pipe = folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::vector<std::uint8_t> bytes(200000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
    for (const bool readerFirst : {true, false}) {
        SCOPED_TRACE(readerFirst ? "reader there first" : "reader comes later");
        const int early = readerFirst ? ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        std::vector<std::uint8_t> received;
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            // Never blocks in open, so a writer that gave up cannot hang the test.
            const int fd = early >= 0 ? early : ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
            fcntl(fd, F_SETFL, 0);
            std::uint8_t chunk[4096];
            for (long n = 0; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
                received.insert(received.end(), chunk, chunk + n);
            ::close(fd);
        });
        const auto error = saveFile(pipe, bytes);
        reader.join();
        EXPECT_FALSE(error) << error->message;
        EXPECT_EQ(received.size(), bytes.size());
        EXPECT_TRUE(received == bytes);
    }
}

// Puts a watch in place of the system's write for one test.
class WriteWatch {
public:
    explicit WriteWatch(detail::WriteCall watch) : real_(detail::replaceWriteCall(std::move(watch))) {}
    ~WriteWatch() { detail::replaceWriteCall(std::move(real_)); }

private:
    detail::WriteCall real_;
};

// Runs `work` in a child process, as user 65534 when `asOther`; its wait status.
int inChild(const std::function<int()>& work, bool asOther = false) {
    const pid_t child = fork();
    if (child == 0) {
        if (asOther && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(work());
    }
    int status = -1;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(SaveFile, AReplacingFileIsTheOwnersAloneUntilItIsComplete) {
    const auto target = folder / "private.ico";
    std::ofstream(target) << "old";
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    mode_t whileWritten = 0;
    const WriteWatch watch([&](int fd, const std::uint8_t* data, std::size_t size) {
        struct stat info {};
        fstat(fd, &info);
        whileWritten = info.st_mode & 0777;
        return static_cast<long>(::write(fd, data, size));
    });
    ASSERT_FALSE(saveFile(target, kBytes));
    EXPECT_EQ(whileWritten & 077, 0u) << std::oct << whileWritten;
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A new file shows under no name, its own or a temporary one, until all of
// it is written; a failed write leaves nothing; a name taken meanwhile goes
// to the new file, as a replace would have it.
TEST_F(SaveFile, ANewFileShowsUnderNoNameUntilComplete) {
    const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) GTEST_SKIP() << "the folder's file system makes no unnamed files";
    ::close(probe);
    const auto target = folder / "t.png";
    const std::string wanted(kBytes.begin(), kBytes.end());
    enum { look, fail, takeTheName } step = look;
    std::size_t seen = 99;
    const WriteWatch watch([&](int fd, const std::uint8_t* data, std::size_t size) -> long {
        seen = entries();
        if (step == fail) {
            errno = ENOSPC;
            return -1;
        }
        if (step == takeTheName) {
            std::ofstream(target) << "taken meanwhile";
            step = look;
        }
        return ::write(fd, data, size);
    });
    ASSERT_FALSE(saveFile(target, kBytes));
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(contents(target), wanted);

    step = fail;
    const auto failed = saveFile(folder / "full.png", kBytes);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, ErrorCode::writeFailed);
    EXPECT_EQ(entries(), 1u);

    fs::remove(target);
    step = takeTheName;
    const auto taken = saveFile(target, kBytes);
    ASSERT_FALSE(taken) << taken->message;
    EXPECT_EQ(contents(target), wanted);
    EXPECT_EQ(entries(), 1u);
}

// A save stopped by a signal once its temporary file is there: the signal
// still ends the process, with its own status, and takes the file along.
TEST_F(SaveFile, ATerminationSignalMidSaveLeavesNoTemporaryFile) {
    const auto target = folder / "t.png";
    std::ofstream(target) << "old";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int status = inChild([&] {
            removeTemporariesOnSignals();
            const WriteWatch stop([signal](int, const std::uint8_t*, std::size_t) -> long {
                ::raise(signal);
                return -1;
            });
            saveFile(target, kBytes);
            return 0;
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " " << status;
        EXPECT_EQ(contents(target), "old");
        EXPECT_EQ(entries(), 1u) << signal;
    }
    // Noted folders go too, after the files in them.
    const auto dragged = folder / "Pictrove-1-x";
    const int status = inChild([&] {
        removeTemporariesOnSignals();
        const TemporaryNote folderNote(dragged, true);
        const TemporaryNote fileNote(dragged / "a.png");
        fs::create_directory(dragged);
        std::ofstream(dragged / "a.png") << "png";
        ::raise(SIGTERM);
        return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(fs::exists(dragged));
    // A note given another entry, or handed on, answers for that one alone.
    const auto first = folder / "first.tmp";
    const auto second = folder / "second.tmp";
    const int handedOn = inChild([&] {
        removeTemporariesOnSignals();
        TemporaryNote note(first);
        note = TemporaryNote(second);
        const TemporaryNote holder(std::move(note));
        std::ofstream(first) << "kept";
        std::ofstream(second) << "partial";
        ::raise(SIGTERM);
        return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(handedOn) && WTERMSIG(handedOn) == SIGTERM) << handedOn;
    EXPECT_TRUE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
}

// Temporary files whose process is gone are removed by the next durable save
// into their folder; those of running processes, of other users and of
// other names stay.
TEST_F(SaveFile, RemovesTheTemporaryFilesOfEndedRuns) {
    const int ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const auto named = [&](long pid, int n) {
        return folder / (".pictrove-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp");
    };
    const std::vector<fs::path> stale{named(ended, 0), named(ended, 7)};
    std::vector<fs::path> kept{named(getpid(), 0), named(getppid(), 1), folder / ".pictrove-x-0.tmp",
                               folder / "keep.tmp", folder / "t.png"};
    for (const auto& path : stale) std::ofstream(path) << "partial";
    for (const auto& path : kept) std::ofstream(path) << "partial";
    if (geteuid() == 0) {
        kept.push_back(named(ended, 9));
        std::ofstream(kept.back()) << "another user's";
        ASSERT_EQ(chown(kept.back().c_str(), 65534, 65534), 0);
    }
    ASSERT_FALSE(saveFile(folder / "t.png", kBytes, {.durability = Durability::flushed}));
    for (const auto& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
    for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(entries(), kept.size());
}

// As another user, in a folder of root's that takes no new file, a file
// anyone may write is written in place; on a full disk it is left as it was.
TEST_F(SaveFile, AFileWrittenInPlaceStaysWholeOnAFullDisk) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a small disk and act as another user";
    const auto disk = folder / "disk";
    fs::create_directory(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) GTEST_SKIP() << "no tmpfs";
    const auto target = disk / "t.ico";
    std::ofstream(target) << "old";
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    const int fill = ::open((disk / "fill").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::vector<char> block(4096, 'f');
    while (::write(fill, block.data(), block.size()) > 0) {
    }
    ::close(fill);
    const std::vector<std::uint8_t> bytes(16384, 'n');
    const int status = inChild(
        [&] {
            const auto error = saveFile(target, bytes);
            return error && error->message.find("safely") != std::string::npos ? 0 : 1;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk), {}), 2);
    umount2(disk.c_str(), MNT_DETACH);
}
#endif

}  // namespace
}  // namespace pictrove
