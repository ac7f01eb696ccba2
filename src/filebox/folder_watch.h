// Keeps a file box in step with its folder: entries created, renamed or
// deleted by any program appear or vanish without the user asking. Changes
// arrive one per entry, so a burst (an archive of thousands of files being
// unpacked) is gathered into one re-listing: after a short quiet spell, or
// at the latest after a longer bound while the burst goes on.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

namespace pictrove {

class FolderWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kQuietMs = 150;
    static constexpr int kLongestWaitMs = 1000;

    explicit FolderWatch(QObject* parent = nullptr);

    // Watches `folder` alone from now on; an empty name watches nothing.
    void watch(const QString& folder);
    QString folder() const { return folder_; }

signals:
    // The folder changed; sent once for a burst of changes.
    void changed();

private:
    void noteChange();

    QFileSystemWatcher watcher_;
    QTimer quiet_;
    QElapsedTimer pendingSince_;
    QString folder_;
};

}  // namespace pictrove
