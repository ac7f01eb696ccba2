// The small text rules that the profile reader and writer share, so that both
// agree on what a blank, a line end and a matching name are.
#pragma once

#include <cstddef>
#include <string_view>

namespace pictrove::profile_text {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

inline bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

inline std::string_view trimLeft(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) ++start;
    return text.substr(start);
}

inline std::string_view trimRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    return text.substr(0, end);
}

inline std::string_view trim(std::string_view text) {
    return trimRight(trimLeft(text));
}

inline char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Section and key names match without regard to ASCII letter case.
inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace pictrove::profile_text
