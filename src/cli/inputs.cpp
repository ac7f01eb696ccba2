#include "cli/inputs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <system_error>

#include "cli/commands.h"
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

class TreeWalk {
public:
    TreeWalk(const Options& options, std::ostream& err, std::vector<InputFile>& files)
        : options_(options), err_(err), files_(files) {}

    bool complete() const { return complete_; }

    void walk(const std::string& folder, const std::string& relative, int depth) {
        if (depth > kMaxDepth) {
            report(folder, "folders nested too deep");
            return;
        }
        std::error_code ec;
        std::vector<std::string> names;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            names.push_back(it->path().filename().string());
        }
        if (ec) {
            report(folder, ec.message());
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) visit(joinPath(folder, name), joinPath(relative, name), depth);
    }

private:
    void visit(const std::string& path, const std::string& relative, int depth) {
        std::error_code ec;
        const fs::file_status own = fs::symlink_status(path, ec);
        if (fs::is_directory(own)) {
            walk(path, relative, depth + 1);
            return;
        }
        // Links are taken when they lead to a regular file, never into a folder.
        const fs::file_status target = fs::is_symlink(own) ? fs::status(path, ec) : own;
        if (!fs::is_regular_file(target) || !mayBeIconSource(path, options_.collectionExtension)) return;
        std::string stem = relative;
        std::replace(stem.begin(), stem.end(), '/', '_');
        files_.push_back({path, stem});
    }

    void report(const std::string& folder, const std::string& why) {
        err_ << "pictrove-cli: " << folder << ": cannot read folder: " << why << "\n";
        complete_ = false;
    }

    const Options& options_;
    std::ostream& err_;
    std::vector<InputFile>& files_;
    bool complete_ = true;
};

}  // namespace

bool mayBeIconSource(const std::string& path, const std::string& collectionExtension) {
    if (lowerExtension(path) == asciiLower(collectionExtension)) return true;
    std::array<char, 4> head{};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(head.data(), head.size()) && in.gcount() < 2) return false;
    const auto starts = [&](const char* tag, std::size_t length) {
        return static_cast<std::size_t>(in.gcount()) >= length && std::memcmp(head.data(), tag, length) == 0;
    };
    return starts("MZ", 2) || starts("\0\0\1\0", 4) || starts("\0\0\2\0", 4) || starts("RIFF", 4) ||
           starts(
               "\x7F"
               "ELF",
               4);
}

std::vector<InputFile> collectInputs(const Options& options, std::ostream& err, bool& complete) {
    std::vector<InputFile> files;
    TreeWalk walk(options, err, files);
    for (const std::string& argument : options.files) {
        std::error_code ec;
        if (options.recursive && fs::is_directory(argument, ec)) {
            walk.walk(argument, "", 0);
        } else {
            files.push_back({argument, fs::path(argument).filename().string()});
        }
    }
    complete = walk.complete();
    return files;
}

}  // namespace pictrove::cli
