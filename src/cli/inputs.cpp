#include "cli/inputs.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <system_error>

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
        // The entry types come with the listing on most file systems, so
        // walking costs no call per file.
        std::vector<std::pair<std::string, fs::file_type>> entries;
        fs::directory_iterator it(pathFromUtf8(folder), ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            entries.emplace_back(utf8Of(it->path().filename()), it->symlink_status(typeError).type());
        }
        if (ec) {
            report(folder, ec.message());
            return;
        }
        std::sort(entries.begin(), entries.end());
        for (const auto& [name, type] : entries) {
            visit(joinPath(folder, name), joinPath(relative, name), type, depth);
        }
    }

private:
    void visit(const std::string& path, const std::string& relative, fs::file_type type, int depth) {
        if (type == fs::file_type::directory) {
            // The output folder holds what an earlier run wrote, not sources.
            std::error_code ec;
            if (!options_.outputDir || !fs::equivalent(pathFromUtf8(path), *options_.outputDir, ec)) {
                walk(path, relative, depth + 1);
            }
            return;
        }
        // Links are taken when they lead to a regular file, never into a folder.
        std::error_code ec;
        if (type == fs::file_type::symlink) type = fs::status(pathFromUtf8(path), ec).type();
        if (type != fs::file_type::regular) return;
        std::string stem = relative;
        std::replace(stem.begin(), stem.end(), '/', '_');
        // Whether it is an icon source its first bytes tell, once it is opened.
        files_.push_back({path, stem, true});
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

std::vector<InputFile> collectInputs(const Options& options, std::ostream& err, bool& complete) {
    std::vector<InputFile> files;
    TreeWalk walk(options, err, files);
    for (const std::string& argument : options.files) {
        std::error_code ec;
        if (options.recursive && fs::is_directory(pathFromUtf8(argument), ec)) {
            walk.walk(argument, "", 0);
        } else {
            files.push_back({argument, fileNamePart(argument), false});
        }
    }
    complete = walk.complete();
    return files;
}

}  // namespace pictrove::cli
