#include "cli/commands.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "cli/sources.h"
#include "collection_file.h"
#include "icon_source/icon_file.h"
#include "icon_writer.h"
#include "image/png.h"
#include "paths.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

std::string dimensions(const ImageInfo& info) {
    return std::to_string(info.width) + "x" + std::to_string(info.height) + "x" + std::to_string(info.bits);
}

// The image shown at 32 x 32; icons the program draws itself have none stored.
ImageInfo shownImage(const SourceIcon& icon) {
    if (icon.images.empty()) return ImageInfo{kIconSize, kIconSize, 32, false};
    return icon.images[rankImages(icon.images).front()].info;
}

void listText(const std::string& path, const Source& source, std::ostream& out) {
    const std::size_t count = source.icons.size();
    out << path << ": " << count << (count == 1 ? " icon" : " icons");
    if (source.kind != "none") out << " (" << source.kind << ")";
    out << "\n";
    for (std::size_t i = 0; i < count; ++i) {
        const SourceIcon& icon = source.icons[i];
        std::string name = "-";
        if (icon.name) name = icon.name->id ? std::to_string(*icon.name->id) : "\"" + icon.name->name + "\"";
        out << "  " << i << "  " << name << "  shown " << dimensions(shownImage(icon)) << "  images";
        for (const IconImage& image : icon.images) {
            out << " " << dimensions(image.info) << (image.info.png ? "(png)" : "");
        }
        out << "\n";
    }
}

nlohmann::ordered_json listJson(const std::string& path, const Source& source) {
    auto icons = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        const SourceIcon& icon = source.icons[i];
        const ImageInfo shown = shownImage(icon);
        nlohmann::ordered_json entry = {{"index", i}};
        if (icon.name && icon.name->id) entry["id"] = *icon.name->id;
        if (icon.name && !icon.name->id) entry["name"] = icon.name->name;
        entry["width"] = shown.width;
        entry["height"] = shown.height;
        entry["bits"] = shown.bits;
        auto& images = entry["images"] = nlohmann::ordered_json::array();
        for (const IconImage& image : icon.images) {
            const ImageInfo& info = image.info;
            images.push_back(
                {{"width", info.width}, {"height", info.height}, {"bits", info.bits}, {"png", info.png}});
        }
        icons.push_back(std::move(entry));
    }
    return {{"file", path}, {"count", source.icons.size()}, {"icons", std::move(icons)}};
}

class Progress {
public:
    Progress(const Options& options, std::ostream& err)
        : enabled_(options.progress && options.files.size() > 1), total_(options.files.size()), err_(err) {}
    void step(std::size_t done, const std::string& file) {
        if (enabled_) err_ << "\r[" << done + 1 << "/" << total_ << "] " << file << "\x1b[K" << std::flush;
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
    OutputNames(const std::filesystem::path& folder, const std::string& input)
        : folder_(folder),
          stem_(std::filesystem::path(input).filename().string()),
          limit_(nameLimit(folder)) {}
    std::filesystem::path operator()(const std::string& suffix) const {
        return folder_ / fitFileName(stem_, suffix, limit_);
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

// Runs the jobs on as many threads as the machine has cores (up to 8). Each
// job reports into a stream of its own; the reports are printed in job order,
// so the output does not depend on which thread ran what.
bool runJobs(const std::vector<std::function<bool(std::ostream&)>>& jobs, std::ostream& err) {
    std::vector<std::ostringstream> reports(jobs.size());
    std::vector<char> results(jobs.size(), 0);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) results[i] = jobs[i](reports[i]);
    };
    const std::size_t threads =
        std::min<std::size_t>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u), jobs.size());
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    bool ok = true;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        err << reports[i].str();
        ok = ok && results[i];
    }
    return ok;
}

