// Temporary files and folders a run makes, and what becomes of them when the
// run is ended by a signal (Ctrl+C, a logout, a kill): they are removed, so
// that an interrupted save or a drag leaves nothing behind. Their names hold
// the process ID, so that a later run can tell the ones whose maker is gone.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pictrove {

// The current process's ID in decimal, as temporary names hold it.
std::string processTag();

// Marks a temporary file (or an emptied folder) for removal should a
// termination signal end the process while the note lives. Taken before the
// entry is made, so that no moment is left uncovered; the note only forgets
// it, removing is the owner's work. Notes are held in a fixed table that a
// signal handler may read; past its size an entry goes unnoted, to be
// cleared by a later run instead.
class TemporaryNote {
public:
    TemporaryNote() = default;
    explicit TemporaryNote(const std::filesystem::path& path, bool folder = false);
    TemporaryNote(TemporaryNote&& other) noexcept;
    TemporaryNote& operator=(TemporaryNote&& other) noexcept;
    TemporaryNote(const TemporaryNote&) = delete;
    TemporaryNote& operator=(const TemporaryNote&) = delete;
    ~TemporaryNote();

private:
    void forget();
    int slot_ = -1;
};

// From now on SIGINT, SIGTERM and SIGHUP remove the noted entries (files
// first, then folders) and then end the process as the signal would have,
// with its exit status. A signal the process ignores stays ignored. Nothing
// on Windows.
void removeTemporariesOnSignals();

// True for an entry named `prefix`, a process ID, '-' and more, that belongs
// to the current user and whose process is no longer running: what a run
// that ended without clearing up leaves. Never true for the current process.
bool isStaleTemporary(const std::filesystem::path& entry, std::string_view prefix);

}  // namespace pictrove
