// File names on their way from Qt to the core, which takes paths as
// std::filesystem::path and, where it works on them as text, as UTF-8.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

namespace pictrove {

// The name as the core's text functions take it (the profile reader, the
// settings editor): UTF-8 on Windows, Qt's own encoding of file names elsewhere.
inline std::string coreFileName(const QString& name) {
#ifdef _WIN32
    return name.toStdString();
#else
    return QFile::encodeName(name).toStdString();
#endif
}

// The path the system knows the file by: built from UTF-16 on Windows, so
// that no name goes through the system's code page.
inline std::filesystem::path corePath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(coreFileName(name));
#endif
}

}  // namespace pictrove
