#include "mapped_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "path_text.h"
#include "reader_limits.h"

#ifdef _WIN32
#include <windows.h>

#include "windows_error.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pictrove {

namespace {

// Files from this size on get address space of their own, with memory
// behind it only where chunks were read; smaller ones take one allocation.
constexpr std::size_t kOwnMappingFrom = 1024 * 1024;

std::size_t pageSize() {
#ifdef _WIN32
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

// The bytes of a file: one allocation for a small one; for a large one
// address space the size of the file, with memory behind it only where a
// range was read. Windows commits each range before reading into it (pages
// never committed cannot be read at all); Linux maps pages that cost nothing
// until they are written, which is faster than opening them range by range.
class MappedFile::Storage::Memory {
public:
    Memory(std::size_t size, std::optional<std::byte> fill) : size_(size) {
        if (fill || size < kOwnMappingFrom) {
            // Not cleared: a chunk is handed out only once it was read, and
            // what a short read left of it is cleared then.
            data_ = static_cast<std::byte*>(std::malloc(std::max<std::size_t>(size, 1)));
            if (data_ && fill) std::memset(data_, std::to_integer<int>(*fill), size);
            return;
        }
        reserved_ = true;
#ifdef _WIN32
        data_ = static_cast<std::byte*>(VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS));
#else
        void* p =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        data_ = p == MAP_FAILED ? nullptr : static_cast<std::byte*>(p);
#endif
    }
    // Memory someone else owns, all of it filled: nothing is read into it.
    explicit Memory(Bytes borrowed)
        : data_(const_cast<std::byte*>(borrowed.data())), size_(borrowed.size()), borrowed_(true) {}
    ~Memory() {
        if (!data_ || borrowed_) return;
        if (!reserved_) {
            std::free(data_);
            return;
        }
#ifdef _WIN32
        VirtualFree(data_, 0, MEM_RELEASE);
#else
        munmap(data_, size_);
#endif
    }
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    std::byte* data() const {
        return data_;
    }

    // Puts memory behind [offset, offset + length) before a read into it.
    bool commit(std::size_t offset, std::size_t length) {
        if (!reserved_) return true;
        static const std::size_t page = pageSize();
        const std::size_t from = offset / page * page;
        const std::size_t end = (size_ + page - 1) / page * page;
        const std::size_t to = std::min((offset + length + page - 1) / page * page, end);
#ifdef _WIN32
        return VirtualAlloc(data_ + from, to - from, MEM_COMMIT, PAGE_READWRITE) != nullptr;
#else
#ifdef MADV_POPULATE_WRITE
        // One call instead of a page fault per page, which is most of the
        // cost of a large read; for a few pages the call costs more than
        // their faults. Only a hint: kernels before 5.14 refuse it.
        constexpr std::size_t kPopulateFrom = 64 * 1024;
        if (to - from >= kPopulateFrom) madvise(data_ + from, to - from, MADV_POPULATE_WRITE);
#endif
        return true;
#endif
    }

private:
    std::byte* data_ = nullptr;
    std::size_t size_;
    bool reserved_ = false;
    bool borrowed_ = false;
};

MappedFile::Storage::Storage(std::size_t size, Options options)
    : memory_(std::make_unique<Memory>(size, options.unreadFill)),
      size_(size),
      chunk_(std::max<std::size_t>(options.chunk, 1)),
      walkBlock_(options.walkBlock),
      readWholeUpTo_(options.readWholeUpTo),
      made_(options.made),
      loaded_(new std::atomic<std::uint64_t>[((size + chunk_ - 1) / chunk_ + 63) / 64]()) {
    if (!memory_->data()) throw std::bad_alloc();
}

MappedFile::Storage::Storage(Bytes borrowed)
    : memory_(std::make_unique<Memory>(borrowed)),
      size_(borrowed.size()),
      chunk_(kChunk),
      walkBlock_(kWalkBlock),
      readWholeUpTo_(limits::kReadWholeUpTo),
      allRead_(true) {}

MappedFile::Storage::~Storage() = default;

std::size_t MappedFile::Storage::firstWith(bool read, std::size_t from, std::size_t to) const {
    while (from < to) {
        std::uint64_t word = loaded_[from / 64].load(std::memory_order_acquire);
        if (!read) word = ~word;
        word &= ~std::uint64_t{0} << (from % 64);
        if (word != 0) return std::min(from / 64 * 64 + static_cast<std::size_t>(std::countr_zero(word)), to);
        from = (from / 64 + 1) * 64;
    }
    return to;
}

void MappedFile::Storage::markRead(std::size_t from, std::size_t to) {
    chunksRead_ += to - from;
    for (; from < to; ++from)
        loaded_[from / 64].fetch_or(std::uint64_t{1} << (from % 64), std::memory_order_release);
    if (chunksRead_ == (size_ + chunk_ - 1) / chunk_) allRead_.store(true, std::memory_order_release);
}

std::unique_lock<std::mutex> MappedFile::Storage::takeTurn() {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        waiting();
        lock.lock();
    }
    return lock;
}

