#include "corpus/record_lines.h"

#include <cstring>
#include <vector>

namespace pictrove::corpus {

bool forEachLine(std::FILE* in, const std::function<void(std::string_view)>& line,
                 const std::function<void()>& tooLong, const LineLimits& limits) {
    std::vector<char> buffer(limits.block);
    std::size_t held = 0;   // bytes of an unfinished line carried over
    bool skipping = false;  // inside a line too long to hold, passing over it
    for (;;) {
        const std::size_t got = std::fread(buffer.data() + held, 1, buffer.size() - held, in);
        if (std::ferror(in)) return false;
        const std::size_t filled = held + got;
        const bool atEnd = got == 0;
        if (atEnd && filled == 0) break;
        std::string_view text(buffer.data(), filled);
        const std::size_t complete =
            atEnd ? filled : text.rfind('\n') + 1;  // npos + 1 == 0: no full line yet
        if (complete == 0) {
            if (skipping) {
                held = 0;
            } else if (buffer.size() < limits.longest) {
                held = filled;
                buffer.resize(std::min(buffer.size() * 2, limits.longest));
            } else {
                tooLong();
                skipping = true;
                held = 0;
            }
            continue;
        }
        std::string_view lines = text.substr(0, complete);
        if (skipping) {
            const std::size_t end = lines.find('\n');
            lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
            skipping = false;
        }
        while (!lines.empty()) {
            const std::size_t end = lines.find('\n');
            line(lines.substr(0, end));
            lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
        }
        if (atEnd) break;
        held = filled - complete;
        std::memmove(buffer.data(), buffer.data() + complete, held);
    }
    return true;
}

bool forEachRecordLine(std::FILE* in, const std::function<bool(std::string_view)>& record,
                       const std::function<void(std::size_t line)>& tooLong, RecordLineCounts& counts,
                       const LineLimits& limits) {
    const auto fault = [&] {
        if (counts.faults++ == 0) counts.firstFault = counts.lines;
    };
    return forEachLine(
        in,
        [&](std::string_view text) {
            ++counts.lines;
            if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
            if (text.find_first_not_of(" \t") == std::string_view::npos) return;  // a blank line
            if (!record(text)) fault();
        },
        [&] {
            ++counts.lines;
            fault();
            tooLong(counts.lines);
        },
        limits);
}

}  // namespace pictrove::corpus
