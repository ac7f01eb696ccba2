// Fingerprints for corpora: `scan` writes one JSON record per file (its
// SHA-256, its icons with their difference hashes and group hashes), and
// `similar` finds the icons that look like a reference, in files or in the
// records of an earlier scan.
#pragma once

#include <iosfwd>

namespace pictrove::cli {

struct Options;

// Both return the exit status: 0 when every file could be read, 1 otherwise.
int scan(const Options& options, std::istream& in, std::ostream& out, std::ostream& err);
int similar(const Options& options, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace pictrove::cli
