// Writing a file so that a failure never costs the user the old one: the
// bytes go to a temporary file in the same folder, which replaces the target
// only once it is complete.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "result.h"

namespace pictrove {

// How far a save goes to survive a power cut.
enum class Durability {
    // The system writes the file out in its own time, as it does for any
    // program's output. For files that can be made again (the command-line
    // tool's), where a flush per file would cost most of the run.
    deferred,
    // The new file is on the disk before it replaces the old one, and the
    // folder's new entry after, so a power cut leaves one of the two whole,
    // never an empty file. For what the user saves from the window and the
    // configurator.
    flushed,
};

struct SaveOptions {
    Durability durability = Durability::deferred;
    // An existing regular file is written into rather than replaced, so that
    // a caller holding it open (a thumbnail service's placeholder) reads the
    // new bytes through its handle.
    bool intoExisting = false;
    // An existing entry that is no regular file (a pipe, a device) is an
    // error rather than written into: for names a program chose inside a
    // folder, where only a file the user named is theirs to feed.
    bool filesOnly = false;
};

// Nothing on success; on failure the target is untouched and no temporary
// file is left behind. A replaced file keeps its permission bits, and its
// owner and group where the process may set them; where the owner cannot be
// kept, neither is a set-user-ID bit (nor set-group-ID without the group).
// A link is followed: the file it names is replaced and the link kept.
//
// A replacing file is made readable by its owner alone until it takes the
// old one's permission bits. A loop of links is an error.
//
// Pipes, terminals and devices are written as they are, with blocking
// writes. A regular file is written in place where the options ask for it
// or where its folder takes no new file but the file may be written, and
// only once the disk has room for all the new bytes: without it the file is
// left as it was and the save fails. A write failing even so leaves it
// empty rather than holding part of the bytes.
//
// The temporary file's name holds the process ID, and the file is removed
// should a termination signal end the process meanwhile (once
// removeTemporariesOnSignals is called).
std::optional<Error> saveFile(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                              SaveOptions options = {});

// Removes the temporary files of saves into `folder` whose process ended
// before it could (see isStaleTemporary). Saves asked to be flushed do this
// themselves; callers that write many files into one folder call it once.
void removeStaleTemporaries(const std::filesystem::path& folder);

namespace detail {
// The write loop of every save: all bytes through `write` (the system's
// write() in saves), retried after interruptions. False with an errno value
// when a write fails or stores nothing, which would otherwise repeat forever.
using WriteCall = std::function<long(int fd, const std::uint8_t* data, std::size_t size)>;
bool writeAll(int fd, std::span<const std::uint8_t> bytes, int& error, const WriteCall& write);
// What saves write with (the system's write()); replaceable, so that tests
// can see a save midway; returns the call it replaces. Not on Windows.
WriteCall replaceWriteCall(WriteCall write);

#ifdef _WIN32
using NativeFile = void*;  // HANDLE
#else
using NativeFile = int;
#endif
// What a durable save calls to put an open file or folder on the disk
// (fsync, FlushFileBuffers): true when it did, with the reason in errno or
// GetLastError() when not. Replaceable, so that tests can see what is
// flushed and when; returns the call it replaces.
using SyncCall = std::function<bool(NativeFile file, const std::filesystem::path& path)>;
SyncCall replaceSyncCall(SyncCall sync);
}  // namespace detail

}  // namespace pictrove