void MappedFile::Storage::release() {
    const auto lock = takeTurn();
    if (!released_) closeFile();
    released_ = true;
}

Bytes MappedFile::Storage::read(std::uint64_t offset, std::uint64_t length, bool walk) {
    if (offset >= size_) return {};
    const std::size_t end =
        static_cast<std::size_t>(offset + std::min<std::uint64_t>(length, size_ - offset));
    if (end == offset) return {};
    std::byte* data = memory_->data();
    if (allRead()) return {data + offset, end - static_cast<std::size_t>(offset)};
    // Bytes read before need no turn at the file: their chunks' bits were
    // set only once the bytes were in place.
    const std::size_t pastLastChunk = (end - 1) / chunk_ + 1;
    if (firstWith(false, static_cast<std::size_t>(offset) / chunk_, pastLastChunk) == pastLastChunk)
        return {data + offset, end - static_cast<std::size_t>(offset)};
    const auto lock = takeTurn();
    // Readers come back to what they just read (an image that many groups
    // name): no need to look through the chunks again.
    if (offset >= lastFrom_ && end <= lastTo_) return {data + offset, end - static_cast<std::size_t>(offset)};
    std::size_t blockFrom = static_cast<std::size_t>(offset), blockTo = end;
    // The first chunk holds what tells a file's kind and an executable's
    // headers: a walk there takes that chunk alone, so that a folder's files
    // that hold no icons, or hold them far from the start, cost one chunk.
    if (walk && walkBlock_ > chunk_ && end > chunk_) {
        blockFrom = blockFrom / walkBlock_ * walkBlock_;
        blockTo = std::min((blockTo - 1) / walkBlock_ * walkBlock_ + walkBlock_, size_);
    }
    if (released_) {
        // No more reads: only the chunks of the range itself count.
        if (firstWith(false, static_cast<std::size_t>(offset) / chunk_, pastLastChunk) != pastLastChunk)
            throw FileReleased();
        return {data + offset, end - static_cast<std::size_t>(offset)};
    }
    const std::size_t first = blockFrom / chunk_;
    const std::size_t last = (blockTo - 1) / chunk_;
    // One read for each run of chunks not read yet; most fields lie in one
    // chunk read before.
    for (std::size_t chunk = firstWith(false, first, last + 1); chunk <= last;) {
        const std::size_t stop = firstWith(true, chunk, last + 1);
        const std::size_t from = chunk * chunk_;
        const std::size_t to = std::min(stop * chunk_, size_);
        // Out of memory: the range stays unread and the caller gets nothing.
        if (!memory_->commit(from, to - from)) return {};
        const std::size_t got = readAt(from, data + from, to - from);
        if (got < to - from) std::memset(data + from + got, 0, to - from - got);  // the file ended early
        bytesRead_ += got;
        // Only now that the bytes are in place: marking the last chunks sets
        // "all read", which others look at without the lock.
        markRead(chunk, stop);
        chunk = firstWith(false, stop, last + 1);
    }
    // All of these chunks are in memory now, not only the range asked for.
    lastFrom_ = first * chunk_;
    lastTo_ = std::min((last + 1) * chunk_, size_);
    return {data + offset, end - static_cast<std::size_t>(offset)};
}

