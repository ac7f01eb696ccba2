// The icon menu's commands on stored images, and dragging an icon out, each
// checked against what pictrove-cli writes for the same icon.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "browser/icon_image.h"
#include "browser/icon_picture.h"
#include "export/drag_folder.h"
#include "export/icon_details.h"
#include "export/icon_stamp.h"
#include "filebox/file_box.h"
#include "icon_source/icon_file.h"
#include "temporary_files.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

using pictrove::TForm1;

namespace {

class ScriptedSeam : public pictrove::Seam {
public:
    std::optional<QString> answer;
    std::uint32_t sizeAnswer = 0;  // 0: keep the size offered
    std::vector<std::uint32_t> sizesOffered;
    std::uint32_t sizeOffered = 0;
    QString filterShown;
    QString folderShown;
    QString nameShown;
    QStringList errors;
    bool replace = true;  // the answer to "already exists, replace it?"
    int replaceAsked = 0;

    bool confirmReplace(QWidget*, const QString&, const QString&) override {
        ++replaceAsked;
        return replace;
    }
    void errorBox(QWidget*, const QString&, const QString& message) override { errors << message; }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString& filter, const QString& name,
                                        const QString& folder) override {
        filterShown = filter;
        folderShown = folder;
        nameShown = name;
        return answer;
    }
    std::optional<SizedName> saveSizedFileName(QWidget*, const QString&, const QString& filter,
                                               const QString& name, const QString& folder,
                                               const std::vector<std::uint32_t>& sizes,
                                               std::uint32_t size) override {
        filterShown = filter;
        folderShown = folder;
        nameShown = name;
        sizesOffered = sizes;
        sizeOffered = size;
        if (!answer) return std::nullopt;
        return SizedName{*answer, sizeAnswer ? sizeAnswer : size};
    }
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kThree32 = QStringLiteral(PICTROVE_TEST_DATA "/pe/three32.dll");

// Icon 1 of three32.dll stores 16x16x4 32x32x8 32x32x32 48x48x32 256x256x32 (PNG).
const std::vector<pictrove::IconImage>& storedImages(const pictrove::IconFile& file) {
    static const std::vector<pictrove::IconImage> none;
    return file.count() > 1 ? file.group(1).images : none;
}

}  // namespace

class OriginalTest : public QObject {
    Q_OBJECT

private:
    ScriptedSeam seam_;

    // What `pictrove-cli extract` writes for one icon with `options`.
    static QByteArray fromCli(const QString& file, int index, const QStringList& options) {
        QTemporaryDir out;
        QProcess cli;
        cli.start(
            PICTROVE_CLI,
            QStringList{"extract", file, "-o", out.path(), "--index", QString::number(index)} + options);
        if (!cli.waitForFinished(30000) || cli.exitCode() != 0)
            return "cli failed: " + cli.readAllStandardError();
        const QStringList written = QDir(out.path()).entryList(QDir::Files);
        return written.size() == 1 ? contents(out.filePath(written.first())) : QByteArray("not one file");
    }

    static std::unique_ptr<TForm1> formOn(const QString& file) {
        auto form = std::make_unique<TForm1>(TForm1::Startup{PICTROVE_EXE, {PICTROVE_EXE, file}});
        form->FormActivate();
        return form;
    }

private slots:
    void initTestCase() { pictrove::setSeam(&seam_); }
    void cleanupTestCase() { pictrove::setSeam(nullptr); }

