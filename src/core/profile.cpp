#include "profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <fstream>

#include "path_text.h"
#endif

#include "profile_text.h"

namespace pictrove {
namespace {

using profile_limits::kMaxFileBytes;
using profile_limits::kMaxValueBytes;
using namespace profile_text;

bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Cuts a value to the buffer size of the Windows call. A UTF-8 character
// that would be cut in half goes whole, so the text never ends in a broken
// sequence; any other byte counts as one character, as in an ANSI file.
std::string_view capValue(std::string_view value) {
    if (value.size() <= kMaxValueBytes) return value;
    std::size_t end = kMaxValueBytes;
    if (isUtf8Continuation(value[end])) {
        std::size_t lead = end;
        while (lead > 0 && end - lead < 3 && isUtf8Continuation(value[lead - 1])) --lead;
        if (lead > 0) {
            const auto first = static_cast<unsigned char>(value[lead - 1]);
            const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
            if (first >= 0xC0 && first < 0xF8 && (lead - 1) + length > end) end = lead - 1;
        }
    }
    return value.substr(0, end);
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Scans profile text. Finding a section needs only the lines that start with
// "[", so it runs at memchr speed however many lines stand in between; only
// the lines of the wanted section are taken apart. Every lookup reads the
// whole file again, so this is what keeps a long file cheap.
class ProfileScanner {
public:
    explicit ProfileScanner(std::string_view text) : begin_(text.data()), end_(text.data() + text.size()) {
        if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) begin_ += kUtf8Bom.size();
    }

    // Moves past the header of the first section named `section`.
    bool findSection(std::string_view section) {
        const char* at = begin_;
        while (at < end_) {
            const auto* bracket =
                static_cast<const char*>(std::memchr(at, '[', static_cast<std::size_t>(end_ - at)));
            if (!bracket) return false;
            at = bracket + 1;
            if (!startsLine(bracket)) continue;
            std::string_view name;
            const char* next = nullptr;
            if (!header(bracket, name, next)) continue;
            at = next;
            if (sameName(name, section)) {
                pos_ = next;
                return true;
            }
        }
        return false;
    }

    // The raw value of `key` in the section found, up to the next header;
    // nothing when the key is missing or its first line has no "=".
    std::optional<std::string_view> findKey(std::string_view key) {
        // A line without "=" is mostly something else (a comment, a note,
        // junk): ruled out on its first letter, it costs next to nothing.
        const char lower = key.empty() ? '\0' : lowerAscii(key.front());
        const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 'a' + 'A') : lower;
        while (pos_ < end_) {
            const char* at = pos_;
            while (at < end_ && isBlank(*at)) ++at;
            const char* equals = nullptr;
            const char* lineEnd = at;
            while (lineEnd < end_ && !isLineEnd(*lineEnd)) {
                if (!equals && *lineEnd == '=') equals = lineEnd;
                ++lineEnd;
            }
            std::string_view name;
            const char* next = nullptr;
            if (at < end_ && *at == '[' && header(at, name, next)) return std::nullopt;
            pos_ = afterLineEnd(lineEnd);
            if (!equals && (lower == '\0' || at == lineEnd || (*at != lower && *at != upper))) continue;
            const char* nameEnd = equals ? equals : lineEnd;
            if (!sameName(trimRight(std::string_view(at, static_cast<std::size_t>(nameEnd - at))), key))
                continue;
            // A line holding only the name is that key without a value: the
            // Windows call gives the default then, and never looks further.
            if (!equals) return std::nullopt;
            return std::string_view(equals + 1, static_cast<std::size_t>(lineEnd - equals - 1));
        }
        return std::nullopt;
    }

private:
    // Only blanks stand between the line's start and `at`.
    bool startsLine(const char* at) const {
        while (at > begin_ && isBlank(at[-1])) --at;
        return at == begin_ || isLineEnd(at[-1]);
    }

    const char* afterLineEnd(const char* at) const {
        if (at >= end_) return end_;
        if (*at == '\r' && at + 1 < end_ && at[1] == '\n') return at + 2;
        return at + 1;
    }

