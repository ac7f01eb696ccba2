#include "cli/commands.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/inputs.h"
#include "cli/ordered_jobs.h"
#include "cli/output_names.h"
#include "collection_file.h"
#include "engine/ordered_stream.h"
#include "engine/sources.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "icon_writer.h"
#include "image/png.h"
#include "module_loader.h"
#include "path_text.h"
#include "paths.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void appendDimensions(std::string& out, const ImageInfo& info) {
    appendNumber(out, info.width);
    out += 'x';
    appendNumber(out, info.height);
    out += 'x';
    appendNumber(out, info.bits);
}

// The image shown at size x size; icons the program draws itself have none stored.
ImageInfo shownImage(const SourceIcon& icon, std::uint32_t size) {
    if (icon.images.empty()) return ImageInfo{kIconSize, kIconSize, 32, false};
    return icon.images[bestImage(icon.images, size)].info;
}

// Built in one string: a library lists thousands of images, and a stream
// insertion for each of their numbers cost more than reading the library.
std::string listText(const std::string& path, const Source& source, std::uint32_t size,
                     const std::string& noun) {
    const std::size_t count = source.icons.size();
    std::string out = path + ": ";
    appendNumber(out, count);
    out += " " + noun;
    if (source.kind != "none") out += " (" + source.kind + ")";
    if (!source.redirectedTo.empty()) out += " from " + source.redirectedTo;
    out += '\n';
    for (std::size_t i = 0; i < count; ++i) {
        const SourceIcon& icon = source.icons[i];
        out += "  ";
        appendNumber(out, i);
        out += "  ";
        if (!icon.name) {
            out += '-';
        } else if (icon.name->id) {
            appendNumber(out, *icon.name->id);
        } else {
            out += '"' + icon.name->name + '"';
        }
        out += "  shown ";
        appendDimensions(out, shownImage(icon, size));
        out += "  images";
        for (const IconImage& image : icon.images) {
            out += ' ';
            appendDimensions(out, image.info);
            if (image.info.png) out += "(png)";
            if (image.hotSpot) {
                out += '@';
                appendNumber(out, image.hotSpot->x);
                out += ',';
                appendNumber(out, image.hotSpot->y);
            }
        }
        out += '\n';
    }
    return out;
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
    // The count of files is known only once the walk is over: a tree's files
    // are read as they are found.
    Progress(const Options& options, std::ostream& err)
        : enabled_(options.progress && (options.recursive || options.files.size() > 1)), err_(err) {}
    void step(std::size_t done, const std::string& file) {
        if (enabled_) err_ << "\r[" << done + 1 << "] " << file << "\x1b[K" << std::flush;
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
    std::ostream& err_;
};

bool writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::ostream& err,
               SaveOptions options = {}) {
    if (const auto error = saveFile(path, bytes, options)) {
        err << "pictrove-cli: " << error->message << "\n";
        return false;
    }
    return true;
}

// One file extract writes for an icon.
struct Output {
    enum class Kind { shown, iconFile, bitmap, group, storedPng, decoded };
    Kind kind;
    std::size_t icon;        // index into the source's icons
    std::size_t image = 0;   // the stored image, for storedPng and decoded
    std::string suffix;      // after the stem (and marker): "_<index>.png" ...
    std::uint64_t size = 0;  // known before any work for group and storedPng
};

