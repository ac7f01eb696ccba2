// pictrove-cli report: one HTML page of the icon families in the records of
// earlier scans, to look through in a browser without network.
#pragma once

#include <cstdio>
#include <iosfwd>
#include <string>

namespace pictrove::cli {

struct Options;

// Reads the records named in `options.files` ("-" for `in`) and writes the
// page to `options.outputDir`. Returns the exit status: 0, 1 when lines were
// no scan record (the page is written all the same), 2 when records cannot
// be read or the page cannot be written.
int report(const Options& options, std::FILE* in, std::ostream& err);

// The page's shell around its data: what comes before the JSON of the
// families, and what after it.
extern const char* const kReportPageHead;
extern const char* const kReportPageTail;

}  // namespace pictrove::cli
