#include "path_text.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <climits>
#endif

namespace pictrove {

#ifdef _WIN32
// The system's converters never throw: a broken sequence becomes U+FFFD.
std::filesystem::path pathFromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return std::filesystem::path(std::move(wide));
}

std::string utf8Of(const std::filesystem::path& path) {
    return utf8FromUtf16(path.native());
}

std::string utf8FromUtf16(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(wide.size(), INT_MAX));
    std::string text(static_cast<std::size_t>(
                         WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), static_cast<int>(text.size()), nullptr,
                        nullptr);
    return text;
}
#else
// Linux names are bytes and need not be UTF-8: they are kept unchanged.
std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::string(text));
}

std::string utf8Of(const std::filesystem::path& path) {
    return path.string();
}
#endif

}  // namespace pictrove
