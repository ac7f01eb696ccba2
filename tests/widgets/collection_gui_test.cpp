// Saving the grid as an icon collection and opening collections again.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "browser/icon_image.h"
#include "browser/icon_picture.h"
#include "pe_builder.h"

using pictrove::TForm1;

namespace {

class SaveSeam : public pictrove::Seam {
public:
    std::deque<QString> answers;
    QStringList errors, titles, offered, folders, replaceQuestions;
    void errorBox(QWidget*, const QString&, const QString& message) override { errors << message; }
    std::optional<QString> saveFileName(QWidget*, const QString& title, const QString& filter,
                                        const QString& fileName, const QString& folder) override {
        titles << title + "|" + filter;
        offered << fileName;
        folders << folder;
        if (answers.empty()) return std::nullopt;
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool confirmReplace(QWidget*, const QString&, const QString& path) override {
        replaceQuestions << path;
        return false;
    }
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class CollectionGuiTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    SaveSeam seam_;
    std::unique_ptr<TForm1> form_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    QList<QByteArray> shownRecords() const {
        QList<QByteArray> records;
        for (pictrove::TIconPicture* picture : form_->iconPictures()) {
            const auto bytes = picture->record()->fileImage();
            records << QByteArray(reinterpret_cast<const char*>(bytes->data()),
                                  static_cast<qsizetype>(bytes->size()));
        }
        return records;
    }

private slots:
    void initTestCase() {
        pictrove::setSeam(&seam_);
        pictrove::testing::writeIconLibrary(path("lib25.dll").toStdString(), 25);
    }
    void cleanupTestCase() { pictrove::setSeam(nullptr); }
    void init() {
        seam_ = SaveSeam();
        form_ = std::make_unique<TForm1>(TForm1::Startup{PICTROVE_EXE, {PICTROVE_EXE, path("lib25.dll")}});
        form_->FormActivate();
        QCOMPARE(form_->IconCount, 25);
    }
    void cleanup() { form_.reset(); }

    void savesAndReopensTheGrid() {
        const QList<QByteArray> before = shownRecords();
        seam_.answers.push_back(path("Toolbar.ICS"));
        form_->SaveIconCollectionas1->trigger();
        QCOMPARE(seam_.titles, QStringList({"Save Icon Collection as ...|All files (*.*)|*.*"}));
        const QByteArray saved = contents(path("Toolbar.ICS"));
        QCOMPARE(saved.size(), 25 * 766 + 13);
        QCOMPARE(saved.right(13), QByteArray("Icons.ics    "));

        form_->LoadIcons(path("Toolbar.ICS"), true);
        QCOMPARE(form_->IconCount, 25);
        QCOMPARE(form_->windowTitle(), QString("Pictrove : Toolbar.ICS - 25 Icons"));
        QCOMPARE(shownRecords(), before);

        // Saving a loaded collection gives it back byte for byte; the last
        // name is offered again, in the folder of the last save (first, in
        // the file box's).
        QVERIFY(QDir(dir_.path()).mkdir("sub"));
        seam_.answers.push_back(path("sub/again.ics"));
        form_->SaveIconCollectionas1->trigger();
        QCOMPARE(seam_.offered.last(), path("Toolbar.ICS"));
        QCOMPARE(contents(path("sub/again.ics")), saved);
        QVERIFY(seam_.errors.isEmpty());
        form_->SaveIconCollectionas1->trigger();
        QCOMPARE(QDir(seam_.folders[0]).canonicalPath(), QDir(dir_.path()).canonicalPath());
        QCOMPARE(seam_.folders[1], dir_.path());
        QCOMPARE(seam_.folders[2], path("sub"));
    }

    // A collection's icons are built from their records when first drawn or
    // used: the commands get, before any paint, the icons the grid paints.
    void collectionIconsAreTheSameDrawnOrUsed() {
        seam_.answers.push_back(path("again.ics"));
        form_->SaveIconCollectionas1->trigger();
        form_->LoadIcons(path("again.ics"), true);
        const QImage painted = form_->displayArea()->grab().toImage();

        form_->LoadIcons(path("again.ics"), true);
        QCOMPARE(form_->IconCount, 25);
        for (const pictrove::TIconPicture* picture : form_->iconPictures()) {
            QCOMPARE(picture->size(), QSize(32, 32));
            const pictrove::Image* icon = picture->record()->icon();
            QVERIFY(icon);
            const QImage used = pictrove::renderIcon(*icon, form_->displayColor());
            QCOMPARE(painted.copy(picture->geometry()), used);
        }
    }

    void aNameWithoutExtensionGetsTheCollectionExtension() {
        seam_.answers = {path("set"), path("set")};
        form_->SaveIconCollectionas1->trigger();
        QVERIFY(!QFile::exists(path("set")));
        QCOMPARE(contents(path("set.ics")).right(13), QByteArray("Icons.ics    "));
        // The name the rule made is asked about before it replaces a file.
        QVERIFY(QFile::resize(path("set.ics"), 13));
        form_->SaveIconCollectionas1->trigger();
        QCOMPARE(seam_.replaceQuestions, QStringList({path("set.ics")}));
        QCOMPARE(contents(path("set.ics")).size(), 13);
    }

    void badRecordsAreSkippedWhereverTheyStand() {
        seam_.answers.push_back(path("bad.ics"));
        form_->SaveIconCollectionas1->trigger();
        QByteArray bytes = contents(path("bad.ics"));
        bytes[2] = 2;            // the first record
        bytes[2 * 766 + 2] = 2;  // and the third
        QFile file(path("bad.ics"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        form_->LoadIcons(path("bad.ics"), true);
        QCOMPARE(form_->IconCount, 23);
    }

    void shortFilesAndOtherTrailers() {
        QFile five(path("five.ics"));
        QVERIFY(five.open(QIODevice::WriteOnly));
        five.write("Icons");
        five.close();
        pictrove::guarded(form_.get(), [&] { form_->LoadIcons(path("five.ics"), true); });
        QCOMPARE(seam_.errors, QStringList({"Stream read error."}));
        QVERIFY(form_->iconPictures().empty());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        pictrove::guarded(form_.get(), [&] { form_->LoadIcons(path("none.ics"), true); });
        QCOMPARE(seam_.errors.last(), "Cannot open file " + path("none.ics") + ".");

        // A library renamed to the collection extension is still a library.
        QVERIFY(QFile::copy(path("lib25.dll"), path("lib.ics")));
        form_->LoadIcons(path("lib.ics"), true);
        QCOMPARE(form_->IconCount, 25);

        // The trailer alone: a collection without icons.
        QFile empty(path("empty.ics"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.write("Icons.ics    ");
        empty.close();
        form_->LoadIcons(path("empty.ics"), true);
        QCOMPARE(form_->IconCount, 0);
        QCOMPARE(form_->windowTitle(), QString("Pictrove : lib.ics - 25 Icons"));
    }

    void nothingToSaveWithoutIcons() {
        form_->LoadIcons(path("missing.dll"), true);
        form_->SaveIconCollectionas1->trigger();
        QVERIFY(seam_.titles.isEmpty());
    }
};

QTEST_MAIN(CollectionGuiTest)
#include "collection_gui_test.moc"
