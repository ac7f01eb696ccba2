#include "cli/path_stream.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli/commands.h"
#include "path_text.h"

namespace pictrove::cli {
namespace {

// One reader at a time takes names from the list.
int nextByte(std::FILE* file) {
#ifdef _WIN32
    return _getc_nolock(file);
#else
    return getc_unlocked(file);
#endif
}

}  // namespace

PathStream::PathStream(const Options& options, std::FILE* standardInput, std::ostream& err)
    : options_(options), err_(err) {
    if (!options.filesFrom) return;
    if (*options.filesFrom == "-") {
        list_ = standardInput;
        return;
    }
#ifdef _WIN32
    list_ = _wfopen(pathFromUtf8(*options.filesFrom).c_str(), L"rb");
#else
    list_ = std::fopen(options.filesFrom->c_str(), "rb");
#endif
    if (list_)
        ownsList_ = true;
    else
        openError_ = std::strerror(errno);
}

PathStream::~PathStream() {
    if (ownsList_) std::fclose(list_);
}

std::optional<PathEntry> PathStream::expand(PathEntry entry) {
    std::error_code error;
    if (!options_.recursive || !entry.error.empty() || entry.name.empty() ||
        !std::filesystem::is_directory(pathFromUtf8(entry.name), error))
        return entry;
    walk_.emplace(options_, err_, entry.name);
    return std::nullopt;
}

std::optional<PathEntry> PathStream::next() {
    for (;;) {
        if (walk_) {
            if (auto file = walk_->next()) return PathEntry{std::move(file->path), {}};
            complete_ &= walk_->complete();
            walk_.reset();
        }
        if (argument_ < options_.files.size()) {
            if (auto entry = expand({options_.files[argument_++], {}})) return entry;
            continue;
        }
        if (!openError_.empty()) {
            listError(openError_);
            openError_.clear();
        }
        if (!list_) return std::nullopt;
        auto entry = listedName();
        if (!entry) return std::nullopt;
#ifdef _WIN32
        // Lists made on Windows end their lines in CR LF; no Windows name holds a CR.
        if (!options_.nulSeparated && !entry->name.empty() && entry->name.back() == '\r')
            entry->name.pop_back();
#endif
        if (auto expanded = expand(std::move(*entry))) return expanded;
    }
}

std::optional<PathEntry> PathStream::listedName() {
    // No file system takes names this long: a longer one is cut (opening it
    // then fails and its record says so) and read on to its end, so a list
    // without line ends cannot take all memory.
    constexpr std::size_t kLongestName = 64 * 1024;
    const int end = options_.nulSeparated ? '\0' : '\n';
    PathEntry entry;
    bool any = false;
    for (int c = nextByte(list_); c != EOF; c = nextByte(list_)) {
        any = true;
        if (c == end) return entry;
        // A NUL ends every name the system takes: the file opened would not
        // be the one listed.
        if (c == '\0') entry.error = "the listed name holds a NUL byte (a list of such names needs -0)";
        if (entry.name.size() < kLongestName) entry.name.push_back(static_cast<char>(c));
    }
    if (std::ferror(list_)) {
        listError(std::strerror(errno));
        return std::nullopt;
    }
    if (!any) return std::nullopt;
    return entry;
}

void PathStream::listError(const std::string& why) {
    err_ << "pictrove-cli: cannot read the file list " << *options_.filesFrom << ": " << why << "\n";
    listFailed_ = true;
    if (ownsList_) std::fclose(list_);
    ownsList_ = false;
    list_ = nullptr;
}

}  // namespace pictrove::cli
