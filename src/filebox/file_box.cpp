#include "filebox/file_box.h"

#include <QDir>
#include <QFileIconProvider>
#include <QHeaderView>

namespace pictrove {

TFileBox::TFileBox(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { itemActivated(item); });
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { selectionChanged(current); });
    setDirectory(QString());
}

void TFileBox::setDirectory(const QString& folder) {
    QString full = QDir::cleanPath(QDir(folder.isEmpty() ? QDir::currentPath() : folder).absolutePath());
    if (!full.endsWith(QDir::separator())) full += QDir::separator();
    if (full == directory_) return;
    directory_ = full;
    ReadDirectory();
    emit OnChangeDir();
}

void TFileBox::setFileMask(const QString& mask) {
    fileMask_ = mask;
    ReadDirectory();
}

void TFileBox::ReadDirectory() {
    static const QFileIconProvider icons;
    setUpdatesEnabled(false);
    clear();
    const QDir dir(directory_);
    QList<QTreeWidgetItem*> rows;
    if (!dir.isRoot()) {
        auto* up = new QTreeWidgetItem(QStringList{QStringLiteral(" ..")});
        up->setIcon(0, icons.icon(QFileIconProvider::Folder));
        rows.append(up);
    }
    for (const QFileInfo& info : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        auto* row = new QTreeWidgetItem(QStringList{QLatin1Char(' ') + info.fileName()});
        row->setIcon(0, icons.icon(QFileIconProvider::Folder));
        rows.append(row);
    }
    const QStringList filters = fileMask_.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QFileInfo& info : dir.entryInfoList(filters, QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        auto* row = new QTreeWidgetItem(QStringList{info.fileName()});
        row->setIcon(0, icons.icon(QFileIconProvider::File));
        rows.append(row);
    }
    addTopLevelItems(rows);
    fileCount_ = static_cast<int>(rows.size());
    setUpdatesEnabled(true);
}

void TFileBox::itemActivated(QTreeWidgetItem* item) {
    const QString caption = item->text(0);
    if (!caption.startsWith(QLatin1Char(' '))) {
        emit DblClick();
        return;
    }
    QDir dir(directory_);
    if (caption == QStringLiteral(" ..")) {
        dir.cdUp();
    } else {
        dir.cd(caption.mid(1));
    }
    setDirectory(dir.absolutePath());
}

void TFileBox::selectionChanged(QTreeWidgetItem* current) {
    if (current && !current->text(0).startsWith(QLatin1Char(' '))) fileName_ = directory_ + current->text(0);
}

}  // namespace pictrove
