// The real window started beside a settings file: every key's effect, what a
// later pass (after the configurator) keeps and what it takes anew, the mask
// selector under keyboard and mouse, and what the links, help, About, F1 and
// the configurator hand to the desktop.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "app/settings.h"
#include "filebox/file_box.h"
#include "pe_builder.h"
#include "read_only_folder.h"

using pictrove::TForm1;

namespace {

// Keeps a record of everything the window would show or hand to the desktop.
class RecordingSeam : public pictrove::Seam {
public:
    void errorBox(QWidget*, const QString& title, const QString& message) override {
        log << "error:" + title + "|" + message;
    }
    void informationBox(QWidget*, const QString& title, const QString& message) override {
        log << "about:" + title + "|" + message;
    }
    void openDocument(QWidget*, const QString& target) override { log << "open:" + target; }
    void startProgram(QWidget*, const QString& program, const QStringList& arguments) override {
        log << "start:" + program + "|" + arguments.join('|');
    }
    void showHelpContents(QWidget*, const QString& helpFile) override { log << "help:" + helpFile; }
    QStringList log;
};

// Records the key presses that reach a control itself.
class KeySpy : public QObject {
public:
    QList<int> pressed;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) pressed << static_cast<QKeyEvent*>(event)->key();
        return false;
    }
};

const QColor kDesktop(0x3A, 0x6E, 0xA5);
// Captions with a settings file that names none: the later keys keep their
// built-in captions, the first eight give way to their numbers.
const QStringList kNumbered = {
    "1", "2", "3", "Save Ori&ginal Icon as ...", "Save Icon as *.&PNG ...", "Icon &Details ...", "4", "5",
    "6", "7", "8"};
const QString kBuiltInMasks = "*.ic?|*.exe;*.dll;*.ocx;*.cpl;*.ico|*.*";

QString items(const QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts.join('|');
}

QStringList captions(const TForm1& form) {
    QStringList texts;
    for (QAction* action : form.IconMenu->actions())
        if (!action->isSeparator()) texts << action->text();
    return texts;
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    RecordingSeam seam_;
    QString programFolder_;  // where the program and its files are
    QString config_;         // the user's folder for settings

    QString exe() const { return programFolder_ + "/pictrove"; }
    QString ini() const { return programFolder_ + "/pictrove.ini"; }
    QString ownIni() const { return config_ + "/pictrove/pictrove.ini"; }

    void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    void writeIni(const QByteArray& text) { writeFile(ini(), text); }

    QString library(int count) {
        const QString path = dir_->filePath(QString("lib%1.dll").arg(count));
        if (!QFile::exists(path))
            pictrove::testing::writeIconLibrary(path.toStdString(), static_cast<std::size_t>(count));
        return path;
    }

    std::unique_ptr<TForm1> start(QStringList arguments = {}) {
        arguments.prepend(exe());
        auto form = std::make_unique<TForm1>(TForm1::Startup{exe(), arguments});
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()) || !form->Activated) form->FormActivate();
        return form;
    }

    // What the user does to come back from the configurator: the program
    // becomes the active application again.
    static void comeBack() { emit qApp->applicationStateChanged(Qt::ApplicationActive); }

    static void pressF1(QWidget* target, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(target, Qt::Key_F1, modifiers);
    }

    // A pick from the open list with the mouse.
    static void pickWithMouse(QComboBox* box, int row) {
        box->showPopup();
        QAbstractItemView* view = box->view();
        QTRY_VERIFY(view->isVisible());
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_VERIFY(!view->isVisible());
    }

