// AppImages: an ELF runtime ("AI" and the type at byte 8) with an image of
// the application's folder. Type 2 puts a SquashFS image right behind the
// runtime's section headers (read by libsquashfs through a file over the
// byte source); type 1 is an ISO 9660 image as a whole, the runtime in its
// system area (read by libarchive through callbacks over the byte source).
// Their icons are .DirIcon and the icon the folder's first .desktop file
// names, found beside it and in the hicolor theme's size folders. Links are
// followed inside the image only: a target that leaves it, or a chain
// longer than a few hops, ends the search. SVG icons are listed at the
// sizes of the theme and each size drawn when it is first read.
#include "icon_source/format_module.h"

#include <archive.h>
#include <archive_entry.h>

#include <sqfs/compressor.h>
#include <sqfs/data_reader.h>
#include <sqfs/dir.h>
#include <sqfs/dir_reader.h>
#include <sqfs/error.h>
#include <sqfs/inode.h>
#include <sqfs/io.h>
#include <sqfs/super.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
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

// A picture file of an image, found by its path: the same file, however
// many names lead to it, has the same id.
struct Member {
    std::uint64_t id = 0;
    std::uint64_t size = 0;
};

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

    std::optional<Member> member(const std::string& path) {
        Inode inode = find(path);
        sqfs_u64 size = 0;
        if (!inode || sqfs_inode_get_file_size(inode.get(), &size) != 0) return std::nullopt;
        const std::uint64_t id = inode->base.inode_number;
        inodes_.try_emplace(id, std::move(inode));
        return Member{id, size};
    }
    // Each file is read when asked for.
    void prefetch(const std::vector<std::string>&) {}
    std::optional<std::vector<std::byte>> read(const Member& member, std::uint64_t limit) const {
        const auto found = inodes_.find(member.id);
        return found == inodes_.end() ? std::nullopt : read(*found->second, limit);
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
    std::map<std::uint64_t, Inode> inodes_;                    // of the members found, by number
};

// --- type 1: the ISO 9660 image, read by libarchive ----------------------

// The file as libarchive's input: a block at a time, copied into a buffer
// of its own, never past the file's end.
struct IsoInput {
    FileView view;
    std::uint64_t at = 0;
    std::array<std::byte, 64 * 1024> buffer{};
};

la_ssize_t isoRead(archive*, void* data, const void** buffer) {
    auto& input = *static_cast<IsoInput*>(data);
    const std::uint64_t count = std::min<std::uint64_t>(input.buffer.size(), input.view.size() - input.at);
    if (!input.view.copyOut(input.at, input.buffer.data(), count)) return ARCHIVE_FATAL;
    input.at += count;
    *buffer = input.buffer.data();
    return static_cast<la_ssize_t>(count);
}

la_int64_t isoSeek(archive*, void* data, la_int64_t offset, int whence) {
    auto& input = *static_cast<IsoInput*>(data);
    // The view is at most kMaxFileView long: these fit in 64 signed bits.
    const auto size = static_cast<std::int64_t>(input.view.size());
    const std::int64_t base = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? static_cast<std::int64_t>(input.at)
                                                   : size;
    if (offset < -base || offset > size - base) return ARCHIVE_FATAL;
    input.at = static_cast<std::uint64_t>(base + offset);
    return base + offset;
}

struct ArchiveFree {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

// libarchive reads an ISO 9660 image from start to end only, its files in
// the order of their places. So the image is walked once for its names,
// and once more for each set of files wanted: the desktop file, then the
// pictures, each read when the walk passes it.
class IsoImage {
public:
    static std::unique_ptr<IsoImage> open(const FileView& view, MadeBytes& made) {
        auto image = std::unique_ptr<IsoImage>(new IsoImage(view, made));
        if (!image->walk([&](archive*, archive_entry* entry) {
                image->note(entry);
                return true;
            }))
            return nullptr;
        return image;
    }

    // The file at `path`, links followed inside the image.
    std::optional<Member> member(std::string path) const {
        for (std::size_t hop = 0; hop <= limits::kMaxLinkHops; ++hop) {
            const auto clean = normalised(path);
            const auto found = clean ? entries_.find(*clean) : entries_.end();
            if (found == entries_.end()) return std::nullopt;
            const Entry& entry = found->second;
            if (entry.kind == Kind::file) return Member{entry.id, entry.size};
            if (entry.kind == Kind::folder || entry.target.empty()) return std::nullopt;
            if (entry.kind == Kind::hardLink) {
                path = entry.target;  // named from the image's root
                continue;
            }
            // An absolute target names the system's files, not the image's.
            if (entry.target.front() == '/') return std::nullopt;
            const auto slash = clean->rfind('/');
            path = (slash == std::string::npos ? std::string() : clean->substr(0, slash + 1)) + entry.target;
        }
        return std::nullopt;
    }