void MappedFile::Storage::copyOut(std::uint64_t offset, std::byte* into, std::size_t length) {
    std::size_t copied = 0;
    if (offset < size_) {
        const auto from = static_cast<std::size_t>(offset);
        const std::size_t end = from + std::min<std::size_t>(length, size_ - from);
        const std::size_t first = from / chunk_;
        const std::size_t last = end > from ? (end - 1) / chunk_ : first;
        // Bytes read before are copied without a turn at the file, as read
        // hands them out; a chunk once read stays read.
        const auto inMemory = [&] {
            return end == from || allRead() || firstWith(false, first, last + 1) == last + 1;
        };
        std::unique_lock<std::mutex> lock;
        if (!inMemory()) lock = takeTurn();
        if (inMemory()) {
            std::memcpy(into, memory_->data() + from, end - from);
            copied = end - from;
        } else {
            if (released_) throw FileReleased();
            copied = readAt(from, into, end - from);
            bytesRead_ += copied;
        }
    }
    std::memset(into + copied, 0, length - copied);
}

std::vector<std::byte> readHeads(std::span<const FileBytes> ranges, std::size_t length) {
    // Heads no further apart than this are read in one go, up to a span
    // this long: one read costs about as much as copying a few pages.
    constexpr std::uint64_t kGap = 4096;
    constexpr std::uint64_t kSpan = 64 * 1024;
    std::vector<std::byte> heads(ranges.size() * length);
    // The ranges in file order, sorted by keys of their own rather than
    // through the ranges; images mostly come in file order already.
    struct Place {
        const MappedFile::Storage* storage;
        std::uint64_t offset;
        std::size_t index;
    };
    std::vector<Place> places(ranges.size());
    for (std::size_t i = 0; i < places.size(); ++i) places[i] = {ranges[i].storage_, ranges[i].offset_, i};
    const auto inFileOrder = [](const Place& a, const Place& b) {
        return std::less<>()(a.storage, b.storage) || (a.storage == b.storage && a.offset < b.offset);
    };
    if (!std::is_sorted(places.begin(), places.end(), inFileOrder))
        std::sort(places.begin(), places.end(), inFileOrder);
    std::vector<std::size_t> order(places.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = places[i].index;
    const auto headOf = [&](std::size_t i) { return std::min<std::uint64_t>(length, ranges[i].size_); };
    // Filled by each read before it is looked at.
    const std::unique_ptr<std::byte[]> span(new std::byte[kSpan]);
    for (std::size_t i = 0; i < order.size();) {
        const FileBytes& first = ranges[order[i]];
        if (!first.storage_) {
            if (const std::size_t n = headOf(order[i]))
                std::memcpy(heads.data() + order[i] * length, first.memory_.data(), n);
            ++i;
            continue;
        }
        const std::uint64_t start = first.offset_;
        std::uint64_t end = start + headOf(order[i]);
        std::size_t j = i + 1;
        for (; j < order.size(); ++j) {
            const FileBytes& next = ranges[order[j]];
            const std::uint64_t nextEnd = next.offset_ + headOf(order[j]);
            if (next.storage_ != first.storage_ || next.offset_ > end + kGap || nextEnd - start > kSpan)
                break;
            end = std::max(end, nextEnd);
        }
        first.storage_->copyOut(start, span.get(), static_cast<std::size_t>(end - start));
        for (std::size_t k = i; k < j; ++k) {
            const std::size_t n = order[k];
            if (const std::size_t count = headOf(n))
                std::memcpy(heads.data() + n * length, span.get() + (ranges[n].offset_ - start), count);
        }
        i = j;
    }
    return heads;
}

void readAhead(std::vector<FileBytes> ranges) {
    std::erase_if(ranges, [](const FileBytes& range) {
        return !range.storage_ || range.size_ == 0 || range.storage_->allRead();
    });
    std::sort(ranges.begin(), ranges.end(), [](const FileBytes& a, const FileBytes& b) {
        return std::less<>()(a.storage_, b.storage_) || (a.storage_ == b.storage_ && a.offset_ < b.offset_);
    });
    for (std::size_t i = 0; i < ranges.size();) {
        MappedFile::Storage* const storage = ranges[i].storage_;
        const std::uint64_t start = ranges[i].offset_;
        std::uint64_t end = start + ranges[i].size_;
        for (++i; i < ranges.size() && ranges[i].storage_ == storage &&
                  ranges[i].offset_ <= end + MappedFile::Storage::kChunk;
             ++i)
            end = std::max(end, ranges[i].offset_ + ranges[i].size_);
        // In pieces, so that threads already at work wait for one piece at
        // most when they need a part not read yet.
        constexpr std::uint64_t kPiece = 256 * 1024;
        for (std::uint64_t at = start; at < end; at += kPiece) storage->read(at, std::min(kPiece, end - at));
    }
}

void MappedFile::loadAllIfSmall() const {
    if (storage_ && storage_->size() <= storage_->readWholeUpTo()) loadAll();
}

namespace {

class BufferStorage final : public MappedFile::Storage {
public:
    explicit BufferStorage(std::vector<std::byte> bytes) : Storage(bytes.size()), bytes_(std::move(bytes)) {
        read(0, bytes_.size());
        bytes_ = {};  // in the storage's own memory now
    }

private:
    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), length, into);
        return length;
    }
    std::vector<std::byte> bytes_;
};