private slots:
    void initTestCase() { pictrove::setSeam(&seam_); }
    void cleanupTestCase() { pictrove::setSeam(nullptr); }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        programFolder_ = dir_->path();
        // Never the real user's settings.
        config_ = dir_->filePath("config");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_));
        seam_.log.clear();
        pictrove::setApplicationTitle("Pictrove");
    }

    void withoutSettingsFileTheBuiltInsStand() {
        auto form = start();
        QCOMPARE(form->windowTitle(), QString("Pictrove"));
        QCOMPARE(
            captions(*form),
            QStringList({"&Copy Icon to clipboard", "Save Icon as *.&ICO ...", "Save Icon as *.&BMP ...",
                         "Save Ori&ginal Icon as ...", "Save Icon as *.&PNG ...", "Icon &Details ...",
                         "Backgr&ound color ...", "&Website ...", "&E-mail ...", "&Help ...", "&About ..."}));
        QCOMPARE(form->SaveDialog1.Title, QString("Save Icon as ..."));
        QCOMPARE(items(form->ComboBox1), kBuiltInMasks);
        QVERIFY(!form->ComboBox1->isEditable());
        QCOMPARE(form->CollectionExtension, QString(".ics"));
        QCOMPARE(form->displayColor(), kDesktop);
        QVERIFY(form->Internet1->isVisible() && form->EMail1->isVisible());
        QVERIFY(!form->Help1->isVisible());
        QVERIFY(!form->ConfigExtractor->isVisible());

        form->Internet1->trigger();
        form->EMail1->trigger();
        form->About1->trigger();
        QCOMPARE(seam_.log.size(), 3);
        QVERIFY(seam_.log[0].startsWith("open:https://"));
        QVERIFY(seam_.log[1].startsWith("open:mailto:") && seam_.log[1].endsWith("?subject=Pictrove"));
        QVERIFY(seam_.log[2].startsWith("about:Pictrove|Pictrove"));
        QVERIFY(!seam_.log[2].contains('\n'));  // one line

        // Help1 is hidden, but F1 still asks for the help file beside the
        // executable, which is missing; nothing else is shown.
        seam_.log.clear();
        pressF1(form->FileBox1);
        QCOMPARE(seam_.log, QStringList({"open:" + dir_->filePath("pictrove.hlp")}));
    }

    // The settings file an install puts beside the program changes nothing
    // the user sees, except that the manual it names shows "&Help ...".
    void shippedSettingsFileLooksLikeNone() {
        const auto looks = [](const TForm1& form) {
            QStringList state = captions(form);
            for (QAction* action : form.IconMenu->actions()) state << action->toolTip();
            return state << form.windowTitle() << form.SaveDialog1.Title << items(form.ComboBox1)
                         << QString::number(form.ComboBox1->isEditable()) << form.CollectionExtension
                         << form.displayColor().name() << form.WebsiteAddress << form.EmailAddress
                         << QString::number(form.ShowFileNames) << form.AboutText.trimmed()
                         << QString::number(form.Internet1->isVisible() + 2 * form.EMail1->isVisible());
        };
        const QStringList builtIn = looks(*start());
        QVERIFY(QFile::copy(PICTROVE_SHIPPED_INI, ini()));
        writeFile(dir_->filePath("pictrove.html"), "<html></html>");
        auto form = start();
        QCOMPARE(looks(*form), builtIn);
        QVERIFY(form->Help1->isVisible());
        pressF1(form->FileBox1);
        QCOMPARE(seam_.log, QStringList({"open:" + dir_->filePath("pictrove.html")}));
    }

    void fileWithOnlyATitle() {
        writeIni("[Captions]\r\nTitle=My Icons\r\n");
        auto form = start();
        QCOMPARE(pictrove::applicationTitle(), QString("My Icons"));
        QCOMPARE(form->windowTitle(), QString("My Icons"));
        QCOMPARE(captions(*form), kNumbered);
        QCOMPARE(form->SaveDialog1.Title, QString());
        QVERIFY(!form->Internet1->isVisible() && !form->EMail1->isVisible());
        QVERIFY(!form->Help1->isVisible());
        QCOMPARE(form->AboutText, QString());
        QCOMPARE(form->displayColor(), kDesktop);
        QCOMPARE(items(form->ComboBox1), kBuiltInMasks);
        QVERIFY(!form->ComboBox1->isEditable());
        QVERIFY(form->ShowFileNames);
        QCOMPARE(form->HelpFileName, QString());
        QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->FileBox1));

        // No help file name: F1 is the About box, empty as it is.
        pressF1(form->FileBox1);
        QCOMPARE(seam_.log, QStringList({"about:My Icons|"}));
    }

    void everyTextKeyTakesEffect() {
        const QString longTitle(300, 'T');
        writeIni("[captions]\n title = " + longTitle.toUtf8() +
                 "\nDialog=\"  Save it \"\n"
                 "[MENU]\nCopy=&Kopieren\nIcon=I\nBitmap=B\nBackground=G\nHomepage=H\nEMail=M\nHelp=?\n"
                 "About=Ab&out\nOriginal=&Orig\nPng=  P  \nDetails=\"\"\n"
                 "[Options]\nHome=https://example.org/icons\nMail=mailto:someone@example.org\n"
                 "Open=" +
                 library(12).toUtf8() + "\n");
        auto form = start();
        QCOMPARE(pictrove::applicationTitle(), longTitle.left(255));
        QCOMPARE(form->SaveDialog1.Title, QString("  Save it "));
        QCOMPARE(captions(*form),
                 QStringList({"&Kopieren", "I", "B", "&Orig", "P", "", "G", "H", "M", "?", "Ab&out"}));
        QCOMPARE(form->Internet1->toolTip(), QString("H"));
        QVERIFY(form->Internet1->isVisible() && form->EMail1->isVisible());
        form->Internet1->trigger();
        form->EMail1->trigger();
        QCOMPARE(seam_.log,
                 QStringList({"open:https://example.org/icons", "open:mailto:someone@example.org"}));
        // The start file stands in for the missing command-line file.
        QCOMPARE(form->StartFile, library(12));
        QCOMPARE(form->IconCount, 12);
        QCOMPARE(form->windowTitle(), longTitle.left(255) + " : lib12.dll - 12 Icons");
    }

    void commandLineFileBeatsTheStartFile() {
        writeIni("[Options]\nOpen=" + library(12).toUtf8() + "\n");
        auto form = start({library(10)});
        QCOMPARE(form->IconCount, 10);
    }

    void numberOptions_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<bool>("editable");
        QTest::addColumn<bool>("showFileNames");
        QTest::newRow("none") << QByteArray() << false << true;
        QTest::newRow("hex with 0x") << QByteArray("EditMask=0x1\nShowFileNames=0x0") << true << false;
        QTest::newRow("hex with $") << QByteArray("EditMask=$10\nShowFileNames=$0") << true << false;
        QTest::newRow("decimal") << QByteArray("EditMask=-1\nShowFileNames=0") << true << false;
        QTest::newRow("words") << QByteArray("EditMask=yes\nShowFileNames=off") << false << true;
        QTest::newRow("empty") << QByteArray("EditMask=\nShowFileNames=") << false << true;
        QTest::newRow("zero") << QByteArray("EditMask=0\nShowFileNames=1") << false << true;
        QTest::newRow("bare 0x") << QByteArray("EditMask=0x\nShowFileNames=0x") << false << true;
        QTest::newRow("trailing text") << QByteArray("EditMask=1 2\nShowFileNames=0x0 ") << false << false;
        QTest::newRow("too large") << QByteArray("EditMask=4294967296\nShowFileNames=2147483648") << false
                                   << true;
    }
    void numberOptions() {
        QFETCH(QByteArray, options);
        QFETCH(bool, editable);
        QFETCH(bool, showFileNames);
        writeIni("[Options]\n" + options + "\n");
        auto form = start({library(10)});
        QCOMPARE(form->ComboBox1->isEditable(), editable);
        QCOMPARE(form->ShowFileNames, showFileNames);
        QCOMPARE(form->windowTitle(),
                 showFileNames ? QString(" : lib10.dll - 10 Icons") : QString(" : 10 Icons"));
    }

    void collectionExtension_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("extension");
        QTest::newRow("missing") << QByteArray() << ".ics";
        QTest::newRow("empty") << QByteArray("Default=") << ".ics";
        QTest::newRow("bare") << QByteArray("Default=ICX") << ".icx";
        QTest::newRow("with dot") << QByteArray("Default=.Lib") << ".lib";
        QTest::newRow("quoted") << QByteArray("Default=' Ab'") << ". ab";
        QTest::newRow("ASCII only") << QByteArray("Default=\xc3\x84X")
                                    << "."
                                       "\u00c4x";
    }
    void collectionExtension() {
        QFETCH(QByteArray, line);
        QFETCH(QString, extension);
        writeIni("[Options]\n" + line + "\n");
        auto form = start();
        QCOMPARE(form->CollectionExtension, extension);
    }

    void colour_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QColor>("colour");
        const QColor kept(1, 2, 3);
        QTest::newRow("missing") << QByteArray() << kDesktop;
        QTest::newRow("empty") << QByteArray("Color=") << kDesktop;
        QTest::newRow("red") << QByteArray("Color=$0000FF") << QColor(255, 0, 0);
        QTest::newRow("blue as decimal") << QByteArray("Color=16711680") << QColor(0, 0, 255);
        QTest::newRow("explicit") << QByteArray("Color=$00336699") << QColor(0x99, 0x66, 0x33);
        QTest::newRow("system window") << QByteArray("Color=$80000005") << QColor(255, 255, 255);
        QTest::newRow("system desktop") << QByteArray("Color=$80000001") << kDesktop;
        QTest::newRow("system button face") << QByteArray("Color=-2147483633") << QColor(0xD4, 0xD0, 0xC8);
        QTest::newRow("no such system colour") << QByteArray("Color=$800000FF") << QColor(0, 0, 0);
        QTest::newRow("0x is no integer") << QByteArray("Color=0xFF") << kept;
        QTest::newRow("zero") << QByteArray("Color=0") << kept;
        QTest::newRow("hex zero") << QByteArray("Color=$0") << kept;
        QTest::newRow("word") << QByteArray("Color=red") << kept;
        QTest::newRow("trailing blank inside quotes") << QByteArray("Color=\"$FF \"") << kept;
    }
    void colour() {
        QFETCH(QByteArray, line);
        QFETCH(QColor, colour);
        auto form = start();
        form->setDisplayColor(QColor(1, 2, 3));
        writeIni("[Options]\n" + line + "\n");
        form->armApplicationActivation();
        comeBack();
        QCOMPARE(form->displayColor(), colour);
    }

    void maskList_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("masks");
        QTest::newRow("missing section") << QByteArray() << kBuiltInMasks;
        QTest::newRow("empty E1") << QByteArray("[Extensions]\nE1=\nE2=*.a") << kBuiltInMasks;
        QTest::newRow("E1 and E3") << QByteArray("[Extensions]\nE1=*.a\nE3=*.c") << "*.a";
        QTest::newRow("in any order")
            << QByteArray("[Extensions]\nE2=*.b;*.bb\ne1=*.a\nE3=*.A") << "*.a|*.b;*.bb|*.A";
        QTest::newRow("E2 empty") << QByteArray("[Extensions]\nE1=*.a\nE2=\nE3=*.c") << "*.a";
    }
    void maskList() {
        QFETCH(QByteArray, section);
        QFETCH(QString, masks);
        writeIni(section + "\n");
        auto form = start();
        QCOMPARE(items(form->ComboBox1), masks);
        QCOMPARE(form->ComboBox1->currentIndex(), 0);
        QCOMPARE(form->FileBox1->FileMask(), masks.section('|', 0, 0));
    }

    void aboutLines_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QString>("about");
        const QString pad(13, ' ');
        QTest::newRow("none of the six") << QByteArray("[Dialogs]\nL7=x") << QString();
        QTest::newRow("kept blanks") << QByteArray("[Dialogs]\nL2=>   Indented")
                                     << "   Indented" + pad + "\r\n";
        QTest::newRow("caret adds nothing")
            << QByteArray("[Dialogs]\nL1=^\nL2=A\nL3=B") << "A" + pad + "\r\nB\r\n";
        QTest::newRow("empty line first")
            << QByteArray("[Dialogs]\nL1=\nL2=B\nL6=F") << "\r\nB" + pad + "\r\nF\r\n";
        QTest::newRow("bare >") << QByteArray("[Dialogs]\nL1=>\nL2=  B  ") << "\r\nB" + pad + "\r\n";
        QTest::newRow("> keeps 255") << QByteArray("[Dialogs]\nL1=>" + QByteArray(300, 'x'))
                                     << QString(255, 'x') + pad + "\r\n";
        QTest::newRow("quoted caret is a caret") << QByteArray("[Dialogs]\nL1=\"^\"") << QString();
    }
    void aboutLines() {
        QFETCH(QByteArray, section);
        QFETCH(QString, about);
        writeIni(section + "\n");
        auto form = start();
        QCOMPARE(form->AboutText, about);
        form->About1->trigger();
        QCOMPARE(seam_.log, QStringList({"about:|" + about}));
    }

    void helpFile_data() {
        QTest::addColumn<QByteArray>("settings");  // "none": no settings file
        QTest::addColumn<QString>("existing");     // file made in the program's folder
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("f1");  // what F1 does
        QTest::newRow("beside the program")
            << QByteArray("none") << "pictrove.hlp" << true << "help:%1/pictrove.hlp";
        QTest::newRow("no settings, no help") << QByteArray("none") << "" << false << "open:%1/pictrove.hlp";
        QTest::newRow("settings without a help file")
            << QByteArray("[Options]") << "pictrove.hlp" << false << "about:|";
        QTest::newRow("folder dropped") << QByteArray("[Options]\nHelpFile=docs\\manual.HLP") << "manual.HLP"
                                        << true << "help:%1/manual.HLP";
        QTest::newRow("slash folder dropped") << QByteArray("[Options]\nHelpFile=/usr/share/doc/notes.txt")
                                              << "notes.txt" << true << "open:%1/notes.txt";
        QTest::newRow("text help") << QByteArray("[Options]\nHelpFile=notes.txt") << "notes.txt" << true
                                   << "open:%1/notes.txt";
        QTest::newRow("missing help")
            << QByteArray("[Options]\nHelpFile=gone.hlp") << "" << false << "open:%1/gone.hlp";
    }
    void helpFile() {
        QFETCH(QByteArray, settings);
        QFETCH(QString, existing);
        QFETCH(bool, visible);
        QFETCH(QString, f1);
        if (settings != "none") writeIni(settings + "\n");
        if (!existing.isEmpty()) writeFile(dir_->filePath(existing), "help");
        auto form = start();
        QCOMPARE(form->Help1->isVisible(), visible);
        const QString expected = f1.contains("%1") ? f1.arg(dir_->path()) : f1;
        pressF1(form->ComboBox1);
        if (visible) form->Help1->trigger();
        QCOMPARE(seam_.log, visible ? QStringList({expected, expected}) : QStringList({expected}));
    }

    void f1IsTheWindowsWhateverTheModifiers_data() {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("plain") << int(Qt::NoModifier);
        QTest::newRow("shift") << int(Qt::ShiftModifier);
        QTest::newRow("ctrl alt") << int(Qt::ControlModifier | Qt::AltModifier);
    }
    void f1IsTheWindowsWhateverTheModifiers() {
        QFETCH(int, modifiers);
        writeIni("[Options]\nEditMask=1\n");
        auto form = start();
        KeySpy spy;
        form->ComboBox1->installEventFilter(&spy);
        form->ComboBox1->setFocus();
        pressF1(form->ComboBox1, Qt::KeyboardModifiers(modifiers));
        pressF1(form->ComboBox1->lineEdit(), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(seam_.log, QStringList({"about:|", "about:|"}));
        QVERIFY(!spy.pressed.contains(Qt::Key_F1));
        // Other keys go on to the control.
        spy.pressed.clear();
        QTest::keyClick(form->ComboBox1, Qt::Key_F2);
        QCOMPARE(spy.pressed, QList<int>{Qt::Key_F2});
    }

    void f1InTheOpenList() {
        writeIni("[Options]\n");
        auto form = start();
        form->ComboBox1->showPopup();
        QTRY_VERIFY(form->ComboBox1->view()->isVisible());
        pressF1(form->ComboBox1->view());
        QCOMPARE(seam_.log, QStringList({"about:|"}));
        form->ComboBox1->hidePopup();
    }

    void listStyleAppliesOnEnterOnly() {
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(box->currentText(), QString("*.exe;*.dll;*.ocx;*.cpl;*.ico"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.ic?"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.exe;*.dll;*.ocx;*.cpl;*.ico"));
        QCOMPARE(box->count(), 3);

        // The mouse applies at once.
        pickWithMouse(box, 2);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.*"));
    }

    void enterInTheOpenListPicksAndApplies() {
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->setFocus();
        box->showPopup();
        QAbstractItemView* view = box->view();
        QTRY_VERIFY(view->isVisible());
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.ic?"));
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(box->currentIndex(), 2);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.*"));
        QCOMPARE(box->count(), 3);
    }

    void keyHeldDownCutsTheMouseOff() {
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->setFocus();
        QTest::keyPress(box, Qt::Key_Shift);
        pickWithMouse(box, 2);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.ic?"));
        QTest::keyRelease(box, Qt::Key_Shift);
        pickWithMouse(box, 1);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.exe;*.dll;*.ocx;*.cpl;*.ico"));

        // F1 goes down in the window, not in the selector; its coming up in
        // the selector attaches the link again.
        QTest::keyPress(box, Qt::Key_Shift);
        QTest::keyClick(box, Qt::Key_F1);
        pickWithMouse(box, 2);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.*"));
    }

    void keyThatLeavesTheSelectorDoesNotCutItOff() {
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->setFocus();
        // Tab goes down here and comes up in the file box.
        QTest::keyPress(box, Qt::Key_Tab);
        form->FileBox1->setFocus();
        QTest::keyRelease(form->FileBox1, Qt::Key_Tab);
        pickWithMouse(box, 2);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.*"));
    }

    void editStyleTypedMasks() {
        writeIni("[Options]\nEditMask=1\n");
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.bmp");
        QCOMPARE(box->currentText(), QString("*.bmp"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.ic?"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.bmp"));
        QCOMPARE(items(box), kBuiltInMasks + "|*.bmp");

        // The same mask in capitals filters again but is not added again.
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.BMP");
        QTest::keyClick(box, Qt::Key_Enter);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.BMP"));
        QCOMPARE(box->count(), 4);

        // An item in another letter case: the typed text is the mask.
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.IC?");
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(form->FileBox1->FileMask(), QString("*.IC?"));
        QCOMPARE(box->count(), 4);

        // An empty text is a mask like any other, and an item once.
        box->clearEditText();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(form->FileBox1->FileMask(), QString());
        QCOMPARE(items(box), kBuiltInMasks + "|*.bmp|");
    }

    void laterPassFollowsTheChangedFile() {
        writeIni(
            "[Captions]\nTitle=First\n[Options]\nEditMask=1\nHome=https://example.org/\nColor=$0000FF\n"
            "HelpFile=guide.hlp\nOpen=" +
            library(12).toUtf8() + "\n[Extensions]\nE1=*.a\nE2=*.b\n[Dialogs]\nL1=One\n");
        writeFile(dir_->filePath("guide.hlp"), "help");
        writeFile(dir_->filePath("tuneup"), "");
        auto form = start({library(10)});
        QCOMPARE(form->IconCount, 10);
        QVERIFY(form->ConfigExtractor->isVisible());
        QVERIFY(form->Help1->isVisible());
        const QString directory = form->FileBox1->Directory();

        // A typed mask joins the list; a second one is left in the edit field.
        QComboBox* box = form->ComboBox1;
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.typed");
        QTest::keyClick(box, Qt::Key_Return);
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.pending");

        // Switching windows does not read the file again.
        writeIni("[Captions]\nTitle=Second\n");
        comeBack();
        QCOMPARE(form->windowTitle(), QString("First : lib10.dll - 10 Icons"));

        form->ConfigExtractor->trigger();
        form->ConfigExtractor->trigger();
        QCOMPARE(seam_.log, QStringList({"start:" + dir_->filePath("tuneup") + "|" + ini(),
                                         "start:" + dir_->filePath("tuneup") + "|" + ini()}));
        QVERIFY(form->applicationActivationArmed());

        writeIni("[Captions]\nTitle=Second\n[Options]\nColor=0\nOpen=" + library(11).toUtf8() + "\n");
        comeBack();
        QVERIFY(!form->applicationActivationArmed());
        // The caption is the bare title although the grid keeps its icons.
        QCOMPARE(form->windowTitle(), QString("Second"));
        QCOMPARE(form->IconCount, 10);
        QCOMPARE(form->FileBox1->Directory(), directory);
        QVERIFY(!form->Internet1->isVisible());
        QCOMPARE(form->WebsiteAddress, QString());
        QCOMPARE(form->displayColor(), QColor(255, 0, 0));
        QVERIFY(!box->isEditable());
        // No E1: the list stays, the typed mask with it, and the first mask
        // is applied again.
        QCOMPARE(items(box), "*.a|*.b|*.typed");
        QCOMPARE(box->currentText(), QString("*.a"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.a"));
        // Once found, the help stays for the run.
        QVERIFY(form->Help1->isVisible());
        QCOMPARE(form->HelpFileName, QString());
        QCOMPARE(form->AboutText, QString());
        pressF1(form->FileBox1);
        QCOMPARE(seam_.log.last(), QString("about:Second|"));

        // Once consumed, coming back does nothing more.
        writeIni("[Captions]\nTitle=Third\n");
        comeBack();
        QCOMPARE(form->windowTitle(), QString("Second"));

        // Without a settings file the values of every pass come back, the
        // rest stays as the last file left it.
        QFile::remove(ini());
        form->armApplicationActivation();
        comeBack();
        QCOMPARE(form->windowTitle(), QString("Second"));
        QCOMPARE(form->CollectionExtension, QString(".ics"));
        QVERIFY(form->AboutText.startsWith("Pictrove"));
        QCOMPARE(form->HelpFileName, dir_->filePath("pictrove.hlp"));
        QCOMPARE(form->WebsiteAddress, QString());
        QVERIFY(!form->Internet1->isVisible());
        QCOMPARE(captions(*form), kNumbered);
        pressF1(form->FileBox1);
        QCOMPARE(seam_.log.last(), "help:" + dir_->filePath("guide.hlp"));
    }

    void laterPassWithE1ReplacesTypedMasks() {
        writeIni("[Options]\nEditMask=1\n");
        auto form = start();
        QComboBox* box = form->ComboBox1;
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.typed");
        QTest::keyClick(box, Qt::Key_Return);
        writeIni("[Options]\nEditMask=1\n[Extensions]\nE1=*.new\n");
        form->armApplicationActivation();
        comeBack();
        QCOMPARE(items(box), QString("*.new"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.new"));

        // Text left in the edit field without Enter gives way to the first
        // mask too.
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, "*.pending");
        form->armApplicationActivation();
        comeBack();
        QCOMPARE(box->currentText(), QString("*.new"));
        QCOMPARE(form->FileBox1->FileMask(), QString("*.new"));
        QCOMPARE(box->count(), 1);
    }

    // Installed, the program's folder is not the user's to write: the user's
    // own file, once there is one, is read instead of the shared one, and
    // the manual installed beside the program is still found.
    void installedCopyReadsTheUsersOwnFile() {
        programFolder_ = dir_->filePath("installed");
        pictrove::testing::ReadOnlyFolder folder(programFolder_);
        if (!folder.ok()) QSKIP("cannot make a folder that cannot be written here (root needs mount)");
        writeIni("[Captions]\nTitle=Shared\n[Options]\nHelpFile=pictrove.html\n");
        writeFile(programFolder_ + "/pictrove.html", "manual");
        writeFile(programFolder_ + "/tuneup", "");
        QVERIFY(folder.seal());
        auto form = start();
        QCOMPARE(form->windowTitle(), QString("Shared"));
        QCOMPARE(form->HelpFileName, programFolder_ + "/pictrove.html");
        form->ConfigExtractor->trigger();
        QCOMPARE(seam_.log.last(), "start:" + programFolder_ + "/tuneup|" + ini());

        QVERIFY(QDir().mkpath(config_ + "/pictrove"));
        writeFile(ownIni(), "[Captions]\nTitle=Mine\n[Options]\nHelpFile=docs/pictrove.html\n");
        comeBack();
        QCOMPARE(form->windowTitle(), QString("Mine"));
        QCOMPARE(form->HelpFileName, programFolder_ + "/pictrove.html");
        form->ConfigExtractor->trigger();
        QCOMPARE(seam_.log.last(), "start:" + programFolder_ + "/tuneup|" + ownIni());
        // A help file of the user's own beside that file comes first.
        writeFile(config_ + "/pictrove/pictrove.html", "mine");
        comeBack();
        QCOMPARE(form->HelpFileName, config_ + "/pictrove/pictrove.html");
    }

    // A relative $XDG_CONFIG_HOME is no folder at all: an installed copy
    // started anywhere reads ~/.config, never a folder below where it was
    // started, and hands the configurator that file.
    void installedCopyIgnoresARelativeConfigFolder() {
        programFolder_ = dir_->filePath("installed");
        pictrove::testing::ReadOnlyFolder folder(programFolder_);
        if (!folder.ok()) QSKIP("cannot make a folder that cannot be written here (root needs mount)");
        writeIni("[Captions]\nTitle=Shared\n");
        writeFile(programFolder_ + "/tuneup", "");
        QVERIFY(folder.seal());
        const QString started = dir_->filePath("started");
        const QString home = dir_->filePath("home");
        for (const QString& own : {started + "/rel/pictrove", home + "/.config/pictrove"}) {
            QVERIFY(QDir().mkpath(own));
            writeFile(own + "/pictrove.ini", "[Captions]\nTitle=" + own.toUtf8() + "\n");
        }
        const QByteArray oldHome = qgetenv("HOME");
        const QString oldFolder = QDir::currentPath();
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            QDir::setCurrent(oldFolder);
        });
        qputenv("HOME", QFile::encodeName(home));
        QVERIFY(QDir::setCurrent(started));
        QStringList seen;
        for (const QByteArray configHome : {"rel", "./rel", ""}) {
            qputenv("XDG_CONFIG_HOME", configHome);
            auto form = start();
            form->ConfigExtractor->trigger();
            seen << form->windowTitle() + " " + seam_.log.last();
        }
        const QString mine = home + "/.config/pictrove";
        QCOMPARE(seen,
                 QStringList(3, mine + " start:" + programFolder_ + "/tuneup|" + mine + "/pictrove.ini"));
    }

    // A copy in a folder its user may write reads the file beside it and
    // nothing else, as it always did.
    void portableCopyLeavesTheUsersOwnFileAlone() {
        QVERIFY(QDir().mkpath(config_ + "/pictrove"));
        writeFile(ownIni(), "[Captions]\nTitle=Mine\n");
        writeIni("[Captions]\nTitle=Portable\n");
        QCOMPARE(start()->windowTitle(), QString("Portable"));
        QFile::remove(ini());
        pictrove::setApplicationTitle("Pictrove");
        QCOMPARE(start()->windowTitle(), QString("Pictrove"));
    }

    // The settings path reaches the configurator as one argument, whatever
    // quotes, blanks or letters beyond ASCII it holds.
    void configuratorGetsTheSettingsPathWhole() {
        programFolder_ = dir_->filePath("my \"icons\" \u00e9\u4e2d");
        QVERIFY(QDir().mkpath(programFolder_));
        // Stands in for the configurator: writes down what it was given.
        const QString received = programFolder_ + "/tuneup.received";
        writeFile(programFolder_ + "/tuneup",
                  "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.new\" && mv \"$0.new\" \"$0.received\"\n");
        QVERIFY(QFile::setPermissions(programFolder_ + "/tuneup", QFile::ReadOwner | QFile::ExeOwner));
        auto form = start();
        pictrove::setSeam(nullptr);
        form->ConfigExtractor->trigger();
        pictrove::setSeam(&seam_);
        QTRY_VERIFY(QFile::exists(received));
        QFile file(received);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), "1\n" + ini() + "\n");
    }

    void settingsThatAreNoTextOrNoFile() {
        // A folder in the file's place is no settings file.
        QVERIFY(QDir(dir_->path()).mkdir("pictrove.ini"));
        {
            auto form = start();
            QCOMPARE(form->windowTitle(), QString("Pictrove"));
            QVERIFY(form->Internet1->isVisible());
        }
        QVERIFY(QDir(dir_->path()).rmdir("pictrove.ini"));

        // Binary garbage is a file without keys.
        QByteArray garbage;
        for (int i = 0; i < 70000; ++i) garbage.append(static_cast<char>((i * 7919) % 256));
        writeIni(garbage);
        auto form = start();
        QCOMPARE(form->windowTitle(), QString());
        QCOMPARE(captions(*form), kNumbered);
        QCOMPARE(items(form->ComboBox1), kBuiltInMasks);
        QVERIFY(seam_.log.isEmpty());
    }

    void absurdMaskListsStayBounded() {
#ifndef __linux__
        QSKIP("counts the settings file's openings through inotify");
#else
        // Every mask is a lookup that reads the file again, and here each one
        // has to walk past half a megabyte of lines in the section first: the
        // work is bounded by looking up no more than 256 masks, which the
        // file's openings count (a lookup reads at most a megabyte of it).
        const auto opensAtStart = [&](const QByteArray& text) {
            writeIni(text);
            const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            // Closes are watched too: the kernel merges an event into an
            // equal one still queued right before it.
            if (inotify_add_watch(watch, QFile::encodeName(ini()).constData(), IN_OPEN | IN_CLOSE) < 0)
                return -1;
            start();
            int opens = 0;
            alignas(inotify_event) char events[4096];
            for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;) {
                for (ssize_t at = 0; at < got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                    opens += (event->mask & IN_OPEN) != 0;
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                }
            }
            close(watch);
            return opens;
        };
        QByteArray text = "[Extensions]\n";
        for (int n = 0; n < 250000; ++n) text += "x\n";
        const int withoutMasks = opensAtStart(text);
        QVERIFY(withoutMasks > 0);
        for (int n = 1; n <= 3000; ++n)
            text += "E" + QByteArray::number(n) + "=*." + QByteArray::number(n) + "\n";
        text += "E2=" + QByteArray(100000, 'x') + "\n";
        // Without masks one lookup finds E1 missing.
        QCOMPARE(opensAtStart(text) - withoutMasks, pictrove::settings_defaults::kMaxMasks - 1);
        auto form = start();
        QCOMPARE(form->ComboBox1->count(), 256);
        QCOMPARE(form->ComboBox1->itemText(255), QString("*.256"));
#endif
    }

    // Saves a picture of the window with a settings file applied, when asked.
    void screenshot() {
        const QString target = qEnvironmentVariable("PICTROVE_SETTINGS_SCREENSHOT");
        if (target.isEmpty()) QSKIP("set PICTROVE_SETTINGS_SCREENSHOT to a PNG path to save the window");
        writeIni(
            "[Captions]\nTitle=Icon Finder\n[Options]\nEditMask=1\nColor=$80000005\n"
            "[Extensions]\nE1=*.dll;*.ico\nE2=*.*\n");
        auto form = start({library(23)});
        QVERIFY(form->grab().save(target));
    }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
