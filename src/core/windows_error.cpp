#include "windows_error.h"

#ifdef _WIN32
#include <windows.h>

#include "path_text.h"

namespace pictrove {

std::string windowsErrorText(unsigned long code) {
    wchar_t text[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    if (message.empty()) return "error " + std::to_string(code);
    return utf8FromUtf16(message);
}

}  // namespace pictrove
#endif
