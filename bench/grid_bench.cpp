// Times the main window from start to icons shown, beside the engine alone on
// the same file, and from start to the first screenful of icons painted;
// measures what a large grid costs in memory and in responsiveness, and what
// a large file costs the opening of the next one. Run: grid_bench [FILE...] (a synthetic 5,000-icon library,
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
#include <optional>
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

// Notes when the display area has first been painted with icons on it: the
// paint is delivered from here so that the time taken is that of its end.
class FirstPaint : public QObject {
public:
    FirstPaint(const pictrove::TForm1& form, const QElapsedTimer& timer) : form_(form), timer_(timer) {
        qApp->installEventFilter(this);
    }
    ~FirstPaint() override { qApp->removeEventFilter(this); }
    std::optional<double> ms;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (ms || delivering_ || event->type() != QEvent::Paint || form_.iconPictures().empty()) return false;
        if (watched != form_.displayArea() && watched->parent() != form_.displayArea()) return false;
        delivering_ = true;
        QCoreApplication::sendEvent(watched, event);
        delivering_ = false;
        ms = static_cast<double>(timer_.nsecsElapsed()) / 1e6;
        return true;
    }

private:
    const pictrove::TForm1& form_;
    const QElapsedTimer& timer_;
    bool delivering_ = false;
};

double engineRunMs(const QString& file) {
    QElapsedTimer timer;
    timer.start();
    readIcons(file);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
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
    // The engine runs beside each window run, so that both see the same load
    // of the machine.
    std::vector<double> startSamples, engineSamples, firstScreenSamples, scrollSamples, hoverSamples;
    long gridKiB = 0;
    int icons = 0;
    for (int run = 0; run < kRuns; ++run) {
        const long before = residentKiB();
        QElapsedTimer timer;
        timer.start();
        pictrove::TForm1 form(pictrove::TForm1::Startup{exe, {exe, file}});
        FirstPaint firstPaint(form, timer);
        // Shown and exposed before the activation, as the program starts.
        form.show();
        QCoreApplication::processEvents();
        form.FormActivate();
        QCoreApplication::processEvents();
        startSamples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (firstPaint.ms) firstScreenSamples.push_back(*firstPaint.ms);
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
        engineSamples.push_back(engineRunMs(file));
    }
    const double window = medianMs(startSamples);
    const double engine = medianMs(engineSamples);
    std::printf("%-40s icons %5d  window start-to-shown %8.1f ms  engine alone %8.1f ms  ratio %5.2f\n",
                qPrintable(QFileInfo(file).fileName()), icons, window, engine, window / engine);
    std::printf("%-40s first screenful shown %8.1f ms\n", "",
                firstScreenSamples.empty() ? 0.0 : medianMs(firstScreenSamples));
    std::printf("%-40s grid memory %6ld KiB (%.2f KiB per icon)  scroll to end %6.2f ms  select %6.2f ms\n",
                "", gridKiB, icons ? static_cast<double>(gridKiB) / icons : 0.0, medianMs(scrollSamples),
                hoverSamples.empty() ? 0.0 : medianMs(hoverSamples));
}

// Opening `file` in a window showing `previous`: the time until its icons
// are painted, and until the load and everything it left to do are over.
void measureOpenAfter(const QString& previous, const QString& file, const char* what) {
    const QString exe = QCoreApplication::applicationFilePath();
    std::vector<double> shownSamples, doneSamples;
    for (int run = 0; run < kRuns; ++run) {
        pictrove::TForm1 form(pictrove::TForm1::Startup{exe, {exe, previous}});
        form.show();
        form.FormActivate();
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        FirstPaint firstPaint(form, timer);
        form.LoadIcons(file, true);
        QCoreApplication::processEvents();
        doneSamples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (firstPaint.ms) shownSamples.push_back(*firstPaint.ms);
    }
    std::printf("%-40s opening %s after %s: shown %6.2f ms  done %6.2f ms\n", "",
                qPrintable(QFileInfo(file).fileName()), what,
                shownSamples.empty() ? 0.0 : medianMs(shownSamples), medianMs(doneSamples));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList files = QCoreApplication::arguments().mid(1);
    files << syntheticFiles(dir, 5000).first() << syntheticFiles(dir, 10000);
    for (const QString& file : files) measure(file);
    const QString small = dir.filePath("synthetic-25.dll");
    pictrove::testing::writeIconLibrary(small.toStdString(), 25);
    const QString big = files.at(files.size() - 2);
    const QString scrolling = dir.filePath("synthetic-238.dll");
    pictrove::testing::writeIconLibrary(scrolling.toStdString(), 238);
    measureOpenAfter(small, small, "a 25-icon file");
    // The scroll bar goes as it goes after the large file, with little to clear.
    measureOpenAfter(scrolling, small, "a 238-icon file");
    measureOpenAfter(big, small, "the 10000-icon library");
    return 0;
}
