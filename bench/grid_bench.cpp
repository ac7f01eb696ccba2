// Times the main window from start to icons shown, beside the engine alone on
// the same file, and measures what a large grid costs in memory and in
// responsiveness. Run: grid_bench [FILE...] (a synthetic 5,000-icon library,
// and a 10,000-icon library with its collection file are always added). Uses the offscreen platform unless
// QT_QPA_PLATFORM is set.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/form1.h"
#include "browser/icon_picture.h"
#include "collection_file.h"
#include "icon_source/icon_file.h"
#include "icon_writer.h"
#include "pe_builder.h"

namespace {

constexpr int kRuns = 7;

double medianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;  // 4 KiB pages
}

// The icons of the file without any window: the engine, or the collection
// reader for collection files.
std::size_t readIcons(const QString& file) {
    std::size_t shown = 0;
    if (file.endsWith(".ics")) {
        auto reader = pictrove::CollectionReader::open(file.toStdString(), ".ics");
        std::span<const std::uint8_t> record;
        while (reader && *reader && (*reader)->next(record))
            shown += pictrove::decodeRecordIcon(record).width != 0;
        return shown;
    }
    auto opened = pictrove::IconFile::open(file.toStdString());
    if (opened) {
        opened->readAhead(0, opened->count());
        for (std::size_t i = 0; i < opened->count(); ++i) shown += opened->icon(i).has_value();
    }
    return shown;
}

double engineMs(const QString& file) {
    std::vector<double> samples;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        readIcons(file);
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return medianMs(samples);
}

// A library of `count` icons and the collection the window would save of it.
QStringList syntheticFiles(const QTemporaryDir& dir, std::size_t count) {
    const QString library = dir.filePath(QString("synthetic-%1.dll").arg(count));
    pictrove::testing::writeIconLibrary(library.toStdString(), count);
    const QString collection = dir.filePath(QString("synthetic-%1.ics").arg(count));
    auto opened = pictrove::IconFile::open(library.toStdString());
    std::vector<std::vector<std::uint8_t>> records;
    for (std::size_t i = 0; opened && i < opened->count(); ++i)
        records.push_back(*pictrove::encodeIconFile(*opened->icon(i)));
    const std::vector<std::span<const std::uint8_t>> spans(records.begin(), records.end());
    const auto bytes = pictrove::buildCollection(spans, collection.toStdString());
    std::ofstream(collection.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return {library, collection};
}

void measure(const QString& file) {
    const QString exe = QCoreApplication::applicationFilePath();
    std::vector<double> startSamples, scrollSamples, hoverSamples;
    long gridKiB = 0;
    int icons = 0;
    for (int run = 0; run < kRuns; ++run) {
        const long before = residentKiB();
        QElapsedTimer timer;
        timer.start();
        pictrove::TForm1 form(pictrove::TForm1::Startup{exe, {exe, file}});
        form.show();
        form.FormActivate();
        QCoreApplication::processEvents();
        startSamples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        gridKiB = std::max(gridKiB, residentKiB() - before);
        icons = form.IconCount;

        // Scrolling to the end and drawing it, then selecting the last icon.
        timer.restart();
        form.ScrollBox1->verticalScrollBar()->setValue(form.ScrollBox1->verticalScrollBar()->maximum());
        form.ScrollBox1->viewport()->repaint();
        scrollSamples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (!form.iconPictures().empty()) {
            timer.restart();
            form.Image1MouseMove(form.iconPictures().back());
            form.ScrollBox1->viewport()->repaint();
            hoverSamples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
    }
    const double window = medianMs(startSamples);
    const double engine = engineMs(file);
    std::printf("%-40s icons %5d  window start-to-shown %8.1f ms  engine alone %8.1f ms  ratio %5.2f\n",
                qPrintable(QFileInfo(file).fileName()), icons, window, engine, window / engine);
    std::printf("%-40s grid memory %6ld KiB (%.2f KiB per icon)  scroll to end %6.2f ms  select %6.2f ms\n",
                "", gridKiB, icons ? static_cast<double>(gridKiB) / icons : 0.0, medianMs(scrollSamples),
                hoverSamples.empty() ? 0.0 : medianMs(hoverSamples));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList files = QCoreApplication::arguments().mid(1);
    files << syntheticFiles(dir, 5000).first() << syntheticFiles(dir, 10000);
    for (const QString& file : files) measure(file);
    return 0;
}
