// pictrove-cli thumbnail: the preview picture a file manager shows for a
// file, made from the file's first icon. File managers run it on every file
// a user browses past, so it answers quickly and writes nothing for a file
// without icons.
#include "cli/thumbnail.h"

#include <ostream>
#include <span>

#include "cli/numbers.h"
#include "engine/icon_picture.h"
#include "engine/sources.h"
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
    const auto png =
        source->icons.empty()
            ? Result<std::vector<std::uint8_t>>(Error{ErrorCode::invalidFormat, "no icon to show"})
            : iconPng(*source, source->icons.front(), request->size);
    if (!png) {
        // Nothing to show is the input's doing, a picture not encoded the output's.
        const bool input = png.error().code == ErrorCode::invalidFormat;
        err << (input ? request->input : request->output) << ": " << png.error().message << "\n";
        return 1;
    }
    return write(request->output, *png, err);
}

}  // namespace pictrove::cli
