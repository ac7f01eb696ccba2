#include "icon_source/system_resources.h"

#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>

#include "path_text.h"
#include "paths.h"

namespace pictrove {
namespace {

namespace fs = std::filesystem;

// The names of one folder by their lower-case form. Every library without
// icons asks for its .mun, and a system folder holds thousands of them, so
// the listings are kept (checked against the folder's modification time)
// rather than read again for each.
struct FolderNames {
    fs::file_time_type modified;
    std::unordered_map<std::string, std::string> byLowerName;
};

class FolderNameCache {
public:
    // The entry of `folder` named `name` when ASCII letter case is ignored.
    std::optional<fs::path> find(const fs::path& folder, const std::string& name) {
        std::error_code ec;
        const auto modified = fs::last_write_time(folder, ec);
        if (ec) return std::nullopt;
        const std::lock_guard lock(mutex_);
        auto it = folders_.find(folder.native());
        if (it == folders_.end() || it->second.modified != modified) {
            // A bound on what is kept, whatever a long run walks through.
            if (folders_.size() >= kMaxFolders) folders_.clear();
            it = folders_.insert_or_assign(folder.native(), list(folder, modified)).first;
        }
        const auto found = it->second.byLowerName.find(asciiLower(name));
        if (found == it->second.byLowerName.end()) return std::nullopt;
        return folder / pathFromUtf8(found->second);
    }

private:
    static constexpr std::size_t kMaxFolders = 64;

    static FolderNames list(const fs::path& folder, fs::file_time_type modified) {
        FolderNames names{modified, {}};
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            const std::string name = utf8Of(it->path().filename());
            names.byLowerName.emplace(asciiLower(name), name);  // the first of names equal but for case
        }
        return names;
    }

    std::mutex mutex_;
    std::unordered_map<fs::path::string_type, FolderNames> folders_;
};

FolderNameCache& folderNames() {
    static FolderNameCache cache;
    return cache;
}

}  // namespace

std::optional<std::filesystem::path> systemResourcesFile(const std::filesystem::path& library) {
    std::error_code ec;
    const auto absolute = fs::absolute(library, ec).lexically_normal();
    if (ec || !absolute.has_filename() || !absolute.parent_path().has_parent_path()) return std::nullopt;
    const auto above = absolute.parent_path().parent_path();
    if (above == absolute.parent_path()) return std::nullopt;  // the library sits in the root
    const auto folder = folderNames().find(above, "SystemResources");
    if (!folder || !fs::is_directory(*folder, ec)) return std::nullopt;
    const auto mun = folderNames().find(*folder, utf8Of(absolute.filename()) + ".mun");
    if (!mun || !fs::is_regular_file(*mun, ec)) return std::nullopt;
    return mun;
}

}  // namespace pictrove