// Every file the options ask of the wanted icons, in the order they are
// written; the second and later images of the same size and depth get a
// running number. Nothing when they are more than `mostFiles`.
std::optional<std::vector<Output>> planOutputs(const Source& source, const std::vector<std::size_t>& wanted,
                                               const Options& options, std::size_t mostFiles) {
    using Kind = Output::Kind;
    const bool png = !options.ico && !options.bmp && !options.groupIco;
    std::vector<Output> plan;
    for (const std::size_t i : wanted) {
        if (plan.size() > mostFiles) return std::nullopt;
        const SourceIcon& icon = source.icons[i];
        const std::string prefix = "_" + std::to_string(i);
        if (options.groupIco) {
            const IconGroup group{icon.name, icon.images};
            plan.push_back({Kind::group, i, 0, prefix + (isCursorGroup(group) ? ".cur" : ".ico"),
                            groupFileSize(group).value_or(0)});
        }
        if (png) plan.push_back({Kind::shown, i, 0, prefix + ".png"});
        if (options.ico) plan.push_back({Kind::iconFile, i, 0, prefix + ".ico"});
        if (options.bmp) plan.push_back({Kind::bitmap, i, 0, prefix + ".bmp"});
        if (!options.allSizes) continue;
        std::map<std::string, int> seen;
        for (std::size_t k = 0; k < icon.images.size(); ++k) {
            const ImageInfo& info = icon.images[k].info;
            std::string name = prefix + "_" + std::to_string(info.width) + "x" + std::to_string(info.height) +
                               "_" + std::to_string(info.bits);
            if (const int copy = ++seen[name]; copy > 1) name += "-" + std::to_string(copy);
            if (info.png) {
                plan.push_back({Kind::storedPng, i, k, name + ".png", icon.images[k].data.size()});
            } else {
                plan.push_back({Kind::decoded, i, k, name + ".png"});
            }
        }
    }
    if (plan.size() > mostFiles) return std::nullopt;
    return plan;
}

// The most extract writes for one input file: 64 MiB of disk, or 16 times
// the file's own size when that is more, each file taking at least a block
// of the output folder; and 16,384 files (64 MiB of 4 KiB blocks), or one
// for every 32 bytes of the file when that is more. Groups may name one
// image thousands of times, so without a bound a small crafted file could
// fill a disk, or its table of files with a million tiny ones.
constexpr std::uint64_t kMinOutputBudget = std::uint64_t{64} << 20;
constexpr std::uint64_t kOutputPerInputByte = 16;
constexpr std::uint64_t kMinOutputFiles = 16384;
constexpr std::uint64_t kInputBytesPerOutputFile = 32;

struct OutputLimits {
    std::uint64_t bytes = kMinOutputBudget;
    std::size_t files = kMinOutputFiles;
};

OutputLimits outputLimits(const std::string& path) {
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(pathFromUtf8(path), ec);
    if (ec) return {};
    const std::uint64_t files = std::max(kMinOutputFiles, size / kInputBytesPerOutputFile);
    return {
        std::max(kMinOutputBudget, std::min(size, UINT64_MAX / kOutputPerInputByte) * kOutputPerInputByte),
        static_cast<std::size_t>(std::min<std::uint64_t>(files, SIZE_MAX))};
}

// What one input has written so far, shared by the threads that write it:
// the disk its files take, in whole blocks.
class Budget {
public:
    Budget(std::uint64_t limit, std::uint64_t block)
        : limit_(limit), block_(std::max<std::uint64_t>(block, 1)) {}
    // What a file of `bytes` takes of the disk: at least one block.
    std::uint64_t onDisk(std::uint64_t bytes) const {
        return std::max<std::uint64_t>(1, bytes / block_ + (bytes % block_ != 0)) * block_;
    }
    // False, for good, once a file of `bytes` more would pass the limit.
    bool take(std::uint64_t bytes) {
        if (exceeded_) return false;
        const std::uint64_t taken = onDisk(bytes);
        if (used_.fetch_add(taken) + taken > limit_) exceeded_ = true;
        return !exceeded_;
    }
    bool exceeded() const { return exceeded_; }
    std::uint64_t limit() const { return limit_; }

private:
    std::uint64_t limit_;
    std::uint64_t block_;
    std::atomic<std::uint64_t> used_{0};
    std::atomic<bool> exceeded_{false};
};

struct Report {
    std::string text;
    bool ok = true;
    std::vector<std::filesystem::path> written;
};

