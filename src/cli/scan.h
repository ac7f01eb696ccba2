// Fingerprints for corpora: `scan` writes one JSON record per file (its
// SHA-256, its icons with their difference hashes and group hashes), and
// `similar` finds the icons that look like a reference, in files or in the
// records of an earlier scan.
#pragma once

#include <cstdio>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cli/memory_ledger.h"
#include "engine/scan_record.h"

namespace pictrove::cli {

struct Options;
struct PathEntry;

// Both return the exit status: 0 when every file could be read, 1 otherwise,
// 2 when the list of --files-from or the records of --scan-file cannot be
// read. `in` is standard input, for those named "-".
int scan(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err);
int similar(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err);

// How many threads the options ask for: --jobs, else one per core.
std::size_t threadsFor(const Options& options);

// One file's record line (scanRecord), and whether it is an error record.
// With a `turn`, the file's bytes and decoded pixels are held from its
// ledger before they are read.
ScanRecord scanFile(const PathEntry& entry, const Options& options,
                    const std::function<void()>& whileRead = {}, MemoryLedger::Turn* turn = nullptr);

// Opens the file `name` for reading, any name the system takes.
std::FILE* openForReading(const std::string& name);

// Says on `err` that `faults` lines of the records `name`, the first line
// `first`, are no scan record.
void reportNonRecords(const std::string& name, std::size_t faults, std::size_t first, std::ostream& err);

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

}  // namespace pictrove::cli