    // The files `paths` lead to, taken out in one walk.
    void prefetch(const std::vector<std::string>& paths) {
        std::map<std::uint64_t, std::uint64_t> wanted;  // size by id
        for (const std::string& path : paths) {
            const auto found = member(path);
            if (found && !fetched_.contains(found->id) && found->size <= limits::kMaxPackageMember &&
                made_.hasRoomFor(found->size))
                wanted.emplace(found->id, found->size);
        }
        if (wanted.empty()) return;
        walk([&](archive* reader, archive_entry* entry) {
            const char* name = archive_entry_pathname(entry);
            const auto path = name ? normalised(name) : std::nullopt;
            const auto found = path ? entries_.find(*path) : entries_.end();
            if (found == entries_.end() || found->second.kind != Kind::file) return true;
            const auto want = wanted.find(found->second.id);
            if (want == wanted.end()) return true;
            if (auto bytes = takeOut(reader, want->second)) fetched_.emplace(want->first, std::move(*bytes));
            wanted.erase(want);
            return !wanted.empty() && !made_.failure();
        });
    }

    std::optional<std::vector<std::byte>> read(const Member& member, std::uint64_t limit) {
        if (member.size > limit) return std::nullopt;
        if (!fetched_.contains(member.id)) prefetch({files_.at(member.id)});
        const auto found = fetched_.find(member.id);
        if (found == fetched_.end()) return std::nullopt;
        auto bytes = std::move(found->second);
        fetched_.erase(found);
        return bytes;
    }

    // The name of the first .desktop file in the root folder, by name, as a
    // SquashFS image lists them.
    std::optional<std::string> desktopFile() const {
        for (const auto& [path, entry] : entries_) {
            if (path.size() > 8 && path.ends_with(".desktop") && path.find('/') == std::string::npos)
                return path;
        }
        return std::nullopt;
    }

private:
    enum class Kind { file, folder, symbolicLink, hardLink };
    struct Entry {
        Kind kind = Kind::file;
        std::uint64_t id = 0;  // of a file: its place in files_
        std::uint64_t size = 0;
        std::string target;  // of a link
    };

    IsoImage(const FileView& view, MadeBytes& made)
        : input_(std::make_unique<IsoInput>()),
          made_(made),
          budget_(std::min(limits::kMaxInflatedBytes,
                           limits::kInflatedFloor +
                               std::min(view.size(), limits::kMaxInflatedBytes) * limits::kInflatedPerByte)) {
        input_->view = view;
    }

    void note(archive_entry* entry) {
        const char* name = archive_entry_pathname(entry);
        const auto path = name ? normalised(name) : std::nullopt;
        if (!path || path->empty()) return;
        Entry noted;
        const char* target = nullptr;
        if ((target = archive_entry_hardlink(entry))) {
            noted.kind = Kind::hardLink;
        } else if (archive_entry_filetype(entry) == AE_IFLNK) {
            noted.kind = Kind::symbolicLink;
            target = archive_entry_symlink(entry);
        } else if (archive_entry_filetype(entry) == AE_IFDIR) {
            noted.kind = Kind::folder;
        } else if (archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry) &&
                   archive_entry_size(entry) >= 0) {
            noted.id = files_.size();
            noted.size = static_cast<std::uint64_t>(archive_entry_size(entry));
        } else {
            return;
        }
        if (target) noted.target = target;
        const bool isFile = noted.kind == Kind::file;
        // Of two entries of one name, the first counts.
        if (entries_.emplace(*path, std::move(noted)).second && isFile) files_.push_back(*path);
    }

    // The bytes of the entry the walk is at, which has `size` of them;
    // nothing, said as the file's failure, when they cannot be read or pass
    // what a file of this size may have taken out.
    std::optional<std::vector<std::byte>> takeOut(archive* reader, std::uint64_t size) {
        made_.countTakenOut(size);
        if (made_.takenOut() > budget_) {
            made_.fail(
                "its image's files take out to more than a file of its size may (64 MiB and 4 bytes for "
                "each of its bytes, at most 320 MiB)");
            return std::nullopt;
        }
        std::vector<std::byte> bytes(static_cast<std::size_t>(size));
        for (std::uint64_t done = 0; done < size;) {
            const la_ssize_t got = archive_read_data(reader, bytes.data() + done, size - done);
            if (got <= 0) {
                damaged(reader);
                return std::nullopt;
            }
            done += static_cast<std::uint64_t>(got);
        }
        return bytes;
    }

