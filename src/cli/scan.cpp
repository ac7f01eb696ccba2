#include "cli/scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
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
#include "cli/ordered_stream.h"
#include "cli/path_stream.h"
#include "cli/sources.h"
#include "fingerprint/dhash.h"
#include "fingerprint/sha256.h"
#include "group_file.h"
#include "path_text.h"

namespace pictrove::cli {
namespace {

using Json = nlohmann::ordered_json;

// File names are bytes: what is not UTF-8 comes out as U+FFFD.
std::string jsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json iconJson(const Source& source, std::size_t index) {
    const SourceIcon& icon = source.icons[index];
    Json entry = {{"index", index}};
    if (icon.name && icon.name->id) entry["id"] = *icon.name->id;
    if (icon.name && !icon.name->id) entry["id"] = icon.name->name;
    const auto shown = icon.icon(kIconSize);
    entry["dhash"] = shown ? Json(dhashText(differenceHash(*shown))) : Json(nullptr);
    std::optional<std::vector<std::uint8_t>> group;
    if (!icon.images.empty()) group = buildGroupFile(IconGroup{icon.name, icon.images});
    entry["group_sha256"] = group ? Json(hexText(sha256Of(*group))) : Json(nullptr);
    auto& images = entry["images"] = Json::array();
    for (const IconImage& image : icon.images) {
        Json stored = {{"w", image.info.width},
                       {"h", image.info.height},
                       {"bits", image.info.bits},
                       {"png", image.info.png}};
        if (const auto offset = source.offsetOf ? source.offsetOf(image) : std::nullopt) {
            stored["offset"] = *offset;
            stored["length"] = imageBytes(image).size();
        }
        images.push_back(std::move(stored));
    }
    return entry;
}

struct ScanRecord {
    std::string line;
    bool failed = false;
};

std::size_t threadsFor(const Options& options) {
    if (options.jobs) return *options.jobs;
    return std::max(1u, std::thread::hardware_concurrency());
}

ScanRecord errorRecord(const std::string& file, const std::string& message) {
    return {jsonLine(Json{{"file", file}, {"error", message}}), true};
}

ScanRecord scanFile(const std::string& file, const Options& options) {
    if (file.empty()) return errorRecord(file, "empty file name");
    try {
        const auto path = pathFromUtf8(file);
        if (options.maxSize) {
            std::error_code error;
            const auto size = std::filesystem::file_size(path, error);
            if (!error && size > *options.maxSize)
                return errorRecord(file, "larger than --max-size (" + std::to_string(size) + " bytes)");
        }
        auto digest = digestFile(path);
        if (!digest) return errorRecord(file, digest.error().message);
        auto source = openSource(file, options.collectionExtension);
        if (!source) return errorRecord(file, source.error().message);
        Json record = {{"file", file},
                       {"size", digest->size},
                       {"sha256", hexText(digest->sha256)},
                       {"kind", source->kind},
                       {"icons", source->icons.size()}};
        if (!source->redirectedTo.empty()) record["from"] = source->redirectedTo;
        if (!source->icons.empty()) {
            Json main = iconJson(*source, 0);
            if (options.allIcons) {
                auto all = Json::array();
                all.push_back(main);
                for (std::size_t i = 1; i < source->icons.size(); ++i) all.push_back(iconJson(*source, i));
                record["main"] = std::move(main);
                record["all"] = std::move(all);
            } else {
                record["main"] = std::move(main);
            }
        }
        const bool undecoded = source->decodeBudgetPassed();
        if (undecoded) record["error"] = kDecodeBudgetPassed;
        return {jsonLine(record), undecoded};
    } catch (const std::bad_alloc&) {
        return errorRecord(file, "out of memory");
    } catch (const std::runtime_error& error) {  // no library to hash with
        return errorRecord(file, error.what());
    }
}

}  // namespace

int scan(const Options& options, std::istream& in, std::ostream& out, std::ostream& err) {
    PathStream paths(options, in, err);
    if (!paths.ready()) return 1;
    bool failed = false;
    runStreamInOrder<std::string, ScanRecord>([&] { return paths.next(); },
                                              [&](std::string& file) { return scanFile(file, options); },
                                              [&](ScanRecord& record) {
                                                  // Each record goes out whole as soon as its turn comes, so
                                                  // a pipeline downstream sees the corpus advance.
                                                  out << record.line << std::flush;
                                                  failed |= record.failed;
                                              },
                                              threadsFor(options));
    out.flush();
    return failed || !paths.complete() ? 1 : 0;
}

namespace {

struct Match {
    int distance = 0;
    std::string file;
    std::size_t index = 0;
    std::uint64_t hash = 0;
};

bool before(const Match& a, const Match& b) {
    return std::tie(a.distance, a.file, a.index) < std::tie(b.distance, b.file, b.index);
}

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
        err << "pictrove-cli: " << reference << ": icon " << index << " cannot be decoded\n";
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

// The matches in one record line of an earlier scan.
bool matchRecord(std::string_view line, std::uint64_t reference, const Options& options,
                 std::vector<Match>& matches) {
    const Json record = Json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("file") ||
        !record["file"].is_string())
        return false;
    Json icons = Json::array();
    if (options.allIcons && record.contains("all") && record["all"].is_array()) {
        icons = record["all"];
    } else if (record.contains("main")) {
        icons.push_back(record["main"]);
    }
    for (const Json& icon : icons) {
        if (!icon.is_object() || !icon.contains("dhash") || !icon["dhash"].is_string()) continue;
        const auto hash = parseDhash(icon["dhash"].get<std::string>());
        if (!hash) continue;
        const int distance = hammingDistance(*hash, reference);
        if (distance > options.maxDistance) continue;
        const std::size_t index = icon.contains("index") && icon["index"].is_number_unsigned()
                                      ? icon["index"].get<std::size_t>()
                                      : 0;
        matches.push_back({distance, record["file"].get<std::string>(), index, *hash});
    }
    return true;
}

// Searches the records of an earlier scan. The text is read in large blocks
// and searched for hash fields as it stands; only a line holding a hash near
// enough is parsed, which keeps a million records well under a second.
bool matchRecords(std::istream& records, std::uint64_t reference, const Options& options,
                  std::vector<Match>& matches, std::ostream& err) {
    static constexpr std::string_view kKey = "\"dhash\":\"";
    static constexpr std::size_t kBlock = std::size_t{4} << 20;
    static constexpr std::size_t kLongestLine = std::size_t{256} << 20;
    const std::boyer_moore_horspool_searcher searcher(kKey.begin(), kKey.end());
    std::vector<char> buffer(kBlock);
    std::size_t held = 0;  // bytes of an unfinished line carried over
    bool clean = true;
    bool skipping = false;  // inside a line too long to hold, passing over it
    for (;;) {
        records.read(buffer.data() + held, static_cast<std::streamsize>(buffer.size() - held));
        const std::size_t got = static_cast<std::size_t>(records.gcount());
        const std::size_t filled = held + got;
        const bool atEnd = got == 0;
        if (atEnd && filled == 0) break;
        std::string_view text(buffer.data(), filled);
        std::size_t complete = atEnd ? filled : text.rfind('\n') + 1;  // npos + 1 == 0: no full line yet
        if (complete == 0) {
            if (buffer.size() < kLongestLine) {
                held = filled;
                buffer.resize(buffer.size() * 2);
            } else {
                err << "pictrove-cli: a record longer than " << kLongestLine << " bytes was passed over\n";
                clean = false;
                skipping = true;
                held = 0;
            }
            continue;
        }
        std::string_view lines = text.substr(0, complete);
        if (skipping) {
            const std::size_t end = lines.find('\n');
            lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
            skipping = false;
        }
        for (auto at = lines.begin();;) {
            at = std::search(at, lines.end(), searcher);
            if (at == lines.end()) break;
            const auto digits = at + static_cast<std::ptrdiff_t>(kKey.size());
            const auto hash =
                lines.end() - digits >= 16 ? parseDhash(std::string_view(&*digits, 16)) : std::nullopt;
            if (!hash || hammingDistance(*hash, reference) > options.maxDistance) {
                at = digits;
                continue;
            }
            const auto offset = static_cast<std::size_t>(at - lines.begin());
            const std::size_t lineStart = offset == 0 ? 0 : lines.rfind('\n', offset - 1) + 1;
            std::size_t lineEnd = lines.find('\n', offset);
            if (lineEnd == std::string_view::npos) lineEnd = lines.size();
            if (!matchRecord(lines.substr(lineStart, lineEnd - lineStart), reference, options, matches)) {
                err << "pictrove-cli: a record cannot be read: " << lines.substr(lineStart, 80) << "\n";
                clean = false;
            }
            at = lines.begin() + static_cast<std::ptrdiff_t>(lineEnd);
        }
        if (atEnd) break;
        held = filled - complete;
        std::memmove(buffer.data(), buffer.data() + complete, held);
    }
    return clean;
}

}  // namespace