// The PNGs of one input's planned files, each made once however many files
// hold it: groups may name one image thousands of times. Safe from the
// threads that write the input's files.
class Pngs {
public:
    Pngs(const Source& source, const std::vector<Output>& plan, const Options& options) : source_(source) {
        std::set<ImageKey> seen;
        for (const Output& output : plan) {
            const auto key = output.kind == Output::Kind::decoded ? keyOf(output.icon, output.image, 0)
                             : output.kind == Output::Kind::shown ? shownKey(output.icon, options.size)
                                                                  : std::nullopt;
            if (key && !seen.insert(*key).second) repeated_.insert(*key);
        }
    }

    // Stored image `image` of icon `icon` at its own size.
    std::optional<std::vector<std::uint8_t>> stored(std::size_t icon, std::size_t image) {
        return made(keyOf(icon, image, 0), [&]() -> std::optional<std::vector<std::uint8_t>> {
            const auto decoded = source_.decode(source_.icons[icon].images[image]);
            return decoded ? encodePng(*decoded) : std::nullopt;
        });
    }

    // Icon `icon` as shown at `size`. When its chosen image decodes, the
    // picture is made of that image alone, so icons sharing it share it.
    std::optional<std::vector<std::uint8_t>> shown(std::size_t icon, std::uint32_t size) {
        auto key = shownKey(icon, size);
        if (key && repeated_.contains(*key)) {
            const auto& images = source_.icons[icon].images;
            if (!source_.decode(images[bestImage(images, size)])) key.reset();
        }
        return made(key, [&]() -> std::optional<std::vector<std::uint8_t>> {
            if (const auto stored = storedPngShownAt(source_.icons[icon].images, size, source_.decodes))
                return std::vector<std::uint8_t>(
                    reinterpret_cast<const std::uint8_t*>(stored->data()),
                    reinterpret_cast<const std::uint8_t*>(stored->data()) + stored->size());
            const auto picture = source_.icons[icon].icon(size);
            return picture ? encodePng(*picture) : std::nullopt;
        });
    }

private:
    std::optional<ImageKey> keyOf(std::size_t icon, std::size_t image, std::uint32_t side) const {
        const IconImage& stored = source_.icons[icon].images[image];
        const auto offset = source_.offsetOf ? source_.offsetOf(stored) : std::nullopt;
        return offset ? std::optional(ImageKey{*offset, stored.data.size(), side}) : std::nullopt;
    }
    std::optional<ImageKey> shownKey(std::size_t icon, std::uint32_t size) const {
        const auto& images = source_.icons[icon].images;
        return images.empty() ? std::nullopt : keyOf(icon, bestImage(images, size), size);
    }
    std::optional<std::vector<std::uint8_t>> made(const std::optional<ImageKey>& key,
                                                  const MadeOnce<std::vector<std::uint8_t>>::Make& make) {
        if (!key || !repeated_.contains(*key)) return make();
        // Kept without a limit of its own: every kept PNG is also written,
        // within the input's output budget.
        const auto png = made_.get(*key, 1, make);
        return png ? std::optional(*png) : std::nullopt;
    }

    const Source& source_;
    std::set<ImageKey> repeated_;  // of more than one planned file
    MadeOnce<std::vector<std::uint8_t>> made_;
};