    // One walk from the start, each entry handed to `visit` until it says
    // to stop; false when the image is damaged or lists too many entries,
    // which the file then gives as its error.
    template <class Visit>
    bool walk(Visit visit) {
        const std::unique_ptr<archive, ArchiveFree> reader(archive_read_new());
        input_->at = 0;
        if (!reader || archive_read_support_format_iso9660(reader.get()) != ARCHIVE_OK ||
            archive_read_set_read_callback(reader.get(), isoRead) != ARCHIVE_OK ||
            archive_read_set_seek_callback(reader.get(), isoSeek) != ARCHIVE_OK ||
            archive_read_set_callback_data(reader.get(), input_.get()) != ARCHIVE_OK ||
            archive_read_open1(reader.get()) != ARCHIVE_OK)
            return damaged(reader.get());
        for (std::uint64_t walked = 0;; ++walked) {
            archive_entry* entry = nullptr;
            const int status = archive_read_next_header(reader.get(), &entry);
            if (status == ARCHIVE_EOF) return true;
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) return damaged(reader.get());
            if (walked == limits::kMaxPackageEntries) {
                made_.fail("its image lists more than " + std::to_string(limits::kMaxPackageEntries) +
                           " entries");
                return false;
            }
            if (!visit(reader.get(), entry)) return !made_.failure();
        }
    }

    bool damaged(archive* reader) {
        const char* why = reader ? archive_error_string(reader) : nullptr;
        made_.fail(std::string("its ISO 9660 image is damaged") + (why ? std::string(": ") + why : ""));
        return false;
    }

    std::unique_ptr<IsoInput> input_;  // where libarchive's callbacks find it, however this moves
    MadeBytes& made_;
    std::uint64_t budget_;
    std::map<std::string, Entry> entries_;
    std::vector<std::string> files_;                           // by id
    std::map<std::uint64_t, std::vector<std::byte>> fetched_;  // by id, until read
};

// --- the icons, whatever the image ---------------------------------------

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

// What the bitmap of a drawing of `side` x `side` takes.
std::uint64_t bitmapBytes(std::uint64_t side) {
    return 40 + side * side * 4 + (side + 31) / 32 * 4 * side;
}

// An SVG document whose bitmaps are drawn when first read, each at its own
// size. A drawing that fails is not tried again at another size: it would
// fail there too, and a document made to take long would take it each time.
// A failure throws why, which the bitmap's bytes keep (whyNotMade).
class SvgPicture {
public:
    SvgPicture(std::vector<std::byte> document, std::shared_ptr<SvgBudget> budget)
        : document_(std::move(document)), budget_(std::move(budget)) {}

    std::vector<std::byte> bitmap(std::uint32_t side) {
        const std::lock_guard lock(mutex_);
        if (!failure_.empty()) throw std::runtime_error(failure_);
        SvgOutcome drawn;
        try {
            drawn = drawSvg(document_, side, *budget_);
        } catch (const std::exception& error) {
            drawn.why = error.what();
        }
        auto bitmap = drawn.image ? encodeIconBitmap(*drawn.image) : std::nullopt;
        if (!bitmap || bitmap->size() != bitmapBytes(side)) {
            failure_ = drawn.why.empty() ? "its SVG picture gave no bitmap of " + std::to_string(side) +
                                               " x " + std::to_string(side)
                                         : drawn.why;
            throw std::runtime_error(failure_);
        }
        return std::move(*bitmap);
    }

private:
    std::mutex mutex_;
    const std::vector<std::byte> document_;
    const std::shared_ptr<SvgBudget> budget_;  // the file's
    std::string failure_;                      // of the first drawing that failed
};

