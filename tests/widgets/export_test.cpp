// The export commands of the icon menu, end to end, with the dialogs answered
// through the seam.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "browser/icon_picture.h"
#include "pe_builder.h"
#include "save_file.h"

using pictrove::TForm1;
using pictrove::TIconPicture;

namespace {

class ScriptedSeam : public pictrove::Seam {
public:
    struct SaveCall {
        QString title, filter, fileName, folder;
    };
    std::deque<std::optional<QString>> saveAnswers;
    std::optional<QColor> colourAnswer;
    bool replaceAnswer = false;
    QList<SaveCall> saveCalls;
    QStringList errors, replaceQuestions;
    QColor colourOffered;

    void errorBox(QWidget*, const QString&, const QString& message) override { errors << message; }
    void informationBox(QWidget*, const QString&, const QString&) override {}
    std::optional<QString> saveFileName(QWidget*, const QString& title, const QString& filter,
                                        const QString& fileName, const QString& folder) override {
        saveCalls.append({title, filter, fileName, folder});
        if (saveAnswers.empty()) return std::nullopt;
        auto answer = saveAnswers.front();
        saveAnswers.pop_front();
        return answer;
    }
    std::optional<QColor> chooseColor(QWidget*, const QColor& initial) override {
        colourOffered = initial;
        return colourAnswer;
    }
    bool confirmReplace(QWidget*, const QString&, const QString& path) override {
        replaceQuestions << path;
        return replaceAnswer;
    }
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dirHolder_;
    ScriptedSeam* seam_ = nullptr;
    std::unique_ptr<TForm1> form_;

    QString path(const QString& name) const { return dirHolder_->filePath(name); }

    // Selects icon `index` as the mouse would.
    TIconPicture* select(int index) {
        TIconPicture* picture = form_->iconPictures().at(static_cast<std::size_t>(index));
        form_->Image1MouseMove(picture);
        return picture;
    }

private slots:
    void init() {
        dirHolder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dirHolder_->isValid());
        seam_ = new ScriptedSeam;
        pictrove::setSeam(seam_);
        // Icon 0 solid red, icon 1 solid blue, icon 2 half green and half clear.
        const auto bytes = pictrove::testing::buildIconLibrary(
            {pictrove::testing::solidIconDib(0xFFFF0000), pictrove::testing::solidIconDib(0xFF0000FF),
             pictrove::testing::halfTransparentIconDib(0xFF00FF00)});
        std::ofstream(path("three.dll").toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        form_ = std::make_unique<TForm1>(TForm1::Startup{PICTROVE_EXE, {PICTROVE_EXE, path("three.dll")}});
        form_->FormActivate();
        QCOMPARE(form_->IconCount, 3);
    }
    void cleanup() {
        form_.reset();
        pictrove::setSeam(nullptr);
        delete seam_;
    }

    void savesIconFileUnderTheIcoName() {
        select(0);
        form_->SaveDialog1.FileName = "left over";
        QVERIFY(QDir(dirHolder_->path()).mkdir("sub"));
        seam_->saveAnswers.push_back(path("sub/a.png"));
        std::vector<std::filesystem::path> flushed;
        auto real = pictrove::detail::replaceSyncCall([&](auto, const std::filesystem::path& file) {
            flushed.push_back(file);
            return true;
        });
        form_->Saveas1->trigger();
        pictrove::detail::replaceSyncCall(std::move(real));
        // The saved icon reaches the disk before it takes its name, then its folder.
        QCOMPARE(flushed.size(), 2u);
        QCOMPARE(QString::fromStdString(flushed[1].string()), path("sub"));
        QCOMPARE(seam_->saveCalls.size(), 1);
        QCOMPARE(QDir(seam_->saveCalls[0].folder).canonicalPath(), QDir(dirHolder_->path()).canonicalPath());
        QCOMPARE(seam_->saveCalls[0].title, QString("Save Icon as ..."));
        QCOMPARE(seam_->saveCalls[0].filter, QString("Icon (*.ico)|*.ico"));
        QCOMPARE(seam_->saveCalls[0].fileName, QString());  // never proposes a name
        const QByteArray ico = contents(path("sub/a.ico"));
        QCOMPARE(ico.size(), 766);
        QCOMPARE(ico.left(22).toHex(), QByteArray("0000010001002020040000000000e802000016000000"));
        QVERIFY(!QFile::exists(path("sub/a.png")));
        QCOMPARE(form_->SaveDialog1.FileName, path("sub/a.ico"));
        QVERIFY(seam_->errors.isEmpty());

        // Saving the same picture again gives the same bytes; the dialog
        // opens where the last save went.
        seam_->saveAnswers.push_back(path("again"));
        form_->Saveas1->trigger();
        QCOMPARE(seam_->saveCalls[1].folder, path("sub"));
        QCOMPARE(contents(path("again.ico")), ico);
    }

