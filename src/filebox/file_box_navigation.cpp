// The file box's navigation: double-clicks and their keys, the desktop's
// open action, and the full name of a row the column cuts short.
#include <QDesktopServices>
#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QToolTip>
#include <QUrl>

#include "filebox/file_box.h"
#include "filebox/file_rows.h"
#include "filebox/folder_text.h"

namespace pictrove {

using namespace folder_text;

void TFileBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) doubleClick();
}

// Enter does what a double-click does and Backspace goes up a folder, so the
// box can be used without a mouse.
void TFileBox::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (state() != EditingState && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        doubleClick();
    } else if (state() != EditingState && key == Qt::Key_Backspace) {
        goUp();
    } else {
        QTreeView::keyPressEvent(event);
    }
}

void TFileBox::doubleClick() {
    const int selected = Selected();
    if (selected < 0 || rows_->row(selected).caption.isEmpty()) {
        emit DblClick();
        return;
    }
    // Copies: entering a folder replaces the rows.
    const FileRow::Kind kind = rows_->row(selected).kind;
    const QString name = rows_->row(selected).name;
    if (kind != FileRow::Kind::File && viewOptions_.testFlag(fbChangeDir)) {
        if (isRoot(directory_) && kind == FileRow::Kind::Parent) {
            ShowDrives();
        } else if (directory_.isEmpty()) {
            setDirectory(addSlash(name));
        } else {
            setDirectory(addSlash(directory_) + name);
        }
        return;
    }
    if (viewOptions_.testFlag(fbOpenFile))
        openWithDesktop(addSlash(directory_) + name, removeSlash(directory_));
    emit DblClick();
}

void TFileBox::goUp() {
    if (directory_.isEmpty() || !viewOptions_.testFlag(fbChangeDir)) return;
    if (isRoot(directory_)) {
        ShowDrives();
    } else {
        setDirectory(addSlash(directory_) + QStringLiteral(".."));
    }
}

void TFileBox::openWithDesktop(const QString& path, const QString& workingFolder) {
    // Absolute, so that no name is ever taken for an option.
    const QString absolute = QFileInfo(path).absoluteFilePath();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The desktop's open action takes no working folder; xdg-open, which it
    // runs anyway, can be started in one.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty() && QProcess::startDetached(opener, {absolute}, workingFolder)) return;
#else
    Q_UNUSED(workingFolder);
#endif
    QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

QString TFileBox::cutCaption(const QPoint& at) const {
    const QModelIndex index = indexAt(at);
    if (!index.isValid()) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    const int needed = itemDelegateForIndex(index)->sizeHint(option, index).width();
    return needed > option.rect.width() ? index.data(Qt::DisplayRole).toString() : QString();
}

bool TFileBox::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString full = cutCaption(help->pos());
    if (full.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(help->globalPos(), full, viewport(), visualRect(indexAt(help->pos())));
    }
    return true;
}

}  // namespace pictrove
