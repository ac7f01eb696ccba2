// Files and folders dropped on the main window: a file shows its icons as a
// double-click in the file box would and points the box at its folder; a
// folder points the box at itself. Of several, the first counts; text and
// addresses that are no local file are refused.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "app/errors.h"
#include "app/form1.h"
#include "filebox/file_box.h"

namespace pictrove {
namespace {

// The first dropped entry that is an existing local file or folder; empty
// when the drop holds none.
QString droppedPath(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo::exists(path)) return path;
    }
    return {};
}

}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);  // an entering drag is a moving one
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedPath(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    guarded(this, [&] {
        const QFileInfo info(path);
        if (info.isDir()) {
            FileBox1->setDirectory(info.absoluteFilePath());
            return;
        }
        FileBox1->setDirectory(info.absolutePath());
        LoadIcons(path, true);
    });
}

}  // namespace pictrove
