// The files a command works on: the FILE arguments as given, or, with
// --recursive, the icon sources found in the folders among them.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace pictrove::cli {

struct Options;

struct InputFile {
    std::string path;        // as shown in reports: the argument, or argument/relative path
    std::string outputStem;  // what output names start with: the file name, or the
                             // path below the argument with '/' replaced by '_'
    bool found = false;      // found in a folder rather than named by the user
};

// The regular files below one folder, one at a time, in the order
// collectInputs takes them: only the listings of the folders on the way down
// to the current one are held, never the whole tree, and the first file comes
// as soon as it is found.
class FolderWalk {
public:
    FolderWalk(const Options& options, std::ostream& err, const std::string& folder);
    ~FolderWalk();
    FolderWalk(FolderWalk&&) noexcept;
    FolderWalk& operator=(FolderWalk&&) noexcept;

    std::optional<InputFile> next();
    // False once a folder could not be read (it was reported on err).
    bool complete() const { return complete_; }

private:
    struct Level;
    void enter(std::string folder, std::string relative, int depth);
    void report(const std::string& folder, const std::string& why);

    const Options* options_;
    std::ostream* err_;
    std::vector<Level> levels_;
    bool complete_ = true;
};

// The files to read, one at a time, in collectInputs' order: a folder is
// walked as its files are asked for, so the first comes at once however
// large the tree.
class InputStream {
public:
    InputStream(const Options& options, std::ostream& err) : options_(&options), err_(&err) {}

    std::optional<InputFile> next();
    // False once a folder could not be read or was not walked (reported on err).
    bool complete() const { return complete_; }

private:
    const Options* options_;
    std::ostream* err_;
    std::size_t argument_ = 0;
    std::optional<FolderWalk> walk_;
    bool complete_ = true;
};

// The files to read, in a stable order. Folders are walked only with
// --recursive: depth first, entries in byte order of their names, links to
// folders (on Windows every folder reparse point: links, junctions, mount
// points) not followed, only regular files taken, and the output folder
// never walked, not even when it is the folder given. A folder that cannot be
// read (or is not walked) is reported on `err` and clears `complete`. Found files that turn out
// to be no icon source (by their first bytes, see IconFile) are left out by
// the commands.
std::vector<InputFile> collectInputs(const Options& options, std::ostream& err, bool& complete);

}  // namespace pictrove::cli
