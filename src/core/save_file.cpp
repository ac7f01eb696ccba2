#include "save_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pictrove {
namespace {

std::filesystem::path temporaryBeside(const std::filesystem::path& target, unsigned attempt) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    std::filesystem::path name = target;
    name += ".tmp" + std::to_string(random() % 1000000) + "-" + std::to_string(attempt);
    return name;
}

Error writeError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::writeFailed,
                 "Cannot write file " + target.string() + ": " + std::strerror(error)};
}

}  // namespace

#ifndef _WIN32
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    std::filesystem::path temporary;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryBeside(target, attempt);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        return Error{ErrorCode::writeFailed,
                     "Cannot create file " + target.string() + ": " + std::strerror(errno)};
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporary.c_str());
            return writeError(target, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return writeError(target, error);
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return writeError(target, error);
    }
    return std::nullopt;
}
#else
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const std::filesystem::path temporary = temporaryBeside(target, 0);
    std::FILE* out = _wfopen(temporary.c_str(), L"wbx");
    if (!out) return Error{ErrorCode::writeFailed, "Cannot create file " + target.string()};
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    const bool closed = std::fclose(out) == 0;
    std::error_code ec;
    if (written && closed) std::filesystem::rename(temporary, target, ec);
    if (!written || !closed || ec) {
        std::filesystem::remove(temporary, ec);
        return Error{ErrorCode::writeFailed, "Cannot write file " + target.string()};
    }
    return std::nullopt;
}
#endif

}  // namespace pictrove
