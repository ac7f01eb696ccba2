// AppImages of type 2: an ELF runtime ("AI" and 2 at byte 8), and right
// behind its section headers a SquashFS image (read by libsquashfs through
// a file over the byte source) of the application's folder. Its icons are
// .DirIcon and the icon the folder's .desktop file names, found beside it
// and in the hicolor theme's size folders. Links are followed inside the
// image only: a target that leaves it, or a chain longer than a few hops,
// ends the search. SVG icons are drawn at the sizes of the theme.
#include "icon_source/format_module.h"

#include <sqfs/compressor.h>
#include <sqfs/data_reader.h>
#include <sqfs/dir.h>
#include <sqfs/dir_reader.h>
#include <sqfs/error.h>
#include <sqfs/inode.h>
#include <sqfs/io.h>
#include <sqfs/super.h>

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "image/dib.h"
#include "image/png.h"
#include "image/svg.h"

#include "reader_limits.h"

namespace pictrove {

namespace {

// Where the image starts: behind the runtime's section headers.
std::optional<std::uint64_t> imageOffset(const FileView& file) {
    const Bytes header = file.read(0, 0x40);
    const auto elfClass = u8At(header, 4);
    std::optional<std::uint64_t> table;
    std::optional<std::uint16_t> entrySize, count;
    if (elfClass == std::optional<std::uint8_t>(2)) {
        table = u64At(header, 0x28), entrySize = u16At(header, 0x3A), count = u16At(header, 0x3C);
    } else if (elfClass == std::optional<std::uint8_t>(1)) {
        const auto table32 = u32At(header, 0x20);
        if (table32) table = *table32;
        entrySize = u16At(header, 0x2E), count = u16At(header, 0x30);
    }
    if (!table || !entrySize || !count) return std::nullopt;
    const std::uint64_t headers = std::uint64_t{*entrySize} * *count;
    if (!fitsIn(file.size(), *table, headers) || !file.hasTagAt(*table + headers, "hsqs"))
        return std::nullopt;
    return *table + headers;
}

// --- the byte source as a libsquashfs file -------------------------------

struct ViewFile {
    sqfs_file_t base;
    FileView view;
};

int readAt(sqfs_file_t* base, sqfs_u64 offset, void* into, std::size_t length) {
    // Copied without being kept: the library keeps the tables it needs.
    const FileView& view = reinterpret_cast<ViewFile*>(base)->view;
    return view.copyOut(offset, static_cast<std::byte*>(into), length) ? 0 : SQFS_ERROR_OUT_OF_BOUNDS;
}
int refuseWrite(sqfs_file_t*, sqfs_u64, const void*, std::size_t) {
    return SQFS_ERROR_IO;
}
sqfs_u64 sizeOf(const sqfs_file_t* base) {
    return reinterpret_cast<const ViewFile*>(base)->view.size();
}
int refuseTruncate(sqfs_file_t*, sqfs_u64) {
    return SQFS_ERROR_IO;
}
void keepFile(sqfs_object_t*) {}  // owned by the reader

struct Destroy {
    void operator()(void* object) const { sqfs_destroy(object); }
};
struct Free {
    void operator()(void* memory) const { sqfs_free(memory); }
};
using Inode = std::unique_ptr<sqfs_inode_generic_t, Free>;

bool isFile(const sqfs_inode_generic_t& inode) {
    return inode.base.type == SQFS_INODE_FILE || inode.base.type == SQFS_INODE_EXT_FILE;
}
bool isLink(const sqfs_inode_generic_t& inode) {
    return inode.base.type == SQFS_INODE_SLINK || inode.base.type == SQFS_INODE_EXT_SLINK;
}

// `path` with "." and ".." taken out; nothing when it climbs out of the root.
std::optional<std::string> normalised(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
        } else {
            parts.push_back(part);
        }
    }
    std::string out;
    for (const std::string_view part : parts) out.append(out.empty() ? "" : "/").append(part);
    return out;
}

