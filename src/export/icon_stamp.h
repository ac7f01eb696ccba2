// What tells the file an icon was shown from from whatever stands at its name
// later. The commands that read an icon's stored images again from its file
// hand out nothing unless it is still the file the grid showed: the same file
// (device and inode number), of the same size, not written since (change and
// modification times), and holding the same group directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace pictrove {

class IconFile;
struct IconGroup;

struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;  // 0 where the system gives none
    std::uint64_t size = 0;
    std::int64_t changed = 0;  // nanoseconds, as precise as the system keeps them
    std::int64_t modified = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// Nothing when the file cannot be looked at.
std::optional<FileStamp> stampFile(const std::filesystem::path& path);

struct IconStamp {
    struct File {
        std::filesystem::path path;  // the file the groups came from: a library's .mun file when redirected
        FileStamp stamp;
        friend bool operator==(const File&, const File&) = default;
    };
    std::shared_ptr<const File> file;  // one for all the icons of a file
    std::uint64_t directory = 0;       // a hash of the group's name and each image's header and place

    friend bool operator==(const IconStamp& a, const IconStamp& b) {
        return a.file && b.file && *a.file == *b.file && a.directory == b.directory;
    }

    // The stamp of `file`, opened (following a redirection) from `path` just
    // before, for none of its icons yet; nothing when the file cannot be
    // looked at.
    static std::optional<IconStamp> of(const IconFile& file, const std::filesystem::path& path);
    // The same stamp for one icon, told by its group; no image body is read.
    // A grid of thousands of icons makes one each, so it takes no memory
    // of its own and costs a few multiplications per image.
    IconStamp forGroup(const IconGroup& group) const;
};

}  // namespace pictrove
