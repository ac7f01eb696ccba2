#include "icon_source/system_resources.h"

#include <string>
#include <system_error>

#include "paths.h"

namespace pictrove {
namespace {

// The entry of `folder` named `name` when letter case is ignored; the exact
// name is tried first, so only a folder copied with other case is listed.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& folder,
                                                      const std::string& name, bool wantFolder) {
    const auto matches = [wantFolder](const std::filesystem::path& path) {
        std::error_code ec;
        return wantFolder ? std::filesystem::is_directory(path, ec)
                          : std::filesystem::is_regular_file(path, ec);
    };
    if (const auto exact = folder / name; matches(exact)) return exact;
    const std::string wanted = asciiLower(name);
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        if (asciiLower(it->path().filename().string()) == wanted && matches(it->path())) return it->path();
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> systemResourcesFile(const std::filesystem::path& library) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(library, ec).lexically_normal();
    if (ec || !absolute.has_filename() || !absolute.parent_path().has_parent_path()) return std::nullopt;
    const auto above = absolute.parent_path().parent_path();
    if (above == absolute.parent_path()) return std::nullopt;  // the library sits in the root
    const auto folder = findIgnoringCase(above, "SystemResources", true);
    if (!folder) return std::nullopt;
    return findIgnoringCase(*folder, absolute.filename().string() + ".mun", false);
}

}  // namespace pictrove
