#include "cli/commands.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "cli/inputs.h"
#include "cli/ordered_jobs.h"
#include "cli/sources.h"
#include "collection_file.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "icon_writer.h"
#include "image/png.h"
#include "path_text.h"
#include "paths.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

std::string dimensions(const ImageInfo& info) {
    return std::to_string(info.width) + "x" + std::to_string(info.height) + "x" + std::to_string(info.bits);
}

// The image shown at size x size; icons the program draws itself have none stored.
ImageInfo shownImage(const SourceIcon& icon, std::uint32_t size) {
    if (icon.images.empty()) return ImageInfo{kIconSize, kIconSize, 32, false};
    return icon.images[rankImages(icon.images, size).front()].info;
}

void listText(const std::string& path, const Source& source, std::uint32_t size, std::ostream& out) {
    const std::size_t count = source.icons.size();
    out << path << ": " << count << (count == 1 ? " icon" : " icons");
    if (source.kind != "none") out << " (" << source.kind << ")";
    if (!source.redirectedTo.empty()) out << " from " << source.redirectedTo;
    out << "\n";
    for (std::size_t i = 0; i < count; ++i) {
        const SourceIcon& icon = source.icons[i];
        std::string name = "-";
        if (icon.name) name = icon.name->id ? std::to_string(*icon.name->id) : "\"" + icon.name->name + "\"";
        out << "  " << i << "  " << name << "  shown " << dimensions(shownImage(icon, size)) << "  images";
        for (const IconImage& image : icon.images) {
            out << " " << dimensions(image.info) << (image.info.png ? "(png)" : "");
            if (image.hotSpot) out << "@" << image.hotSpot->x << "," << image.hotSpot->y;
        }
        out << "\n";
    }
}

nlohmann::ordered_json listJson(const std::string& path, const Source& source, std::uint32_t size) {
    auto icons = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        const SourceIcon& icon = source.icons[i];
        const ImageInfo shown = shownImage(icon, size);
        nlohmann::ordered_json entry = {{"index", i}};
        if (icon.name && icon.name->id) entry["id"] = *icon.name->id;
        if (icon.name && !icon.name->id) entry["name"] = icon.name->name;
        entry["width"] = shown.width;
        entry["height"] = shown.height;
        entry["bits"] = shown.bits;
        auto& images = entry["images"] = nlohmann::ordered_json::array();
        for (const IconImage& image : icon.images) {
            const ImageInfo& info = image.info;
            nlohmann::ordered_json stored = {
                {"width", info.width}, {"height", info.height}, {"bits", info.bits}, {"png", info.png}};
            if (image.hotSpot) stored["hotspot"] = {{"x", image.hotSpot->x}, {"y", image.hotSpot->y}};
            images.push_back(std::move(stored));
        }
        icons.push_back(std::move(entry));
    }
    nlohmann::ordered_json listing = {{"file", path}, {"count", source.icons.size()}};
    if (!source.redirectedTo.empty()) listing["from"] = source.redirectedTo;
    listing["icons"] = std::move(icons);
    return listing;
}

class Progress {
public:
    Progress(const Options& options, std::size_t total, std::ostream& err)
        : enabled_(options.progress && total > 1), total_(total), err_(err) {}
    void step(std::size_t done, const std::string& file) {
        if (enabled_) err_ << "\r[" << done + 1 << "/" << total_ << "] " << file << "\x1b[K" << std::flush;
    }
    // Reports go on lines of their own, not after the progress line.
    void clear() {
        if (enabled_) err_ << "\r\x1b[K";
    }
    ~Progress() {
        if (enabled_) err_ << "\r\x1b[K" << std::flush;
    }

private:
    bool enabled_;
    std::size_t total_;
    std::ostream& err_;
};

bool writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::ostream& err) {
    if (const auto error = saveFile(path, bytes)) {
        err << "pictrove-cli: " << error->message << "\n";
        return false;
    }
    return true;
}

// Output file names: the input's file name, cut where needed so that the
// name with its suffix fits the output folder's name limit.
class OutputNames {
public:
    OutputNames(const std::filesystem::path& folder, const std::string& stem)
        : folder_(folder), stem_(stem), limit_(nameLimit(folder)) {}
    std::filesystem::path operator()(const std::string& suffix) const {
        return folder_ / pathFromUtf8(fitFileName(stem_, suffix, limit_));
    }

private:
    static std::size_t nameLimit(const std::filesystem::path& folder) {
#ifndef _WIN32
        const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
        if (limit > 0) return static_cast<std::size_t>(limit);
#endif
        (void)folder;
        return 255;
    }
    std::filesystem::path folder_;
    std::string stem_;
    std::size_t limit_;
};

