#include "save_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

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

#include "temporary_files.h"

namespace pictrove {
namespace {

constexpr std::string_view kTemporaryPrefix = ".pictrove-";

// Short whatever the target's length, so that a name at the file system's
// limit can still be saved; the process ID in it tells a later run whether
// its maker still runs.
std::filesystem::path temporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> made{0};
    static const std::string tag = std::string(kTemporaryPrefix) + processTag() + "-";
    return target.parent_path() / (tag + std::to_string(made++) + ".tmp");
}

#ifndef _WIN32
Error createError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::cannotCreate,
                 "Cannot create file " + target.string() + ": " + std::strerror(error), error,
                 target.string()};
}

Error writeError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::writeFailed, "Cannot write file " + target.string() + ": " + std::strerror(error),
                 error, target.string()};
}

Error unsafeReplaceError(const std::filesystem::path& target, int error) {
    return Error{ErrorCode::writeFailed,
                 "Cannot replace file " + target.string() + " safely: " + std::strerror(error), error,
                 target.string()};
}
#endif

bool systemSync(detail::NativeFile file, const std::filesystem::path& path);

detail::SyncCall& syncCall() {
    static detail::SyncCall call = systemSync;
    return call;
}

bool syncToDisk(detail::NativeFile file, const std::filesystem::path& path) {
    return syncCall()(file, path);
}

#ifndef _WIN32
detail::WriteCall& writeCall() {
    static detail::WriteCall call = [](int fd, const std::uint8_t* data, std::size_t size) {
        return static_cast<long>(::write(fd, data, size));
    };
    return call;
}
#endif

}  // namespace

namespace detail {

#ifndef _WIN32
WriteCall replaceWriteCall(WriteCall write) {
    return std::exchange(writeCall(), std::move(write));
}
#endif

SyncCall replaceSyncCall(SyncCall sync) {
    return std::exchange(syncCall(), std::move(sync));
}

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

bool systemSync(detail::NativeFile fd, const std::filesystem::path&) {
    return ::fsync(fd) == 0;
}

// All bytes into `fd`, then onto the disk when asked; false with an errno
// value when either fails.
bool writeOut(int fd, const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
              Durability durability, int& error) {
    if (!detail::writeAll(fd, bytes, error, writeCall())) return false;
    if (durability == Durability::flushed && !syncToDisk(fd, path)) {
        error = errno;
        return false;
    }
    return true;
}

// The folder's entries on the disk, so that a rename just made survives a
// power cut. Its failure is not the save's: the new file is in place by
// then, and nothing is left to undo.
void flushFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    syncToDisk(fd, folder);
    ::close(fd);
}

// What became of a new file written without a name.
enum class Unnamed { saved, failed, notMade };

// A new file is written without a name and named only once complete: no one
// sees part of it under any name, and a run ended at any moment leaves
// nothing behind, not even a temporary file for a later run to clear. It is
// also costs the folder less than a temporary name and a rename: a quarter
// less time per file on ext4. Where the system cannot make such a
// file (an older kernel or file system, no /proc), or the name was taken
// meanwhile, nothing is made and the temporary file takes over.
Unnamed saveUnnamed(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                    Durability durability, int& error) {
#ifdef O_TMPFILE
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return Unnamed::notMade;
    if (!writeOut(fd, target, bytes, durability, error)) {
        ::close(fd);
        return Unnamed::failed;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        ::close(fd);
        return Unnamed::notMade;
    }
    if (::close(fd) != 0) {
        error = errno;
        ::unlink(target.c_str());
        return Unnamed::failed;
    }
    return Unnamed::saved;
#else
    (void)target, (void)bytes, (void)durability, (void)error;
    return Unnamed::notMade;
#endif
}

