// The main window driven as a user would: started with and without a file,
// loading files of known icon counts, moving the mouse over the grid.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "browser/icon_picture.h"
#include "filebox/file_box.h"
#include "pe_builder.h"

using pictrove::TForm1;
using pictrove::TIconPicture;

namespace {

// Answers message boxes without showing them.
class RecordingSeam : public pictrove::Seam {
public:
    void errorBox(QWidget*, const QString& title, const QString& message) override {
        errors << title + "|" + message;
    }
    void informationBox(QWidget*, const QString& title, const QString& message) override {
        information << title + "|" + message;
    }
    QStringList errors, information;
};

// Counts the icons placed when the display area is first painted with icons.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(const TForm1& form) : form_(form) { form.displayArea()->installEventFilter(this); }
    std::optional<std::size_t> placed;

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !placed && !form_.iconPictures().empty())
            placed = form_.iconPictures().size();
        return false;
    }

private:
    const TForm1& form_;
};

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    RecordingSeam seam_;

    QString library(int count) {
        const QString path = dir_.filePath(QString("lib%1.dll").arg(count));
        if (!QFile::exists(path))
            pictrove::testing::writeIconLibrary(path.toStdString(), static_cast<std::size_t>(count));
        return path;
    }

    // A window started as the program would be with this command line, shown
    // and activated.
    std::unique_ptr<TForm1> start(QStringList arguments, QString executable = PICTROVE_EXE) {
        arguments.prepend(executable);
        auto form = std::make_unique<TForm1>(TForm1::Startup{executable, arguments});
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()) || !form->Activated) form->FormActivate();
        return form;
    }

    // A mouse move over the display area, without a button, delivered at once.
    static void moveMouse(const TForm1& form, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, form.displayArea()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.displayArea(), &move);
    }

    static QPoint expectedPosition(int index) { return {8 + (index % 10) * 40, 8 + (index / 10) * 40}; }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        pictrove::setSeam(&seam_);
    }
    void cleanupTestCase() { pictrove::setSeam(nullptr); }
    void init() {
        seam_.errors.clear();
        seam_.information.clear();
    }

    void layoutIsFixed() {
        auto form = start({});
        QCOMPARE(form->size(), QSize(591, 264));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->ComboBox1->geometry(), QRect(6, 6, 145, 21));
        QCOMPARE(form->ComboBox1->view()->sizeHintForRow(0), 13);
        QCOMPARE(form->FileBox1->geometry(), QRect(6, 33, 145, 225));
        QCOMPARE(form->ScrollBox1->geometry(), QRect(156, 6, 428, 252));
        QCOMPARE(form->Bevel->size(), QSize(39, 39));
        QCOMPARE(form->Image1->geometry(), QRect(9, 51, 32, 32));
        QVERIFY(form->Image1->isHidden());
        QCOMPARE(form->ComboBox1->count(), 3);
        QCOMPARE(form->ComboBox1->itemText(1), QString("*.exe;*.dll;*.ocx;*.cpl;*.ico"));
        QCOMPARE(form->displayColor(), QColor(0x3A, 0x6E, 0xA5));
    }

    void menusHoldTheirItemsInOrder() {
        auto form = start({});
        QStringList captions;
        for (QAction* action : form->IconMenu->actions())
            captions << (action->isSeparator() ? "-" : action->text());
        QCOMPARE(captions,
                 QStringList({"&Copy Icon to clipboard", "Save Icon as *.&ICO ...", "Save Icon as *.&BMP ...",
                              "Save Ori&ginal Icon as ...", "Save Icon as *.&PNG ...", "Icon &Details ...",
                              "-", "Backgr&ound color ...", "&Website ...", "&E-mail ...", "&Help ...", "-",
                              "&About ..."}));
        QCOMPARE(form->Saveas1->statusTip(), QString("Save icon as ... icon"));
        QVERIFY(!form->Help1->isVisible());  // no help file beside the executable
        QVERIFY(form->Internet1->isVisible() && form->EMail1->isVisible());
        QCOMPARE(form->MainMenu->actions().size(), 2);
        QCOMPARE(form->SaveIconCollectionas1->text(), QString("&Save Icon Collection as ..."));
        // The build puts the configurator beside the program.
        QVERIFY(form->ConfigExtractor->isVisible());

        form->About1->trigger();
        QCOMPARE(seam_.information.size(), 1);
        QVERIFY(seam_.information.first().startsWith("Pictrove|Pictrove"));
    }

    void configuratorShownWhenPresent() {
        QTemporaryDir programDir;
        QFile tuneup(programDir.filePath("tuneup"));
        QVERIFY(tuneup.open(QIODevice::WriteOnly));
        tuneup.close();
        auto form = start({}, programDir.filePath("pictrove"));
        QVERIFY(form->ConfigExtractor->isVisible());
        QCOMPARE(form->ExecutableFolder, programDir.path() + "/");
        QCOMPARE(form->SettingsPath, programDir.filePath("pictrove.ini"));
        QCOMPARE(form->HelpFileName, programDir.filePath("pictrove.hlp"));
    }

    void startsWithOwnIconsAndPlainTitle() {
        auto form = start({});
        QCOMPARE(form->windowTitle(), QString("Pictrove"));
        QCOMPARE(form->IconCount, 1);
        QVERIFY(form->IconsShown);
        QVERIFY(form->Bevel->isVisible());
        QCOMPARE(form->Bevel->pos(), QPoint(5, 5));
        QVERIFY(form->SelectedIcon == nullptr);
        QCOMPARE(form->ComboBox1->currentText(), QString("*.ic?"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.ic?"));
        QVERIFY(form->Activated);
    }

    void startsWithFileInAnotherFolder() {
        auto form = start({library(25)});
        QCOMPARE(form->windowTitle(), QString("Pictrove : lib25.dll - 25 Icons"));
        QCOMPARE(form->FileBox1->Directory(), dir_.path());
        QCOMPARE(static_cast<int>(form->iconPictures().size()), 25);
        for (int i = 0; i < 25; ++i) {
            TIconPicture* picture = form->iconPictures()[static_cast<std::size_t>(i)];
            QCOMPARE(picture->pos(), expectedPosition(i));
            QCOMPARE(picture->size(), QSize(32, 32));
            QCOMPARE(picture->tag(), 999);
            QCOMPARE(form->displayArea()->pictureAt(picture->pos()), picture);
        }
        QCOMPARE(form->verticalScrollRange(), 3 * 40 + 8);
        QCOMPARE(form->GridColumn, 5);
        QCOMPARE(form->NextLeft, 8 + 5 * 40);
        QCOMPARE(form->NextTop, 8 + 2 * 40);
    }

    void startsWithBareFileName() {
        const QString path = library(10);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        auto form = start({"lib10.dll"});
        QDir::setCurrent(previous);
        // No folder part: Directory stays empty and the box lists the current directory.
        QVERIFY(form->FileBox1->Directory().isEmpty());
        QCOMPARE(form->IconCount, 10);
        QCOMPARE(form->windowTitle(), QString("Pictrove : lib10.dll - 10 Icons"));
        Q_UNUSED(path);
    }

    void startsWithAFolder() {
        auto form = start({dir_.path()});
        QCOMPARE(form->FileBox1->Directory(), dir_.path());
        QCOMPARE(form->windowTitle(), QString("Pictrove"));
        QVERIFY(form->iconPictures().empty());
        QVERIFY(seam_.errors.isEmpty());
    }

    void dropsFilesAndFolders() {
        QDir(dir_.path()).mkpath("dropped");
        const QString inner = dir_.filePath("dropped/lib7.dll");
        pictrove::testing::writeIconLibrary(inner.toStdString(), 7);
        const auto files = [](QStringList paths) {
            QList<QUrl> urls;
            for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
            return urls;
        };
        struct Case {
            const char* what;
            QList<QUrl> urls;
            QString text;
            bool accepted;
            int icons;
            QString folder;
        } cases[] = {
            {"one file", files({inner}), {}, true, 7, dir_.filePath("dropped")},
            {"a folder", files({dir_.filePath("dropped")}), {}, true, 10, dir_.filePath("dropped")},
            {"several files", files({library(11), inner}), {}, true, 11, dir_.path()},
            {"text", {}, "lib7.dll", false, 10, dir_.path()},
            {"an address", {QUrl("https://example.org/lib7.dll")}, {}, false, 10, dir_.path()},
            {"a missing file", files({dir_.filePath("gone.dll")}), {}, false, 10, dir_.path()},
        };
        for (const Case& c : cases) {
            auto form = start({library(10)});
            QMimeData data;
            if (!c.urls.isEmpty()) data.setUrls(c.urls);
            if (!c.text.isEmpty()) data.setText(c.text);
            const QPoint at = form->ScrollBox1->geometry().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(form.get(), &enter);
            QCOMPARE(enter.isAccepted(), c.accepted);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(form.get(), &drop);
            QVERIFY2(drop.isAccepted() == c.accepted, c.what);
            QVERIFY2(form->IconCount == c.icons, c.what);
            QVERIFY2(form->FileBox1->Directory() == c.folder, c.what);
        }
        QVERIFY(seam_.errors.isEmpty());
    }

    void systemLibraryShowsItsMunIcons() {
        auto form = start({QString(PICTROVE_TEST_DATA) + "/windows/System32/IMAGERES.DLL"});
        QCOMPARE(form->IconCount, 2);
        QCOMPARE(form->windowTitle(), QString("Pictrove : IMAGERES.DLL - 2 Icons"));
    }

    void gridGeometryFollowsTheCount_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("nextLeft");
        QTest::addColumn<int>("nextTop");
        QTest::newRow("one row") << 10 << 48 << 8 << 48;
        QTest::newRow("one more") << 11 << 88 << 48 << 48;
        QTest::newRow("shell32-sized") << 238 << 968 << 8 + 8 * 40 << 8 + 23 * 40;
    }
    void gridGeometryFollowsTheCount() {
        QFETCH(int, count);
        QFETCH(int, range);
        QFETCH(int, nextLeft);
        QFETCH(int, nextTop);
        auto form = start({library(count)});
        QCOMPARE(form->IconCount, count);
        QCOMPARE(form->verticalScrollRange(), range);
        QCOMPARE(form->NextLeft, nextLeft);
        QCOMPARE(form->NextTop, nextTop);
        QCOMPARE(form->iconPictures().back()->pos(), expectedPosition(count - 1));
        const int viewport = form->ScrollBox1->viewport()->height();
        QCOMPARE(form->ScrollBox1->verticalScrollBar()->maximum(), std::max(0, range - viewport));
        QCOMPARE(form->ScrollBox1->horizontalScrollBar()->maximum(), 0);
    }

    void fileWithoutIconsKeepsCaptionAndRange() {
        auto form = start({library(11)});
        QFile text(dir_.filePath("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("no icons here\n");
        text.close();
        form->LoadIcons(text.fileName(), true);
        QCOMPARE(form->windowTitle(), QString("Pictrove : lib11.dll - 11 Icons"));
        QVERIFY(form->iconPictures().empty());
        QVERIFY(!form->IconsShown);
        QVERIFY(form->Bevel->isHidden());
        QCOMPARE(form->Bevel->pos(), QPoint(5, 5));
        QCOMPARE(form->verticalScrollRange(), 88);

        form->LoadIcons(QString(), true);  // an empty name is no error either
        form->LoadIcons(dir_.filePath("missing.dll"), true);
        QVERIFY(seam_.errors.isEmpty());
    }

    void captionLeavesOutFileNameWhenAsked() {
        auto form = start({library(10)});
        form->ShowFileNames = false;
        form->LoadIcons(library(11), true);
        QCOMPARE(form->windowTitle(), QString("Pictrove : 11 Icons"));
        form->LoadIcons(library(10), false);
        QCOMPARE(form->windowTitle(), QString("Pictrove : 11 Icons"));
    }

    void loadingScrollsBackToTop() {
        auto form = start({library(238)});
        form->ScrollBox1->verticalScrollBar()->setValue(500);
        QCOMPARE(form->verticalScrollPosition(), 500);
        form->LoadIcons(library(238), true);
        QCOMPARE(form->verticalScrollPosition(), 0);
    }

    // The icon under the mouse, by the points of a grid of 25 where the
    // icons, the gaps between them and the places after the last meet.
    void mouseFindsTheIconUnderIt_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("icon");  // -1: none
        QTest::newRow("first, top left") << QPoint(8, 8) << 0;
        QTest::newRow("first, bottom right") << QPoint(39, 39) << 0;
        QTest::newRow("gap after the first") << QPoint(40, 8) << -1;
        QTest::newRow("end of that gap") << QPoint(47, 39) << -1;
        QTest::newRow("second, left edge") << QPoint(48, 20) << 1;
        QTest::newRow("gap below the first row") << QPoint(20, 40) << -1;
        QTest::newRow("second row, top left") << QPoint(8, 48) << 10;
        QTest::newRow("tenth, bottom right") << QPoint(399, 39) << 9;
        QTest::newRow("right of the tenth") << QPoint(400, 20) << -1;
        QTest::newRow("last, bottom right") << QPoint(199, 119) << 24;
        QTest::newRow("where a 26th would stand") << QPoint(208, 88) << -1;
        QTest::newRow("below the last row") << QPoint(8, 128) << -1;
        QTest::newRow("margin") << QPoint(7, 7) << -1;
    }
    void mouseFindsTheIconUnderIt() {
        QFETCH(QPoint, at);
        QFETCH(int, icon);
        auto form = start({library(25)});
        moveMouse(*form, at);
        if (icon < 0) {
            QVERIFY(form->SelectedIcon == nullptr);
            QCOMPARE(form->Bevel->pos(), QPoint(5, 5));
            return;
        }
        TIconPicture* picture = form->iconPictures()[static_cast<std::size_t>(icon)];
        QCOMPARE(form->SelectedIcon, picture);
        QCOMPARE(form->Bevel->pos(), expectedPosition(icon) - QPoint(3, 3));
    }

    void mouseSelectsAndFrames() {
        auto form = start({library(25)});
        TIconPicture* target = form->iconPictures()[13];
        QTest::mouseMove(form->displayArea(), target->pos() + QPoint(10, 10));
        QTRY_COMPARE(form->SelectedIcon, target);
        QCOMPARE(form->Bevel->pos(), target->pos() - QPoint(3, 3));
        QVERIFY(form->Bevel->isVisible());

        // Empty parts of the display area change nothing.
        QTest::mouseMove(form->displayArea(), QPoint(400, 200));
        QTest::qWait(20);
        QCOMPARE(form->SelectedIcon, target);

        // A new load forgets the selection.
        form->LoadIcons(library(10), true);
        QVERIFY(form->SelectedIcon == nullptr);
    }

    void iconMenuOpensOnIcons() {
        auto form = start({library(10)});
        const QPoint onPicture = form->iconPictures()[3]->pos() + QPoint(5, 5);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, onPicture,
                                     form->displayArea()->mapToGlobal(onPicture));
        QApplication::sendEvent(form->displayArea(), &rightClick);
        QTRY_VERIFY(form->IconMenu->isVisible());
        form->IconMenu->hide();

        QTest::mouseDClick(form->displayArea(), Qt::LeftButton, {}, onPicture);
        QTRY_VERIFY(form->IconMenu->isVisible());
        form->IconMenu->hide();
        QVERIFY(!form->MainMenu->isVisible());

        // Beside the icons the display area's own menu opens.
        const QPoint inGap = onPicture + QPoint(30, 0);
        QContextMenuEvent besideClick(QContextMenuEvent::Mouse, inGap,
                                      form->displayArea()->mapToGlobal(inGap));
        QApplication::sendEvent(form->displayArea(), &besideClick);
        QTRY_VERIFY(form->MainMenu->isVisible());
        form->MainMenu->hide();
        QVERIFY(!form->IconMenu->isVisible());
    }

    // A large file's pictures go with the next load, and nothing of them
    // stays under the mouse, in the scroll range or on screen.
    void nextLoadLeavesNothingOfALargeGrid() {
        auto form = start({library(238)});
        form->ScrollBox1->verticalScrollBar()->setValue(form->ScrollBox1->verticalScrollBar()->maximum());
        form->Image1MouseMove(form->iconPictures().back());
        const std::weak_ptr<pictrove::IconRecord> first = form->iconPictures().front()->record();
        const std::weak_ptr<pictrove::IconRecord> last = form->iconPictures().back()->record();

        form->LoadIcons(library(10), true);
        QCOMPARE(form->iconPictures().size(), std::size_t{10});
        QVERIFY(form->SelectedIcon == nullptr);
        QCOMPARE(form->verticalScrollPosition(), 0);
        QCOMPARE(form->ScrollBox1->verticalScrollBar()->maximum(), 0);
        const QPoint whereIcon15Stood = expectedPosition(15) + QPoint(4, 4);
        QCOMPARE(form->displayArea()->grab().toImage().pixel(whereIcon15Stood), form->displayColor().rgb());
        moveMouse(*form, whereIcon15Stood);
        QVERIFY(form->SelectedIcon == nullptr);
        QTRY_VERIFY(first.expired() && last.expired());
    }

    // What a scroll exposes is painted, rows cut by the edge included, each
    // icon in its colour and the gaps in the display area's.
    void paintsWhatAScrollExposes() {
        auto form = start({library(238)});
        const int scrolled = 500;  // cuts the row standing at 488
        form->ScrollBox1->verticalScrollBar()->setValue(scrolled);
        const QImage shown = form->ScrollBox1->viewport()->grab().toImage();
        const QRect visible(0, scrolled, shown.width(), shown.height());
        int checked = 0;
        for (std::size_t i = 0; i < form->iconPictures().size(); ++i) {
            const QRect inView = form->iconPictures()[i]->geometry().intersected(visible);
            if (inView.isEmpty()) continue;
            const QPoint at = inView.center() - QPoint(0, scrolled);
            QVERIFY2(shown.pixel(at) == pictrove::testing::iconColour(i), qPrintable(QString::number(i)));
            ++checked;
        }
        QCOMPARE(checked, 70);  // five whole rows and the two cut at the edges
        QCOMPARE(shown.pixel(QPoint(44, 512 - scrolled)), form->displayColor().rgb());
    }

    // The first screenful of a large file is painted as soon as it stands,
    // before the rest is read: also for the start file, whose activation
    // may come before the window can be painted.
    void firstScreenfulIsPaintedBeforeTheRest_data() {
        QTest::addColumn<bool>("startFile");
        QTest::newRow("a load") << false;
        QTest::newRow("the start file") << true;
    }
    void firstScreenfulIsPaintedBeforeTheRest() {
        QFETCH(bool, startFile);
        const QString file = library(238);
        std::unique_ptr<TForm1> form;
        std::unique_ptr<FirstPaint> firstPaint;
        if (startFile) {
            form = std::make_unique<TForm1>(TForm1::Startup{PICTROVE_EXE, {PICTROVE_EXE, file}});
            firstPaint = std::make_unique<FirstPaint>(*form);
            form->show();
            QTRY_VERIFY(form->Activated);
        } else {
            form = start({});
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            firstPaint = std::make_unique<FirstPaint>(*form);
            form->LoadIcons(file, true);
        }
        QCOMPARE(form->IconCount, 238);
        // The rows that reach into the display area, and no more.
        const int rows = (form->ScrollBox1->viewport()->height() - 8 + 39) / 40;
        QCOMPARE(firstPaint->placed, std::optional<std::size_t>(10 * rows));
    }

    void errorBoxAddsPeriodAndTitle() {
        auto form = start({});
        pictrove::guarded(form.get(), [] { throw pictrove::UserError("Cannot open file x.ics"); });
        pictrove::guarded(form.get(), [] { throw pictrove::UserError("Stream read error."); });
        QCOMPARE(seam_.errors,
                 QStringList({"Pictrove|Cannot open file x.ics.", "Pictrove|Stream read error."}));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    // Saves a picture of the window for a person to look at, when asked to.
    void screenshot() {
        const QString target = qEnvironmentVariable("PICTROVE_SCREENSHOT");
        if (target.isEmpty()) QSKIP("set PICTROVE_SCREENSHOT to a PNG path to save the window");
        const QString file = qEnvironmentVariable("PICTROVE_SCREENSHOT_FILE", library(238));
        auto form = start({file});
        if (form->iconPictures().empty()) QSKIP("the file holds no icons");
        const std::size_t framed = std::min<std::size_t>(12, form->iconPictures().size() - 1);
        QTest::mouseMove(form->displayArea(), form->iconPictures()[framed]->pos() + QPoint(4, 4));
        QTRY_VERIFY(form->SelectedIcon != nullptr);
        QVERIFY(form->grab().save(target));
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