// The bytes of one planned file; nothing, with the reason on `report`, when
// they cannot be made.
std::optional<std::vector<std::uint8_t>> outputBytes(const std::string& path, Pngs& pngs,
                                                     const SourceIcon& icon, const Output& output,
                                                     const Options& options, std::ostream& report) {
    using Kind = Output::Kind;
    switch (output.kind) {
        case Kind::group:
            if (auto bytes = buildGroupFile(IconGroup{icon.name, icon.images})) return bytes;
            report << "pictrove-cli: " << path << ": icon " << output.icon;
            if (icon.images.empty()) {
                report << " has no stored images to write\n";
            } else if (std::any_of(icon.images.begin(), icon.images.end(), isDamagedBitmap)) {
                report << ": an image of it is damaged\n";
            } else {
                report << ": its images would pass " << (limits::kMaxGroupFileSize >> 20)
                       << " MiB, the most one group file may hold\n";
            }
            return std::nullopt;
        case Kind::storedPng: {
            // What follows the PNG stream in its resource is no part of it.
            const Bytes data = imageBytes(icon.images[output.image]);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
            return std::vector<std::uint8_t>(bytes, bytes + data.size());
        }
        case Kind::decoded: {
            if (auto png = pngs.stored(output.icon, output.image)) return png;
            const std::string& suffix = output.suffix;
            report << "pictrove-cli: " << path << ": image " << suffix.substr(0, suffix.size() - 4)
                   << " cannot be decoded" << undecodedBecause({icon.images[output.image]}) << "\n";
            return std::nullopt;
        }
        case Kind::shown:
        case Kind::iconFile:
        case Kind::bitmap: break;
    }
    const bool png = output.kind == Kind::shown;
    std::optional<std::vector<std::uint8_t>> bytes;
    if (output.kind == Kind::iconFile) {
        bytes = icon.fileImage();
    } else if (png) {
        bytes = pngs.shown(output.icon, options.size);
    } else if (const auto shown = icon.icon(kIconSize)) {
        bytes = encodeBitmapFile(prepareExportBitmap(*shown));
    }
    if (!bytes)
        report << "pictrove-cli: " << path << ": icon " << output.icon << " cannot be decoded"
               << undecodedBecause(icon.images) << "\n";
    return bytes;
}

// Writes the planned files of one icon.
Report extractIcon(const std::string& path, const Source& source, Pngs& pngs, std::span<const Output> outputs,
                   const OutputNames& names, const Options& options, Budget& budget) {
    Report result;
    std::ostringstream report;
    // With --all-sizes, the icon shown at its size is often a stored image
    // of just that size, which is then written a second time: it is
    // decoded and encoded once. Only for the icon engine's files, where the
    // picture shown is the stored image, unchanged, when it decodes.
    std::optional<std::size_t> shownIndex;
    std::optional<std::vector<std::uint8_t>> shownPng;
    if (options.allSizes && source.kind != "collection") {
        const std::vector<IconImage>& images = source.icons[outputs.front().icon].images;
        const std::size_t best = images.empty() ? 0 : bestImage(images, options.size);
        if (!images.empty() && !images[best].info.png && images[best].info.width == options.size &&
            images[best].info.height == options.size) {
            shownPng = pngs.stored(outputs.front().icon, best);
            if (shownPng) shownIndex = best;
        }
    }
    for (const Output& output : outputs) {
        if (budget.exceeded()) break;
        const SourceIcon& icon = source.icons[output.icon];
        const bool same = shownPng && (output.kind == Output::Kind::shown ||
                                       (output.kind == Output::Kind::decoded && output.image == shownIndex));
        const auto bytes = same ? shownPng : outputBytes(path, pngs, icon, output, options, report);
        if (!bytes) {
            result.ok = false;
            // The shown icon is what --ico and --bmp are made of too.
            if (output.kind == Output::Kind::shown || output.kind == Output::Kind::iconFile ||
                output.kind == Output::Kind::bitmap)
                break;
            continue;
        }
        if (!budget.take(bytes->size())) break;
        const auto target = names(output.suffix);
        if (writeFile(target, *bytes, report, {.filesOnly = true})) {
            result.written.push_back(target);
        } else {
            result.ok = false;
        }
    }
    result.text = report.str();
    return result;
}

void reportBudget(const std::string& path, const Budget& budget, std::ostream& err) {
    err << "pictrove-cli: " << path << ": its icons would take more than " << (budget.limit() >> 20)
        << " MiB, the most one file may write (64 MiB or 16 times its size); nothing written\n";
}

void reportFileLimit(const std::string& path, std::size_t files, std::ostream& err) {
    err << "pictrove-cli: " << path << ": its icons would make more than " << files
        << " files, the most one file may write (" << kMinOutputFiles << " or one per "
        << kInputBytesPerOutputFile << " bytes of it); nothing written\n";
}

