#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace pictrove {
struct Source;
}

namespace pictrove::cli {

struct Options {
    std::vector<std::string> files;
    std::optional<std::filesystem::path> outputDir;
    std::optional<std::size_t> index;
    bool json = false;
    bool allSizes = false;
    bool ico = false;                                 // the icon file image an icon save writes
    bool bmp = false;                                 // the bitmap file a bitmap save writes
    bool progress = false;                            // a progress line on stderr for many files
    std::optional<std::filesystem::path> collection;  // --ics: the icons as one collection file
    std::string collectionExtension = ".ics";
    bool recursive = false;   // FILE arguments may be folders, walked whole
    bool groupIco = false;    // each group as a complete icon or cursor file
    bool cursors = false;     // cursor groups of executables instead of icon groups
    std::uint32_t size = 32;  // --size: the icon shown and extracted is size x size
    // scan and similar
    std::optional<std::string> filesFrom;  // a list of files to read, "-" for standard input
    bool nulSeparated = false;             // -0: that list is NUL-separated, not one name a line
    std::optional<std::size_t> jobs;       // threads; the cores when not given
    bool allIcons = false;                 // every icon, not only the main one
    std::optional<std::uint64_t> maxSize;  // larger files get an error record
    int maxDistance = 10;                  // similar: the largest Hamming distance shown
    std::optional<std::string> scanFile;   // similar: the records of an earlier scan
    // index, similar and clusters
    std::optional<std::string> indexArgument;  // --index as given
    std::optional<std::string> indexFile;      // an index built by `index`
    std::optional<std::string> group;          // similar: a group hash to look up in the index
    int radius = 4;                            // clusters: the distance that links two icons
    std::size_t minSize = 2;                   // clusters: the smallest family shown
    bool noGroups = false;                     // index: without the group hashes
    // scan: each icon also as a PNG of this many pixels a side
    std::optional<std::uint32_t> thumbnail;
};

// Both return the exit status: 0 when every file could be read, 1 otherwise.
int list(const Options& options, std::ostream& out, std::ostream& err);
int extract(const Options& options, std::ostream& err);

// Writes the icons of `source` as the collection file `target`.
bool writeCollection(const Source& source, const std::filesystem::path& target, std::ostream& err);

}  // namespace pictrove::cli
