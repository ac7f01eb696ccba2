#include "filebox/folder_watch.h"

#include <QFileInfo>
#include <QScrollBar>
#include <algorithm>

#include "filebox/file_box.h"
#include "filebox/file_rows.h"

namespace pictrove {

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        pendingSince_.invalidate();
        emit changed();
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { noteChange(); });
}

void FolderWatch::watch(const QString& folder) {
    const QString canonical = folder.isEmpty() ? QString() : QFileInfo(folder).absoluteFilePath();
    if (canonical == folder_) return;
    if (!folder_.isEmpty()) watcher_.removePath(folder_);
    folder_ = canonical;
    quiet_.stop();
    pendingSince_.invalidate();
    // A folder that cannot be watched is still listed; it just does not follow.
    if (!folder_.isEmpty()) watcher_.addPath(folder_);
}

void FolderWatch::noteChange() {
    if (!pendingSince_.isValid()) pendingSince_.start();
    // Every change restarts the quiet spell, but never past the longest wait
    // since the first change of the burst.
    const qint64 left = kLongestWaitMs - pendingSince_.elapsed();
    quiet_.start(static_cast<int>(std::clamp<qint64>(left, 0, kQuietMs)));
}

// Lists the folder again as it now stands, with the same entry selected and
// the list scrolled to the same place.
void TFileBox::followFolder() {
    const int selected = Selected();
    const QString selectedName = selected >= 0 ? rows_->row(selected).name : QString();
    const int scrolled = verticalScrollBar()->value();
    ReadDirectory();
    for (int row = 0; !selectedName.isEmpty() && row < Count(); ++row) {
        if (rows_->row(row).name != selectedName) continue;
        selectionModel()->setCurrentIndex(rows_->index(row, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        break;
    }
    verticalScrollBar()->setValue(scrolled);
}

}  // namespace pictrove
