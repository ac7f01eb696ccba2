// The commands over whole corpora of scan records: `index` builds the
// look-alike index of them, `clusters` prints their icon families, `report`
// writes the page of them.
#pragma once

#include <cstdio>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "corpus/clusters.h"
#include "corpus/corpus_index.h"

namespace pictrove::cli {

struct Options;

// Feeds every record line of the records files `names` ("-" for `in`) to
// `builder`, and to `also` where one is given. Returns what readRecordLines
// does, the worst of all files.
int addRecords(corpus::IndexBuilder& builder, const std::vector<std::string>& names, std::FILE* in,
               std::ostream& err, const std::function<void(std::string_view)>& also = {});

// Both return the exit status: 0 when all went well, 1 when some lines were
// no scan record (the index is written all the same), 2 when a records file
// or the index cannot be read or written.
int buildIndex(const Options& options, std::FILE* in, std::ostream& err);
int clusters(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err);

// report: the page of the families in the records named in `options.files`
// ("-" for `in`), written to `options.outputDir`. 0, 1 when lines were no
// scan record (the page is written all the same), 2 when records cannot be
// read or the page cannot be written.
int report(const Options& options, std::FILE* in, std::ostream& err);

}  // namespace pictrove::cli