    // A "[name]" line starting at `bracket`: its trimmed name, and where the
    // next line starts. Text after the "]" does not count.
    bool header(const char* bracket, std::string_view& name, const char*& next) const {
        const char* at = bracket + 1;
        while (at < end_ && *at != ']' && !isLineEnd(*at)) ++at;
        if (at >= end_ || *at != ']') return false;
        name = trim(std::string_view(bracket + 1, static_cast<std::size_t>(at - bracket - 1)));
        while (at < end_ && !isLineEnd(*at)) ++at;
        next = afterLineEnd(at);
        return true;
    }

    const char* begin_;
    const char* end_;
    const char* pos_ = nullptr;
};

std::string finishValue(std::string_view raw) {
    std::string_view value = unquote(trim(raw));
    // The Windows call hands out a C string: a zero byte ends it.
    if (const std::size_t zero = value.find('\0'); zero != std::string_view::npos)
        value = value.substr(0, zero);
    return std::string(capValue(value));
}

#ifndef _WIN32
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Up to `limit` bytes from the start of a plain file.
std::optional<std::string> readStart(const std::string& path, std::size_t limit) {
    // Non-blocking, so that a pipe put in the file's place cannot stall the
    // open; it is turned away by the type check below.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string bytes;
    // The reported size is only a hint: the file may change while it is read.
    const auto hinted = static_cast<std::uint64_t>(info.st_size);
    bytes.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(limit, std::max<std::uint64_t>(hinted, 4096))));
    std::size_t filled = 0;
    while (filled < limit) {
        if (filled == bytes.size()) bytes.resize(std::min(limit, bytes.size() * 2));
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}
#else
std::optional<std::string> readStart(const std::string& utf8Path, std::size_t limit) {
    const std::filesystem::path path = pathFromUtf8(utf8Path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes(limit, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}
#endif

}  // namespace

std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    ProfileScanner scanner(text);
    // Only the first section of a name is searched.
    if (!scanner.findSection(section)) return std::nullopt;
    const auto raw = scanner.findKey(key);
    if (!raw) return std::nullopt;
    return finishValue(*raw);
}

std::optional<std::string> readProfileText(const std::string& path) {
    auto bytes = readStart(path, kMaxFileBytes + 1);
    if (!bytes) return std::nullopt;
    bytes->resize(visibleProfileText(*bytes).size());
    return bytes;
}

std::optional<std::string> readFileStart(const std::string& path, std::size_t limit) {
    return readStart(path, limit);
}

std::string_view visibleProfileText(std::string_view bytes) {
    if (bytes.size() <= kMaxFileBytes) return bytes;
    // The file goes on past the cap: keep whole lines only.
    const std::size_t lastEnd = bytes.substr(0, kMaxFileBytes).find_last_of("\r\n");
    return bytes.substr(0, lastEnd == std::string_view::npos ? 0 : lastEnd + 1);
}

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback) {
    if (const auto text = readProfileText(path)) {
        if (auto value = findProfileValue(*text, section, key)) return std::move(*value);
    }
    return std::string(capValue(trimRight(fallback)));
}

std::optional<std::int32_t> parseProfileInteger(std::string_view text) {
    text = trimLeft(text);
    if (text.empty()) return std::nullopt;
    if (text.front() == '$') {
        const std::string_view digits = text.substr(1);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        std::uint32_t value = 0;
        for (const char c : digits) {
            const char lower = lowerAscii(c);
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (lower >= 'a' && lower <= 'f') {
                digit = static_cast<std::uint32_t>(lower - 'a' + 10);
            } else {
                return std::nullopt;
            }
            value = value << 4 | digit;
        }
        return static_cast<std::int32_t>(value);
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulated as a magnitude in 64 bits; past 2^31 it can only fail.
    std::int64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t{1} << 31) return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parseProfileNumber(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parseProfileInteger("$" + std::string(text.substr(2)));
    }
    return parseProfileInteger(text);
}

}  // namespace pictrove
