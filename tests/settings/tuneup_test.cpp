// The configurator's editor on the offscreen platform: a change in each
// group written to a file that keeps everything else, missing against empty,
// Defaults, a save that fails, and closing with unsaved changes.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "profile.h"
#include "profile_writer.h"
#include "read_only_folder.h"
#include "save_file.h"
#include "settings_defaults.h"
#include "tuneup/settings_editor.h"

using pictrove::tuneup::ChoiceKeyField;
using pictrove::tuneup::SettingsEditor;
using pictrove::tuneup::TextKeyField;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<std::string> valueIn(const QString& path, const char* section, const char* key) {
    const QByteArray bytes = readAll(path);
    return pictrove::findProfileValue(std::string_view(bytes.constData(), bytes.size()), section, key);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

void type(TextKeyField* field, const QString& text) {
    field->editor()->selectAll();
    QTest::keyClicks(field->editor(), text);
}

void clickButton(QWidget* parent, const QString& caption) {
    for (auto* button : parent->findChildren<QPushButton*>()) {
        if (button->text() == caption) return button->click();
    }
    QFAIL(qPrintable("no button " + caption));
}

}  // namespace

class TuneupTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        path_ = dir_.filePath("pictrove.ini");
        QFile::remove(path_);
    }

    // The file named on the command line, made absolute, else the window's.
    void editsTheFileNamedElseTheWindows() {
        const QString named = dir_.filePath("named.ini");
        QCOMPARE(SettingsEditor::fileToEdit({"tuneup", named}, path_), named);
        QCOMPARE(SettingsEditor::fileToEdit({"tuneup", "rel.ini"}, path_),
                 QDir::current().filePath("rel.ini"));
        QCOMPARE(SettingsEditor::fileToEdit({"tuneup"}, path_), path_);
    }

    void writesEachGroupAndKeepsTheRest() {
        const QByteArray before =
            "; kept as it is\n[Captions]\ntitle = Old\n\n[Extensions]\nE1=*.ico\nE2=*.exe\nE3=*.dll\n"
            "[Options]\nColor=junk\nUnknown=1\n";
        writeFile(path_, before);
        SettingsEditor editor(path_);
        QVERIFY(editor.load());
        auto* title = editor.findChild<TextKeyField*>("Captions/Title");
        auto* dialog = editor.findChild<TextKeyField*>("Captions/Dialog");
        QVERIFY(title->presence()->isChecked() && !dialog->presence()->isChecked());
        QVERIFY(dialog->editor()->placeholderText().startsWith("Not in the file"));
        QVERIFY(!editor.hasChanges());
        // The later menu keys are offered too, and say that without them the
        // built-in caption stands, not a number.
        auto* original = editor.findChild<TextKeyField*>("Menu/Original");
        QVERIFY(original && !original->presence()->isChecked());
        QVERIFY(original->editor()->placeholderText().endsWith("\"Save Ori&ginal Icon as ...\""));

        type(title, "  New title");
        dialog->presence()->click();  // present, and empty
        QCOMPARE(dialog->editor()->placeholderText(), QString("empty"));
        editor.findChild<TextKeyField*>("Menu/Copy")->set(QString("&Copy"));
        editor.maskList()->setCurrentRow(1);
        clickButton(&editor, "&Remove");
        type(editor.findChild<TextKeyField*>("Dialogs/L2"), "   Indented");
        editor.findChild<ChoiceKeyField*>("Options/EditMask")->setCurrentIndex(1);
        QVERIFY(editor.hasChanges());
        QVERIFY(editor.save());

        QCOMPARE(valueIn(path_, "Captions", "Title"), "  New title");
        QCOMPARE(valueIn(path_, "Captions", "Dialog"), "");
        QCOMPARE(valueIn(path_, "Menu", "Copy"), "&Copy");
        QCOMPARE(valueIn(path_, "Extensions", "E2"), "*.dll");
        QCOMPARE(valueIn(path_, "Extensions", "E3"), std::nullopt);
        QCOMPARE(valueIn(path_, "Dialogs", "L2"), ">   Indented");
        QCOMPARE(valueIn(path_, "Options", "EditMask"), "1");
        const QByteArray after = readAll(path_);
        QVERIFY(after.startsWith("; kept as it is\n[Captions]\ntitle = \"  New title\"\nDialog=\n\n"));
        QVERIFY(after.contains("[Options]\nColor=junk\nUnknown=1\nEditMask=1\n"));
        QVERIFY(!after.contains('\r'));

        // Unticking takes the key out of the file.
        QVERIFY(editor.load() && !editor.hasChanges());
        title->presence()->click();
        QVERIFY(editor.save());
        QCOMPARE(valueIn(path_, "Captions", "Title"), std::nullopt);
    }

    // Lines the window would change or drop are written so that they come
    // back through the file as typed.
    void aboutLinesComeBackAsTyped() {
        for (const QString line : {"", "^", ">x", " a", "\tb ", "plain", "x^"}) {
            const QByteArray value = pictrove::tuneup::aboutLineForFile(line).toUtf8();
            const std::string text = "[Dialogs]\nL1=" + pictrove::profileValueText(value.toStdString());
            const auto read = pictrove::findProfileValue(text, "Dialogs", "L1");
            QCOMPARE(pictrove::tuneup::aboutLineShown(QString::fromStdString(read.value())), line);
        }
    }

    // The window keeps 255 characters of a marked About line: a line that
    // long saves, a longer one is turned away before anything is written.
    void markedAboutLineOfTheLongestLengthSaves() {
        SettingsEditor editor(path_);
        QStringList reports;
        editor.report = [&](const QString& message) { reports << message; };
        QVERIFY(editor.load());
        auto* line = editor.findChild<TextKeyField*>("Dialogs/L2");
        type(line, " " + QString(254, 'x'));
        QVERIFY(editor.save());
        const std::string saved = "> " + std::string(254, 'x');
        QCOMPARE(valueIn(path_, "Dialogs", "L2"), saved);
        type(line, " " + QString(255, 'x'));
        QVERIFY(!editor.save());
        QCOMPARE(reports.size(), 1);
        QCOMPARE(valueIn(path_, "Dialogs", "L2"), saved);
    }

    // A new file starts with the built-in values, so saving it changes nothing.
    void newFileHoldsTheDefaults() {
        SettingsEditor editor(path_);
        QVERIFY(editor.load());
        int flushes = 0;
        auto real = pictrove::detail::replaceSyncCall([&](auto, const std::filesystem::path&) {
            ++flushes;
            return true;
        });
        const bool saved = editor.save();
        pictrove::detail::replaceSyncCall(std::move(real));
        QVERIFY(saved);
        QCOMPARE(flushes, 2);  // the file, then its folder
        namespace builtin = pictrove::settings_defaults;
        QCOMPARE(valueIn(path_, "Captions", "Title"), std::string(builtin::kTitle));
        for (const auto& caption : builtin::kMenuCaptions)
            QCOMPARE(valueIn(path_, "Menu", std::string(caption.key).c_str()), std::string(caption.caption));
        for (const auto& caption : builtin::kOriginalMenuCaptions)
            QCOMPARE(valueIn(path_, "Menu", std::string(caption.key).c_str()), std::string(caption.caption));
        QCOMPARE(valueIn(path_, "Extensions", "E2"), std::string(builtin::kMasks[1]));
        QCOMPARE(valueIn(path_, "Extensions", "E4"), std::nullopt);
        QCOMPARE(valueIn(path_, "Options", "Mail"), std::string(builtin::kEmail));
        QCOMPARE(pictrove::parseProfileInteger(*valueIn(path_, "Options", "Color")),
                 int(builtin::kDisplayColor));
        QCOMPARE(valueIn(path_, "Options", "HelpFile"), "pictrove.hlp");
        const QByteArray file = readAll(path_);
        QVERIFY(file.startsWith("[Captions]\r\nTitle=Pictrove\r\n"));
        // Sections in the order the window reads them.
        QVERIFY(file.indexOf("[Menu]") < file.indexOf("[Options]") &&
                file.indexOf("[Options]") < file.indexOf("[Extensions]") &&
                file.indexOf("[Extensions]") < file.indexOf("[Dialogs]"));
    }

    // UTF-16 cannot be kept byte for byte: it is replaced only when allowed.
    void wideTextIsReplacedOnlyWhenAllowed() {
        const QByteArray wide("\xFF\xFE[\0S\0]\0\r\0\n\0", 12);
        writeFile(path_, wide);
        SettingsEditor editor(path_);
        bool answer = false;
        int questions = 0;
        editor.confirm = [&](const QString&) { return ++questions, answer; };
        QVERIFY(editor.load());
        editor.findChild<TextKeyField*>("Captions/Title")->set(QString("T"));
        QVERIFY(!editor.save());
        QCOMPARE(readAll(path_), wide);
        answer = true;
        QVERIFY(editor.save());
        QCOMPARE(questions, 2);
        QCOMPARE(readAll(path_), QByteArray("[Captions]\r\nTitle=T\r\n"));
    }

    // A file the user may not change (an installed copy's) starts the user's
    // own, written at the first save; the shared one stays as it was.
    void sharedFileStartsTheUsersOwn() {
        const QString shared = dir_.filePath("installed");
        pictrove::testing::ReadOnlyFolder folder(shared);
        if (!folder.ok()) QSKIP("cannot make a folder that cannot be written here (root needs mount)");
        const QByteArray sharedText = "; shared\n[Captions]\nTitle=Shared\n";
        writeFile(shared + "/pictrove.ini", sharedText);
        writeFile(shared + "/other.ini", sharedText);
        QVERIFY(folder.seal());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
        const QString own = dir_.filePath("config/pictrove/pictrove.ini");

        // Any other file is edited where it is: the window would never read
        // its namesake in the user's folder.
        {
            SettingsEditor editor(shared + "/other.ini");
            editor.sharedSettingsPath = shared + "/pictrove.ini";
            QStringList asked;
            editor.confirm = [&](const QString& question) { return asked << question, true; };
            editor.report = [&](const QString& message) { asked << message; };
            QVERIFY(editor.load());
            editor.findChild<TextKeyField*>("Menu/Copy")->set(QString("&Copy"));
            QVERIFY(!editor.save());
            QCOMPARE(asked.size(), 1);
            QVERIFY2(asked[0].contains(shared + "/other.ini"), qPrintable(asked[0]));
            QVERIFY(!QFile::exists(dir_.filePath("config/pictrove/other.ini")));
        }

        for (const QByteArray copy : {"&Copy", "C&opy"}) {
            SettingsEditor editor(shared + "/pictrove.ini");
            editor.sharedSettingsPath = shared + "/pictrove.ini";
            QStringList asked;
            editor.confirm = [&](const QString& question) { return asked << question, true; };
            editor.report = [&](const QString& message) { asked << message; };
            QVERIFY(editor.load());
            editor.findChild<TextKeyField*>("Menu/Copy")->set(QString(copy));
            QVERIFY(editor.save());
            // The second time the own file is there, and is what is edited.
            QCOMPARE(asked.size(), 1);
            QVERIFY2(asked[0].contains(own), qPrintable(asked[0]));
            QCOMPARE(readAll(own), sharedText + "\n[Menu]\nCopy=" + copy + "\n");
        }
        QCOMPARE(readAll(shared + "/pictrove.ini"), sharedText);
    }

    void failedSaveSaysWhyAndKeepsTheChanges() {
        SettingsEditor editor(dir_.filePath("no such folder/pictrove.ini"));
        QStringList reports;
        editor.report = [&](const QString& message) { reports << message; };
        QVERIFY(editor.load());
        editor.findChild<TextKeyField*>("Options/Home")->set(QString("https://example.org/"));
        QVERIFY(!editor.save());
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].contains("no such folder/pictrove.ini"), qPrintable(reports[0]));

        // Closing asks; Cancel keeps the window and the change, Discard closes.
        editor.show();
        editor.askToSave = [](const QString&) { return QMessageBox::Cancel; };
        QVERIFY(!editor.close());
        QVERIFY(editor.hasChanges());
        editor.askToSave = [](const QString&) { return QMessageBox::Discard; };
        QVERIFY(editor.close());
    }

private:
    QTemporaryDir dir_;
    QString path_;
};

QTEST_MAIN(TuneupTest)
#include "tuneup_test.moc"