// The stored images the planned files are made from: the image shown for
// a picture of the icon, or the images copied or converted.
std::vector<FileBytes> imagesUsed(const Source& source, const std::vector<Output>& plan,
                                  const Options& options) {
    using Kind = Output::Kind;
    std::vector<FileBytes> used;
    for (const Output& output : plan) {
        const std::vector<IconImage>& images = source.icons[output.icon].images;
        if (images.empty()) continue;
        switch (output.kind) {
            case Kind::shown:
            case Kind::iconFile:
            case Kind::bitmap: {
                const std::uint32_t side = output.kind == Kind::shown ? options.size : kIconSize;
                used.push_back(images[bestImage(images, side)].data);
                break;
            }
            case Kind::decoded:
            case Kind::storedPng: used.push_back(images[output.image].data); break;
            case Kind::group:
                for (const IconImage& image : images) used.push_back(image.data);
                break;
        }
    }
    return used;
}

// Writes the planned files, an icon at a time, spread over the cores when
// `parallel`, with the images they need read first, in one pass through the
// file (neighbours in one read; threads need not take turns at the file);
// false when something could not be written. An input whose
// files pass its budget after all leaves none behind.
bool extractFile(const InputFile& input, const Source& source, const std::vector<Output>& plan,
                 const OutputNames& names, const Options& options, Budget& budget, std::ostream& err,
                 bool parallel) {
    std::vector<std::span<const Output>> icons;
    for (std::size_t first = 0, last = 0; first < plan.size(); first = last) {
        while (last < plan.size() && plan[last].icon == plan[first].icon) ++last;
        icons.push_back(std::span(plan).subspan(first, last - first));
    }
    bool ok = true;
    std::vector<std::filesystem::path> written;
    Pngs pngs(source, plan, options);
    const std::vector<Report> reports = runAll<Report>(
        icons.size(),
        [&](std::size_t n) {
            return extractIcon(input.path, source, pngs, icons[n], names, options, budget);
        },
        parallel, [&] { readAhead(imagesUsed(source, plan, options)); });
    for (const Report& report : reports) {
        err << report.text;
        ok = report.ok && ok;
        written.insert(written.end(), report.written.begin(), report.written.end());
    }
    if (!budget.exceeded()) return ok;
    for (const auto& path : written) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    reportBudget(input.path, budget, err);
    return false;
}

// About how many pixels the plan decodes and encodes: the image each file
// is made from, and the picture it holds. Stored PNGs and whole groups are
// copied, which costs next to nothing.
std::uint64_t pixelWork(const Source& source, const std::vector<Output>& plan, const Options& options) {
    using Kind = Output::Kind;
    const auto pixels = [](const ImageInfo& info) { return std::uint64_t{info.width} * info.height; };
    std::uint64_t work = 0;
    for (const Output& output : plan) {
        const SourceIcon& icon = source.icons[output.icon];
        const std::uint32_t side = output.kind == Kind::shown ? options.size : kIconSize;
        switch (output.kind) {
            case Kind::shown:
            case Kind::iconFile:
            case Kind::bitmap: work += std::uint64_t{side} * side + pixels(shownImage(icon, side)); break;
            case Kind::decoded: work += 2 * pixels(icon.images[output.image].info); break;
            case Kind::group:
            case Kind::storedPng: break;
        }
    }
    return work;
}

// One input's files are made on several threads only from about this much
// work on, where starting them pays: 184 icons at 32 x 32 (about 370,000)
// took 0.8 of the time on the clock for 1.1 times the processor time, while
// 3 to 12 icons gained nothing.
constexpr std::uint64_t kThreadsFrom = 100'000;