// Written over in place: pipes, terminals and devices, which cannot be
// replaced by renaming and must not be, and regular files whose holder or
// folder asks for it. Opened for blocking writes: a pipe whose reader is
// slow or not there yet is waited for, never cut short. A regular file is
// cut to its new length only after the new bytes are in, and they go in
// only once the disk has room for all of them.
std::optional<Error> writeInPlace(const std::filesystem::path& file, const std::filesystem::path& shown,
                                  std::span<const std::uint8_t> bytes, Durability durability) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return createError(shown, errno);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const auto length = static_cast<off_t>(bytes.size());
    if (regular && length > 0) {
        if (const int refused = ::posix_fallocate(fd, 0, length); refused != 0) {
            ::close(fd);
            return unsafeReplaceError(shown, refused);
        }
    }
    int error = 0;
    bool written = writeOut(fd, file, bytes, regular ? durability : Durability::deferred, error);
    if (written && regular && ::ftruncate(fd, length) != 0) {
        error = errno;
        written = false;
    }
    // Part of a picture is worse than none to whoever reads the file next.
    if (!written && regular) {
        [[maybe_unused]] const int ignored = ::ftruncate(fd, 0);
    }
    if (::close(fd) != 0 && written) error = errno;
    if (!written || error != 0) return writeError(shown, error);
    return std::nullopt;
}

// The replaced file's owner, group and permission bits on its successor;
// owner and group only where the process may set them. A set-ID bit is
// kept only with the owner or group it grants, so that replacing another
// user's set-user-ID program never makes one that runs as the saver.
// Only what differs is set: saving over one's own file, the usual case,
// then costs one call, not two.
void keepAttributes(int fd, const struct stat& old) {
    mode_t mode = old.st_mode & 07777;
    struct stat now {};
    const bool known = fstat(fd, &now) == 0;
    if (!known || now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            mode &= ~mode_t{S_ISUID};
            if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) mode &= ~mode_t{S_ISGID};
        }
    } else if ((now.st_mode & 07777) == mode) {
        return;
    }
    fchmod(fd, mode);
}

}  // namespace

std::optional<Error> saveFile(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                              SaveOptions options) {
    // A link is followed, so that the file it names is replaced (or made,
    // when it is not there yet) and the link kept.
    std::error_code ec;
    std::filesystem::path target = requested;
    struct stat info {};
    bool exists = ::lstat(requested.c_str(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        // A loop of links names no file, and none is made in its place.
        if (struct stat named{}; ::stat(requested.c_str(), &named) != 0 && errno == ELOOP)
            return createError(requested, ELOOP);
        if (auto resolved = std::filesystem::canonical(requested, ec); !ec) {
            target = std::move(resolved);
        } else if (!std::filesystem::exists(requested, ec)) {
            // Link by link, since no canonical name exists yet. Only then:
            // /dev/stdout on a pipe names no path, but opens as it is.
            for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, ec); ++hops) {
                const auto next = std::filesystem::read_symlink(target, ec);
                if (ec) break;
                target = next.is_absolute() ? next : target.parent_path() / next;
            }
        }
        exists = ::stat(target.c_str(), &info) == 0;
    }
    if (exists && S_ISDIR(info.st_mode)) return createError(requested, EISDIR);
    if (exists && !S_ISREG(info.st_mode) && options.filesOnly)
        return Error{ErrorCode::cannotCreate,
                     "Cannot create file " + requested.string() + ": it exists and is not a regular file"};
    if (exists && (!S_ISREG(info.st_mode) || options.intoExisting))
        return writeInPlace(target, requested, bytes, options.durability);
    if (options.durability == Durability::flushed) removeStaleTemporaries(target.parent_path());
    if (!exists) {
        int error = 0;
        switch (saveUnnamed(target, bytes, options.durability, error)) {
            case Unnamed::saved:
                if (options.durability == Durability::flushed) flushFolder(target);
                return std::nullopt;
            case Unnamed::failed: return writeError(requested, error);
            case Unnamed::notMade: break;
        }
    }

    std::filesystem::path temporary;
    TemporaryNote note;
    int fd = -1;
    // The replaced file's bits come after the bytes; until then, nobody but
    // the owner reads what may be a private file's successor.
    const mode_t mode = exists ? 0600 : 0666;
    for (unsigned attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryBeside(target);
        note = TemporaryNote(temporary);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int error = errno;
        const bool folderRefuses = error == EACCES || error == EPERM || error == EROFS;
        if (exists && folderRefuses && ::access(target.c_str(), W_OK) == 0)
            return writeInPlace(target, requested, bytes, options.durability);
        return createError(requested, error);
    }
    int error = 0;
    bool written = detail::writeAll(fd, bytes, error, writeCall());
    // After the bytes, since a write by anyone but a privileged process
    // clears the set-ID bits the owner's own save should keep.
    if (written && exists) keepAttributes(fd, info);
    if (written && options.durability == Durability::flushed && !syncToDisk(fd, temporary)) {
        error = errno;
        written = false;
    }
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
    if (options.durability == Durability::flushed) flushFolder(target);
    return std::nullopt;
}

