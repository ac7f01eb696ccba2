// App packages (.msix, .appx) and their bundles (.msixbundle, .appxbundle):
// zip archives (read by libzip through a source over the file's byte
// source) whose AppxManifest.xml (read by pugixml) names the package's logo
// (Properties/Logo) and each application's logos (the attributes of its
// VisualElements and DefaultTile that end in "Logo"). The package holds each
// logo in variants whose names carry qualifiers before the extension or as
// folders (Logo.scale-200.png, Logo.targetsize-48_altform-unplated.png,
// scale-200/Logo.png): every PNG variant is one image of the logo's icon. A
// bundle's AppxBundleManifest.xml names its packages; the first application
// package, stored uncompressed inside it, is read where it lies, and so are
// its resource packages (scales, languages), whose variants of the
// application package's logos join the same icons.
#include "icon_source/format_module.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "image/png.h"

#include "reader_limits.h"

namespace pictrove {

namespace {

// --- the byte source as a libzip source ----------------------------------

// What the archives of one file may inflate, together, and why their
// reading stopped: every byte inflated counts, kept or not.
class Inflation {
public:
    Inflation(MadeBytes& made, std::uint64_t fileSize)
        : made_(made),
          budget_(std::min(limits::kMaxInflatedBytes,
                           limits::kInflatedFloor +
                               std::min(fileSize, limits::kMaxInflatedBytes) * limits::kInflatedPerByte)) {}

    // Counts `length` bytes inflated; false, said as the file's failure,
    // once they pass the budget.
    bool count(std::uint64_t length) {
        made_.countTakenOut(length);
        if (made_.takenOut() <= budget_) return true;
        fail(
            "its members inflate to more than a file of its size may have taken out (64 MiB and 4 bytes "
            "for each of its bytes, at most 320 MiB)");
        return false;
    }
    void fail(std::string why) { made_.fail(std::move(why)); }
    bool failed() const { return made_.failure().has_value(); }
    MadeBytes& made() { return made_; }

private:
    MadeBytes& made_;
    std::uint64_t budget_;
};

constexpr const char* kSharedBytes = "two of its members share their bytes: the archive is damaged";

struct ZipView {
    FileView view;
    std::uint64_t at = 0;
    zip_error_t error;
    // The parts of the file read for members, start to end, apart: no byte
    // is inflated as part of two members, so a member's bytes cannot be
    // named over and over. The reads of the member being read join them
    // when it is closed.
    std::map<std::uint64_t, std::uint64_t> readForMembers;
    std::vector<FileRange> readForMember;
    bool readingMember = false;
    bool shared = false;  // a member's read met another's

    bool readBefore(std::uint64_t offset, std::uint64_t length) const {
        const auto after = readForMembers.lower_bound(offset + length);
        return after != readForMembers.begin() && std::prev(after)->second > offset;
    }
    void memberClosed() {
        for (const FileRange& range : readForMember) {
            auto& end = readForMembers[range.offset];
            end = std::max(end, range.offset + range.length);
        }
        readForMember.clear();
        readingMember = false;
    }
};

zip_int64_t zipCallback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& source = *static_cast<ZipView*>(user);
    switch (command) {
        case ZIP_SOURCE_OPEN: source.at = 0; return 0;
        case ZIP_SOURCE_READ: {
            const std::uint64_t count = std::min<std::uint64_t>(length, source.view.size() - source.at);
            if (source.readingMember && count > 0) {
                if (source.readBefore(source.at, count)) {
                    source.shared = true;
                    zip_error_set(&source.error, ZIP_ER_INCONS, 0);
                    return -1;
                }
                source.readForMember.push_back({source.at, count});
            }
            // Copied without being kept: libzip keeps the central directory
            // itself, and a member is read once.
            source.view.copyOut(source.at, static_cast<std::byte*>(data), count);
            source.at += count;
            return static_cast<zip_int64_t>(count);
        }
        case ZIP_SOURCE_CLOSE: return 0;
        case ZIP_SOURCE_STAT: {
            auto* stat = static_cast<zip_stat_t*>(data);
            if (length < sizeof(zip_stat_t)) return -1;
            zip_stat_init(stat);
            stat->size = source.view.size();
            stat->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR: return zip_error_to_data(&source.error, data, length);
        case ZIP_SOURCE_FREE: return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t to =
                zip_source_seek_compute_offset(source.at, source.view.size(), data, length, &source.error);
            if (to < 0) return -1;
            source.at = static_cast<std::uint64_t>(to);
            return 0;
        }
        case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(source.at);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                  ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                                  ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, -1);
        default: zip_error_set(&source.error, ZIP_ER_OPNOTSUPP, 0); return -1;
    }
}

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct MemberClose {
    void operator()(zip_file_t* member) const { zip_fclose(member); }
};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// A member's name as the package means it: packages escape characters
// outside plain URIs as %XX; compared without case, as Windows does.
std::string memberName(std::string_view stored) {
    std::string out;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        unsigned value = 0;
        if (stored[i] == '%' && i + 2 < stored.size() &&
            std::from_chars(stored.data() + i + 1, stored.data() + i + 3, value, 16).ptr ==
                stored.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += stored[i];
        }
    }
    return lowered(out);
}

