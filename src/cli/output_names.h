// The names extract gives its output files, kept apart over a whole run: two
// inputs may well share a stem ("a/b_c.exe" and "a_b/c.exe", two long names
// cut alike, the same relative path below two folders), and the second must
// never overwrite what the first wrote.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pictrove::cli {

// An input's output names: its stem, cut where needed so that the name with
// its suffix fits the output folder's name limit. The marker ("~2", "~3" ...)
// of an input whose names an earlier one took stands before the suffix, so
// that no cut can drop it.
class OutputNames {
public:
    OutputNames(const std::filesystem::path& folder, std::string stem);
    void setMarker(std::string marker) { marker_ = std::move(marker); }
    std::string name(const std::string& suffix) const;
    std::filesystem::path operator()(const std::string& suffix) const;

private:
    std::filesystem::path folder_;
    std::string stem_;
    std::string marker_;
    std::size_t limit_;
};

// What the smallest file takes of the disk in `folder`: its file system's
// block size (4 KiB where that cannot be asked).
std::uint64_t folderBlockSize(const std::filesystem::path& folder);

// Whether `folder` takes names that differ only in letter case for one name:
// always on Windows; on Linux, on FAT and exFAT file systems and in folders
// with case folding turned on (ext4, f2fs).
bool foldsLetterCase(const std::filesystem::path& folder);

// The key under which a folder tells names apart: the name itself, or, where
// it folds letter case, the name with its case folded: each UTF-16 unit's
// invariant upper case on Windows, as NTFS compares; ASCII letters elsewhere
// (a FAT or ext4 folder also folds other letters, such as É and é, which are
// then told apart here and may still meet on the disk).
std::string folderNameKey(std::string_view name, bool foldsCase);

// Every name a run writes. Inputs take their names one after the other in
// input order, whichever thread reads them, so the same inputs always get the
// same names.
class NameBook {
public:
    // `foldsCase`: the output folder takes names differing only in letter case
    // for one. `inputs` is the count known so far: more may come.
    explicit NameBook(std::size_t inputs, bool foldsCase = false)
        : settled_(inputs, false), foldsCase_(foldsCase) {}

    // Waits until every earlier input has taken its names or passed, then
    // takes the names `namesFor(marker)` gives under the first marker ("",
    // "~2", "~3" ...) that makes them all new to the run and to each other.
    // Nothing when no marker within reach does.
    std::optional<std::string> take(
        std::size_t input, const std::string& stem,
        const std::function<std::vector<std::string>(const std::string&)>& namesFor);
    // An input that writes nothing (or has taken its names already).
    void pass(std::size_t input);

private:
    void settle(std::size_t input);

    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<bool> settled_;
    bool foldsCase_;
    std::size_t next_ = 0;  // the first input not yet settled
    std::unordered_set<std::string> taken_;
    std::unordered_map<std::string, unsigned> lastMarker_;  // per stem key, where to look next
};

}  // namespace pictrove::cli
