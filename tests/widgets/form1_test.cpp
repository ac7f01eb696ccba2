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
