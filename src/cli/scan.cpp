#include "cli/scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/inputs.h"
#include "cli/path_stream.h"
#include "corpus/corpus_index.h"
#include "corpus/record_lines.h"
#include "corpus/record_reader.h"
#include "corpus/searches.h"
#include "engine/ordered_stream.h"
#include "engine/scan_record.h"
#include "engine/sources.h"
#include "fingerprint/dhash.h"
#include "icon_source/icon_file.h"
#include "path_text.h"

namespace pictrove::cli {
using namespace corpus;

namespace {

using Json = nlohmann::ordered_json;

// What the jobs of one scan may hold together of files' bytes and decoded
// pixels, however many jobs there are.
constexpr std::uint64_t kJobsMemory = std::uint64_t{256} << 20;

}  // namespace

std::size_t threadsFor(const Options& options) {
    if (options.jobs) return *options.jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

ScanRecord scanFile(const PathEntry& entry, const Options& options, const std::function<void()>& whileRead,
                    MemoryLedger::Turn* turn) {
    if (!entry.error.empty()) return errorRecord(entry.name, entry.error);
    const ScanSettings settings{options.allIcons, options.maxSize, options.collectionExtension,
                                options.thumbnail};
    return scanRecord(
        entry.name, settings, whileRead,
        turn ? std::function<void(std::uint64_t)>([turn](std::uint64_t bytes) { turn->hold(bytes); })
             : nullptr);
}

int scan(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err) {
    PathStream paths(options, in, err);
    bool failed = false;
    // Each file takes its turn as it is listed, so turns go in input order.
    MemoryLedger ledger(kJobsMemory);
    struct Job {
        PathEntry entry;
        MemoryLedger::Turn turn;
    };
    runStreamInOrder<Job, ScanRecord>(
        [&]() -> std::optional<Job> {
            auto entry = paths.next();
            if (!entry) return std::nullopt;
            return Job{std::move(*entry), ledger.take()};
        },
        [&](Job& job) { return scanFile(job.entry, options, {}, &job.turn); },
        [&](ScanRecord& record) {
            // Each record goes out whole as soon as its turn comes, so
            // a pipeline downstream sees the corpus advance.
            out << record.line << std::flush;
            failed |= record.failed;
        },
        threadsFor(options));
    out.flush();
    if (paths.listFailed()) return 2;
    return failed || !paths.complete() ? 1 : 0;
}

namespace {

// The hash to compare with: REFERENCE as 16 hexadecimal digits, unless a file
// of that name exists, else icon --index of the icon source REFERENCE.
std::optional<std::uint64_t> referenceHash(const Options& options, std::ostream& err) {
    const std::string& reference = options.files.front();
    std::error_code error;
    if (const auto hash = parseDhash(reference);
        hash && !std::filesystem::exists(pathFromUtf8(reference), error))
        return hash;
    auto source = openSource(reference, options.collectionExtension);
    if (!source) {
        err << "pictrove-cli: " << source.error().message << "\n";
        return std::nullopt;
    }
    const std::size_t index = options.index.value_or(0);
    if (index >= source->icons.size()) {
        err << "pictrove-cli: " << reference << ": no icon " << index << "\n";
        return std::nullopt;
    }
    const auto icon = source->icons[index].icon(kIconSize);
    if (!icon) {
        err << "pictrove-cli: " << reference << ": icon " << index << " cannot be decoded"
            << undecodedBecause(source->icons[index].images) << "\n";
        return std::nullopt;
    }
    return differenceHash(*icon);
}

struct FileMatches {
    std::vector<Match> matches;
    std::string error;
};

FileMatches matchFile(const std::string& file, std::uint64_t reference, const Options& options) {
    FileMatches result;
    try {
        auto source = openSource(file, options.collectionExtension);
        if (!source) {
            result.error = source.error().message;
            return result;
        }
        const std::size_t count =
            options.allIcons ? source->icons.size() : std::min<std::size_t>(1, source->icons.size());
        for (std::size_t i = 0; i < count; ++i) {
            const auto icon = source->icons[i].icon(kIconSize);
            if (!icon) continue;
            const std::uint64_t hash = differenceHash(*icon);
            const int distance = hammingDistance(hash, reference);
            if (distance <= options.maxDistance) result.matches.push_back({distance, file, i, hash});
        }
    } catch (const std::bad_alloc&) {
        result.error = "Cannot read file " + file + ": out of memory";
    }
    return result;
}

// Searches the records of an earlier scan, a line at a time. A line as scan
// writes it (compact, every hash 16 hex digits) is searched for its hashes
// as it stands and parsed only when one of them is near enough, which keeps
// a million records well under a second; any other line is parsed, so that
// records written by other tools (spaces after the colons, keys in another
// order) count alike.
class RecordSearch {
public:
    RecordSearch(std::uint64_t reference, const Options& options, std::vector<Match>& matches)
        : reference_(reference), options_(options), matches_(matches) {}

    // False when the line is no scan record.
    bool line(std::string_view text) {
        if (isCompactRecord(text) && !hasNearHash(text)) return true;
        const auto record = readRecord(text);
        if (!record) return false;
        for (const RecordIcon& icon : record->icons) {
            if (!icon.dhash || !compared(icon, *record, options_.allIcons)) continue;
            const int distance = hammingDistance(*icon.dhash, reference_);
            if (distance <= options_.maxDistance)
                matches_.push_back({distance, record->file, icon.index, *icon.dhash});
        }
        return true;
    }

private:
    static constexpr std::string_view kName = "\"dhash\"";
    static constexpr std::string_view kKey = "\"dhash\":\"";

    // Shaped as scan writes a record, every hash field 16 hex digits or null.
    static bool isCompactRecord(std::string_view text) {
        if (!text.starts_with("{\"file\":\"") || !text.ends_with('}')) return false;
        for (std::size_t at = text.find(kName); at != std::string_view::npos; at = text.find(kName, at + 1)) {
            const std::string_view value = text.substr(at + kName.size());
            if (value.starts_with(":null")) continue;
            if (value.size() < 19 || value[0] != ':' || value[1] != '"' || value[18] != '"' ||
                !parseDhash(value.substr(2, 16)))
                return false;
        }
        return true;
    }

    bool hasNearHash(std::string_view text) const {
        for (std::size_t at = text.find(kKey); at != std::string_view::npos; at = text.find(kKey, at + 1)) {
            const auto hash = parseDhash(text.substr(at + kKey.size(), 16));
            if (hash && hammingDistance(*hash, reference_) <= options_.maxDistance) return true;
        }
        return false;
    }

    std::uint64_t reference_;
    const Options& options_;
    std::vector<Match>& matches_;
};

}  // namespace

namespace {

// A name as `ls --quoting-style=shell-escape` shows it where it holds a
// control character (a tab or a line end would break the line into other
// fields or lines) or a quote; as it is otherwise.
std::string shellQuoted(std::string_view name) {
    const auto plain = [](unsigned char c) { return c >= 0x20 && c != 0x7F && c != '\''; };
    if (std::all_of(name.begin(), name.end(), plain)) return std::string(name);
    std::string text;
    bool quoted = false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (plain(byte) != quoted) {
            text += '\'';
            quoted = !quoted;
        }
        if (quoted) {
            text += c;
        } else if (c == '\'') {
            text += "\\'";
        } else {
            static constexpr std::array<std::pair<char, const char*>, 3> kNamed{
                {{'\t', "\\t"}, {'\n', "\\n"}, {'\r', "\\r"}}};
            const auto named =
                std::find_if(kNamed.begin(), kNamed.end(), [&](auto& e) { return e.first == c; });
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            text += "$'";
            text += named != kNamed.end() ? named->second : octal;
            text += '\'';
        }
    }
    if (quoted) text += '\'';
    return text;
}

std::FILE* openForReading(const std::string& name) {
#ifdef _WIN32
    return _wfopen(pathFromUtf8(name).c_str(), L"rb");
#else
    return std::fopen(name.c_str(), "rb");
#endif
}

}  // namespace

int readRecordLines(const std::string& name, std::FILE* in, const std::function<bool(std::string_view)>& line,
                    std::ostream& err) {
    std::FILE* records = name == "-" ? in : openForReading(name);
    if (!records) {
        err << "pictrove-cli: cannot read " << name << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    const corpus::LineLimits limits;
    RecordLineCounts counts;
    const bool read = forEachRecordLine(
        records, line,
        [&](std::size_t number) {
            err << "pictrove-cli: " << name << ": line " << number << " is longer than " << limits.longest
                << " bytes and was passed over\n";
        },
        counts, limits);
    const int error = errno;
    if (records != in) std::fclose(records);
    if (!read) {
        err << "pictrove-cli: cannot read " << name << ": " << std::strerror(error) << "\n";
        return 2;
    }
    if (const std::size_t faults = counts.faults) {
        err << "pictrove-cli: " << name << ": " << faults << (faults == 1 ? " line is" : " lines are")
            << " not a scan record (the first: line " << counts.firstFault << ")\n";
        return 1;
    }
    return 0;
}

namespace {

// The icons of an index built by `index`: those near REFERENCE's hash, or
// those of one group hash with --group. Nothing is printed of an index found
// damaged on the way (exit status 2).
int searchIndex(const Options& options, std::vector<Match>& matches, std::ostream& err) {
    const std::string& name = *options.indexFile;
    auto index = CorpusIndex::open(pathFromUtf8(name));
    if (!index) {
        err << "pictrove-cli: " << index.error().message << "\n";
        return 2;
    }
    if (options.group && !index->keepsGroups()) {
        err << "pictrove-cli: the index " << name << " was built without the group hashes (--no-groups)\n";
        return 2;
    }
    std::optional<std::uint64_t> reference;
    if (!options.group && !(reference = referenceHash(options, err))) return 1;
    auto found = options.group ? matchesOfGroup(*index, *options.group, options.allIcons)
                               : matchesNear(*index, *reference, options.maxDistance, options.allIcons);
    const bool sound = found.has_value();
    if (found) matches = std::move(*found);
    if (!sound) {
        err << "pictrove-cli: the index " << name << " is damaged\n";
        return 2;
    }
    return 0;
}

}  // namespace

int similar(const Options& options, std::FILE* in, std::ostream& out, std::ostream& err) {
    std::vector<Match> matches;
    bool failed = false;
    bool listFailed = false;
    std::optional<std::uint64_t> reference;
    if (options.indexFile) {
        if (const int status = searchIndex(options, matches, err)) return status;
    } else if (!(reference = referenceHash(options, err))) {
        return 1;
    } else if (options.scanFile) {
        RecordSearch search(*reference, options, matches);
        const int status = readRecordLines(
            *options.scanFile, in, [&](std::string_view text) { return search.line(text); }, err);
        if (status == 2) return 2;
        failed = status != 0;
    } else {
        Options rest = options;
        rest.files.erase(rest.files.begin());
        PathStream paths(rest, in, err);
        runStreamInOrder<PathEntry, FileMatches>(
            [&] { return paths.next(); },
            [&](PathEntry& entry) {
                if (!entry.error.empty()) return FileMatches{{}, entry.name + ": " + entry.error};
                return matchFile(entry.name, *reference, rest);
            },
            [&](FileMatches& found) {
                if (!found.error.empty()) {
                    err << "pictrove-cli: " << found.error << "\n";
                    failed = true;
                }
                for (Match& match : found.matches) matches.push_back(std::move(match));
            },
            threadsFor(options));
        listFailed = paths.listFailed();
        failed |= !paths.complete();
    }
    std::sort(matches.begin(), matches.end(), before);
    for (const Match& match : matches) {
        if (options.json) {
            out << jsonLine(matchJson(match));
        } else {
            out << match.distance << '\t' << shellQuoted(match.file) << '\t' << match.index << '\n';
        }
    }
    out.flush();
    if (listFailed) return 2;
    return failed ? 1 : 0;
}

}  // namespace pictrove::cli
