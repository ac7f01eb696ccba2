// Reading one folder for the file box: every entry with the attributes the
// box filters on, taken in the order the system hands them out.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <limits>
#include <string_view>

namespace pictrove {

// Attribute bits of an entry, with the values the box's file types use.
//
// These are Windows file attributes; a POSIX file system has none of them,
// so they are read off what it does have:
// - hidden: the name starts with "." ("." and ".." themselves excepted);
// - read-only: the owner's write permission bit is off (what "chmod a-w" and
//   "chmod u-w" leave). Asking access() instead would call every file
//   writable for root;
// - archive: a regular file. Windows sets the bit on every file it writes and
//   hardly ever on folders, and a regular file is the nearest kind;
// - system: neither a regular file nor a folder: devices, pipes, sockets and
//   links that lead nowhere (or round in a loop);
// - directory: a folder, also through a symbolic link.
namespace entry_attr {
constexpr quint8 readOnly = 0x01;
constexpr quint8 hidden = 0x02;
constexpr quint8 system = 0x04;
constexpr quint8 directory = 0x10;
constexpr quint8 archive = 0x20;
}  // namespace entry_attr

struct FolderEntry {
    std::string_view name;  // the name's bytes as stored (UTF-8 on this system)
    quint8 attributes = 0;
    qint64 size = 0;                 // bytes; 0 for folders and for what cannot be asked
    qint64 modified = kUnknownTime;  // milliseconds since 1970 (UTC)

    static constexpr qint64 kUnknownTime = std::numeric_limits<qint64>::min();

    bool isDirectory() const { return attributes & entry_attr::directory; }
};

// Hands every entry of `folder` but "." and ".." to `each`. With `details`
// off, entries whose kind the folder itself tells (folders and regular files)
// carry only their directory, archive and hidden bits, no size and no time,
// which spares one status query per entry. Returns false when the
// folder cannot be read at all.
bool scanFolder(const QString& folder, bool details, const std::function<void(const FolderEntry&)>& each);

// The modification time of a path, or FolderEntry::kUnknownTime.
qint64 modificationTime(const QString& path);

}  // namespace pictrove