// Every stored image of one icon as PNG; stored PNG images as they are. The
// second and later images of the same size and depth get a running number.
bool extractAllSizes(const std::string& path, const std::string& prefix, const SourceIcon& icon,
                     const OutputNames& names, std::ostream& err) {
    bool ok = true;
    std::map<std::string, int> seen;
    for (const IconImage& image : icon.images) {
        std::string name = prefix + "_" + std::to_string(image.info.width) + "x" +
                           std::to_string(image.info.height) + "_" + std::to_string(image.info.bits);
        if (const int copy = ++seen[name]; copy > 1) name += "-" + std::to_string(copy);
        const auto target = names(name + ".png");
        if (image.info.png) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data.data());
            ok = writeFile(target, {bytes, image.data.size()}, err) && ok;
            continue;
        }
        const auto decoded = decodeImage(image);
        const auto png = decoded ? encodePng(*decoded) : std::nullopt;
        if (!png) {
            err << "pictrove-cli: " << path << ": image " << name << " cannot be decoded\n";
            ok = false;
            continue;
        }
        ok = writeFile(target, *png, err) && ok;
    }
    return ok;
}

// One icon's files as the options ask: the icon as shown (PNG), the window's
// icon or bitmap file, the whole group, every stored image.
bool extractIcon(const std::string& path, const SourceIcon& icon, std::size_t index, const OutputNames& names,
                 const Options& options, std::ostream& report) {
    const std::string prefix = "_" + std::to_string(index);
    const bool png = !options.ico && !options.bmp && !options.groupIco;
    bool ok = true;
    const auto write = [&](const std::string& extension,
                           const std::optional<std::vector<std::uint8_t>>& bytes) {
        ok = bytes && writeFile(names(prefix + extension), *bytes, report) && ok;
    };
    if (options.groupIco) {
        const IconGroup group{icon.name, icon.images};
        const auto bytes = buildGroupFile(group);
        if (!bytes) {
            report << "pictrove-cli: " << path << ": icon " << index << " has no stored images to write\n";
            ok = false;
        } else {
            write(isCursorGroup(group) ? ".cur" : ".ico", bytes);
        }
    }
    if (png || options.ico || options.bmp) {
        const auto shown = icon.icon(png ? options.size : kIconSize);
        if (!shown) {
            report << "pictrove-cli: " << path << ": icon " << index << " cannot be decoded\n";
            return false;
        }
        if (png) write(".png", encodePng(*shown));
        if (options.ico) write(".ico", icon.fileImage());
        if (options.bmp) write(".bmp", encodeBitmapFile(prepareExportBitmap(*shown)));
    }
    if (options.allSizes) ok = extractAllSizes(path, prefix, icon, names, report) && ok;
    return ok;
}

struct Report {
    std::string text;
    bool ok = true;
};

// Writes the requested icons of one file, spread over the cores when
// `parallel`; false when something could not be written.
bool extractFile(const InputFile& input, const Source& source, const Options& options, std::ostream& err,
                 bool parallel) {
    const OutputNames names(*options.outputDir, input.outputStem);
    std::vector<std::size_t> wanted;
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        if (!options.index || *options.index == i) wanted.push_back(i);
    }
    bool ok = true;
    runInOrder<Report>(
        wanted.size(),
        [&](std::size_t n) {
            std::ostringstream report;
            const bool done =
                extractIcon(input.path, source.icons[wanted[n]], wanted[n], names, options, report);
            return Report{report.str(), done};
        },
        [&](std::size_t, Report& report) {
            err << report.text;
            ok = report.ok && ok;
        },
        parallel);
    return ok;
}

// What reading one file gave: its output, its messages and whether all went well.
struct FileReport {
    std::string out;
    std::string err;
    bool ok = true;
    bool skipped = false;  // found in a folder, and no icon source
    nlohmann::ordered_json json;
};

using Visit = std::function<void(const InputFile&, const Source&, FileReport&)>;
using Failed = std::function<void(const InputFile&, const Error&, FileReport&)>;

