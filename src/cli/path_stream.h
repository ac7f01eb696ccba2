// The files a corpus command reads, one at a time: the PATH arguments, then
// the names listed in --files-from (one a line, or NUL-separated with -0),
// with folders walked under -r. Names are read only as they are needed, and
// folders walked as the names are asked for, so neither a list of millions
// nor a tree of millions ever sits in memory.
#pragma once

#include <cstdio>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/inputs.h"

namespace pictrove::cli {

struct Options;

// A name to read, or one that cannot be (`error` says why).
struct PathEntry {
    std::string name;
    std::string error;
};

class PathStream {
public:
    // `standardInput` is read for --files-from -.
    PathStream(const Options& options, std::FILE* standardInput, std::ostream& err);
    ~PathStream();
    PathStream(const PathStream&) = delete;
    PathStream& operator=(const PathStream&) = delete;

    std::optional<PathEntry> next();
    // False once a folder could not be read (it was reported on err).
    bool complete() const { return complete_; }
    // True once the list named by --files-from turned out unreadable, as a
    // whole or part way (reported on err): a usage error.
    bool listFailed() const { return listFailed_; }

private:
    std::optional<PathEntry> expand(PathEntry entry);
    std::optional<PathEntry> listedName();
    void listError(const std::string& why);

    const Options& options_;
    std::ostream& err_;
    std::size_t argument_ = 0;
    std::FILE* list_ = nullptr;
    bool ownsList_ = false;
    std::string openError_;  // why the list could not be opened
    std::optional<FolderWalk> walk_;
    bool complete_ = true;
    bool listFailed_ = false;
};

}  // namespace pictrove::cli