class SquashImage {
public:
    static std::unique_ptr<SquashImage> open(const FileView& view) {
        auto image = std::unique_ptr<SquashImage>(new SquashImage(view));
        if (sqfs_super_read(&image->super_, &image->file_.base) != 0) return nullptr;
        // Every fragment takes at least a byte of the image: a count past
        // that would only make the library allocate for nothing.
        if (image->super_.fragment_entry_count > view.size()) return nullptr;
        sqfs_compressor_config_t config;
        sqfs_compressor_t* compressor = nullptr;
        if (sqfs_compressor_config_init(&config, static_cast<SQFS_COMPRESSOR>(image->super_.compression_id),
                                        image->super_.block_size, SQFS_COMP_FLAG_UNCOMPRESS) != 0 ||
            sqfs_compressor_create(&config, &compressor) != 0)
            return nullptr;
        image->compressor_.reset(compressor);
        image->directories_.reset(sqfs_dir_reader_create(&image->super_, compressor, &image->file_.base, 0));
        image->data_.reset(
            sqfs_data_reader_create(&image->file_.base, image->super_.block_size, compressor, 0));
        if (!image->directories_ || !image->data_ ||
            sqfs_data_reader_load_fragment_table(image->data_.get(), &image->super_) != 0)
            return nullptr;
        return image;
    }

    // The file at `path`, links followed inside the image.
    Inode find(std::string path) const {
        for (std::size_t hop = 0; hop <= limits::kMaxLinkHops; ++hop) {
            const auto clean = normalised(path);
            if (!clean) return nullptr;
            sqfs_inode_generic_t* found = nullptr;
            if (sqfs_dir_reader_find_by_path(directories_.get(), nullptr, clean->c_str(), &found) != 0)
                return nullptr;
            Inode inode(found);
            if (!isLink(*inode)) return isFile(*inode) ? std::move(inode) : nullptr;
            const std::uint32_t length = inode->data.slink.target_size;
            if (length > inode->payload_bytes_used || length == 0) return nullptr;
            const std::string_view target(reinterpret_cast<const char*>(inode->extra), length);
            // An absolute target names the system's files, not the image's.
            if (target.front() == '/') return nullptr;
            const auto slash = clean->rfind('/');
            path = (slash == std::string::npos ? std::string() : clean->substr(0, slash + 1)) +
                   std::string(target);
        }
        return nullptr;
    }

    std::optional<std::vector<std::byte>> read(const sqfs_inode_generic_t& inode, std::uint64_t limit) const {
        sqfs_u64 size = 0;
        if (sqfs_inode_get_file_size(&inode, &size) != 0 || size > limit) return std::nullopt;
        std::vector<std::byte> bytes(static_cast<std::size_t>(size));
        for (std::uint64_t done = 0; done < size;) {
            const auto piece = static_cast<sqfs_u32>(std::min<std::uint64_t>(size - done, 1u << 20));
            if (sqfs_data_reader_read(data_.get(), &inode, done, bytes.data() + done, piece) !=
                static_cast<sqfs_s32>(piece))
                return std::nullopt;
            done += piece;
        }
        return bytes;
    }

    // The name of the first .desktop file in the root folder.
    std::optional<std::string> desktopFile() const {
        sqfs_inode_generic_t* found = nullptr;
        if (sqfs_dir_reader_get_root_inode(directories_.get(), &found) != 0) return std::nullopt;
        const Inode root(found);
        if (sqfs_dir_reader_open_dir(directories_.get(), root.get(), SQFS_DIR_OPEN_NO_DOT_ENTRIES) != 0)
            return std::nullopt;
        for (std::uint64_t n = 0; n < limits::kMaxPackageEntries; ++n) {
            sqfs_dir_entry_t* read = nullptr;
            if (sqfs_dir_reader_read(directories_.get(), &read) != 0) break;
            const std::unique_ptr<sqfs_dir_entry_t, Free> entry(read);
            const std::string name(reinterpret_cast<const char*>(entry->name), std::size_t{entry->size} + 1);
            if (name.size() > 8 && name.ends_with(".desktop")) return name;
        }
        return std::nullopt;
    }

private:
    explicit SquashImage(const FileView& view) : file_{{}, view} {
        file_.base.base.destroy = keepFile;
        file_.base.read_at = readAt;
        file_.base.write_at = refuseWrite;
        file_.base.get_size = sizeOf;
        file_.base.truncate = refuseTruncate;
    }
    ViewFile file_;
    sqfs_super_t super_{};
    std::unique_ptr<sqfs_compressor_t, Destroy> compressor_;
    std::unique_ptr<sqfs_data_reader_t, Destroy> data_;
    std::unique_ptr<sqfs_dir_reader_t, Destroy> directories_;  // released first: it uses the compressor
};