// Reads every input, several at a time when there are many, and hands the
// readable ones to `visit` and the others, after a message, to `failed`;
// `deliver` then sees the reports in input order. Returns the exit status.
int forEachSource(const Options& options, std::ostream& err, const Visit& visit, const Failed& failed,
                  const std::function<void(FileReport&)>& deliver) {
    bool complete = true;
    const std::vector<InputFile> inputs = collectInputs(options, err, complete);
    int status = complete ? 0 : 1;
    const GroupKind kind = options.cursors ? GroupKind::cursors : GroupKind::icons;
    Progress progress(options, inputs.size(), err);
    runInOrder<FileReport>(
        inputs.size(),
        [&](std::size_t n) {
            FileReport report;
            const InputFile& input = inputs[n];
            const auto source = openSource(input.path, options.collectionExtension, kind);
            if (source && input.found && source->kind == sourceKindName(SourceKind::none)) {
                report.skipped = true;
            } else if (source) {
                visit(input, *source, report);
            } else {
                report.err = "pictrove-cli: " + input.path + ": " + source.error().message + "\n";
                report.ok = false;
                if (failed) failed(input, source.error(), report);
            }
            return report;
        },
        [&](std::size_t n, FileReport& report) {
            if (!report.err.empty()) {
                progress.clear();
                err << report.err;
            }
            progress.step(n, inputs[n].path);
            if (!report.ok) status = 1;
            if (!report.skipped) deliver(report);
        });
    return status;
}

}  // namespace

int list(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.json) {
        auto listing = nlohmann::ordered_json::array();
        const int status = forEachSource(
            options, err,
            [&](const InputFile& input, const Source& source, FileReport& report) {
                report.json = listJson(input.path, source, options.size);
            },
            [&](const InputFile& input, const Error& error, FileReport& report) {
                report.json = {{"file", input.path}, {"error", error.message}};
            },
            [&](FileReport& report) { listing.push_back(std::move(report.json)); });
        // File names are bytes: what is not UTF-8 comes out as U+FFFD.
        out << listing.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n"
            << std::flush;
        return status;
    }
    return forEachSource(
        options, err,
        [&](const InputFile& input, const Source& source, FileReport& report) {
            std::ostringstream text;
            listText(input.path, source, options.size, text);
            report.out = text.str();
        },
        {}, [&](FileReport& report) { out << report.out << std::flush; });
}

int extract(const Options& options, std::ostream& err) {
    if (options.outputDir) {
        std::error_code ec;
        std::filesystem::create_directories(*options.outputDir, ec);
        if (!std::filesystem::is_directory(*options.outputDir)) {
            err << "pictrove-cli: cannot create folder " << utf8Of(*options.outputDir) << "\n";
            return 1;
        }
    }
    // One file spreads its icons over the cores; many files go a file per core.
    const bool manyFiles = options.recursive || options.files.size() > 1;
    return forEachSource(
        options, err,
        [&](const InputFile& input, const Source& source, FileReport& report) {
            std::ostringstream messages;
            bool ok = true;
            // Libraries without icons are common in a folder tree; only a
            // file the user named is worth the remark.
            if (source.icons.empty() && !input.found)
                messages << "pictrove-cli: " << input.path << ": no icons\n";
            if (options.index && *options.index >= source.icons.size()) {
                messages << "pictrove-cli: " << input.path << ": no icon " << *options.index << "\n";
                ok = false;
            }
            if (options.outputDir) ok = extractFile(input, source, options, messages, !manyFiles) && ok;
            if (options.collection) {
                const auto target = pathFromUtf8(
                    withDefaultExtension(utf8Of(*options.collection), options.collectionExtension));
                ok = writeCollection(source, target, messages) && ok;
            }
            report.err = messages.str();
            report.ok = ok;
        },
        {}, [](FileReport&) {});
}

bool writeCollection(const Source& source, const std::filesystem::path& target, std::ostream& err) {
    // The records an icon save would write, in order; an icon that cannot be
    // encoded is left out, as the window does.
    std::vector<std::vector<std::uint8_t>> records;
    for (const SourceIcon& icon : source.icons) {
        if (auto bytes = icon.fileImage()) records.push_back(std::move(*bytes));
    }
    const std::vector<std::span<const std::uint8_t>> spans(records.begin(), records.end());
    return writeFile(target, buildCollection(spans, utf8Of(target)), err);
}

}  // namespace pictrove::cli