// Made in one piece on the first read, which is the only one: the piece
// is the whole.
class MadeStorage final : public MappedFile::Storage {
public:
    MadeStorage(std::size_t size, std::function<std::vector<std::byte>()> make)
        : Storage(size, madeOptions(size)), make_(std::move(make)) {}

private:
    std::string whyNotMade() const override {
        const std::lock_guard lock(whyGuard_);
        return why_;
    }

    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        std::vector<std::byte> bytes;
        try {
            bytes = make_();
        } catch (const std::bad_alloc&) {
            const std::lock_guard lock(whyGuard_);
            why_ = "out of memory";
        } catch (const std::exception& error) {
            const std::lock_guard lock(whyGuard_);
            why_ = *error.what() ? error.what() : "it could not be made";
        }
        const std::size_t count =
            offset < bytes.size()
                ? std::min<std::size_t>(length, bytes.size() - static_cast<std::size_t>(offset))
                : 0;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(count ? offset : 0), count, into);
        std::fill_n(into + count, length - count, std::byte{0});
        return length;  // all of it made, zeros too
    }
    static Options madeOptions(std::size_t size) {
        Options options;
        options.chunk = options.readWholeUpTo = size;
        options.made = true;
        return options;
    }
    std::function<std::vector<std::byte>()> make_;
    mutable std::mutex whyGuard_;
    std::string why_;
};

class BorrowedStorage final : public MappedFile::Storage {
public:
    BorrowedStorage(Bytes bytes, std::shared_ptr<const void> keeper)
        : Storage(bytes), keeper_(std::move(keeper)) {}

private:
    std::size_t readAt(std::uint64_t, std::byte*, std::size_t) override { return 0; }  // all read
    std::shared_ptr<const void> keeper_;
};

Error openError(const std::filesystem::path& path, const std::string& reason, int systemError = 0) {
    return Error{ErrorCode::cannotOpen, "Cannot open file " + utf8Of(path) + ": " + reason, systemError,
                 utf8Of(path)};
}

std::size_t viewSize(std::uint64_t fileSize) {
    return static_cast<std::size_t>(std::min(fileSize, limits::kMaxFileView));
}

