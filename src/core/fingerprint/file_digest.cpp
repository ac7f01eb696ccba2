#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "fingerprint/sha256.h"
#include "path_text.h"

#ifdef _WIN32
#include <windows.h>

#include "windows_error.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pictrove {
namespace {

// Blocks that stay in the processor's cache between the copy out of the
// system's file cache and the hashing: a 1 MiB block took three times the
// system time.
constexpr std::size_t kBlock = 128 << 10;

Error digestError(const std::filesystem::path& path, const std::string& reason) {
    return Error{ErrorCode::cannotOpen, "Cannot read file " + utf8Of(path) + ": " + reason};
}

}  // namespace

Sha256Digest sha256Of(std::span<const std::uint8_t> bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.finish();
}

std::string hexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

OpenedFile::OpenedFile(std::filesystem::path path, std::unique_ptr<State> state)
    : path_(std::move(path)), state_(std::move(state)) {}
OpenedFile::OpenedFile(OpenedFile&& other) noexcept = default;

#ifndef _WIN32
struct OpenedFile::State {
    int fd = -1;
    struct stat opened {};
    ~State() {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

OpenedFile::~OpenedFile() = default;

Result<OpenedFile> OpenedFile::open(const std::filesystem::path& path) {
    auto state = std::make_unique<State>();
    state->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (state->fd < 0) return digestError(path, std::strerror(errno));
    if (fstat(state->fd, &state->opened) != 0) return digestError(path, std::strerror(errno));
    if (!S_ISREG(state->opened.st_mode))
        return digestError(path, S_ISDIR(state->opened.st_mode) ? "is a folder" : "not a regular file");
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(state->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    OpenedFile file(path, std::move(state));
    file.size_ = static_cast<std::uint64_t>(file.state_->opened.st_size);
    return file;
}

Result<FileDigest> OpenedFile::digest() {
    thread_local std::vector<std::uint8_t> block(kBlock);
    Sha256 hash;
    FileDigest digest;
    for (;;) {
        const ssize_t got = ::pread(state_->fd, block.data(), block.size(), static_cast<off_t>(digest.size));
        if (got < 0) {
            if (errno == EINTR) continue;
            return Error{ErrorCode::readFailed,
                         "Cannot read file " + utf8Of(path_) + ": " + std::strerror(errno)};
        }
        if (got == 0) break;
        hash.update({block.data(), static_cast<std::size_t>(got)});
        digest.size += static_cast<std::uint64_t>(got);
    }
    if (digest.size != size_) return digestError(path_, "changed while read");
    digest.sha256 = hash.finish();
    return digest;
}

Result<MappedFile> OpenedFile::bytes() const {
    return MappedFile::fromOpenFile(state_->fd, size_);
}

bool OpenedFile::unchanged() const {
    struct stat now {};
    return fstat(state_->fd, &now) == 0 && sameState(now, state_->opened);
}
#else
struct OpenedFile::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION opened{};
    ~State() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

OpenedFile::~OpenedFile() = default;

Result<OpenedFile> OpenedFile::open(const std::filesystem::path& path) {
    auto state = std::make_unique<State>();
    state->handle =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (state->handle == INVALID_HANDLE_VALUE) return digestError(path, windowsErrorText(GetLastError()));
    if (GetFileType(state->handle) != FILE_TYPE_DISK) return digestError(path, "not a regular file");
    if (!GetFileInformationByHandle(state->handle, &state->opened))
        return digestError(path, windowsErrorText(GetLastError()));
    if (state->opened.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return digestError(path, "is a folder");
    OpenedFile file(path, std::move(state));
    file.size_ = std::uint64_t{file.state_->opened.nFileSizeHigh} << 32 | file.state_->opened.nFileSizeLow;
    return file;
}

Result<FileDigest> OpenedFile::digest() {
    thread_local std::vector<std::uint8_t> block(kBlock);
    Sha256 hash;
    FileDigest digest;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(digest.size);
        at.OffsetHigh = static_cast<DWORD>(digest.size >> 32);
        DWORD got = 0;
        if (!ReadFile(state_->handle, block.data(), static_cast<DWORD>(block.size()), &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return Error{ErrorCode::readFailed,
                         "Cannot read file " + utf8Of(path_) + ": " + windowsErrorText(GetLastError())};
        }
        if (got == 0) break;
        hash.update({block.data(), got});
        digest.size += got;
    }
    if (digest.size != size_) return digestError(path_, "changed while read");
    digest.sha256 = hash.finish();
    return digest;
}

Result<MappedFile> OpenedFile::bytes() const {
    return MappedFile::fromOpenFile(state_->handle, size_);
}

bool OpenedFile::unchanged() const {
    BY_HANDLE_FILE_INFORMATION now{};
    const auto& then = state_->opened;
    return GetFileInformationByHandle(state_->handle, &now) && now.nFileSizeHigh == then.nFileSizeHigh &&
           now.nFileSizeLow == then.nFileSizeLow &&
           CompareFileTime(&now.ftLastWriteTime, &then.ftLastWriteTime) == 0;
}
#endif

}  // namespace pictrove
