// The private folder a dragged icon's PNG waits in for the drop target. It
// lies in the temporary folder, named Pictrove-<process ID>-XXXXXX, and goes
// with the window, at a termination signal, or, should neither happen (a
// crash, a power cut), at the next start.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <map>
#include <memory>

#include "temporary_files.h"

namespace pictrove {

class DragFolder {
public:
    // Nothing when the folder cannot be made.
    static std::unique_ptr<DragFolder> make();
    // Where a file `name` goes in the folder; noted for removal at a signal.
    QString filePath(const QString& name);

private:
    DragFolder();

    QTemporaryDir folder_;
    TemporaryNote folderNote_;
    std::map<QString, TemporaryNote> fileNotes_;
};

// Removes the drag folders of this user whose process is gone.
void removeStaleDragFolders();

}  // namespace pictrove
