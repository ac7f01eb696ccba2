#include "filebox/folder_scan.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#endif

namespace pictrove {
namespace {

#ifdef Q_OS_UNIX

bool isDotOrDotDot(std::string_view name) {
    return name == "." || name == "..";
}

qint64 millisecondsOf(const struct timespec& time) {
    return static_cast<qint64>(time.tv_sec) * 1000 + time.tv_nsec / 1'000'000;
}

void fillFromStatus(FolderEntry& entry, const struct stat& status) {
    entry.attributes = static_cast<quint8>(entry.attributes & entry_attr::hidden);
    if (S_ISDIR(status.st_mode)) {
        entry.attributes |= entry_attr::directory;
    } else if (S_ISREG(status.st_mode)) {
        entry.attributes |= entry_attr::archive;
        entry.size = static_cast<qint64>(status.st_size);
    } else {
        entry.attributes |= entry_attr::system;
    }
    if (!(status.st_mode & S_IWUSR)) entry.attributes |= entry_attr::readOnly;
    entry.modified = millisecondsOf(status.st_mtim);
}

// Closes the folder however the scan is left.
struct FolderHandle {
    DIR* dir;
    ~FolderHandle() {
        if (dir) closedir(dir);
    }
};

#endif

}  // namespace

#ifdef Q_OS_UNIX

bool scanFolder(const QString& folder, bool details, const std::function<void(const FolderEntry&)>& each) {
    const QByteArray path = QFile::encodeName(folder);
    FolderHandle handle{opendir(path.constData())};
    if (!handle.dir) return false;
    const int fd = dirfd(handle.dir);
    while (const dirent* found = readdir(handle.dir)) {
        FolderEntry entry;
        entry.name = found->d_name;
        if (isDotOrDotDot(entry.name)) continue;
        if (entry.name.front() == '.') entry.attributes |= entry_attr::hidden;
        const bool knownKind = found->d_type == DT_DIR || found->d_type == DT_REG;
        if (!details && knownKind) {
            entry.attributes |= found->d_type == DT_DIR ? entry_attr::directory : entry_attr::archive;
            each(entry);
            continue;
        }
        // Follow links to learn what they lead to; a link that leads nowhere
        // (or round in a loop) is shown as itself.
        struct stat status {};
        if (fstatat(fd, found->d_name, &status, 0) == 0 ||
            fstatat(fd, found->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            fillFromStatus(entry, status);
            if (S_ISLNK(status.st_mode)) entry.size = 0;
        } else {
            // Gone since the folder was read, or not to be asked about.
            entry.attributes |= entry_attr::system;
        }
        each(entry);
    }
    return true;
}

qint64 modificationTime(const QString& path) {
    struct stat status {};
    if (stat(QFile::encodeName(path).constData(), &status) != 0) return FolderEntry::kUnknownTime;
    return millisecondsOf(status.st_mtim);
}

#else

bool scanFolder(const QString& folder, bool details, const std::function<void(const FolderEntry&)>& each) {
    Q_UNUSED(details);
    if (!QFileInfo(folder).isDir()) return false;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QByteArray name = info.fileName().toUtf8();
        FolderEntry entry;
        entry.name = std::string_view(name.constData(), static_cast<std::size_t>(name.size()));
        if (info.isHidden()) entry.attributes |= entry_attr::hidden;
        if (info.isDir()) {
            entry.attributes |= entry_attr::directory;
        } else if (info.isFile()) {
            entry.attributes |= entry_attr::archive;
            entry.size = info.size();
        } else {
            entry.attributes |= entry_attr::system;
        }
        if (!info.isWritable()) entry.attributes |= entry_attr::readOnly;
        const QDateTime modified = info.lastModified();
        if (modified.isValid()) entry.modified = modified.toMSecsSinceEpoch();
        each(entry);
    }
    return true;
}

qint64 modificationTime(const QString& path) {
    const QDateTime modified = QFileInfo(path).lastModified();
    return modified.isValid() ? modified.toMSecsSinceEpoch() : FolderEntry::kUnknownTime;
}

#endif

}  // namespace pictrove