int similar(const Options& options, std::istream& in, std::ostream& out, std::ostream& err) {
    const auto reference = referenceHash(options, err);
    if (!reference) return 1;
    std::vector<Match> matches;
    bool failed = false;
    if (options.scanFile) {
        std::ifstream file;
        std::istream* records = &in;
        if (*options.scanFile != "-") {
            file.open(pathFromUtf8(*options.scanFile), std::ios::binary);
            if (!file) {
                err << "pictrove-cli: cannot read " << *options.scanFile << "\n";
                return 1;
            }
            records = &file;
        }
        failed = !matchRecords(*records, *reference, options, matches, err);
    } else {
        Options rest = options;
        rest.files.erase(rest.files.begin());
        PathStream paths(rest, in, err);
        if (!paths.ready()) return 1;
        runStreamInOrder<std::string, FileMatches>(
            [&] { return paths.next(); },
            [&](std::string& file) { return matchFile(file, *reference, rest); },
            [&](FileMatches& found) {
                if (!found.error.empty()) {
                    err << "pictrove-cli: " << found.error << "\n";
                    failed = true;
                }
                for (Match& match : found.matches) matches.push_back(std::move(match));
            },
            threadsFor(options));
        failed |= !paths.complete();
    }
    std::sort(matches.begin(), matches.end(), before);
    for (const Match& match : matches) {
        if (options.json) {
            out << jsonLine(Json{{"distance", match.distance},
                                 {"file", match.file},
                                 {"index", match.index},
                                 {"dhash", dhashText(match.hash)}});
        } else {
            out << match.distance << '\t' << match.file << '\t' << match.index << '\n';
        }
    }
    out.flush();
    return failed ? 1 : 0;
}

}  // namespace pictrove::cli
