// Keeps a file box in step with its folder: entries created, renamed or
// deleted by any program appear or vanish without the user asking, and a
// file written in place shows its new size and time. Changes arrive one per
// entry, so a burst (an archive of thousands of files being unpacked, a
// download growing) is gathered into one update: after a short quiet spell,
// or at the latest after a longer bound while the burst goes on.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class QSocketNotifier;

namespace pictrove {

class FolderWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kQuietMs = 150;
    static constexpr int kLongestWaitMs = 1000;

    explicit FolderWatch(QObject* parent = nullptr);
    ~FolderWatch() override;

    // Watches `folder` alone from now on; an empty name watches nothing.
    void watch(const QString& folder);
    QString folder() const { return folder_; }

    // What one change in the folder does: an entry came or went, or, with a
    // name, that file was written in place. Called by the watchers; tests
    // call it with a clock of their own to see the burst rule at work.
    void noteChange(const QString& writtenFile = QString());
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
    // Milliseconds until the pending update, or -1 when none is pending.
    int pendingDelay() const { return quiet_.isActive() ? quiet_.interval() : -1; }

signals:
    // Entries came or went; sent once for a burst of changes.
    void changed();
    // Only these files changed, each in place; sent once for a burst.
    void filesWritten(const QStringList& names);

private:
    void flush();
    void readWrites();

    QFileSystemWatcher watcher_;
    QTimer quiet_;
    QElapsedTimer running_;
    std::function<qint64()> clock_;
    qint64 firstChangeAt_ = -1;  // of the pending burst
    bool entriesChanged_ = false;
    QSet<QString> written_;
    QString folder_;
    // Writes to a file leave its folder as it is, so the folder watcher
    // misses them; the system's own notification names the file (Linux).
    int writesFd_ = -1;
    int writesWatch_ = -1;
    QSocketNotifier* writesNotifier_ = nullptr;
};

}  // namespace pictrove