// Writes the requested icons of one file, an icon per job; false when
// something could not be written.
bool extractFile(const std::string& path, const Source& source, const Options& options, std::ostream& err) {
    const OutputNames names(*options.outputDir, path);
    const bool png = !options.ico && !options.bmp;
    std::vector<std::function<bool(std::ostream&)>> jobs;
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        if (options.index && *options.index != i) continue;
        jobs.emplace_back([&, i](std::ostream& report) {
            const SourceIcon& icon = source.icons[i];
            const std::string prefix = "_" + std::to_string(i);
            const auto shown = icon.icon();
            if (!shown) {
                report << "pictrove-cli: " << path << ": icon " << i << " cannot be decoded\n";
                return false;
            }
            bool ok = true;
            const auto write = [&](const std::string& extension,
                                   const std::optional<std::vector<std::uint8_t>>& bytes) {
                ok = bytes && writeFile(names(prefix + extension), *bytes, report) && ok;
            };
            if (png) write(".png", encodePng(*shown));
            if (options.ico) write(".ico", icon.fileImage());
            if (options.bmp) write(".bmp", encodeBitmapFile(prepareExportBitmap(*shown)));
            if (options.allSizes) ok = extractAllSizes(path, prefix, icon, names, report) && ok;
            return ok;
        });
    }
    return runJobs(jobs, err);
}

// Opens each file given, with a progress line, and hands the readable ones to
// `visit` (which returns false on failure); a file that cannot be read is
// reported on `err` and handed to `failed` when there is one. Returns the
// exit status.
int forEachSource(const Options& options, std::ostream& err,
                  const std::function<bool(const std::string&, const Source&)>& visit,
                  const std::function<void(const std::string&, const Error&)>& failed = {}) {
    int status = 0;
    Progress progress(options, err);
    for (std::size_t n = 0; n < options.files.size(); ++n) {
        const std::string& path = options.files[n];
        progress.step(n, path);
        const auto source = openSource(path, options.collectionExtension);
        if (!source) {
            err << "pictrove-cli: " << path << ": " << source.error().message << "\n";
            if (failed) failed(path, source.error());
            status = 1;
        } else if (!visit(path, *source)) {
            status = 1;
        }
    }
    return status;
}

}  // namespace

int list(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.json) {
        auto listing = nlohmann::ordered_json::array();
        const int status = forEachSource(
            options, err,
            [&](const std::string& path, const Source& source) {
                listing.push_back(listJson(path, source));
                return true;
            },
            [&](const std::string& path, const Error& error) {
                listing.push_back({{"file", path}, {"error", error.message}});
            });
        // File names are bytes: what is not UTF-8 comes out as U+FFFD.
        out << listing.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n"
            << std::flush;
        return status;
    }
    std::ostringstream buffer;
    const int status = forEachSource(options, err, [&](const std::string& path, const Source& source) {
        listText(path, source, buffer);
        return true;
    });
    out << buffer.str() << std::flush;
    return status;
}

int extract(const Options& options, std::ostream& err) {
    if (options.outputDir) {
        std::error_code ec;
        std::filesystem::create_directories(*options.outputDir, ec);
        if (!std::filesystem::is_directory(*options.outputDir)) {
            err << "pictrove-cli: cannot create folder " << options.outputDir->string() << "\n";
            return 1;
        }
    }
    return forEachSource(options, err, [&](const std::string& path, const Source& source) {
        bool ok = true;
        if (source.icons.empty()) err << "pictrove-cli: " << path << ": no icons\n";
        if (options.index && *options.index >= source.icons.size()) {
            err << "pictrove-cli: " << path << ": no icon " << *options.index << "\n";
            ok = false;
        }
        if (options.outputDir) ok = extractFile(path, source, options, err) && ok;
        if (options.collection) {
            const auto target =
                withDefaultExtension(options.collection->string(), options.collectionExtension);
            ok = writeCollection(source, target, err) && ok;
        }
        return ok;
    });
}

bool writeCollection(const Source& source, const std::filesystem::path& target, std::ostream& err) {
    // The records an icon save would write, in order; an icon that cannot be
    // encoded is left out, as the window does.
    std::vector<std::vector<std::uint8_t>> records;
    for (const SourceIcon& icon : source.icons) {
        if (auto bytes = icon.fileImage()) records.push_back(std::move(*bytes));
    }
    const std::vector<std::span<const std::uint8_t>> spans(records.begin(), records.end());
    return writeFile(target, buildCollection(spans, target.string()), err);
}

}  // namespace pictrove::cli
