#include "cli/commands.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/sources.h"
#include "collection_file.h"
#include "icon_source/icon_file.h"
#include "icon_writer.h"
#include "image/png.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

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

void listJson(const std::string& path, const Source& source, std::ostream& out) {
    out << "{\"file\":" << jsonString(path) << ",\"count\":" << source.icons.size() << ",\"icons\":[";
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        const SourceIcon& icon = source.icons[i];
        const ImageInfo shown = shownImage(icon);
        out << (i ? "," : "") << "{\"index\":" << i;
        if (icon.name && icon.name->id) out << ",\"id\":" << *icon.name->id;
        if (icon.name && !icon.name->id) out << ",\"name\":" << jsonString(icon.name->name);
        out << ",\"width\":" << shown.width << ",\"height\":" << shown.height << ",\"bits\":" << shown.bits
            << ",\"images\":[";
        for (std::size_t j = 0; j < icon.images.size(); ++j) {
            const ImageInfo& info = icon.images[j].info;
            out << (j ? "," : "") << "{\"width\":" << info.width << ",\"height\":" << info.height
                << ",\"bits\":" << info.bits << ",\"png\":" << (info.png ? "true" : "false") << "}";
        }
        out << "]}";
    }
    out << "]}";
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

// Every stored image of one icon as PNG; stored PNG images as they are.
bool extractAllSizes(const std::string& path, const std::string& prefix, const SourceIcon& icon,
                     const Options& options, std::ostream& err) {
    bool ok = true;
    std::set<std::string> used;
    for (const IconImage& image : icon.images) {
        std::string name = prefix + "_" + std::to_string(image.info.width) + "x" +
                           std::to_string(image.info.height) + "_" + std::to_string(image.info.bits);
        // Two stored images of the same size and depth each get a file.
        for (int copy = 2; !used.insert(name).second; ++copy) name += "_" + std::to_string(copy);
        const auto target = *options.outputDir / (name + ".png");
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
    const std::string base = std::filesystem::path(path).filename().string();
    const bool png = !options.ico && !options.bmp;
    std::vector<std::function<bool(std::ostream&)>> jobs;
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        if (options.index && *options.index != i) continue;
        jobs.emplace_back([&, i](std::ostream& report) {
            const SourceIcon& icon = source.icons[i];
            const std::string prefix = base + "_" + std::to_string(i);
            const auto shown = icon.icon();
            if (!shown) {
                report << "pictrove-cli: " << path << ": icon " << i << " cannot be decoded\n";
                return false;
            }
            bool ok = true;
            const auto write = [&](const std::string& extension,
                                   const std::optional<std::vector<std::uint8_t>>& bytes) {
                ok = bytes && writeFile(*options.outputDir / (prefix + extension), *bytes, report) && ok;
            };
            if (png) write(".png", encodePng(*shown));
            if (options.ico) write(".ico", icon.fileImage());
            if (options.bmp) write(".bmp", encodeBitmapFile(prepareExportBitmap(*shown)));
            if (options.allSizes) ok = extractAllSizes(path, prefix, icon, options, report) && ok;
            return ok;
        });
    }
    return runJobs(jobs, err);
}

// Opens each file given, with a progress line, and hands the readable ones to
// `visit` (which returns false on failure); a file that cannot be read is
// reported. Returns the exit status.
int forEachSource(const Options& options, std::ostream& err,
                  const std::function<bool(const std::string&, const Source&)>& visit) {
    int status = 0;
    Progress progress(options, err);
    for (std::size_t n = 0; n < options.files.size(); ++n) {
        const std::string& path = options.files[n];
        progress.step(n, path);
        const auto source = openSource(path, options.collectionExtension);
        if (!source) {
            err << "pictrove-cli: " << path << ": " << source.error().message << "\n";
            status = 1;
        } else if (!visit(path, *source)) {
            status = 1;
        }
    }
    return status;
}

}  // namespace

int list(const Options& options, std::ostream& out, std::ostream& err) {
    std::ostringstream buffer;
    bool first = true;
    if (options.json) buffer << "[";
    const int status = forEachSource(options, err, [&](const std::string& path, const Source& source) {
        if (options.json) {
            buffer << (first ? "" : ",");
            listJson(path, source, buffer);
        } else {
            listText(path, source, buffer);
        }
        first = false;
        return true;
    });
    if (options.json) buffer << "]\n";
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
        if (options.collection) ok = writeCollection(source, *options.collection, err) && ok;
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
