// A look-alike index over the records of `scan`: the difference hashes of
// the icons, in two tables sorted on either half of the hash, so that a
// search within a radius looks only at the few buckets one of the halves
// can be in; the group hashes, sorted; and the file names to print a hit.
//
// The index is one file, read by mapping it: opening costs a check of its
// header and bucket tables, not a parse. Everything else is checked where
// it is used, so a damaged index gives an error, never a read out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace pictrove::corpus {

// One icon of the index.
struct IndexEntry {
    std::uint64_t dhash = 0;
    std::uint32_t record = 0;  // the record it came from, counting from 0
    std::uint32_t index = 0;   // the icon's index in its file
    bool main = false;         // compared when only main icons are asked for
    bool inAll = false;        // compared when every icon is asked for
};

class CorpusIndex {
public:
    // Maps the index file at `path`; an error when it cannot be read, is no
    // index, is of another version or is damaged.
    static Result<CorpusIndex> open(const std::filesystem::path& path);
    // An index whose file image is already in memory.
    static Result<CorpusIndex> fromBytes(std::vector<std::byte> image);

    std::size_t entries() const;
    std::size_t records() const;
    std::size_t groups() const;
    // Whether the group hashes were kept (not built with --no-groups).
    bool keepsGroups() const;

    // Entry `n`; nothing when its part of the index is damaged.
    std::optional<IndexEntry> entry(std::size_t n) const;
    // The exact name of record `n` (not always UTF-8); nothing when damaged.
    std::optional<std::string_view> fileName(std::uint32_t record) const;
    // Group hash `n` as 64 hex digits.
    std::optional<std::string> groupSha256(std::size_t group) const;
    // The entries whose group hash is group `n`; false when damaged.
    bool groupEntries(std::size_t group, const std::function<void(std::size_t entry)>& each) const;

    // Hands `hit` every entry (its number and distance) whose hash is within
    // `radius` of `hash`, each once, in no set order. `allIcons` chooses the
    // entries compared, as `similar --all-icons` does. False when a damaged
    // part of the index was met (the hits handed out so far stand).
    // With `oneOfEachHash`, only the first of the entries compared that
    // share one hash is handed out, and the others cost next to nothing
    // (for families, whose copies of one hash are joined already: a corpus
    // of a hundred thousand blank icons would otherwise hand each out to
    // every hash near it).
    bool findNear(std::uint64_t hash, int radius, bool allIcons,
                  const std::function<void(std::size_t entry, int distance)>& hit,
                  bool oneOfEachHash = false) const;
    // Every entry whose group hash is `sha256` (64 hex digits), likewise.
    bool withGroup(std::string_view sha256, bool allIcons,
                   const std::function<void(std::size_t entry)>& hit) const;

    class Image;

private:
    explicit CorpusIndex(std::shared_ptr<const Image> image) : image_(std::move(image)) {}
    std::shared_ptr<const Image> image_;
};

// Gathers scan records a line at a time and writes the index of them.
class IndexBuilder {
public:
    // Without `keepGroups` the group hashes are left out: the index is then
    // 16 bytes an icon and the names, and cannot look up a group hash.
    explicit IndexBuilder(bool keepGroups = true);
    ~IndexBuilder();
    IndexBuilder(const IndexBuilder&) = delete;
    IndexBuilder& operator=(const IndexBuilder&) = delete;

    // Takes one record line, without its line end: false when it is no scan
    // record. A record without icons counts, with its name and no entry.
    bool addLine(std::string_view line);

    // The index of the records taken, as the bytes of its file; an error when
    // there are more of them than an index holds. `bucketBits` (16 to 26)
    // sets the size of the bucket tables, chosen by the number of icons when
    // 0: a test can so reach the tables of a large corpus with a small one.
    Result<std::vector<std::byte>> finish(std::uint32_t bucketBits = 0);

private:
    struct Data;
    std::unique_ptr<Data> data_;
};

}  // namespace pictrove::corpus
