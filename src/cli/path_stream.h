// The files a corpus command reads, one at a time: the PATH arguments, then
// the names listed in --files-from (one a line, or NUL-separated with -0),
// with folders walked under -r. Names are read only as they are needed, so a
// list of millions never sits in memory.
#pragma once

#include <deque>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <sstream>
#include <string>

namespace pictrove::cli {

struct Options;

class PathStream {
public:
    PathStream(const Options& options, std::istream& standardInput, std::ostream& err);

    // False when the list named by --files-from cannot be opened.
    bool ready() const { return list_ != nullptr; }
    std::optional<std::string> next();
    // False once a folder could not be read (it was reported on err).
    bool complete() const { return complete_; }

private:
    std::optional<std::string> expand(std::string name);
    std::optional<std::string> listedName();

    const Options& options_;
    std::ostream& err_;
    std::size_t argument_ = 0;
    std::ifstream listFile_;
    std::istream* list_ = nullptr;
    std::deque<std::string> walked_;
    bool complete_ = true;
};

}  // namespace pictrove::cli
