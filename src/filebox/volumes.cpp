#include "filebox/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace pictrove {

QStringList volumeRoots() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        // A container may mount single files (its hosts file, say); only
        // folders lead anywhere.
        const QString root = volume.rootPath();
        if (!roots.contains(root) && QFileInfo(root).isDir()) roots << root;
    }
    const QString systemRoot = QDir::rootPath();
    if (!roots.contains(systemRoot)) roots.prepend(systemRoot);
    return roots;
}

}  // namespace pictrove
