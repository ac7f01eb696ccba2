// The lines of a records file, read in blocks with bounded memory whatever
// the file holds.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string_view>

namespace pictrove::corpus {

// Reads `in` in blocks and hands `line` each line without its line end. A
// line longer than `longest` is passed over whole, `tooLong` called in its
// place, so memory stays bounded whatever the input. False on a read error,
// with errno telling why.
struct LineLimits {
    std::size_t block = std::size_t{4} << 20;
    std::size_t longest = std::size_t{256} << 20;
};
bool forEachLine(std::FILE* in, const std::function<void(std::string_view)>& line,
                 const std::function<void()>& tooLong, const LineLimits& limits = {});

struct RecordLineCounts {
    std::size_t lines = 0;       // read, blank ones too
    std::size_t faults = 0;      // lines that were no scan record, or too long to read
    std::size_t firstFault = 0;  // the first of them, counted from 1
};

// Hands `record` each line of a records file that is not blank, without its
// line end (LF or CR LF); `record` says whether it was a scan record. A line
// too long to read is a fault too, `tooLong` told its number. False on a
// read error, with errno telling why.
bool forEachRecordLine(std::FILE* in, const std::function<bool(std::string_view)>& record,
                       const std::function<void(std::size_t line)>& tooLong, RecordLineCounts& counts,
                       const LineLimits& limits = {});

}  // namespace pictrove::corpus
