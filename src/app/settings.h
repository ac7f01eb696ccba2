// The settings file beside the executable. TIniFile reads it key by key; the
// reading pass that applies it to the main window is TForm1::ReadSettings.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <string_view>

#include "settings_defaults.h"

namespace pictrove {

// A built-in value (UTF-8) as the window holds it.
inline QString builtInText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class TIniFile {
public:
    explicit TIniFile(QString fileName) : FileName(std::move(fileName)) {}

    // The value of [section] key, or `fallback` when the file, the section or
    // the key is missing. Every call reads the file again.
    QString ReadValue(const QString& section, const QString& key, const QString& fallback) const;
    // The value read as a number ("0x" taken for "$"), or `fallback` when it
    // is missing or does not convert.
    int ReadNumber(const QString& section, const QString& key, int fallback) const;

    const QString FileName;
};

// The configurator's file name: "tuneup" with the platform's executable
// suffix. The same name is looked for and started.
QString configuratorFileName();

// True for an existing plain file; a folder of that name does not count.
bool isExistingFile(const QString& path);

// A 32-bit colour value: 0x00BBGGRR, or 0x80000000 plus the index of a
// system colour, which comes from a fixed table (the classic Windows scheme)
// so the program looks the same on every desktop.
QColor colorFromValue(std::uint32_t value);

// The system colour of the desktop background, the display area's own.
inline constexpr std::uint32_t kDesktopColorValue = settings_defaults::kDisplayColor;

}  // namespace pictrove
