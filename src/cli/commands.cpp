#include "cli/commands.h"

#include <iostream>
#include <set>
#include <sstream>

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

void listText(const std::string& path, const IconFile& file, std::ostream& out) {
    out << path << ": " << file.count() << (file.count() == 1 ? " icon" : " icons");
    if (file.kind() != SourceKind::none) out << " (" << sourceKindName(file.kind()) << ")";
    out << "\n";
    for (std::size_t i = 0; i < file.count(); ++i) {
        const IconGroup& group = file.group(i);
        std::string name = "-";
        if (group.name)
            name = group.name->id ? std::to_string(*group.name->id) : "\"" + group.name->name + "\"";
        out << "  " << i << "  " << name << "  shown " << dimensions(group.images[file.chosenImage(i)].info)
            << "  images";
        for (const IconImage& image : group.images)
            out << " " << dimensions(image.info) << (image.info.png ? "(png)" : "");
        out << "\n";
    }
}

void listJson(const std::string& path, const IconFile& file, std::ostream& out) {
    out << "{\"file\":" << jsonString(path) << ",\"count\":" << file.count() << ",\"icons\":[";
    for (std::size_t i = 0; i < file.count(); ++i) {
        const IconGroup& group = file.group(i);
        const ImageInfo& shown = group.images[file.chosenImage(i)].info;
        out << (i ? "," : "") << "{\"index\":" << i;
        if (group.name && group.name->id) out << ",\"id\":" << *group.name->id;
        if (group.name && !group.name->id) out << ",\"name\":" << jsonString(group.name->name);
        out << ",\"width\":" << shown.width << ",\"height\":" << shown.height << ",\"bits\":" << shown.bits
            << ",\"images\":[";
        for (std::size_t j = 0; j < group.images.size(); ++j) {
            const ImageInfo& info = group.images[j].info;
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

// Writes the requested icons of one file; false when something could not be written.
bool extractFile(const std::string& path, const IconFile& file, const Options& options, std::ostream& err) {
    const std::string base = std::filesystem::path(path).filename().string();
    bool ok = true;
    for (std::size_t i = 0; i < file.count(); ++i) {
        if (options.index && *options.index != i) continue;
        const std::string prefix = base + "_" + std::to_string(i);
        if (const auto icon = file.icon(i)) {
            const bool png = !options.ico && !options.bmp;
            const auto encoded = [&](const char* extension) -> std::optional<std::vector<std::uint8_t>> {
                if (extension[1] == 'p') return encodePng(*icon);
                if (extension[1] == 'i') return encodeIconFile(*icon);
                return encodeBitmapFile(prepareExportBitmap(*icon));
            };
            for (const char* extension : {".png", ".ico", ".bmp"}) {
                const bool wanted = extension[1] == 'p'   ? png
                                    : extension[1] == 'i' ? options.ico
                                                          : options.bmp;
                if (!wanted) continue;
                const auto bytes = encoded(extension);
                ok = bytes && writeFile(*options.outputDir / (prefix + extension), *bytes, err) && ok;
            }
        } else {
            err << "pictrove-cli: " << path << ": icon " << i << " cannot be decoded\n";
            ok = false;
        }
        if (!options.allSizes) continue;

        std::set<std::string> used;
        for (const IconImage& image : file.group(i).images) {
            std::string name = prefix + "_" + std::to_string(image.info.width) + "x" +
                               std::to_string(image.info.height) + "_" + std::to_string(image.info.bits);
            // Two stored images of the same size and depth each get a file.
            for (int copy = 2; !used.insert(name).second; ++copy) name += "_" + std::to_string(copy);
            const auto target = *options.outputDir / (name + ".png");
            if (image.info.png) {
                // Stored PNG images are PNG files already: written as they are.
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
    }
    return ok;
}

}  // namespace

int list(const Options& options, std::ostream& out, std::ostream& err) {
    std::ostringstream buffer;
    int status = 0;
    bool first = true;
    if (options.json) buffer << "[";
    Progress progress(options, err);
    for (std::size_t n = 0; n < options.files.size(); ++n) {
        const std::string& path = options.files[n];
        progress.step(n, path);
        auto file = IconFile::open(path);
        if (!file) {
            err << "pictrove-cli: " << file.error().message << "\n";
            status = 1;
            continue;
        }
        if (options.json) {
            buffer << (first ? "" : ",");
            listJson(path, *file, buffer);
        } else {
            listText(path, *file, buffer);
        }
        first = false;
    }
    if (options.json) buffer << "]\n";
    out << buffer.str() << std::flush;
    return status;
}

int extract(const Options& options, std::ostream& err) {
    std::error_code ec;
    std::filesystem::create_directories(*options.outputDir, ec);
    if (!std::filesystem::is_directory(*options.outputDir)) {
        err << "pictrove-cli: cannot create folder " << options.outputDir->string() << "\n";
        return 1;
    }
    int status = 0;
    Progress progress(options, err);
    for (std::size_t n = 0; n < options.files.size(); ++n) {
        const std::string& path = options.files[n];
        progress.step(n, path);
        auto file = IconFile::open(path);
        if (!file) {
            err << "pictrove-cli: " << file.error().message << "\n";
            status = 1;
            continue;
        }
        if (file->count() == 0) err << "pictrove-cli: " << path << ": no icons\n";
        if (options.index && *options.index >= file->count()) {
            err << "pictrove-cli: " << path << ": no icon " << *options.index << "\n";
            status = 1;
        }
        if (!extractFile(path, *file, options, err)) status = 1;
    }
    return status;
}

}  // namespace pictrove::cli
