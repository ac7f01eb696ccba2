// pictrove-cli thumbnail: the preview picture a file manager shows for a
// file, made from the file's first icon. File managers run it on every file
// a user browses past, so it answers quickly and writes nothing for a file
// without icons.
#include "cli/thumbnail.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <span>
#include <utility>

#include "cli/numbers.h"
#include "engine/sources.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "image/png.h"
#include "image/scale.h"
#include "path_text.h"
#include "save_file.h"

namespace pictrove::cli {
namespace {

constexpr std::uint32_t kMinThumbnailSize = 8;
constexpr std::uint32_t kMaxThumbnailSize = 1024;
constexpr std::uint32_t kDefaultThumbnailSize = 256;

struct ThumbnailRequest {
    std::uint32_t size = kDefaultThumbnailSize;
    std::string input;
    std::string output;
};

std::optional<std::uint32_t> parseSize(const std::string& text) {
    const auto value = wholeNumber(text, kMinThumbnailSize, kMaxThumbnailSize);
    return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

// Nothing, with the reason in `problem`, when the arguments do not fit.
std::optional<ThumbnailRequest> parseRequest(const std::vector<std::string>& args, std::string& problem) {
    ThumbnailRequest request;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-s" || arg == "--size") {
            const auto size = i + 1 < args.size() ? parseSize(args[++i]) : std::nullopt;
            if (!size) {
                problem = arg + " needs a size from 8 to 1024";
                return std::nullopt;
            }
            request.size = *size;
        } else if (arg == "--") {
            names.insert(names.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return std::nullopt;
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 2) {
        problem = "thumbnail needs one INPUT and one OUTPUT.png";
        return std::nullopt;
    }
    request.input = names[0];
    request.output = names[1];
    return request;
}

// The picture for a thumbnail: the decoded image, and the stored PNG bytes
// when they can be written as they are.
struct Picture {
    std::shared_ptr<const Image> image;
    Bytes storedPng;
};

// A stored PNG of just the asked size in 8-bit RGBA, once it has decoded, is
// the thumbnail already: writing it as stored spares a second compression.
bool fitsAsStored(const IconImage& stored, const Image& decoded, std::uint32_t size) {
    constexpr std::size_t kBitDepth = 24, kColourType = 25;  // within the IHDR chunk
    const Bytes head = stored.data.head(kColourType + 1);
    return stored.info.png && decoded.width == size && decoded.height == size && head.size() > kColourType &&
           head[kBitDepth] == std::byte{8} && head[kColourType] == std::byte{6};
}

// The image the choice rule picks for `size`, decoded at its own size; the
// next best when it is damaged. Icons without stored images are drawn at
// the system icon size.
std::optional<Picture> bestPicture(const Source& source, const SourceIcon& icon, std::uint32_t size) {
    for (const std::size_t candidate : rankImages(icon.images, size)) {
        const IconImage& stored = icon.images[candidate];
        if (auto image = source.decode(stored)) {
            // What follows the PNG stream in its resource is no part of it.
            const Bytes png = fitsAsStored(stored, *image, size) ? imageBytes(stored) : Bytes{};
            return Picture{std::move(image), png};
        }
    }
    if (!icon.images.empty()) return std::nullopt;
    auto drawn = icon.icon(kIconSize);
    return drawn ? std::optional(Picture{std::make_shared<const Image>(std::move(*drawn)), {}})
                 : std::nullopt;
}

// The image fitted into size x size, keeping its aspect.
Image fitInto(const Image& image, std::uint32_t size) {
    if (std::max(image.width, image.height) == size) return image;
    const double scale = static_cast<double>(size) / std::max(image.width, image.height);
    const auto side = [&](std::uint32_t length) {
        return std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::lround(length * scale)), 1, size);
    };
    return scaleArea(image, side(image.width), side(image.height));
}

// An output file that exists already is the caller's placeholder, which
// thumbnail services create, hold open and read back through their own
// handle: it is written into, not replaced, and left empty when that fails.
int write(const std::string& target, std::span<const std::uint8_t> bytes, std::ostream& err) {
    if (const auto error = saveFile(pathFromUtf8(target), bytes, SaveOptions{.intoExisting = true})) {
        err << target << ": " << error->message << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int thumbnail(const std::vector<std::string>& args, const std::string& collectionExtension,
              std::ostream& err) {
    std::string problem;
    const auto request = parseRequest(args, problem);
    if (!request) {
        err << "pictrove-cli: " << problem << "\n"
            << "Usage: pictrove-cli thumbnail [-s SIZE] INPUT OUTPUT.png\n"
            << "Try 'pictrove-cli --help'.\n";
        return 2;
    }
    // Only the first icon is shown, so only the first group is read.
    const auto source = openSource(request->input, collectionExtension, GroupKind::icons, 1);
    if (!source) {
        err << request->input << ": " << source.error().message << "\n";
        return 1;
    }
    const auto picture =
        source->icons.empty() ? std::nullopt : bestPicture(*source, source->icons.front(), request->size);
    if (!picture || picture->image->empty()) {
        err << request->input << ": no icon to show\n";
        return 1;
    }
    if (const Bytes stored = picture->storedPng; !stored.empty()) {
        return write(request->output, {reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()},
                     err);
    }
    const auto png = encodePng(fitInto(*picture->image, request->size));
    if (!png) {
        err << request->output << ": the picture could not be encoded\n";
        return 1;
    }
    return write(request->output, *png, err);
}

}  // namespace pictrove::cli
