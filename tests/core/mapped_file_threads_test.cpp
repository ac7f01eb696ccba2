// A file's lazy reads from several threads: while one thread's read of a
// range is held open, another thread that asks for the same range gets the
// file's bytes, never the memory they are still being read into. The source
// tells when the second thread has to wait, so no timing is involved.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mapped_file.h"

namespace pictrove {
namespace {

constexpr std::size_t kChunk = MappedFile::Storage::kChunk;
constexpr std::byte kUnread{0xA5};

// Bytes read a chunk at a time; the read armed by holdNextRead waits inside
// until release, and a thread that has to wait meanwhile is counted.
class HeldStorage final : public MappedFile::Storage {
public:
    explicit HeldStorage(std::vector<std::byte> bytes)
        : Storage(bytes.size(),
                  Options{.chunk = kChunk, .readWholeUpTo = 0, .unreadFill = kUnread, .walkBlock = 0}),
          bytes_(std::move(bytes)) {}

    void holdNextRead() { set(armed_); }
    void waitUntilHeld() {
        waitFor([&] { return held_; });
    }
    // Until the other thread has its answer or waits for the held read.
    void waitUntilAnsweredOrWaiting() {
        waitFor([&] { return answered_ || waiters_ > 0; });
    }
    void answered() { set(answered_); }
    void release() { set(released_); }
    int waiters() {
        const std::lock_guard lock(mutex_);
        return waiters_;
    }

private:
    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        {
            std::unique_lock lock(mutex_);
            if (armed_) {
                armed_ = false;
                held_ = true;
                changed_.notify_all();
                changed_.wait(lock, [&] { return released_; });
            }
        }
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), length, into);
        return length;
    }
    void waiting() override {
        const std::lock_guard lock(mutex_);
        ++waiters_;
        changed_.notify_all();
    }
    void set(bool& flag) {
        const std::lock_guard lock(mutex_);
        flag = true;
        changed_.notify_all();
    }
    void waitFor(const std::function<bool()>& ready) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, ready);
    }

    std::vector<std::byte> bytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false, held_ = false, answered_ = false, released_ = false;
    int waiters_ = 0;
};

using Access = std::function<std::vector<std::byte>(const MappedFile&, std::uint64_t at, std::size_t length)>;

std::vector<std::byte> copied(Bytes bytes) {
    return {bytes.begin(), bytes.end()};
}

// Every way of asking for a file's bytes.
const std::pair<const char*, Access> kAskers[] = {
    {"body", [](const MappedFile& f, std::uint64_t at, std::size_t n) { return copied(f.later(at, n)); }},
    {"walk", [](const MappedFile& f, std::uint64_t at, std::size_t n) { return copied(f.read(at, n)); }},
    {"heads",
     [](const MappedFile& f, std::uint64_t at, std::size_t n) {
         const FileBytes range[] = {f.later(at, n)};
         return readHeads(range, n);
     }},
};

// Three chunks and a bit, each byte telling its place.
std::vector<std::byte> patterned() {
    std::vector<std::byte> bytes(2 * kChunk + 300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i % 251);
    return bytes;
}

// Every way a range is read into memory is held open in turn, while every
// way of asking for bytes asks for the range from a second thread. The range
// is the last chunk not read, so that its read makes the whole file read.
TEST(ReadsAcrossThreads, ARangeBeingReadIsHandedOutOnlyOnceItsBytesAreIn) {
    const std::pair<const char*, Access> holders[] = {
        {"body", [](const MappedFile& f, std::uint64_t at, std::size_t n) { return copied(f.later(at, n)); }},
        {"read ahead",
         [](const MappedFile& f, std::uint64_t at, std::size_t n) {
             readAhead({f.later(at, n)});
             return copied(f.read(at, n));
         }},
        {"whole file",
         [](const MappedFile& f, std::uint64_t at, std::size_t n) {
             f.loadAll();
             return copied(f.read(at, n));
         }},
    };
    const std::vector<std::byte> bytes = patterned();
    const std::uint64_t at = 2 * kChunk + 10;
    const std::size_t length = 200;
    const std::vector<std::byte> expected(bytes.begin() + at, bytes.begin() + at + length);
    for (const auto& [holderName, holder] : holders) {
        for (const auto& [askerName, asker] : kAskers) {
            const std::string what = std::string(holderName) + " held, " + askerName + " asked";
            auto storage = std::make_shared<HeldStorage>(bytes);
            const MappedFile file = MappedFile::fromStorage(storage);
            file.read(0, 2 * kChunk);
            storage->holdNextRead();
            std::vector<std::byte> held, asked;
            std::thread first([&] { held = holder(file, at, length); });
            storage->waitUntilHeld();
            std::thread second([&] {
                asked = asker(file, at, length);
                storage->answered();
            });
            storage->waitUntilAnsweredOrWaiting();
            storage->release();
            first.join();
            second.join();
            EXPECT_EQ(storage->waiters(), 1) << what;
            EXPECT_EQ(held, expected) << what;
            EXPECT_EQ(asked, expected) << what;
        }
    }
}

// Bytes read before are handed out at once, by every way of asking for
// them, while another thread's read of other bytes is held open.
TEST(ReadsAcrossThreads, BytesReadBeforeWaitForNoOtherRead) {
    const std::vector<std::byte> bytes = patterned();
    for (const auto& [askerName, asker] : kAskers) {
        auto storage = std::make_shared<HeldStorage>(bytes);
        const MappedFile file = MappedFile::fromStorage(storage);
        file.read(0, 2 * kChunk);
        storage->holdNextRead();
        std::thread first([&] { file.later(2 * kChunk, 300).get(); });
        storage->waitUntilHeld();
        std::vector<std::byte> asked;
        std::thread second([&] {
            asked = asker(file, kChunk - 100, 200);
            storage->answered();
        });
        storage->waitUntilAnsweredOrWaiting();
        storage->release();
        first.join();
        second.join();
        EXPECT_EQ(storage->waiters(), 0) << askerName;
        EXPECT_EQ(asked, std::vector<std::byte>(bytes.begin() + kChunk - 100, bytes.begin() + kChunk + 100))
            << askerName;
    }
}

}  // namespace
}  // namespace pictrove