#ifndef _WIN32
class DescriptorStorage final : public MappedFile::Storage {
public:
    DescriptorStorage(int fd, std::size_t size) : Storage(size), fd_(fd) {}
    ~DescriptorStorage() override { closeFile(); }

private:
    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(fd_, into + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // the file ended early or cannot be read: the rest stays zero
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    void closeFile() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};
#else
class HandleStorage final : public MappedFile::Storage {
public:
    HandleStorage(HANDLE file, std::size_t size) : Storage(size), file_(file) {}
    ~HandleStorage() override { closeFile(); }

private:
    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        std::size_t done = 0;
        while (done < length) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset + done);
            at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            const auto ask = static_cast<DWORD>(std::min<std::size_t>(length - done, 1 << 30));
            DWORD got = 0;
            // The file ended early or cannot be read: the rest stays zero.
            if (!ReadFile(file_, into + done, ask, &got, &at) || got == 0) break;
            done += got;
        }
        return done;
    }
    void closeFile() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    HANDLE file_;
};
#endif

}  // namespace

MappedFile MappedFile::fromBuffer(std::vector<std::byte> bytes) {
    return MappedFile(std::make_shared<BufferStorage>(std::move(bytes)));
}

MappedFile MappedFile::madeOnFirstRead(std::uint64_t size, std::function<std::vector<std::byte>()> make) {
    return MappedFile(std::make_shared<MadeStorage>(viewSize(size), std::move(make)));
}

MappedFile MappedFile::fromBorrowed(Bytes bytes, std::shared_ptr<const void> keeper) {
    // Past the largest view a file gets, the rest is not looked at.
    bytes = bytes.first(viewSize(bytes.size()));
    return MappedFile(std::make_shared<BorrowedStorage>(bytes, std::move(keeper)));
}

MappedFile MappedFile::fromStorage(std::shared_ptr<Storage> storage) {
    return MappedFile(std::move(storage));
}

#ifndef _WIN32
Result<MappedFile> MappedFile::fromOpenFile(int fd, std::uint64_t size) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return Error{ErrorCode::readFailed, std::string("Cannot read file: ") + std::strerror(errno)};
    try {
        return MappedFile(std::make_shared<DescriptorStorage>(own, viewSize(size)));
    } catch (const std::bad_alloc&) {
        ::close(own);
        return Error{ErrorCode::readFailed, "Cannot read file: out of memory"};
    }
}

Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        return openError(path, std::strerror(error), error);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return openError(path, std::strerror(error), error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return S_ISDIR(info.st_mode) ? openError(path, "is a folder", EISDIR)
                                     : openError(path, "not a regular file");
    }
    std::shared_ptr<DescriptorStorage> storage;
    try {
        storage = std::make_shared<DescriptorStorage>(fd, viewSize(static_cast<std::uint64_t>(info.st_size)));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return Error{ErrorCode::readFailed, "Cannot read file " + utf8Of(path) + ": out of memory"};
    }
    MappedFile file(std::move(storage));
    return file;
}
#else
Result<MappedFile> MappedFile::fromOpenFile(void* handle, std::uint64_t size) {
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return Error{ErrorCode::readFailed, "Cannot read file: " + windowsErrorText(GetLastError())};
    try {
        return MappedFile(std::make_shared<HandleStorage>(own, viewSize(size)));
    } catch (const std::bad_alloc&) {
        CloseHandle(own);
        return Error{ErrorCode::readFailed, "Cannot read file: out of memory"};
    }
}

Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    // Others may go on writing, renaming or deleting the file: what was read
    // stays as it was. Backup semantics let a folder open, to be named as such.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return openError(path, windowsErrorText(GetLastError()));
    BY_HANDLE_FILE_INFORMATION info{};
    std::string refusal;
    // Devices, consoles and pipes could stall a read or never end.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        refusal = "not a regular file";
    } else if (!GetFileInformationByHandle(handle, &info)) {
        refusal = windowsErrorText(GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        refusal = "is a folder";
    }
    if (!refusal.empty()) {
        CloseHandle(handle);
        return openError(path, refusal);
    }
    const std::uint64_t size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    std::shared_ptr<HandleStorage> storage;
    try {
        storage = std::make_shared<HandleStorage>(handle, viewSize(size));
    } catch (const std::bad_alloc&) {
        CloseHandle(handle);
        return Error{ErrorCode::readFailed, "Cannot read file " + utf8Of(path) + ": out of memory"};
    }
    MappedFile file(std::move(storage));
    return file;
}
#endif

}  // namespace pictrove
