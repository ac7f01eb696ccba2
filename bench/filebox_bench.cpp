// How long the file box takes to list a large folder with icons and every
// column on, beside `ls -l` of the same folder in the same run, and beside a
// QTreeWidget that makes every row's texts and icon up front.
//
//   filebox_bench [COUNT...] [--runs N] [--keep DIR]
//
// Makes a folder of COUNT empty files (20000 and 100000 by default) with a
// mix of known and unknown extensions and a few sub-folders, and prints the
// median of N runs (5 by default) of each way of listing it. Run it on the
// offscreen platform, by hand; it is not a test.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileIconProvider>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "file_mask.h"
#include "filebox/file_box.h"
#include "filebox/folder_scan.h"
#include "paths.h"

using namespace pictrove;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

bool makeFolder(const QString& path, int count) {
    static const char* const extensions[] = {"txt", "dll",    "exe", "ico",  "png",
                                             "c",   "tar.gz", "xyz", "html", "bin"};
    if (!QDir().mkpath(path)) return false;
    for (int i = 0; i < count; ++i) {
        const QString name =
            QStringLiteral("file%1.%2").arg(i, 6, 10, QLatin1Char('0')).arg(extensions[i % 10]);
        QFile file(path + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly)) return false;
    }
    for (int i = 0; i < 20; ++i) QDir(path).mkdir(QStringLiteral("folder%1").arg(i));
    return true;
}

// What a list made the plain way costs: every row's four texts, its icon
// and its type looked up as it is added, one bulk insert, one sort.
int listIntoTreeWidget(const QString& folder, QTreeWidget& tree) {
    QMimeDatabase mime;
    QFileIconProvider icons;
    const QIcon fileIcon = icons.icon(QFileIconProvider::File);
    const QIcon folderIcon = icons.icon(QFileIconProvider::Folder);
    const QLocale locale;
    const std::vector<std::string> masks = {"*.*"};
    QList<QTreeWidgetItem*> items;
    scanFolder(folder, true, [&](const FolderEntry& entry) {
        if (!entry.isDirectory() && !matchesMask(masks, asciiLower(entry.name))) return;
        const QString name = QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(entry.modified);
        auto* item = new QTreeWidgetItem;
        if (entry.isDirectory()) {
            item->setText(0, QLatin1Char(' ') + name);
            item->setIcon(0, folderIcon);
            item->setText(1, QStringLiteral("0"));
        } else {
            item->setText(0, name);
            item->setIcon(0, fileIcon);
            item->setText(1, QString::number(entry.size));
            item->setText(2, mime.mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment());
        }
        item->setText(3, locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                             locale.toString(time.time(), QStringLiteral("HH:mm:ss")));
        items << item;
    });
    tree.clear();
    tree.addTopLevelItems(items);
    tree.sortItems(0, Qt::AscendingOrder);
    return tree.topLevelItemCount();
}

// Asks for everything a row shows, as scrolling through the whole list would.
void touchEveryCell(const QAbstractItemModel& model) {
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            model.data(index, Qt::DisplayRole);
            if (column == 0) model.data(index, Qt::DecorationRole);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    std::vector<int> counts;
    int runs = 5;
    QString keep;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--keep") && i + 1 < args.size()) {
            keep = args[++i];
        } else {
            counts.push_back(args[i].toInt());
        }
    }
    if (counts.empty()) counts = {20000, 100000};

    QTemporaryDir scratch;
    const QString base = keep.isEmpty() ? scratch.path() : keep;
    std::printf("%8s  %10s  %10s  %10s  %10s  %10s  %8s\n", "files", "ls -l", "box read", "box+paint",
                "box cells", "treewidget", "ratio");
    for (const int count : counts) {
        const QString folder = base + QStringLiteral("/n%1").arg(count);
        if (!QFileInfo::exists(folder) && !makeFolder(folder, count)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
            return 1;
        }
        TFileBox box;
        box.resize(430, 600);
        box.setViewOptions(TViewOptions(fbShowIcons | fbShowFolders | fbShowSize | fbShowType | fbShowTime));
        box.setDirectory(folder);  // warms the caches the desktop keeps anyway
        box.show();
        QTreeWidget tree;
        tree.setColumnCount(4);
        tree.setUniformRowHeights(true);

        std::vector<double> ls, read, paint, cells, widget;
        int rows = 0;
        for (int run = 0; run < runs; ++run) {
            ls.push_back(millisecondsOf([&] {
                QProcess process;
                process.setStandardOutputFile(QProcess::nullDevice());
                process.start(QStringLiteral("ls"), {QStringLiteral("-l"), folder});
                process.waitForFinished(-1);
            }));
            read.push_back(millisecondsOf([&] { box.ReadDirectory(); }));
            paint.push_back(millisecondsOf([&] {
                box.ReadDirectory();
                box.grab();
            }));
            cells.push_back(millisecondsOf([&] {
                box.ReadDirectory();
                touchEveryCell(*box.model());
            }));
            widget.push_back(millisecondsOf([&] { rows = listIntoTreeWidget(folder, tree); }));
        }
        if (box.FileCount() != count + 21 || rows != count + 20) {
            std::fprintf(stderr, "unexpected row counts %d and %d\n", box.FileCount(), rows);
            return 1;
        }
        const double lsMedian = median(ls);
        std::printf("%8d  %8.1fms  %8.1fms  %8.1fms  %8.1fms  %8.1fms  %7.2fx\n", count, lsMedian,
                    median(read), median(paint), median(cells), median(widget), median(paint) / lsMedian);
    }
    std::printf("median of %d runs; ratio = (box read + first paint) / ls -l\n", runs);
    return 0;
}