void removeStaleTemporaries(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name.ends_with(".tmp") && isStaleTemporary(it->path(), kTemporaryPrefix))
            ::unlink(it->path().c_str());
    }
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

bool systemSync(detail::NativeFile file, const std::filesystem::path&) {
    return FlushFileBuffers(file) != 0;
}

// All bytes into `file`, then onto the disk when asked; false with the
// system's error code when either fails.
bool writeOut(HANDLE file, const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
              Durability durability, DWORD& error) {
    if (!writeAll(file, bytes, error)) return false;
    if (durability == Durability::flushed && !syncToDisk(file, path)) {
        error = GetLastError();
        return false;
    }
    return true;
}

// Writes as writeOut does and closes `file`; the error code when any fails.
std::optional<DWORD> writeAndClose(HANDLE file, const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes, Durability durability) {
    DWORD error = 0;
    const bool written = writeOut(file, path, bytes, durability, error);
    if (!CloseHandle(file) && written) error = GetLastError();
    if (!written || error != 0) return error;
    return std::nullopt;
}

// The folder's entries on the disk after a replace, which, unlike a move,
// has no write-through flag. Its failure is not the save's: the new file is
// in place by then.
void flushFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    const HANDLE handle = CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    syncToDisk(handle, folder);
    CloseHandle(handle);
}

// Written over in place: a file whose holder asks for it, or whose folder
// takes no new file. Shared, since whoever asks for it holds it open. The
// file grows to the new length first, so that a full disk leaves it as it
// was, and is cut to that length once the bytes are in.
std::optional<Error> writeInPlace(const std::filesystem::path& target, const std::filesystem::path& shown,
                                  std::span<const std::uint8_t> bytes, Durability durability) {
    const HANDLE file =
        CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return createError(shown, windowsErrorText(GetLastError()));
    LARGE_INTEGER old{}, length{}, start{};
    length.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (GetFileSizeEx(file, &old) && old.QuadPart < length.QuadPart &&
        (!SetFilePointerEx(file, length, nullptr, FILE_BEGIN) || !SetEndOfFile(file))) {
        const DWORD refused = GetLastError();
        CloseHandle(file);
        return Error{ErrorCode::writeFailed,
                     "Cannot replace file " + utf8Of(shown) + " safely: " + windowsErrorText(refused)};
    }
    DWORD error = 0;
    bool written = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
    if (!written) error = GetLastError();
    written = written && writeOut(file, target, bytes, durability, error);
    if (written && !SetEndOfFile(file)) {
        error = GetLastError();
        written = false;
    }
    // Part of a picture is worse than none to whoever reads the file next.
    if (!written && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0) SetEndOfFile(file);
    if (!CloseHandle(file) && written) error = GetLastError();
    if (!written || error != 0) return writeError(shown, error);
    return std::nullopt;
}

}  // namespace

std::optional<Error> saveFile(const std::filesystem::path& requested, std::span<const std::uint8_t> bytes,
                              SaveOptions options) {
    // A full path for the replacing call, which takes no name relative to the
    // current drive ("\\folder\\name") under Wine.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::absolute(requested, ec);
    if (ec) target = requested;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return createError(requested, "is a folder");
    if (exists && options.intoExisting) return writeInPlace(target, requested, bytes, options.durability);

    std::filesystem::path temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = temporaryBeside(target);
        file =
            CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && error == ERROR_ACCESS_DENIED)
            return writeInPlace(target, requested, bytes, options.durability);
        return createError(requested, windowsErrorText(error));
    }
    if (const auto failed = writeAndClose(file, temporary, bytes, options.durability)) {
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
    if (options.durability == Durability::flushed) flushFolder(target);
    return std::nullopt;
}

// The signals that would leave a temporary file are a POSIX matter.
void removeStaleTemporaries(const std::filesystem::path&) {}
#endif

}  // namespace pictrove
