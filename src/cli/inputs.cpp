#include "cli/inputs.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "cli/commands.h"
#include "path_text.h"
#include "paths.h"

namespace pictrove::cli {
namespace {

namespace fs = std::filesystem;

// Deeper than any real tree; a bound on the walk whatever the file system
// holds (bind mounts can make a tree without links endless).
constexpr int kMaxDepth = 64;

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// A folder entry: its name and its type as the listing gives it, without
// following a link.
using Entry = std::pair<std::string, fs::file_type>;

#ifdef _WIN32
// Windows lists each entry's attributes with its name. A link or junction to
// a folder (any folder reparse point) lists as a folder, and two of them
// leading to ".." make a tree of 2^64 paths; it counts as a link here, which
// the walk never enters.
std::optional<std::string> list(const std::string& folder, std::vector<Entry>& entries) {
    const std::wstring pattern = (pathFromUtf8(folder) / L"*").native();
    WIN32_FIND_DATAW data;
    const HANDLE find =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;  // nothing at all, not even "."
        return std::error_code(static_cast<int>(error), std::system_category()).message();
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const DWORD attributes = data.dwFileAttributes;
        fs::file_type type = fs::file_type::regular;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            type =
                attributes & FILE_ATTRIBUTE_REPARSE_POINT ? fs::file_type::symlink : fs::file_type::directory;
        } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
            type = fs::file_type::unknown;
        }
        entries.emplace_back(utf8FromUtf16(name), type);
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES)
        return std::error_code(static_cast<int>(error), std::system_category()).message();
    return std::nullopt;
}
#else
std::optional<std::string> list(const std::string& folder, std::vector<Entry>& entries) {
    std::error_code ec;
    // The entry types come with the listing on most file systems, so
    // walking costs no call per file.
    fs::directory_iterator it(pathFromUtf8(folder), ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        entries.emplace_back(utf8Of(it->path().filename()), it->symlink_status(typeError).type());
    }
    if (ec) return ec.message();
    return std::nullopt;
}
#endif

}  // namespace

struct FolderWalk::Level {
    std::string folder;
    std::string relative;
    int depth = 0;
    std::vector<Entry> entries;
    std::size_t at = 0;
};

FolderWalk::FolderWalk(const Options& options, std::ostream& err, const std::string& folder)
    : options_(&options), err_(&err) {
    enter(folder, "", 0);
}

FolderWalk::~FolderWalk() = default;
FolderWalk::FolderWalk(FolderWalk&&) noexcept = default;
FolderWalk& FolderWalk::operator=(FolderWalk&&) noexcept = default;

void FolderWalk::enter(std::string folder, std::string relative, int depth) {
    if (depth > kMaxDepth) {
        report(folder, "folders nested too deep");
        return;
    }
    Level level{std::move(folder), std::move(relative), depth, {}, 0};
    if (const auto error = list(level.folder, level.entries)) {
        report(level.folder, *error);
        return;
    }
    std::sort(level.entries.begin(), level.entries.end());
    levels_.push_back(std::move(level));
}

std::optional<InputFile> FolderWalk::next() {
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.at == level.entries.size()) {
            levels_.pop_back();
            continue;
        }
        auto [name, type] = level.entries[level.at++];
        std::string path = joinPath(level.folder, name);
        std::string relative = joinPath(level.relative, name);
        if (type == fs::file_type::directory) {
            // The output folder holds what an earlier run wrote, not sources.
            std::error_code ec;
            if (!options_->outputDir || !fs::equivalent(pathFromUtf8(path), *options_->outputDir, ec))
                enter(std::move(path), std::move(relative), level.depth + 1);
            continue;
        }
        // Links are taken when they lead to a regular file, never into a folder.
#ifndef _WIN32
        std::error_code ec;
        if (type == fs::file_type::symlink) type = fs::status(pathFromUtf8(path), ec).type();
#endif
        if (type != fs::file_type::regular) continue;
        std::replace(relative.begin(), relative.end(), '/', '_');
        // Whether it is an icon source its first bytes tell, once it is opened.
        return InputFile{std::move(path), std::move(relative), true};
    }
    return std::nullopt;
}

void FolderWalk::report(const std::string& folder, const std::string& why) {
    *err_ << "pictrove-cli: " << folder << ": cannot read folder: " << why << "\n";
    complete_ = false;
}

std::optional<InputFile> InputStream::next() {
    for (;;) {
        if (walk_) {
            if (auto file = walk_->next()) return file;
            complete_ = complete_ && walk_->complete();
            walk_.reset();
        }
        if (argument_ >= options_->files.size()) return std::nullopt;
        const std::string& argument = options_->files[argument_++];
        std::error_code ec;
        if (options_->recursive && fs::is_directory(pathFromUtf8(argument), ec)) {
            // What an earlier run wrote there is no source to read again.
            if (options_->outputDir && fs::equivalent(pathFromUtf8(argument), *options_->outputDir, ec)) {
                *err_ << "pictrove-cli: " << argument << ": not walked: it is the output folder\n";
                complete_ = false;
                continue;
            }
            walk_.emplace(*options_, *err_, argument);
            continue;
        }
        return InputFile{argument, fileNamePart(argument), false};
    }
}

std::vector<InputFile> collectInputs(const Options& options, std::ostream& err, bool& complete) {
    InputStream inputs(options, err);
    std::vector<InputFile> files;
    while (auto file = inputs.next()) files.push_back(std::move(*file));
    complete = inputs.complete();
    return files;
}

}  // namespace pictrove::cli