    // The toolkit's dialog itself: an empty title stays empty, "*.*" shows
    // every file, and a folder that does not exist keeps the user in it.
    void theRealSaveDialog() {
        pictrove::setSeam(nullptr);
        QString title = "unset", warning;
        QStringList patterns;
        bool stayedOpen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            title = dialog->windowTitle();
            patterns = dialog->findChild<QFileSystemModel*>()->nameFilters();
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box) warning = box->text();
                if (box) box->accept();
            });
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText("/nosuchdir/x");
            QMetaObject::invokeMethod(dialog, "accept");
            stayedOpen = dialog->isVisible();
            dialog->reject();
        });
        form_->SaveDialog1.Title.clear();
        form_->SaveDialog1.Filter = "All files (*.*)|*.*";
        form_->SaveDialog1.InitialDir = dirHolder_->path();
        const bool accepted = form_->SaveDialog1.Execute(form_.get());
        pictrove::setSeam(seam_);
        QVERIFY(!accepted);
        QCOMPARE(title, QString());
        QCOMPARE(patterns, QStringList({"*"}));
        QVERIFY(stayedOpen);
        QVERIFY2(warning.contains("/nosuchdir"), qPrintable(warning));
    }

    void nothingHappensWithoutASelectionOrWhenCancelled() {
        QGuiApplication::clipboard()->setText("kept");
        form_->Copytoclipboard1->trigger();
        form_->Saveas1->trigger();
        form_->SaveIconasBMP1->trigger();
        QVERIFY(seam_->saveCalls.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("kept"));
        QVERIFY(!form_->exportBitmap().has_value());

        select(1);
        form_->Saveas1->trigger();  // cancelled: no answer queued
        form_->SaveIconasBMP1->trigger();
        QCOMPARE(seam_->saveCalls.size(), 2);
        QCOMPARE(seam_->saveCalls[1].filter, QString("Bitmap (*.bmp)|*.bmp"));
        QCOMPARE(QDir(dirHolder_->path()).entryList(QDir::Files), QStringList({"three.dll"}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("kept"));
    }

    void bitmapSavesShowOnlyTheirOwnIconOverWhite() {
        seam_->colourAnswer = QColor(Qt::magenta);
        form_->Setbackgroundcolor1->trigger();
        QCOMPARE(seam_->colourOffered, QColor(0x3A, 0x6E, 0xA5));
        QCOMPARE(form_->displayColor(), QColor(Qt::magenta));

        select(0);
        seam_->saveAnswers.push_back(path("red"));
        form_->SaveIconasBMP1->trigger();
        select(2);
        seam_->saveAnswers.push_back(path("green.bmp"));
        form_->SaveIconasBMP1->trigger();

        QCOMPARE(contents(path("red.bmp")).size(), 4150);
        const QImage red(path("red.bmp"));
        const QImage green(path("green.bmp"));
        QCOMPARE(red.size(), QSize(32, 32));
        QCOMPARE(red.pixel(20, 5), qRgb(255, 0, 0));
        QCOMPARE(green.pixel(5, 5), qRgb(0, 255, 0));
        QCOMPARE(green.pixel(20, 5), qRgb(255, 255, 255));  // white, not the display colour, not red
        QCOMPARE(contents(path("red.bmp")).mid(10, 4).toHex(), QByteArray("36000000"));  // pixels at 54
    }

    void copyPutsTheBitmapOnTheClipboard() {
        select(2);
        form_->Copytoclipboard1->trigger();
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), QSize(32, 32));
        QCOMPARE(copied.pixel(3, 3), qRgb(0, 255, 0));
        QCOMPARE(copied.pixel(30, 30), qRgb(255, 255, 255));
        QVERIFY(seam_->saveCalls.isEmpty());
    }

    void cancelledColourChangesNothing() {
        form_->Setbackgroundcolor1->trigger();
        QCOMPARE(form_->displayColor(), QColor(0x3A, 0x6E, 0xA5));
    }

    // Choosing "logo" while logo.ico exists would write over logo.ico, which
    // the dialog never asked about: the user is asked first.
    void asksBeforeReplacingTheFileTheRuleNames() {
        writeFile(path("logo.ico"), "precious");
        select(0);
        seam_->saveAnswers.push_back(path("logo"));
        form_->Saveas1->trigger();
        QCOMPARE(seam_->replaceQuestions, QStringList({path("logo.ico")}));
        QCOMPARE(contents(path("logo.ico")), QByteArray("precious"));

        seam_->replaceAnswer = true;
        seam_->saveAnswers.push_back(path("logo"));
        form_->Saveas1->trigger();
        QCOMPARE(contents(path("logo.ico")).size(), 766);

        // The name the dialog itself confirmed is not asked about again.
        seam_->saveAnswers.push_back(path("logo.ico"));
        form_->Saveas1->trigger();
        QCOMPARE(seam_->replaceQuestions.size(), 2);
    }

    void failedSavesKeepTheOldFile() {
        // Folder missing: the file cannot be created.
        select(0);
        seam_->saveAnswers.push_back(path("missing/x.ico"));
        form_->Saveas1->trigger();
        QCOMPARE(seam_->errors, QStringList({"Cannot create file " + path("missing/x.ico") + "."}));

        // A full disk: a small file system filled up.
        const QString mount = path("tiny");
        QDir().mkpath(mount);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mount}) != 0) {
            QSKIP("cannot mount a small file system here (needs root)");
        }
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mount}); });
        writeFile(mount + "/old.bmp", "the old bitmap");
        QFile filler(mount + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(1024, 'x')) == 1024 && filler.flush()) {
        }
        while (filler.write(QByteArray(1, 'x')) == 1 && filler.flush()) {
        }
        filler.close();
        seam_->errors.clear();
        seam_->replaceAnswer = true;
        seam_->saveAnswers.push_back(mount + "/old.bmp");
        form_->SaveIconasBMP1->trigger();
        QCOMPARE(seam_->errors, QStringList({"Stream write error."}));
        QCOMPARE(contents(mount + "/old.bmp"), QByteArray("the old bitmap"));
        QCOMPARE(QDir(mount).entryList(QDir::Files), QStringList({"filler", "old.bmp"}));
    }
};

QTEST_MAIN(ExportTest)
#include "export_test.moc"
