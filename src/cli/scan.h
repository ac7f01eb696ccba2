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

// Hands `line` each line of the records file `name` ("-" for `in`) that is
// not blank, without its line end; `line` says whether it was a scan record.
// Returns 2 when the file cannot be read, 1 when some of its lines were no
// record, 0 otherwise, having reported why on `err`.
int readRecordLines(const std::string& name, std::FILE* in, const std::function<bool(std::string_view)>& line,
                    std::ostream& err);

}  // namespace pictrove::cli
