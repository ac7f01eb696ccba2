#include "temporary_files.h"

#include <atomic>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace pictrove {

std::string processTag() {
#ifdef _WIN32
    return std::to_string(GetCurrentProcessId());
#else
    return std::to_string(::getpid());
#endif
}

#ifndef _WIN32
namespace {

// The table a signal handler reads: fixed, so that it needs no allocation
// and no lock. A slot is claimed, filled, then marked ready; the handler
// touches ready slots only.
constexpr std::size_t kSlots = 256;
constexpr std::size_t kLongestPath = 4096;
enum SlotState : int { kFree, kFilling, kReady };

struct Slot {
    std::atomic<int> state{kFree};
    bool folder = false;
    char path[kLongestPath]{};
};
static_assert(std::atomic<int>::is_always_lock_free);

// Constant-initialised, so the table costs no page until a save uses a slot.
constinit Slot slots[kSlots];

// Async-signal-safe: atomic loads, unlink, rmdir and raise only.
extern "C" void removeAndEnd(int signal) {
    const int saved = errno;
    for (const bool folders : {false, true}) {
        for (Slot& slot : slots) {
            if (slot.state.load() != kReady || slot.folder != folders) continue;
            if (folders) {
                ::rmdir(slot.path);
            } else {
                ::unlink(slot.path);
            }
        }
    }
    // The default action is back (SA_RESETHAND) and the signal not held
    // (SA_NODEFER), so this ends the process as the signal would have.
    ::raise(signal);
    errno = saved;
}

}  // namespace

TemporaryNote::TemporaryNote(const std::filesystem::path& path, bool folder) {
    const std::string& text = path.native();
    if (text.size() >= kLongestPath) return;
    for (std::size_t i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(slots[i].path, text.c_str(), text.size() + 1);
        slots[i].folder = folder;
        slots[i].state.store(kReady);
        slot_ = static_cast<int>(i);
        return;
    }
}

void TemporaryNote::forget() {
    if (slot_ >= 0) slots[slot_].state.store(kFree);
    slot_ = -1;
}

void removeTemporariesOnSignals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeAndEnd;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

bool isStaleTemporary(const std::filesystem::path& entry, std::string_view prefix) {
    const std::string name = entry.filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    std::size_t end = prefix.size();
    long pid = 0;
    while (end < name.size() && end < prefix.size() + 10 && name[end] >= '0' && name[end] <= '9')
        pid = pid * 10 + (name[end++] - '0');
    if (end == prefix.size() || end >= name.size() || name[end] != '-') return false;
    struct stat info {};
    if (::lstat(entry.c_str(), &info) != 0 || info.st_uid != ::geteuid()) return false;
    if (pid <= 0 || pid == ::getpid()) return false;
    // EPERM would mean a process of another user runs under that ID.
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}
#else
TemporaryNote::TemporaryNote(const std::filesystem::path&, bool) {}

void TemporaryNote::forget() {
    slot_ = -1;
}

void removeTemporariesOnSignals() {}

bool isStaleTemporary(const std::filesystem::path&, std::string_view) {
    return false;
}
#endif

TemporaryNote::TemporaryNote(TemporaryNote&& other) noexcept : slot_(std::exchange(other.slot_, -1)) {}

TemporaryNote& TemporaryNote::operator=(TemporaryNote&& other) noexcept {
    if (this != &other) {
        forget();
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

TemporaryNote::~TemporaryNote() {
    forget();
}

}  // namespace pictrove