// A member being inflated. Every byte inflated counts against the file's
// budget, and every byte of the archive read for it must have been read for
// no other member.
class Member {
public:
    Member(ZipView& view, Inflation& inflation, zip_file_t* file, std::uint64_t size)
        : view_(view), inflation_(inflation), file_(file), size_(size) {}
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;
    ~Member() {
        file_.reset();
        view_.memberClosed();
    }

    std::uint64_t size() const { return size_; }  // as it claims

    // Inflates up to `length` more bytes onto the end of `bytes`, fewer
    // where it ends; false when it is damaged or a limit is passed.
    bool inflate(std::vector<std::byte>& bytes, std::uint64_t length) {
        constexpr std::uint64_t kPiece = 64 * 1024;
        while (length > 0) {
            const std::size_t done = bytes.size();
            const auto piece = static_cast<std::size_t>(std::min(kPiece, length));
            bytes.resize(done + piece);
            const zip_int64_t got = zip_fread(file_.get(), bytes.data() + done, piece);
            bytes.resize(done + static_cast<std::size_t>(std::max<zip_int64_t>(got, 0)));
            if (got < 0) {
                if (view_.shared) inflation_.fail(kSharedBytes);
                return false;
            }
            if (!inflation_.count(static_cast<std::uint64_t>(got))) return false;
            if (got == 0) break;
            length -= static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    ZipView& view_;
    Inflation& inflation_;
    std::unique_ptr<zip_file_t, MemberClose> file_;
    std::uint64_t size_;
};

class Archive {
public:
    static std::optional<Archive> open(const FileView& file, Inflation& inflation) {
        auto source = std::make_unique<ZipView>(ZipView{file, 0, {}, {}, {}, false, false});
        zip_error_init(&source->error);
        zip_source_t* zipSource = zip_source_function_create(zipCallback, source.get(), nullptr);
        if (!zipSource) return std::nullopt;
        zip_t* archive = zip_open_from_source(zipSource, ZIP_RDONLY, nullptr);
        if (!archive) {
            zip_source_free(zipSource);
            return std::nullopt;
        }
        Archive result(std::move(source), archive, inflation);
        const zip_int64_t count = zip_get_num_entries(archive, 0);
        if (count < 0 || static_cast<std::uint64_t>(count) > limits::kMaxPackageEntries) return std::nullopt;
        for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
            const char* name = zip_get_name(archive, i, ZIP_FL_ENC_RAW);
            result.names_.push_back(name ? memberName(name) : std::string());
        }
        return result;
    }

    const std::vector<std::string>& names() const { return names_; }

    std::optional<std::size_t> find(std::string_view name) const {
        const auto it = std::find(names_.begin(), names_.end(), name);
        return it == names_.end() ? std::nullopt : std::optional<std::size_t>(it - names_.begin());
    }

    std::optional<zip_stat_t> stat(std::size_t index) const {
        zip_stat_t stat;
        if (zip_stat_index(archive_.get(), index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
            return std::nullopt;
        return stat;
    }

    // A member opened for inflating; nothing when it cannot be, or once the
    // file's reading has failed.
    std::unique_ptr<Member> member(std::size_t index) const {
        const auto info = stat(index);
        if (!info || inflation_->failed()) return nullptr;
        source_->readingMember = true;
        zip_file_t* file = zip_fopen_index(archive_.get(), index, 0);
        if (!file) {
            if (source_->shared) inflation_->fail(kSharedBytes);
            source_->memberClosed();
            return nullptr;
        }
        return std::make_unique<Member>(*source_, *inflation_, file, info->size);
    }

    // A member whole, when it inflates to the size it claims and no more
    // than `limit` bytes (a zip bomb claims little and inflates much). The
    // memory grows with what really comes out, not with what is claimed.
    std::optional<std::vector<std::byte>> read(std::size_t index, std::uint64_t limit) const {
        const auto member = this->member(index);
        if (!member || member->size() > limit) return std::nullopt;
        std::vector<std::byte> bytes;
        if (!member->inflate(bytes, member->size() + 1) || bytes.size() != member->size())
            return std::nullopt;
        return bytes;
    }

    Inflation& inflation() const { return *inflation_; }

private:
    Archive(std::unique_ptr<ZipView> source, zip_t* archive, Inflation& inflation)
        : source_(std::move(source)), archive_(archive), inflation_(&inflation) {}
    std::unique_ptr<ZipView> source_;  // what the archive reads through
    std::unique_ptr<zip_t, ZipClose> archive_;
    std::vector<std::string> names_;  // by index, as memberName gives them
    Inflation* inflation_;            // the file's, which outlives its archives
};

// --- the manifests -------------------------------------------------------

std::string_view localName(const char* name) {
    const std::string_view full(name);
    const auto colon = full.rfind(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::optional<pugi::xml_document> parsed(const std::vector<std::byte>& xml) {
    pugi::xml_document document;
    if (!document.load_buffer(xml.data(), xml.size())) return std::nullopt;
    return document;
}

template <class Visit>
void forEachChild(const pugi::xml_node& node, std::string_view name, Visit&& visit) {
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_element && localName(child.name()) == name) visit(child);
    }
}

// The logos a package manifest names, as it names them, each once.
std::vector<std::string> manifestLogos(const pugi::xml_document& manifest) {
    std::vector<std::string> logos;
    std::unordered_set<std::string_view> named;  // views into the document
    const auto add = [&](std::string_view logo) {
        if (!logo.empty() && named.insert(logo).second) logos.emplace_back(logo);
    };
    const auto addLogoAttributes = [&](const pugi::xml_node& node) {
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            if (endsWith(localName(attribute.name()), "Logo")) add(attribute.value());
        }
    };
    forEachChild(manifest, "Package", [&](const pugi::xml_node& package) {
        forEachChild(package, "Properties", [&](const pugi::xml_node& properties) {
            forEachChild(properties, "Logo", [&](const pugi::xml_node& logo) { add(logo.text().get()); });
        });
        forEachChild(package, "Applications", [&](const pugi::xml_node& applications) {
            forEachChild(applications, "Application", [&](const pugi::xml_node& application) {
                forEachChild(application, "VisualElements", [&](const pugi::xml_node& visual) {
                    addLogoAttributes(visual);
                    forEachChild(visual, "DefaultTile", addLogoAttributes);
                });
            });
        });
    });
    return logos;
}

// A package a bundle manifest names: its kind and file name, and where it
// lies in the bundle.
struct BundledPackage {
    bool application = false;
    std::string fileName;
    std::uint64_t offset = 0, size = 0;
};

// The first application package a bundle manifest names, then its resource
// packages; at most kMaxBundlePackages in all, the application package
// however late it comes. Nothing without an application package.
std::vector<BundledPackage> bundledPackages(const pugi::xml_document& manifest) {
    std::vector<BundledPackage> found;
    bool hasApplication = false;
    forEachChild(manifest, "Bundle", [&](const pugi::xml_node& bundle) {
        forEachChild(bundle, "Packages", [&](const pugi::xml_node& packages) {
            forEachChild(packages, "Package", [&](const pugi::xml_node& package) {
                const std::string type = lowered(package.attribute("Type").as_string("application"));
                const bool application = type == "application";
                const std::size_t resources = found.size() - (hasApplication ? 1 : 0);
                if (application ? hasApplication
                                : type != "resource" || resources + 1 >= limits::kMaxBundlePackages)
                    return;
                found.push_back({application, package.attribute("FileName").as_string(),
                                 package.attribute("Offset").as_ullong(),
                                 package.attribute("Size").as_ullong()});
                if (found.back().application) {
                    hasApplication = true;
                    std::rotate(found.begin(), found.end() - 1, found.end());
                }
            });
        });
    });
    if (!hasApplication) found.clear();
    return found;
}

// --- logos and their variants -------------------------------------------

// Qualifiers (scale-200, targetsize-48_altform-unplated) hold a '-'; a
// variant is the logo's file with qualifiers between its name and its
// extension, or either in folders of qualifiers, at most this many deep.
constexpr std::size_t kMaxQualifierFolders = 4;

bool isQualifier(std::string_view text) {
    return text.find('-') != std::string_view::npos;
}

// The logos (as logoMember gives them) `member` (as memberName gives it) may
// be a variant of: its folder less up to kMaxQualifierFolders trailing
// folders of qualifiers, joined to its file name as it is and less the
// qualifiers before its extension. A few per member, so that every member
// is matched to the logos by lookups, whatever the number of either.
std::vector<std::string> logosVaried(std::string_view member) {
    const auto slash = member.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? member : member.substr(slash + 1);
    std::vector<std::string_view> files{file};
    if (const auto extension = file.rfind('.'); extension != std::string_view::npos && extension > 0) {
        const auto qualifiers = file.rfind('.', extension - 1);
        if (qualifiers != std::string_view::npos && qualifiers + 1 < extension &&
            isQualifier(file.substr(qualifiers + 1, extension - qualifiers - 1)))
            files.push_back(file.substr(0, qualifiers));  // the stem; the extension follows
    }
    const std::string_view extension = file.substr(std::min(file.rfind('.'), file.size()));
    std::vector<std::string> logos;
    std::string_view folder = member.substr(0, member.size() - file.size());  // with its '/'
    for (std::size_t dropped = 0;; ++dropped) {
        logos.emplace_back(std::string(folder).append(files[0]));
        if (files.size() > 1) logos.emplace_back(std::string(folder).append(files[1]).append(extension));
        if (dropped == kMaxQualifierFolders || folder.empty()) break;
        const std::string_view inner = folder.substr(0, folder.size() - 1);
        const auto up = inner.rfind('/');
        const std::string_view last = up == std::string_view::npos ? inner : inner.substr(up + 1);
        if (!isQualifier(last)) break;
        folder = folder.substr(0, folder.size() - last.size() - 1);
    }
    return logos;
}

std::string logoMember(std::string_view logo) {
    std::string path = memberName(logo);
    std::replace(path.begin(), path.end(), '\\', '/');
    while (!path.empty() && path.front() == '/') path.erase(path.begin());
    return path;
}

// The member a logo names, as logosVaried gives its variants: the resource
// system takes a logo named without an extension for a PNG file. Nothing
// for a name without a file name.
std::optional<std::string> logoFile(std::string_view logo) {
    std::string member = logoMember(logo);
    const auto slash = member.rfind('/');
    const std::size_t file = slash == std::string::npos ? 0 : slash + 1;
    if (file == member.size()) return std::nullopt;
    if (member.find('.', file) == std::string::npos) member += ".png";
    return member;
}

// Where a package the bundle names lies, when it is stored as it is (only
// then can it be read in place) and overlaps none of `taken`, to which it
// is added: no byte of the bundle is read as part of two packages.
std::optional<FileView> storedPackage(const FileView& file, const Archive& bundle,
                                      const BundledPackage& package, std::vector<FileRange>& taken) {
    const auto index = bundle.find(memberName(package.fileName));
    const auto info = index ? bundle.stat(*index) : std::nullopt;
    if (!info || !(info->valid & ZIP_STAT_COMP_METHOD) || info->comp_method != ZIP_CM_STORE ||
        info->size != package.size || !fitsIn(file.size(), package.offset, package.size) ||
        !file.hasTagAt(package.offset, "PK\x03\x04"))
        return std::nullopt;
    for (const FileRange& range : taken) {
        if (package.offset < range.offset + range.length && range.offset < package.offset + package.size)
            return std::nullopt;
    }
    taken.push_back({package.offset, package.size});
    return file.window(package.offset, package.size);
}

// A package's archive and the members of it that are variants of each logo.
struct LogoSource {
    Archive archive;
    std::vector<std::vector<std::size_t>> variants;  // by logo, in the archive's order
    // By member, what it is as a logo, once read: a member that is a variant
    // of two logos is inflated once.
    std::unordered_map<std::size_t, std::optional<IconImage>> read = {};
};

// `logoAt` maps logo members to indexes of the `logos` logos.
LogoSource logoSource(Archive archive, const std::unordered_map<std::string, std::size_t>& logoAt,
                      std::size_t logos) {
    LogoSource source{std::move(archive), std::vector<std::vector<std::size_t>>(logos)};
    for (std::size_t i = 0; i < source.archive.names().size(); ++i) {
        for (const std::string& varied : logosVaried(source.archive.names()[i])) {
            const auto found = logoAt.find(varied);
            if (found == logoAt.end()) continue;
            auto& members = source.variants[found->second];
            if (members.empty() || members.back() != i) members.push_back(i);
        }
    }
    return source;
}

// A logo variant: a PNG, known for one from its first inflated bytes (its
// signature and header) and only then inflated whole. Nothing when it is no
// PNG or is damaged, or when a limit is passed, which is then said as the
// file's failure.
std::optional<IconImage> logoImage(const Archive& archive, std::size_t index, MadeBytes& made) {
    constexpr std::uint64_t kPngHead = 33;  // the signature and the IHDR chunk
    const auto member = archive.member(index);
    std::vector<std::byte> bytes;
    if (!member || !member->inflate(bytes, kPngHead) || !peekPng(bytes) || bytes.size() > member->size())
        return std::nullopt;
    if (member->size() > limits::kMaxPackageMember || !made.hasRoomFor(member->size())) {
        made.fail(
            "its logos take more bytes than a file of its size may have taken out (64 MiB, or 64 for each "
            "of its bytes, at most 256 MiB)");
        return std::nullopt;
    }
    if (!member->inflate(bytes, member->size() + 1 - bytes.size()) || bytes.size() != member->size())
        return std::nullopt;
    const auto kept = made.keep(std::move(bytes));
    return kept ? inspectImage(FileBytes(*kept)) : std::nullopt;
}

// A manifest that cannot be read leaves nothing to read the package by:
// the file is damaged (or its manifest too large to be one), never a
// package without icons.
void failOnManifest(bool read, MadeBytes& made) {
    made.fail(read
                  ? "its manifest is no XML document: the package is damaged"
                  : "its manifest cannot be read: it is damaged, or larger than the 4 MiB a manifest may be");
}

// The icons of `logos` whose variants `sources` hold (the package's own
// first), each variant name taken once.
std::vector<IconGroup> logoIcons(const std::vector<std::string>& logos, std::vector<LogoSource>& sources,
                                 MadeBytes& made, std::size_t groupLimit) {
    std::vector<IconGroup> groups;
    std::size_t images = 0;
    for (std::size_t logo = 0; logo < logos.size() && groups.size() < groupLimit; ++logo) {
        IconGroup group;
        std::unordered_set<std::string_view> taken;  // views into the archives' names
        for (LogoSource& source : sources) {
            for (const std::size_t i : source.variants[logo]) {
                if (images >= limits::kMaxImagesPerFile)
                    made.fail("it holds more logo images than one file may have read (" +
                              std::to_string(limits::kMaxImagesPerFile) + ")");
                if (made.failure()) break;
                if (taken.contains(source.archive.names()[i])) continue;
                auto found = source.read.find(i);
                if (found == source.read.end())
                    found = source.read.emplace(i, logoImage(source.archive, i, made)).first;
                if (found->second) {
                    group.images.push_back(*found->second);
                    taken.insert(source.archive.names()[i]);
                    ++images;
                }
            }
        }
        if (made.failure()) break;
        if (group.images.empty()) continue;
        group.name = ResourceName::text(logos[logo]);
        groups.push_back(std::move(group));
    }
    return groups;
}

// The icons of a package and of the resource packages `resources` that
// come with it in a bundle; nothing when it is no package.
std::optional<std::vector<IconGroup>> readPackage(Archive package, std::vector<Archive> resources,
                                                  MadeBytes& made, std::size_t groupLimit) {
    const auto manifestIndex = package.find("appxmanifest.xml");
    if (!manifestIndex) return std::nullopt;
    const auto xml = package.read(*manifestIndex, limits::kMaxManifestBytes);
    const auto document = xml ? parsed(*xml) : std::nullopt;
    if (!document) {
        failOnManifest(xml.has_value(), made);
        return std::vector<IconGroup>{};
    }
    const std::vector<std::string> logos = manifestLogos(*document);
    // Logos that name one member (two spellings of one name) are one icon:
    // the later ones keep no variants.
    std::unordered_map<std::string, std::size_t> logoAt;
    for (std::size_t i = 0; i < logos.size(); ++i) {
        if (auto member = logoFile(logos[i])) logoAt.emplace(std::move(*member), i);
    }
    std::vector<LogoSource> sources;
    sources.push_back(logoSource(std::move(package), logoAt, logos.size()));
    for (Archive& resource : resources)
        sources.push_back(logoSource(std::move(resource), logoAt, logos.size()));
    return logoIcons(logos, sources, made, groupLimit);
}

// A bundle: its application package, with the resource packages that are
// stored in it; a package whose place or storage is wrong is left out.
std::vector<IconGroup> readBundle(const FileView& file, const Archive& bundle, std::size_t manifestIndex,
                                  MadeBytes& made, std::size_t groupLimit) {
    const auto xml = bundle.read(manifestIndex, limits::kMaxManifestBytes);
    const auto document = xml ? parsed(*xml) : std::nullopt;
    if (!document) failOnManifest(xml.has_value(), made);
    const std::vector<BundledPackage> packages =
        document ? bundledPackages(*document) : std::vector<BundledPackage>{};
    std::vector<FileRange> taken;
    std::optional<Archive> application;
    std::vector<Archive> resources;
    for (const BundledPackage& package : packages) {
        const auto window = storedPackage(file, bundle, package, taken);
        auto archive = window ? Archive::open(*window, bundle.inflation()) : std::nullopt;
        if (package.application && !archive) return {};
        if (!archive) continue;
        if (package.application) {
            application = std::move(archive);
        } else {
            resources.push_back(std::move(*archive));
        }
    }
    if (!application) return {};
    return readPackage(std::move(*application), std::move(resources), made, groupLimit)
        .value_or(std::vector<IconGroup>{});
}

}  // namespace

std::optional<std::vector<IconGroup>> formats::readAppxIcons(const FileView& file, MadeBytes& made,
                                                             std::size_t groupLimit) {
    Inflation inflation(made, file.size());
    auto archive = Archive::open(file, inflation);
    if (!archive) return std::nullopt;
    if (const auto manifest = archive->find("appxmetadata/appxbundlemanifest.xml"))
        return readBundle(file, *archive, *manifest, made, groupLimit);
    return readPackage(std::move(*archive), {}, made, groupLimit);
}
}  // namespace pictrove