// The images of one picture file: a PNG as it is, an SVG at each theme
// size, read but not drawn.
void addImages(std::vector<std::byte> bytes, MadeBytes& made, const std::shared_ptr<SvgBudget>& budget,
               std::vector<IconImage>& images) {
    if (isPng(bytes)) {
        const auto kept = made.keep(std::move(bytes));
        if (auto image = kept ? inspectImage(FileBytes(*kept)) : std::nullopt) images.push_back(*image);
        return;
    }
    if (!isSvg(bytes)) return;
    const SvgOutcome read = readSvg(bytes, *budget);
    if (read.status == SvgOutcome::Status::overLimit) made.fail(read.why);
    if (read.status != SvgOutcome::Status::done) return;
    const auto picture = std::make_shared<SvgPicture>(std::move(bytes), budget);
    for (const std::uint32_t side : kThemeSizes) {
        const auto later =
            made.keepLater(bitmapBytes(side), [picture, side] { return picture->bitmap(side); });
        if (!later) {
            made.fail("the bitmaps of its SVG icon would pass what a file of its size may make");
            return;
        }
        images.push_back(IconImage{ImageInfo{side, side, 32, false}, *later, std::nullopt});
    }
}

// Where the desktop file's icon may lie: beside it, then in the theme's
// size folders.
std::vector<std::string> namedIconPaths(const std::string& icon) {
    const bool hasExtension = icon.ends_with(".png") || icon.ends_with(".svg");
    std::vector<std::string> paths = hasExtension ? std::vector<std::string>{icon}
                                                  : std::vector<std::string>{icon + ".png", icon + ".svg"};
    const std::string stem = hasExtension ? icon.substr(0, icon.size() - 4) : icon;
    for (const std::uint32_t side : kThemeSizes) {
        const std::string size = std::to_string(side);
        paths.push_back("usr/share/icons/hicolor/" + size + "x" + size + "/apps/" + stem + ".png");
    }
    paths.push_back("usr/share/icons/hicolor/scalable/apps/" + stem + ".svg");
    return paths;
}

// The groups of an image of either type: .DirIcon, then the desktop file's
// icon.
template <class Image>
std::vector<IconGroup> iconGroups(Image& image, MadeBytes& made, std::size_t groupLimit) {
    const auto desktop = image.desktopFile();
    const auto entry = desktop ? image.member(*desktop) : std::nullopt;
    const auto text = entry ? image.read(*entry, limits::kMaxDesktopFileBytes) : std::nullopt;
    const std::string icon =
        text ? iconKey(std::string_view(reinterpret_cast<const char*>(text->data()), text->size())) : "";
    // A name, not a path: the icon theme's way.
    const bool named = !icon.empty() && icon.find('/') == std::string::npos;
    const std::vector<std::string> paths = named ? namedIconPaths(icon) : std::vector<std::string>{};
    std::vector<std::string> wanted{".DirIcon"};
    wanted.insert(wanted.end(), paths.begin(), paths.end());
    image.prefetch(wanted);

    // Each picture file read (and an SVG drawn) once, however many names
    // lead to it: .DirIcon is often a link to the named icon.
    // A file named twice for one icon gives its images to it once.
    std::vector<IconGroup> groups;
    const auto budget = std::make_shared<SvgBudget>();
    std::map<std::uint64_t, std::vector<IconImage>> pictures;  // by member id
    std::set<std::pair<const IconGroup*, std::uint64_t>> given;
    const auto take = [&](const std::string& path, IconGroup& group) {
        const auto member = image.member(path);
        if (!member || !given.emplace(&group, member->id).second) return;
        const auto [picture, first] = pictures.try_emplace(member->id);
        if (first && made.hasRoomFor(member->size)) {
            if (auto bytes = image.read(*member, limits::kMaxPackageMember))
                addImages(std::move(*bytes), made, budget, picture->second);
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
    if (!named || groups.size() >= groupLimit) return groups;
    IconGroup namedIcon;
    for (const std::string& path : paths) take(path, namedIcon);
    deliver(std::move(namedIcon), icon);
    return groups;
}

}  // namespace

std::optional<std::vector<IconGroup>> formats::readAppImageIcons(const FileView& file, MadeBytes& made,
                                                                 std::size_t groupLimit) {
    // Type 1: the runtime lies in the system area of an ISO 9660 image,
    // whose first volume descriptor follows it at 32 KiB.
    if (file.u8At(10) == std::optional<std::uint8_t>(1)) {
        if (!file.hasTagAt(0x8001, "CD001")) return std::nullopt;
        const auto image = IsoImage::open(file, made);
        return image ? iconGroups(*image, made, groupLimit) : std::vector<IconGroup>{};
    }
    const auto offset = imageOffset(file);
    if (!offset) return std::nullopt;
    const auto image = SquashImage::open(file.window(*offset, file.size() - *offset));
    if (!image) return std::vector<IconGroup>{};
    return iconGroups(*image, made, groupLimit);
}
}  // namespace pictrove
