#include "save_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>

#include "path_text.h"
#include "windows_error.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pictrove {
namespace {

std::filesystem::path temporaryBeside(const std::filesystem::path& target, unsigned attempt) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    // Short whatever the target's length, so that a name at the file
    // system's limit can still be saved.
    return target.parent_path() /
           (".pictrove-" + std::to_string(random() % 1000000) + "-" + std::to_string(attempt) + ".tmp");
}

#ifndef _WIN32
Error createError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::cannotCreate,
                 "Cannot create file " + target.string() + ": " + std::strerror(error)};
}

Error writeError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::writeFailed,
                 "Cannot write file " + target.string() + ": " + std::strerror(error)};
}
#endif

}  // namespace

namespace detail {

bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error, const WriteCall& write) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const long n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 && errno != 0 ? errno : ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace detail

#ifndef _WIN32
namespace {

long systemWrite(int fd, const std::uint8_t* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}

// Devices and pipes cannot be replaced by renaming, and must not be: they
// are written in place, as is a file whose folder takes no new files.
std::optional<Error> writeInPlace(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return createError(target, errno);
    int error = 0;
    const bool written = detail::writeAll(fd, bytes, error, systemWrite);
    if (::close(fd) != 0 && written) error = errno;
    if (!written || error != 0) return writeError(target, error);
    return std::nullopt;
}

// The replaced file's owner, group and permission bits on its successor;
// owner and group only where the process may set them.
void keepAttributes(int fd, const struct stat& old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    fchmod(fd, old.st_mode & 07777);
}

}  // namespace

std::optional<Error> saveFile(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes) {
    // A link is followed, so that the file it names is replaced and the link kept.
    std::error_code ec;
    std::filesystem::path target = requested;
    if (std::filesystem::is_symlink(requested, ec)) {
        const auto resolved = std::filesystem::canonical(requested, ec);
        if (!ec) target = resolved;
    }
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) return createError(requested, EISDIR);
        return writeInPlace(target, bytes);
    }

    std::filesystem::path temporary;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryBeside(target, attempt);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int error = errno;
        const bool folderRefuses = error == EACCES || error == EPERM || error == EROFS;
        if (exists && folderRefuses && ::access(target.c_str(), W_OK) == 0)
            return writeInPlace(target, bytes);
        return createError(requested, error);
    }
    if (exists) keepAttributes(fd, info);
    int error = 0;
    const bool written = detail::writeAll(fd, bytes, error, systemWrite);
    if (::close(fd) != 0 && written) error = errno;
    if (!written || error != 0) {
        ::unlink(temporary.c_str());
        return writeError(requested, error);
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return createError(requested, error);
    }
    return std::nullopt;
}
#else
namespace {

Error createError(const std::filesystem::path& target, const std::string& reason) {
    return Error{ErrorCode::cannotCreate, "Cannot create file " + utf8Of(target) + ": " + reason};
}

Error writeError(const std::filesystem::path& target, DWORD code) {
    return Error{ErrorCode::writeFailed,
                 "Cannot write file " + utf8Of(target) + ": " + windowsErrorText(code)};
}

// All bytes into `file`; false with the system's error code when a write
// fails or stores nothing.
bool writeAll(HANDLE file, std::span<const std::uint8_t> bytes, DWORD& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto ask = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
        DWORD wrote = 0;
        if (!WriteFile(file, bytes.data() + done, ask, &wrote, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (wrote == 0) {
            error = ERROR_DISK_FULL;
            return false;
        }
        done += wrote;
    }
    return true;
}

// Writes and closes `file`; the error code when either fails.
std::optional<DWORD> writeAndClose(HANDLE file, std::span<const std::uint8_t> bytes) {
    DWORD error = 0;
    const bool written = writeAll(file, bytes, error);
    if (!CloseHandle(file) && written) error = GetLastError();
    if (!written || error != 0) return error;
    return std::nullopt;
}

// A file whose folder takes no new file is written over in place.
std::optional<Error> writeInPlace(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return createError(target, windowsErrorText(GetLastError()));
    if (const auto error = writeAndClose(file, bytes)) return writeError(target, *error);
    return std::nullopt;
}

}  // namespace

std::optional<Error> saveFile(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes) {
    // A full path for the replacing call, which takes no name relative to the
    // current drive ("\\folder\\name") under Wine.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::absolute(requested, ec);
    if (ec) target = requested;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return createError(requested, "is a folder");

    std::filesystem::path temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = temporaryBeside(target, attempt);
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && error == ERROR_ACCESS_DENIED) return writeInPlace(target, bytes);
        return createError(requested, windowsErrorText(error));
    }
    if (const auto failed = writeAndClose(file, bytes)) {
        DeleteFileW(temporary.c_str());
        return writeError(requested, *failed);
    }
    // Replacing keeps the old file's attributes, security and creation time.
    const bool moved = exists ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                              : MoveFileExW(temporary.c_str(), target.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved) {
        error = GetLastError();
        DeleteFileW(temporary.c_str());
        return createError(requested, windowsErrorText(error));
    }
    return std::nullopt;
}
#endif

}  // namespace pictrove
