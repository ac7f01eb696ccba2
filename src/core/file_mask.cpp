#include "file_mask.h"

#include "paths.h"

namespace pictrove {
namespace {

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Bytes of the character that starts at `at`. A byte that does not start a
// well-formed sequence counts as a character of its own, so a name in another
// encoding still steps forward one byte at a time.
std::size_t characterLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length > text.size() - at) return 1;
    for (std::size_t k = 1; k < length; ++k) {
        if (!isContinuationByte(static_cast<unsigned char>(text[at + k]))) return 1;
    }
    return length;
}

}  // namespace

SplitFileMask splitFileMask(std::string_view mask) {
    SplitFileMask split;
    std::string_view rest = mask;
    while (!rest.empty()) {
        std::string_view segment = rest;
        const std::size_t semicolon = rest.find(';');
        if (semicolon == std::string_view::npos) {
            rest = {};
        } else {
            segment = rest.substr(0, semicolon);
            rest = rest.substr(semicolon + 1);
        }
        split.folder = folderPart(segment);
        segment.remove_prefix(split.folder.size());
        split.segments.push_back(asciiLower(segment));
    }
    return split;
}

bool matchesMaskSegment(std::string_view segment, std::string_view name) {
    if (segment.empty()) return false;
    const std::size_t maskDot = segment.find('.');
    std::size_t i = 0;
    std::size_t j = 0;
    while (true) {
        if (segment[i] == '*') {
            if (maskDot == std::string_view::npos || i > maskDot) return true;
            const std::size_t nameDot = name.find('.');
            if (nameDot == std::string_view::npos) return false;
            i = maskDot;
            j = nameDot;
        }
        if (segment[i] == '?') {
            // Accepted even past the end of the name; inside it, the whole
            // character is taken.
            if (j < name.size()) j += characterLength(name, j) - 1;
        } else if (j >= name.size() || segment[i] != name[j]) {
            return false;
        }
        if (i + 1 == segment.size()) return j + 1 >= name.size();
        ++i;
        ++j;
    }
}

bool matchesMask(const std::vector<std::string>& segments, std::string_view name) {
    for (const std::string& segment : segments) {
        if (matchesMaskSegment(segment, name)) return true;
    }
    return false;
}

}  // namespace pictrove