    void commandsWriteWhatTheCliWrites_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("command");
        QTest::addColumn<uint>("size");  // asked in the dialog; 0 keeps the offered one
        QTest::addColumn<QString>("written");
        QTest::addColumn<QStringList>("cliOptions");
        QTest::addColumn<uint>("offered");  // the size the dialog comes up with
        const QString data = PICTROVE_TEST_DATA;
        const QString dll = data + "/pe/three32.dll";
        // Icon 1 holds bitmaps of 16 to 48 px and a 256 px PNG; icon 0 one bitmap.
        const QStringList group{"--group-ico"};
        QTest::newRow("group with PNG") << dll << 1 << "SaveOriginal1" << 0u << "x.ico" << group << 0u;
        QTest::newRow("one image") << dll << 0 << "SaveOriginal1" << 0u << "x.ico" << group << 0u;
        QTest::newRow("cursor") << data + "/ico/cursor.cur" << 0 << "SaveOriginal1" << 0u << "x.cur" << group
                                << 0u;
        QTest::newRow("PNG at largest")
            << dll << 1 << "SavePng1" << 0u << "x.png" << QStringList{"--size", "256"} << 256u;
        QTest::newRow("PNG scaled") << dll << 1 << "SavePng1" << 20u << "x.png" << QStringList{"--size", "20"}
                                    << 256u;
        QTest::newRow("bitmap PNG") << data + "/ico/bpp4.ico" << 0 << "SavePng1" << 48u << "x.png"
                                    << QStringList{"--size", "48"} << 20u;
    }
    void commandsWriteWhatTheCliWrites() {
        QFETCH(QString, file);
        QFETCH(int, index);
        QFETCH(QString, command);
        QFETCH(uint, size);
        QFETCH(QString, written);
        QFETCH(QStringList, cliOptions);
        QFETCH(uint, offered);
        QTemporaryDir dir;
        auto form = formOn(file);
        form->Image1MouseMove(form->iconPictures().at(static_cast<std::size_t>(index)));
        seam_.errors.clear();
        seam_.answer = dir.filePath("x.chosen");  // the extension rule gives the right one
        seam_.sizeAnswer = size;
        form->findChild<QAction*>(command)->trigger();
        QCOMPARE(seam_.errors, QStringList());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
        QCOMPARE(contents(dir.filePath(written)), fromCli(file, index, cliOptions));
        // The dialog opens where the file list is, then where the last save
        // went, each time with no name filled in.
        QCOMPARE(seam_.folderShown, form->FileBox1->Directory());
        seam_.answer.reset();  // the second time, cancelled
        form->findChild<QAction*>(command)->trigger();
        QCOMPARE(seam_.folderShown, dir.path());
        QCOMPARE(seam_.nameShown, QString());
        if (command == "SavePng1") {
            // Offered: the usual sizes and the stored ones, each once and in
            // ascending order, the largest stored chosen.
            const auto& sizes = seam_.sizesOffered;
            QVERIFY(std::adjacent_find(sizes.begin(), sizes.end(), std::greater_equal<>()) == sizes.end());
            std::vector<std::uint32_t> expected{16, 20, 24, 32, 40, 48, 64, 96, 128, 256, offered};
            const auto icons = pictrove::IconFile::open(file.toStdString());
            for (const auto& image : icons->group(static_cast<std::size_t>(index)).images)
                expected.push_back(image.info.width);
            for (const std::uint32_t wanted : expected)
                QVERIFY2(std::find(sizes.begin(), sizes.end(), wanted) != sizes.end(),
                         qPrintable(QString::number(wanted)));
            QCOMPARE(seam_.sizeOffered, offered);
        }
        // A name the extension rule leads to a file there already: declined,
        // that file stays as it was.
        QFile old(dir.filePath(written));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        seam_.answer = dir.filePath("x.chosen");
        seam_.replace = false;
        seam_.replaceAsked = 0;
        form->findChild<QAction*>(command)->trigger();
        seam_.replace = true;
        QCOMPARE(seam_.replaceAsked, 1);
        QCOMPARE(contents(dir.filePath(written)), QByteArray("old"));
        QCOMPARE(seam_.errors, QStringList());
    }

    // A group's stamp tells every field of its directory apart: the name,
    // and each image's size, depth, kind, hot spot, place and length.
    void groupStampsTellEveryDirectoryField() {
        using pictrove::IconGroup;
        using pictrove::ResourceName;
        const auto bytes = pictrove::MappedFile::fromBuffer(std::vector<std::byte>(64));
        const pictrove::IconStamp file{std::make_shared<const pictrove::IconStamp::File>(), 0};
        const IconGroup base{ResourceName::number(1),
                             {{{16, 16, 4, false}, bytes.later(8, 16), std::nullopt}}};
        const std::vector<std::function<void(IconGroup&)>> changes{
            [](IconGroup& g) { g.name = ResourceName::number(2); },
            [](IconGroup& g) { g.name = ResourceName::text("A"); },
            [](IconGroup& g) { g.name = ResourceName::text("B"); },
            [](IconGroup& g) { g.name.reset(); },
            [](IconGroup& g) { g.images[0].info.width = 32; },
            [](IconGroup& g) { g.images[0].info.height = 32; },
            [](IconGroup& g) { g.images[0].info.bits = 8; },
            [](IconGroup& g) { g.images[0].info.png = true; },
            [](IconGroup& g) {
                g.images[0].hotSpot = pictrove::HotSpot{0, 0};
            },
            [](IconGroup& g) {
                g.images[0].hotSpot = pictrove::HotSpot{1, 0};
            },
            [&](IconGroup& g) { g.images[0].data = bytes.later(9, 16); },
            [&](IconGroup& g) { g.images[0].data = bytes.later(8, 17); },
            [](IconGroup& g) { g.images.push_back(g.images[0]); },
        };
        std::vector<std::uint64_t> seen{file.forGroup(base).directory};
        for (const auto& change : changes) {
            IconGroup changed = base;
            change(changed);
            seen.push_back(file.forGroup(changed).directory);
        }
        std::sort(seen.begin(), seen.end());
        QVERIFY(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
    }

    // A stored image that cannot be decoded is named so in the details
    // window, in the place of its picture.
    void detailsSayWhatCannotBeDecoded() {
        QTemporaryDir dir;
        // The last of multi.ico's five images is a PNG; the icon is shown from another.
        QByteArray bytes = contents(QString(PICTROVE_TEST_DATA) + "/ico/multi.ico");
        const qsizetype data = bytes.indexOf("IDAT");
        QVERIFY(data > 0);
        for (qsizetype i = data + 8; i < data + 64; ++i) bytes[i] = '\x55';
        const QString broken = dir.filePath("broken.ico");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        auto form = formOn(broken);
        form->Image1MouseMove(form->iconPictures().at(0));
        form->IconDetails1->trigger();
        auto* details = form->findChild<pictrove::IconDetails*>();
        QVERIFY(details);
        for (int i = 0; i < 5; ++i) {
            auto* picture = details->findChild<QLabel*>(QString("image%1").arg(i));
            QVERIFY(picture);
            QCOMPARE(picture->text(), i == 4 ? QString("(cannot be decoded)") : QString());
        }
    }

    // An icon passed over because the drawing of its picture was stopped
    // by its limits (a 1 KB SVG of ten to the ninth shapes) is no damage
    // to hide: the user is told why the file shows nothing.
    void aDrawingStoppedByItsLimitsIsToldNotHidden() {
        QTemporaryDir dir;
        const QString maker = QString(PICTROVE_TEST_DATA) + "/../../fuzz";
        const int made = QProcess::execute(
            "python3", {"-c",
                        "import sys; sys.path.insert(0, sys.argv[1]); import make_crafted_crashers as c; "
                        "c.svg_appimage(sys.argv[2], c.svg_fan_out())",
                        maker, dir.path()});
        if (made != 0) QSKIP("no mksquashfs to make an AppImage with");
        seam_.errors.clear();
        auto form = std::make_unique<TForm1>(
            TForm1::Startup{PICTROVE_EXE, {PICTROVE_EXE, dir.filePath("app.AppImage")}});
        pictrove::guarded(form.get(), [&] { form->FormActivate(); });
        QCOMPARE(form->iconPictures().size(), std::size_t{0});
        QCOMPARE(
            seam_.errors,
            QStringList{dir.filePath("app.AppImage") +
                        ": icon 0 cannot be decoded: reading and drawing its SVG pictures takes more than "
                        "1.5 s of processor time."});
    }

    // Each row of the details window saves and copies its own image.
    void detailsRowsHandOutTheirOwnImage() {
        QTemporaryDir dir;
        auto form = formOn(kThree32);
        form->Image1MouseMove(form->iconPictures().at(1));
        seam_.errors.clear();
        form->IconDetails1->trigger();
        auto* details = form->findChild<pictrove::IconDetails*>();
        QVERIFY(details);
        const auto file = pictrove::IconFile::open(kThree32.toStdString());
        const auto& images = storedImages(*file);
        QCOMPARE(images.size(), std::size_t{5});
        for (std::size_t row = 0; row < images.size(); ++row) {
            // Compared premultiplied: what a transparent pixel's colour was is not kept.
            const auto premultiplied = [](const QImage& image) {
                return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            };
            const QImage stored = premultiplied(pictrove::toQImage(*pictrove::decodeImage(images[row])));
            const QString name = dir.filePath(QString("row%1.png").arg(row));
            seam_.answer = name;
            details->findChild<QPushButton*>(QString("save%1").arg(row))->click();
            const QImage saved = QImage::fromData(contents(name));
            QCOMPARE(premultiplied(saved), stored);
            details->findChild<QPushButton*>(QString("copy%1").arg(row))->click();
            QCOMPARE(premultiplied(QGuiApplication::clipboard()->image()), stored);
        }
        QCOMPARE(seam_.errors, QStringList());
    }

    // The toolkit's dialog with the size box shown under the name, on the
    // size asked for; Enter takes the name and the size together.
    void theRealSizedDialog() {
        QTemporaryDir dir;
        pictrove::setSeam(nullptr);
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* box = dialog ? dialog->findChild<QComboBox*>("sizeBox") : nullptr;
            if (!box) return dialog ? dialog->reject() : void();
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            // The label before the box, on its row.
            const auto* label = dialog->findChild<QLabel*>("sizeLabel");
            const bool labelled = label && label->isVisible() && label->buddy() == box &&
                                  label->x() < box->x() &&
                                  std::abs(label->geometry().center().y() - box->geometry().center().y()) < 4;
            shown = QString("%1 %2 %3")
                        .arg(box->isVisible() && box->y() > name->y())
                        .arg(labelled)
                        .arg(box->currentText());
            box->setCurrentIndex(0);
            name->setText(dir.filePath("a.png"));
            QTest::keyClick(name, Qt::Key_Return);
        });
        pictrove::TSaveDialog saveDialog("Save", "PNG image (*.png)|*.png");
        const auto size = saveDialog.ExecuteSized(nullptr, {16, 48, 256}, 48);
        pictrove::setSeam(&seam_);
        QCOMPARE(shown, QString("1 1 48 x 48"));
        QCOMPARE(size, std::optional<std::uint32_t>(16));
        QCOMPARE(saveDialog.FileName, dir.filePath("a.png"));
    }

    // A file gone since it was shown: the error box, and nothing written.
    void vanishedFileShowsTheErrorBox() {
        QTemporaryDir dir;
        const QString copy = dir.filePath("gone.dll");
        QVERIFY(QFile::copy(QString(PICTROVE_TEST_DATA) + "/pe/three32.dll", copy));
        auto form = formOn(copy);
        form->Image1MouseMove(form->iconPictures().at(0));
        QVERIFY(QFile::remove(copy));
        seam_.errors.clear();
        seam_.answer = dir.filePath("x");
        for (QAction* action : {form->SaveOriginal1, form->SavePng1, form->IconDetails1}) action->trigger();
        QCOMPARE(seam_.errors, QStringList(3, "Icon image is not valid."));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    // Another file put in place of the one shown, of the same size and with
    // the same icon directory, only a pixel apart: every command gives the
    // error box and writes nothing, the details window opened before too.
    void replacedFileShowsTheErrorBox_data() {
        QTest::addColumn<QString>("command");
        for (const char* command : {"SaveOriginal1", "SavePng1", "IconDetails1", "drag", "details save"})
            QTest::newRow(command) << command;
    }
    void replacedFileShowsTheErrorBox() {
        QFETCH(QString, command);
        QTemporaryDir dir;
        const QString shown = dir.filePath("shown.dll");
        QVERIFY(QFile::copy(kThree32, shown));
        QByteArray other = contents(kThree32);
        const auto file = pictrove::IconFile::open(kThree32.toStdString());
        const auto& images = storedImages(*file);
        QCOMPARE(images.size(), std::size_t{5});
        other[qsizetype(*images[3].data.fileOffset() + 40 + 4 * 24)] ^= 0x5A;  // a 48 x 48 pixel
        QFile replacement(dir.filePath("other.dll"));
        QVERIFY(replacement.open(QIODevice::WriteOnly) && replacement.write(other) == other.size());
        replacement.close();

        auto form = formOn(shown);
        form->Image1MouseMove(form->iconPictures().at(1));
        seam_.errors.clear();
        seam_.answer = dir.filePath("x");
        seam_.sizeAnswer = 0;
        if (command == "details save") form->IconDetails1->trigger();
        QVERIFY(::rename(QFile::encodeName(replacement.fileName()), QFile::encodeName(shown)) == 0);
        if (command == "drag") {
            pictrove::guarded(form.get(), [&] { delete form->iconDragData(*form->SelectedIcon); });
        } else if (command == "details save") {
            form->findChild<pictrove::IconDetails*>()->findChild<QPushButton*>("save2")->click();
        } else {
            form->findChild<QAction*>(command)->trigger();
        }
        QCOMPARE(seam_.errors, QStringList("Icon image is not valid."));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList("shown.dll"));
        QVERIFY(!form->findChild<pictrove::IconDetails*>() || command == "details save");
    }

    void dragOffersFileAndData() {
        const QString dll = kThree32;
        auto form = formOn(dll);
        // Hovering alone never drags; a press on the picture and a move past
        // the drag distance does.
        pictrove::TIconPicture* picture = form->iconPictures().at(1);
        pictrove::IconArea* area = form->displayArea();
        QObject::disconnect(area, &pictrove::IconArea::dragStarted, nullptr, nullptr);
        QSignalSpy drags(area, &pictrove::IconArea::dragStarted);
        const auto send = [picture, area](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            at += picture->pos();
            QMouseEvent event(type, at, area->mapToGlobal(at),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(area, &event);
        };
        const QPoint far(2 + QApplication::startDragDistance(), 2);
        send(QEvent::MouseMove, far, Qt::NoButton);
        QCOMPARE(drags.size(), 0);
        send(QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton);
        send(QEvent::MouseMove, {2, 1}, Qt::LeftButton);
        QCOMPARE(drags.size(), 0);
        send(QEvent::MouseMove, far, Qt::LeftButton);
        QCOMPARE(drags.size(), 1);
        // One press, one drag: moving on with the button still down (the
        // drag over) starts no second one.
        send(QEvent::MouseMove, far * 2, Qt::LeftButton);
        QCOMPARE(drags.size(), 1);
        QCOMPARE(drags.first().first().value<pictrove::TIconPicture*>(), picture);
        // Until the button is let go the mouse belongs to the picture pressed,
        // even over the next one.
        const QPoint overNext(45, 2);
        send(QEvent::MouseMove, overNext, Qt::LeftButton);
        QCOMPARE(form->SelectedIcon, picture);
        send(QEvent::MouseButtonRelease, overNext, Qt::NoButton);
        send(QEvent::MouseMove, overNext, Qt::NoButton);
        QCOMPARE(form->SelectedIcon, form->iconPictures().at(2));

        std::unique_ptr<QDrag> drag(form->iconDrag(picture));
        QVERIFY(!drag->pixmap().isNull());
        const QMimeData* data = drag->mimeData();
        QVERIFY(data);
        QCOMPARE(data->urls().size(), 1);
        const QString path = data->urls().first().toLocalFile();
        QCOMPARE(QFileInfo(path).fileName(), QString("three32.dll_1.png"));
        // The largest stored image, the 256 px PNG, as it is stored.
        const QByteArray png = contents(path);
        QCOMPARE(data->data("image/png"), png);
        QCOMPARE(QImage::fromData(png).size(), QSize(256, 256));
        drag.reset();
        form.reset();
        QVERIFY(!QFile::exists(path));  // the private folder goes with the window
    }

#ifndef _WIN32
    // The drag folder goes at a termination signal too, as the program's
    // start arranges, and one left by a run that ended otherwise goes with the
    // next start; another running process's stays.
    void dragFolderGoesWithASignalOrTheNextStart() {
        QTemporaryDir temporary;
        const QByteArray oldTemporary = qgetenv("TMPDIR");
        qputenv("TMPDIR", temporary.path().toLocal8Bit());
        auto form = formOn(QString(PICTROVE_TEST_DATA) + "/pe/three32.dll");
        std::unique_ptr<QMimeData> data(form->iconDragData(*form->iconPictures().at(1)));
        const QString folder = QFileInfo(data->urls().first().toLocalFile()).path();
        QCOMPARE(QFileInfo(folder).path(), temporary.path());
        const auto endedBy = [](const std::function<void()>& work) {
            const pid_t child = fork();
            if (child == 0) {
                work();
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        };
        QCOMPARE(endedBy([] {
                     pictrove::removeTemporariesOnSignals();
                     ::raise(SIGTERM);
                 }),
                 SIGTERM);
        QVERIFY(!QFileInfo::exists(folder));

        const auto leftover = [&](qint64 pid) {
            const QString path = temporary.filePath(QString("Pictrove-%1-abc").arg(pid));
            QDir().mkpath(path + "/inner");
            QFile(path + "/inner/a.png").open(QIODevice::WriteOnly);
            return path;
        };
        const pid_t gone = fork();
        if (gone == 0) _exit(0);
        waitpid(gone, nullptr, 0);
        const QString ended = leftover(gone);
        const QString running = leftover(QCoreApplication::applicationPid());
        pictrove::removeStaleDragFolders();
        QVERIFY(!QFileInfo::exists(ended));
        QVERIFY(QFileInfo::exists(running + "/inner/a.png"));
        qputenv("TMPDIR", oldTemporary);
    }
#endif
};

QTEST_MAIN(OriginalTest)
#include "original_test.moc"
