#include "image/svg.h"

#include <algorithm>
#include <atomic>
#include <string_view>

#include "module_loader.h"
#include "reader_limits.h"

#ifdef PICTROVE_HAVE_SVG_HELPER
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;
#endif

namespace pictrove {

namespace {

std::atomic<std::uint64_t> reads{0}, draws{0}, pixelsDrawn{0};

}  // namespace

bool isSvg(Bytes data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()),
                                std::min<std::size_t>(data.size(), 4096));
    const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string_view::npos && text[first] == '<' &&
           text.find("<svg") != std::string_view::npos;
}

#ifdef PICTROVE_HAVE_SVG_HELPER
namespace {

// A file in memory: the document goes to the helper through one, and its
// pixels and its words come back through two more, so that no pipe can
// stall either side or signal this process when the helper stops early.
class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(memfd_create(name, MFD_CLOEXEC)) {}
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    int fd() const { return fd_; }
    bool write(Bytes bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += static_cast<std::size_t>(put);
        }
        return lseek(fd_, 0, SEEK_SET) == 0;
    }
    // All it holds, when that is at most `most` bytes.
    std::optional<std::vector<std::byte>> read(std::uint64_t most) const {
        struct stat status {};
        if (fstat(fd_, &status) != 0 || status.st_size < 0 ||
            static_cast<std::uint64_t>(status.st_size) > most)
            return std::nullopt;
        std::vector<std::byte> bytes(static_cast<std::size_t>(status.st_size));
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t got =
                pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return std::nullopt;
            done += static_cast<std::size_t>(got);
        }
        return bytes;
    }

private:
    int fd_;
};

SvgOutcome failure(SvgOutcome::Status status, std::string why) {
    return {status, std::move(why), std::nullopt};
}

// The helper, beside the modules and stamped by this build like them.
std::string helperPath() {
    const auto helper = moduleFolder() / kSvgHelper;
    const auto refuse = [&](const std::string& why) {
        throw ModuleError("cannot run " + helper.string() + ": " + why);
    };
    struct stat status {};
    if (stat(helper.c_str(), &status) != 0) refuse(std::strerror(errno));
    if (!S_ISREG(status.st_mode)) refuse("not a regular file");
    if (status.st_uid != 0 && status.st_uid != geteuid()) refuse("it belongs to another user");
    if (status.st_mode & S_IWOTH) refuse("every user may change it");
    if (readModuleStamp(helper) != moduleStamp(kSvgHelper))
        refuse("it is no helper of this build of Pictrove");
    return helper.string();
}

std::string seconds(std::int64_t microseconds) {
    const std::string tenths = std::to_string(microseconds / 100'000);
    return (tenths.size() > 1 ? tenths.substr(0, tenths.size() - 1) : "0") + "." + tenths.back();
}

// One run of the helper: `task` is "read" or the side to draw at. It sets
// its own limits before it reads a byte, from what is left of `budget`;
// they stop it with a signal.
SvgOutcome runHelper(Bytes data, const std::string& task, std::uint64_t pixelBytes, SvgBudget& budget) {
    using Status = SvgOutcome::Status;
    static const std::string helper = helperPath();
    const std::int64_t left = budget.microseconds.load();
    const std::string spent = "reading and drawing its SVG pictures takes more than " +
                              seconds(kSvgCpuMicroseconds) + " s of processor time";
    if (left <= 0) return failure(Status::overLimit, spent);
    const MemoryFile document("pictrove-svg"), pixels("pictrove-svg-pixels"), words("pictrove-svg-words");
    if (document.fd() < 0 || pixels.fd() < 0 || words.fd() < 0 || !document.write(data))
        return failure(Status::unreadable,
                       std::string("cannot hand it to the drawing helper: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, document.fd(), 0);
    posix_spawn_file_actions_adddup2(&actions, pixels.fd(), 1);
    posix_spawn_file_actions_adddup2(&actions, words.fd(), 2);
    const std::string cpu = std::to_string(left), memory = std::to_string(kSvgMemoryBytes);
    const char* argv[] = {helper.c_str(), task.c_str(), cpu.c_str(), memory.c_str(), nullptr};
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, helper.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return failure(Status::unreadable,
                       "cannot run the drawing helper " + helper + ": " + std::strerror(spawned));
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return failure(Status::unreadable,
                           "lost the drawing helper: " + std::string(std::strerror(errno)));
    }
    const auto microseconds = [](const timeval& time) {
        return std::int64_t{time.tv_sec} * 1'000'000 + time.tv_usec;
    };
    budget.microseconds.fetch_sub(microseconds(usage.ru_utime) + microseconds(usage.ru_stime));
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGPROF || signal == SIGXCPU || signal == SIGKILL)
            return failure(Status::overLimit, spent);
        return failure(Status::overLimit, "the drawing helper of its SVG pictures stopped with signal " +
                                              std::to_string(signal) + " (it may need more than " +
                                              std::to_string(kSvgMemoryBytes >> 20) + " MiB of memory)");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        auto said = words.read(1024).value_or(std::vector<std::byte>{});
        std::string why(reinterpret_cast<const char*>(said.data()), said.size());
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
        const bool limit = WIFEXITED(status) && WEXITSTATUS(status) == 3;
        return failure(limit ? Status::overLimit : Status::unreadable,
                       why.empty() ? "librsvg cannot read it" : why);
    }
    if (pixelBytes == 0) return SvgOutcome{Status::done, {}, std::nullopt};
    auto out = pixels.read(pixelBytes);
    if (!out || out->size() != pixelBytes)
        return failure(Status::unreadable, "the drawing helper gave no whole picture");
    Image image;
    image.bgra.resize(out->size());
    std::memcpy(image.bgra.data(), out->data(), out->size());
    return SvgOutcome{Status::done, {}, std::move(image)};
}

}  // namespace

SvgOutcome readSvg(Bytes data, SvgBudget& budget) {
    if (!isSvg(data)) return {SvgOutcome::Status::unreadable, "no SVG document", {}};
    reads.fetch_add(1, std::memory_order_relaxed);
    return runHelper(data, "read", 0, budget);
}

SvgOutcome drawSvg(Bytes data, std::uint32_t side, SvgBudget& budget) {
    if (side == 0 || side > limits::kMaxImageSide || !isSvg(data))
        return {SvgOutcome::Status::unreadable, "no SVG document of a size drawn", {}};
    draws.fetch_add(1, std::memory_order_relaxed);
    pixelsDrawn.fetch_add(std::uint64_t{side} * side, std::memory_order_relaxed);
    auto outcome = runHelper(data, std::to_string(side), std::uint64_t{side} * side * 4, budget);
    if (outcome.image) {
        outcome.image->width = outcome.image->height = side;
        outcome.image->hasAlpha = true;
        deriveMaskFromAlpha(*outcome.image);
    }
    return outcome;
}

#else

SvgOutcome readSvg(Bytes, SvgBudget&) {
    return {SvgOutcome::Status::unreadable, "this build draws no SVG", {}};
}
SvgOutcome drawSvg(Bytes, std::uint32_t, SvgBudget&) {
    return {SvgOutcome::Status::unreadable, "this build draws no SVG", {}};
}

#endif

}  // namespace pictrove

extern "C" __attribute__((visibility("default"))) const void* pictrove_svg_work() {
    static pictrove::SvgWork work;
    work.reads = pictrove::reads.load();
    work.draws = pictrove::draws.load();
    work.pixelsDrawn = pictrove::pixelsDrawn.load();
    return &work;
}
