#include "filebox/folder_watch.h"

#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include "filebox/file_box.h"
#include "filebox/file_rows.h"
#include "filebox/folder_text.h"

namespace pictrove {

FolderWatch::FolderWatch(QObject* parent) : QObject(parent) {
    running_.start();
    clock_ = [this] { return running_.elapsed(); };
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &FolderWatch::flush);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { noteChange(); });
#ifdef Q_OS_LINUX
    writesFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (writesFd_ >= 0) {
        writesNotifier_ = new QSocketNotifier(writesFd_, QSocketNotifier::Read, this);
        connect(writesNotifier_, &QSocketNotifier::activated, this, &FolderWatch::readWrites);
    }
#endif
}

FolderWatch::~FolderWatch() {
#ifdef Q_OS_LINUX
    delete writesNotifier_;
    if (writesFd_ >= 0) ::close(writesFd_);
#endif
}

void FolderWatch::watch(const QString& folder) {
    const QString canonical = folder.isEmpty() ? QString() : QFileInfo(folder).absoluteFilePath();
    if (canonical == folder_) return;
    if (!folder_.isEmpty()) watcher_.removePath(folder_);
    folder_ = canonical;
    quiet_.stop();
    firstChangeAt_ = -1;
    entriesChanged_ = false;
    written_.clear();
#ifdef Q_OS_LINUX
    if (writesWatch_ >= 0) inotify_rm_watch(writesFd_, writesWatch_);
    writesWatch_ = -1;
    if (writesFd_ >= 0 && !folder_.isEmpty())
        writesWatch_ =
            inotify_add_watch(writesFd_, QFile::encodeName(folder_).constData(), IN_MODIFY | IN_ONLYDIR);
#endif
    // A folder that cannot be watched is still listed; it just does not follow.
    if (!folder_.isEmpty()) watcher_.addPath(folder_);
}

void FolderWatch::noteChange(const QString& writtenFile) {
    if (writtenFile.isEmpty()) {
        entriesChanged_ = true;
    } else {
        written_.insert(writtenFile);
    }
    const qint64 now = clock_();
    if (firstChangeAt_ < 0) firstChangeAt_ = now;
    // Every change restarts the quiet spell, but never past the longest wait
    // since the first change of the burst.
    const qint64 left = kLongestWaitMs - (now - firstChangeAt_);
    quiet_.start(static_cast<int>(std::clamp<qint64>(left, 0, kQuietMs)));
}

void FolderWatch::flush() {
    firstChangeAt_ = -1;
    const bool listing = entriesChanged_;
    const QStringList written(written_.begin(), written_.end());
    entriesChanged_ = false;
    written_.clear();
    // A new listing reads every file's size and time anyway.
    if (listing) {
        emit changed();
    } else if (!written.isEmpty()) {
        emit filesWritten(written);
    }
}

void FolderWatch::readWrites() {
#ifdef Q_OS_LINUX
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(writesFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Names were lost: only a new listing is sure to be right.
                noteChange();
            } else if (event->wd == writesWatch_ && event->len > 0 && !(event->mask & IN_ISDIR)) {
                noteChange(QFile::decodeName(event->name));
            }
        }
    }
#endif
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

void TFileBox::refreshWrittenFiles(const QStringList& names) {
    const QSet<QString> written(names.begin(), names.end());
    const QString folder = folder_text::addSlash(directory_.isEmpty() ? QStringLiteral(".") : directory_);
    for (int row = 0; row < Count(); ++row) {
        const FileRow& entry = rows_->row(row);
        if (entry.kind != FileRow::Kind::File || !written.contains(entry.name)) continue;
        const QFileInfo file(folder + entry.name);
        if (!file.exists()) continue;  // its removal brings a listing of its own
        rows_->refreshFile(row, file.size(), file.lastModified().toMSecsSinceEpoch());
    }
}

}  // namespace pictrove