// Writes the files -o asks for of one input: first the plan and the budget
// check, then its names, taken in input order, then the files.
bool writeOutputs(std::size_t n, const InputFile& input, const Source& source, const Options& options,
                  NameBook& book, bool parallel, std::ostream& messages) {
    std::vector<std::size_t> wanted;
    for (std::size_t i = 0; i < source.icons.size(); ++i) {
        if (!options.index || *options.index == i) wanted.push_back(i);
    }
    // Whole groups are measured before anything is written, which takes all
    // of their images: those are read first, in one pass through the file.
    if (options.groupIco) {
        std::vector<FileBytes> images;
        for (const std::size_t i : wanted) {
            for (const IconImage& image : source.icons[i].images) images.push_back(image.data);
        }
        readAhead(std::move(images));
    }
    // What is known before any work is checked before anything is written
    // or any name taken; the plan is not even made past the most files.
    const OutputLimits limits = outputLimits(source.redirectedTo.empty() ? input.path : source.redirectedTo);
    const auto planned = planOutputs(source, wanted, options, limits.files);
    if (!planned) {
        reportFileLimit(input.path, limits.files, messages);
        return false;
    }
    const std::vector<Output>& plan = *planned;
    Budget budget(limits.bytes, folderBlockSize(*options.outputDir));
    std::uint64_t known = 0;
    for (const Output& output : plan) known += budget.onDisk(output.size);
    if (known > budget.limit()) {
        reportBudget(input.path, budget, messages);
        return false;
    }
    OutputNames names(*options.outputDir, input.outputStem);
    const auto marker = book.take(n, input.outputStem, [&](const std::string& tried) {
        names.setMarker(tried);
        std::vector<std::string> all;
        for (const Output& output : plan) all.push_back(names.name(output.suffix));
        return all;
    });
    if (!marker) {
        messages << "pictrove-cli: " << input.path << ": no free output names left\n";
        return false;
    }
    names.setMarker(*marker);
    return extractFile(input, source, plan, names, options, budget, messages,
                       parallel && pixelWork(source, plan, options) >= kThreadsFrom);
}

// What reading one file gave: its output, its messages and whether all went well.
struct FileReport {
    std::size_t n = 0;  // the input's place in the run
    std::string path;
    std::string out;
    std::string err;
    bool ok = true;
    bool skipped = false;  // found in a folder, and no icon source
    nlohmann::ordered_json json;
};

using Visit = std::function<void(std::size_t, const InputFile&, const Source&, FileReport&)>;
using Failed = std::function<void(const InputFile&, const Error&, FileReport&)>;

// Reads every input as `inputs` finds it, several at a time, and hands the
// readable ones to `visit` and the others, after a message, to `failed`;
// `deliver` then sees the reports in input order as soon as each one's turn
// comes, so a tree's first files show while the rest is still being walked.
// `finished` hears of every input once its work is over, whatever it was.
// Returns the exit status.
int forEachSource(const Options& options, InputStream& inputs, std::ostream& err, const Visit& visit,
                  const Failed& failed, const std::function<void(FileReport&)>& deliver,
                  const std::function<void(std::size_t)>& finished = {}) {
    bool allOk = true;
    const GroupKind kind = options.cursors ? GroupKind::cursors : GroupKind::icons;
    Progress progress(options, err);
    struct Job {
        std::size_t n;
        InputFile input;
    };
    std::size_t count = 0;
    runStreamInOrder<Job, FileReport>(
        [&]() -> std::optional<Job> {
            auto input = inputs.next();
            if (!input) return std::nullopt;
            return Job{count++, std::move(*input)};
        },
        [&](Job& job) {
            FileReport report;
            const std::size_t n = job.n;
            const InputFile& input = job.input;
            const auto fail = [&](const Error& error) {
                report = FileReport{};
                report.err = "pictrove-cli: " + input.path + ": " + error.message + "\n";
                report.ok = false;
                if (failed) failed(input, error, report);
            };
            try {
                const auto source = openSource(input.path, options.collectionExtension, kind);
                if (source && input.found && source->kind == sourceKindName(SourceKind::none)) {
                    report.skipped = true;
                } else if (source) {
                    visit(n, input, *source, report);
                } else {
                    fail(source.error());
                }
            } catch (const ModuleError& error) {  // the file may be fine: this run cannot read it
                fail(Error{ErrorCode::readFailed, error.what()});
            }
            report.n = n;
            report.path = input.path;
            if (finished) finished(n);
            return report;
        },
        [&](FileReport& report) {
            if (!report.err.empty()) {
                progress.clear();
                err << report.err;
            }
            progress.step(report.n, report.path);
            if (!report.ok) allOk = false;
            if (!report.skipped) deliver(report);
        },
        // One named file is read on this thread, as it spreads its own work.
        options.recursive || options.files.size() > 1 ? workerCount(SIZE_MAX) : 1);
    return allOk && inputs.complete() ? 0 : 1;
}

