// pictrove-svg-draw: draws one SVG document for the program (see svg.h).
//
//   pictrove-svg-draw read|SIDE CPU_MICROSECONDS MEMORY_BYTES < document
//
// It takes the limits first, before it reads a byte: past the processor
// time the system stops it with SIGPROF (SIGXCPU and SIGKILL a second or
// two later, should that be caught), past the memory its allocations fail. "read" only reads the document; a
// SIDE draws it and writes SIDE * SIDE pixels (blue, green, red, straight alpha) to standard output. Exit
// status 0 when done, 2 when librsvg cannot read or draw it, 3 when it ran out of memory, 1 when called
// wrongly; what went wrong goes to standard error.
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "image/svg_render.h"
#include "reader_limits.h"

// The sanitizers reserve terabytes of address space for their shadow
// memory, so under them no address-space limit can be set: the memory
// bound is theirs to keep there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PICTROVE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define PICTROVE_SANITIZED 1
#endif
#endif

namespace {

#ifdef PICTROVE_SANITIZED
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

template <class Number>
bool parse(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool limit(int resource, rlim_t value) {
    const rlimit bounds{value, value};
    return setrlimit(resource, &bounds) == 0;
}

bool writeAll(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t put = write(fd, bytes, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

int fail(int status, const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return status;
}

// Standard input, up to the largest picture file a package may hold.
bool readInput(std::vector<std::byte>& data) {
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = read(0, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (data.size() + static_cast<std::size_t>(got) > pictrove::limits::kMaxPackageMember) return false;
        const auto* bytes = reinterpret_cast<const std::byte*>(block);
        data.insert(data.end(), bytes, bytes + got);
    }
}

int run(int count, char** arguments) {
    // The picture formats built into the libraries and no others: no image
    // loader or GIO module of the system's, which may belong to another build
    // of these libraries (this one may be a Python wheel's copy) and would
    // widen what a hostile document can reach.
    if (setenv("GDK_PIXBUF_MODULE_FILE", "/dev/null", 1) != 0 || setenv("GIO_USE_VFS", "local", 1) != 0 ||
        setenv("GIO_MODULE_DIR", "/dev/null", 1) != 0)
        return fail(1, "cannot set its environment");
    std::uint32_t side = 0;
    std::uint64_t microseconds = 0, memory = 0;
    const bool onlyRead = count == 4 && std::string_view(arguments[1]) == "read";
    if (count != 4 || (!onlyRead && !parse(arguments[1], side)) || !parse(arguments[2], microseconds) ||
        !parse(arguments[3], memory) || (!onlyRead && (side == 0 || side > pictrove::limits::kMaxImageSide)))
        return fail(1, "usage: pictrove-svg-draw read|SIDE CPU_MICROSECONDS MEMORY_BYTES < document");
    // The profiling timer counts the processor time of the process to the
    // microsecond; the system's limit, in whole seconds, backs it.
    const itimerval timer{
        {0, 0},
        {static_cast<time_t>(microseconds / 1'000'000), static_cast<suseconds_t>(microseconds % 1'000'000)}};
    const rlim_t seconds = microseconds / 1'000'000 + 1;
    const rlimit cpu{seconds, seconds + 1};
    if (microseconds == 0 || setitimer(ITIMER_PROF, &timer, nullptr) != 0 ||
        setrlimit(RLIMIT_CPU, &cpu) != 0 || (kLimitAddressSpace && !limit(RLIMIT_AS, memory)) ||
        !limit(RLIMIT_CORE, 0))
        return fail(1, std::string("cannot set its limits: ") + std::strerror(errno));

    std::vector<std::byte> data;
    if (!readInput(data)) return fail(2, "cannot read the document");
    std::string why;
    if (onlyRead) return pictrove::svg_render::readable(data, why) ? 0 : fail(2, why);
    const auto pixels = pictrove::svg_render::draw(data, side, why);
    if (!pixels) return fail(why.find("memory") != std::string::npos ? 3 : 2, why);
    return writeAll(1, pixels->data(), pixels->size()) ? 0 : fail(2, "cannot write the picture");
}

}  // namespace

int main(int count, char** arguments) {
    try {
        return run(count, arguments);
    } catch (const std::bad_alloc&) {
        return fail(3, "out of memory");
    }
}
