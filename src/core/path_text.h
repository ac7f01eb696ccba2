// File names as text. Everything the program says or is told about a file
// name is UTF-8 (on Linux: the name's bytes as they are); std::filesystem::path
// holds the platform's own form, UTF-16 on Windows. These two convert, so
// that no narrow string reaches a path through the system's code page.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pictrove {

std::filesystem::path pathFromUtf8(std::string_view text);

std::string utf8Of(const std::filesystem::path& path);

#ifdef _WIN32
// Any UTF-16 text (arguments, system messages) as UTF-8.
std::string utf8FromUtf16(std::wstring_view text);
#endif

}  // namespace pictrove