int forEachSource(const Options& options, std::ostream& err, const Visit& visit, const Failed& failed,
                  const std::function<void(FileReport&)>& deliver) {
    InputStream inputs(options, err);
    return forEachSource(options, inputs, err, visit, failed, deliver);
}

// A pipe, a device, or a stream the shell opened (/dev/stdout, which links
// into /proc, whatever it is): what takes bytes under its own name.
bool namesStream(const std::filesystem::path& path) {
    std::error_code ec;
    const auto named = std::filesystem::status(path, ec);
    if (std::filesystem::exists(named) && !std::filesystem::is_regular_file(named) &&
        !std::filesystem::is_directory(named))
        return true;
#ifdef _WIN32
    return false;
#else
    const auto link = std::filesystem::read_symlink(path, ec);
    return !ec && link.native().starts_with("/proc/");
#endif
}

// A file whose icons are only its intact part: said after what was shown
// of it, and the run fails.
void noteDamage(const InputFile& input, const Source& source, FileReport& report) {
    if (source.damage.empty()) return;
    report.err += "pictrove-cli: " + input.path + ": " + source.damage + "\n";
    report.ok = false;
}

// "icon" or "cursor", as the options ask, and "s" after it unless `count` is 1.
std::string groupWord(const Options& options, std::size_t count) {
    return std::string(options.cursors ? "cursor" : "icon") + (count == 1 ? "" : "s");
}

}  // namespace

int list(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.json) {
        auto listing = nlohmann::ordered_json::array();
        const int status = forEachSource(
            options, err,
            [&](std::size_t, const InputFile& input, const Source& source, FileReport& report) {
                report.json = listJson(input.path, source, options.size);
                noteDamage(input, source, report);
                if (!source.damage.empty()) report.json["error"] = source.damage;
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
        [&](std::size_t, const InputFile& input, const Source& source, FileReport& report) {
            report.out = listText(input.path, source, options.size, groupWord(options, source.icons.size()));
            noteDamage(input, source, report);
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
        removeStaleTemporaries(*options.outputDir);
    }
    InputStream inputs(options, err);
    NameBook book(options.files.size(), options.outputDir && foldsLetterCase(*options.outputDir));
    // One file spreads its icons over the cores; many files go a file per core.
    const bool manyFiles = options.recursive || options.files.size() > 1;
    return forEachSource(
        options, inputs, err,
        [&](std::size_t n, const InputFile& input, const Source& source, FileReport& report) {
            std::ostringstream messages;
            bool ok = true;
            const std::size_t count = source.icons.size();
            // Libraries without icons are common in a folder tree; only a
            // file the user named is worth the remark.
            if (count == 0 && !input.found)
                messages << "pictrove-cli: " << input.path << ": no " << groupWord(options, 0) << "\n";
            if (options.index && *options.index >= count && !(count == 0 && input.found)) {
                messages << "pictrove-cli: " << input.path << ": no " << groupWord(options, 1) << " "
                         << *options.index << "\n";
                ok = false;
            }
            if (options.outputDir)
                ok = writeOutputs(n, input, source, options, book, !manyFiles, messages) && ok;
            if (options.collection) {
                const auto target = namesStream(*options.collection)
                                        ? *options.collection
                                        : pathFromUtf8(withDefaultExtension(utf8Of(*options.collection),
                                                                            options.collectionExtension));
                ok = writeCollection(source, target, messages) && ok;
            }
            if (source.decodeBudgetPassed()) {
                messages << "pictrove-cli: " << input.path << ": " << kDecodeBudgetPassed << "\n";
                ok = false;
            }
            report.err = messages.str();
            report.ok = ok;
            noteDamage(input, source, report);
        },
        {}, [](FileReport&) {}, [&](std::size_t n) { book.pass(n); });
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
