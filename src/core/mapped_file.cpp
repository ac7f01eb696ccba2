#include "mapped_file.h"

#include <algorithm>
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

// Buffers from this size on come straight from the system, as fresh zero
// pages that cost memory only once a chunk is read into them.
constexpr std::size_t kOwnMappingFrom = 1024 * 1024;

std::byte* allocateZeroed(std::size_t size) {
#ifndef _WIN32
    if (size >= kOwnMappingFrom) {
        void* p =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
        madvise(p, size, MADV_HUGEPAGE);  // fewer, larger pages to take and clear
#endif
        return static_cast<std::byte*>(p);
    }
#endif
    return static_cast<std::byte*>(std::calloc(std::max<std::size_t>(size, 1), 1));
}

// Takes the pages of a range before it is read into: one call instead of a
// page fault per page, which is most of the cost of a large read.
void prefault([[maybe_unused]] std::byte* at, [[maybe_unused]] std::size_t length,
              [[maybe_unused]] std::size_t bufferSize) {
#if !defined(_WIN32) && defined(MADV_POPULATE_WRITE)
    if (bufferSize < kOwnMappingFrom) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(at) & ~(page - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(at) + length;
    // Only a hint: kernels before 5.14 refuse it and fault page by page.
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
}

}  // namespace

MappedFile::Storage::Storage(std::size_t size)
    : data_(allocateZeroed(size), Free{size}), size_(size), loaded_((size + kChunk - 1) / kChunk, false) {
    if (!data_) throw std::bad_alloc();
}

MappedFile::Storage::~Storage() = default;

void MappedFile::Storage::Free::operator()(std::byte* p) const {
#ifndef _WIN32
    if (size >= kOwnMappingFrom) {
        munmap(p, size);
        return;
    }
#endif
    std::free(p);
}

void MappedFile::Storage::load(std::uint64_t offset, std::uint64_t length) {
    if (offset >= size_ || length == 0) return;
    const std::size_t last =
        static_cast<std::size_t>((offset + std::min<std::uint64_t>(length, size_ - offset) - 1) / kChunk);
    // One read for each run of chunks not read yet.
    for (std::size_t chunk = static_cast<std::size_t>(offset / kChunk); chunk <= last;) {
        if (loaded_[chunk]) {
            ++chunk;
            continue;
        }
        std::size_t end = chunk;
        while (end <= last && !loaded_[end]) loaded_[end++] = true;
        const std::size_t from = chunk * kChunk;
        const std::size_t to = std::min(end * kChunk, size_);
        prefault(data_.get() + from, to - from, size_);
        readAt(from, data_.get() + from, to - from);
        chunk = end;
    }
}

namespace {

class BufferStorage final : public MappedFile::Storage {
public:
    explicit BufferStorage(const std::vector<std::byte>& bytes) : Storage(bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), data());
        load(0, bytes.size());
    }

private:
    std::size_t readAt(std::uint64_t, std::byte*, std::size_t length) override { return length; }
};

Error openError(const std::filesystem::path& path, const std::string& reason) {
    return Error{ErrorCode::cannotOpen, "Cannot open file " + utf8Of(path) + ": " + reason};
}

std::size_t viewSize(std::uint64_t fileSize) {
    return static_cast<std::size_t>(std::min(fileSize, limits::kMaxFileView));
}

#ifndef _WIN32
class DescriptorStorage final : public MappedFile::Storage {
public:
    DescriptorStorage(int fd, std::size_t size) : Storage(size), fd_(fd) {}
    ~DescriptorStorage() override { ::close(fd_); }

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
    int fd_;
};
#else
class HandleStorage final : public MappedFile::Storage {
public:
    HandleStorage(HANDLE file, std::size_t size) : Storage(size), file_(file) {}
    ~HandleStorage() override { CloseHandle(file_); }

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
    HANDLE file_;
};
#endif

}  // namespace

MappedFile MappedFile::fromBuffer(std::vector<std::byte> bytes) {
    return MappedFile(std::make_shared<BufferStorage>(bytes));
}

#ifndef _WIN32
Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return openError(path, std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return openError(path, std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return openError(path, S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file");
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
