#include "paths.h"

#include <algorithm>

namespace pictrove {

bool isFolderSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

namespace {

std::size_t fileNameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (isFolderSeparator(path[i - 1])) return i;
    }
    return 0;
}

}  // namespace

std::string folderPart(std::string_view path) {
    return std::string(path.substr(0, fileNameStart(path)));
}

std::string fileNamePart(std::string_view path) {
    return std::string(path.substr(fileNameStart(path)));
}

std::string lowerExtension(std::string_view path) {
    const std::string_view name = path.substr(fileNameStart(path));
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : asciiLower(name.substr(dot));
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string replaceExtension(std::string_view path, std::string_view extension) {
    const std::size_t start = fileNameStart(path);
    const std::size_t dot = path.rfind('.');
    const std::size_t end = dot != std::string_view::npos && dot >= start ? dot : path.size();
    return std::string(path.substr(0, end)) + std::string(extension);
}

std::string withDefaultExtension(std::string_view path, std::string_view extension) {
    if (!lowerExtension(path).empty()) return std::string(path);
    return std::string(path) + std::string(extension);
}

std::string fitFileName(std::string_view stem, std::string_view suffix, std::size_t limit) {
    std::size_t keep = std::min(stem.size(), limit > suffix.size() ? limit - suffix.size() : 0);
    // A UTF-8 continuation byte (10xxxxxx) at the cut would split a character.
    if (keep < stem.size()) {
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
    }
    return std::string(stem.substr(0, keep)) + std::string(suffix);
}

std::string userConfigFolder(std::string_view configHome, std::string_view home) {
    if (configHome.starts_with('/')) return std::string(configHome);
    if (!home.starts_with('/')) return {};
    return std::string(home) + (home.ends_with('/') ? "" : "/") + ".config";
}

std::string withFinalPeriod(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
    return message;
}

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const auto isGap = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (true) {
        while (i < line.size() && isGap(line[i])) ++i;
        if (i >= line.size()) break;
        std::string arg;
        while (i < line.size() && !isGap(line[i])) {
            if (line[i] == '"') {
                ++i;
                while (i < line.size() && line[i] != '"') arg += line[i++];
                if (i < line.size()) ++i;  // the closing quote
            } else {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace pictrove
