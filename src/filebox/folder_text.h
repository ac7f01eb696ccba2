// How the file box spells folders: the texts its listing and its navigation
// share.
#pragma once

#include <QChar>
#include <QString>

namespace pictrove::folder_text {

// Qt spells every path with "/", on Windows too.
inline constexpr QChar kSeparator = QLatin1Char('/');
inline constexpr QChar kBlank = QLatin1Char(' ');

inline QString addSlash(const QString& text) {
    return text.isEmpty() || text.endsWith(kSeparator) ? text : text + kSeparator;
}

// The root of a drive, which keeps its separator and whose parent row leads
// to the volume list. Without drive letters the one root "/" plays that part.
inline bool isRoot(const QString& path) {
#ifdef Q_OS_WIN
    return path.size() == 3 && path[1] == QLatin1Char(':') && path[2] == kSeparator;
#else
    return path == kSeparator;
#endif
}

inline QString removeSlash(const QString& text) {
    return text.endsWith(kSeparator) && !isRoot(text) ? text.chopped(1) : text;
}

}  // namespace pictrove::folder_text