// The Icon key of a desktop file's [Desktop Entry] group.
std::string iconKey(std::string_view text) {
    bool inEntry = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.starts_with('[')) inEntry = line == "[Desktop Entry]";
        if (!inEntry || !line.starts_with("Icon")) continue;
        line.remove_prefix(4);
        while (line.starts_with(' ')) line.remove_prefix(1);
        if (!line.starts_with('=')) continue;
        line.remove_prefix(1);
        while (line.starts_with(' ')) line.remove_prefix(1);
        return std::string(line);
    }
    return {};
}

// The sizes an SVG icon is drawn at: those of the icon theme's folders.
constexpr std::array<std::uint32_t, 8> kThemeSizes{16, 24, 32, 48, 64, 128, 256, 512};

// The images of one picture file: a PNG as it is, an SVG drawn at each
// theme size.
void addImages(std::vector<std::byte> bytes, MadeBytes& made, std::vector<IconImage>& images) {
    if (isPng(bytes)) {
        const auto kept = made.keep(std::move(bytes));
        if (auto image = kept ? inspectImage(FileBytes(*kept)) : std::nullopt) images.push_back(*image);
        return;
    }
    if (!isSvg(bytes)) return;
    for (const std::uint32_t side : kThemeSizes) {
        if (!made.hasRoomFor(std::uint64_t{side} * side * 5)) return;
        const auto drawn = renderSvg(bytes, side);
        auto bitmap = drawn ? encodeIconBitmap(*drawn) : std::nullopt;
        const auto kept = bitmap ? made.keep(std::move(*bitmap)) : std::nullopt;
        if (auto image = kept ? inspectImage(FileBytes(*kept)) : std::nullopt) images.push_back(*image);
    }
}

}  // namespace

std::optional<std::vector<IconGroup>> formats::readAppImageIcons(const FileView& file, MadeBytes& made,
                                                                 std::size_t groupLimit) {
    const auto offset = imageOffset(file);
    if (!offset) return std::nullopt;
    std::vector<IconGroup> groups;
    const auto image = SquashImage::open(file.window(*offset, file.size() - *offset));
    if (!image) return groups;
    // Each picture file read (and an SVG drawn) once, however many names
    // lead to it: .DirIcon is often a link to the named icon.
    // A file named twice for one icon gives its images to it once.
    std::map<std::uint32_t, std::vector<IconImage>> pictures;  // by inode number
    std::set<std::pair<const IconGroup*, std::uint32_t>> given;
    const auto take = [&](const std::string& path, IconGroup& group) {
        const Inode inode = image->find(path);
        if (!inode || !given.emplace(&group, inode->base.inode_number).second) return;
        const auto [picture, first] = pictures.try_emplace(inode->base.inode_number);
        sqfs_u64 size = 0;
        if (first && sqfs_inode_get_file_size(inode.get(), &size) == 0 && made.hasRoomFor(size)) {
            if (auto bytes = image->read(*inode, limits::kMaxPackageMember))
                addImages(std::move(*bytes), made, picture->second);
        }
        group.images.insert(group.images.end(), picture->second.begin(), picture->second.end());
    };
    const auto deliver = [&](IconGroup group, std::string name) {
        if (group.images.empty() || groups.size() >= groupLimit) return;
        group.name = ResourceName::text(std::move(name));
        groups.push_back(std::move(group));
    };

    IconGroup dirIcon;
    take(".DirIcon", dirIcon);
    deliver(std::move(dirIcon), ".DirIcon");

    const auto desktop = image->desktopFile();
    const Inode entry = desktop ? image->find(*desktop) : nullptr;
    const auto text = entry ? image->read(*entry, limits::kMaxDesktopFileBytes) : std::nullopt;
    const std::string icon =
        text ? iconKey(std::string_view(reinterpret_cast<const char*>(text->data()), text->size())) : "";
    // A name, not a path: the icon theme's way.
    if (icon.empty() || icon.find('/') != std::string::npos || groups.size() >= groupLimit) return groups;
    IconGroup named;
    const bool hasExtension = icon.ends_with(".png") || icon.ends_with(".svg");
    for (const std::string& beside : hasExtension ? std::vector<std::string>{icon}
                                                  : std::vector<std::string>{icon + ".png", icon + ".svg"})
        take(beside, named);
    const std::string stem = hasExtension ? icon.substr(0, icon.size() - 4) : icon;
    for (const std::uint32_t side : kThemeSizes) {
        const std::string size = std::to_string(side);
        take("usr/share/icons/hicolor/" + size + "x" + size + "/apps/" + stem + ".png", named);
    }
    take("usr/share/icons/hicolor/scalable/apps/" + stem + ".svg", named);
    deliver(std::move(named), icon);
    return groups;
}
}  // namespace pictrove
