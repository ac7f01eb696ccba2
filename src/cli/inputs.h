// The files a command works on: the FILE arguments as given, or, with
// --recursive, the icon sources found in the folders among them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace pictrove::cli {

struct Options;

struct InputFile {
    std::string path;        // as shown in reports: the argument, or argument/relative path
    std::string outputStem;  // what output names start with: the file name, or the
                             // path below the argument with '/' replaced by '_'
};

// The files to read, in a stable order. Folders are walked only with
// --recursive: depth first, entries in byte order of their names, links to
// folders not followed, only regular files taken, and files whose first
// bytes show they are no icon source left out unread. A folder that cannot be
// read is reported on `err` and clears `complete`.
std::vector<InputFile> collectInputs(const Options& options, std::ostream& err, bool& complete);

// Whether the first bytes of a file may start an icon source (executables,
// icon, cursor and animated cursor files, ELF programs); collection files
// are known by their extension.
bool mayBeIconSource(const std::string& path, const std::string& collectionExtension);

}  // namespace pictrove::cli
