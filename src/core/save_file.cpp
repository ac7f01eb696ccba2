#include "save_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#ifndef _WIN32
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

Error createError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::cannotCreate,
                 "Cannot create file " + target.string() + ": " + std::strerror(error)};
}

Error writeError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::writeFailed,
                 "Cannot write file " + target.string() + ": " + std::strerror(error)};
}

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
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const std::filesystem::path temporary = temporaryBeside(target, 0);
    std::FILE* out = _wfopen(temporary.c_str(), L"wbx");
    if (!out) return createError(target, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = std::fclose(out) == 0;
    std::error_code ec;
    if (written && closed) std::filesystem::rename(temporary, target, ec);
    if (!written || !closed || ec) {
        std::filesystem::remove(temporary, ec);
        return writeError(target, ENOSPC);
    }
    return std::nullopt;
}
#endif

}  // namespace pictrove
