// The reading pass of the activation sequence: every key of the settings
// file, its default and its effect, in the order the file is read.
#include "app/settings.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <utility>

#include "app/errors.h"
#include "app/form1.h"
#include "filebox/file_box.h"
#include "paths.h"
#include "profile.h"

namespace pictrove {
namespace {

// A settings file may list masks without end, and every lookup reads the
// file again; past this many the list is long enough for anyone.
constexpr int kMaxMasks = 256;

// Keys are read as the local 8-bit text of the Windows "A" functions.
std::string localBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The system colours of the classic Windows scheme, by index (COLOR_*).
// Index 25 is unused there and, like every index past the table, is black.
constexpr std::array<std::uint32_t, 31> kSystemColors = {
    0xC8D0D4,  //  0 scroll bar
    0xA56E3A,  //  1 desktop background
    0x6A240A,  //  2 active caption
    0x808080,  //  3 inactive caption
    0xC8D0D4,  //  4 menu
    0xFFFFFF,  //  5 window
    0x000000,  //  6 window frame
    0x000000,  //  7 menu text
    0x000000,  //  8 window text
    0xFFFFFF,  //  9 caption text
    0xC8D0D4,  // 10 active border
    0xC8D0D4,  // 11 inactive border
    0x808080,  // 12 application workspace
    0x6A240A,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xC8D0D4,  // 15 button face
    0x808080,  // 16 button shadow
    0x808080,  // 17 grey text
    0x000000,  // 18 button text
    0xC8D0D4,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x404040,  // 21 3-D dark shadow
    0xC8D0D4,  // 22 3-D light
    0x000000,  // 23 tooltip text
    0xE1FFFF,  // 24 tooltip background
    0x000000,  // 25 (unused)
    0x800000,  // 26 hot-tracked item
    0xF0CAA6,  // 27 gradient of the active caption
    0xC0C0C0,  // 28 gradient of the inactive caption
    0x6A240A,  // 29 menu highlight
    0xC8D0D4,  // 30 menu bar
};

QString normalisedCollectionExtension(const QString& value) {
    QString extension = QString::fromStdString(asciiLower(value.toStdString()));
    if (extension.isEmpty()) return QStringLiteral(".ics");
    if (!extension.startsWith(QLatin1Char('.'))) extension.prepend(QLatin1Char('.'));
    return extension;
}

// The name part of a help file setting. Settings files are written on
// Windows too, so a backslash ends a folder here as well.
QString helpNamePart(const QString& path) {
    qsizetype start = 0;
    for (qsizetype i = path.size(); i > 0; --i) {
        const QChar c = path.at(i - 1);
        if (c == QLatin1Char('\\') ||
            (c.unicode() < 0x80 && isFolderSeparator(static_cast<char>(c.unicode())))) {
            start = i;
            break;
        }
    }
    return path.mid(start);
}

}  // namespace

QString TIniFile::ReadValue(const QString& section, const QString& key, const QString& fallback) const {
    return QString::fromLocal8Bit(readProfileString(QFile::encodeName(FileName).toStdString(),
                                                    localBytes(section), localBytes(key),
                                                    localBytes(fallback)));
}

int TIniFile::ReadNumber(const QString& section, const QString& key, int fallback) const {
    const auto number = parseProfileNumber(localBytes(ReadValue(section, key, QString())));
    return number ? *number : fallback;
}

QString configuratorFileName() {
#ifdef _WIN32
    return QStringLiteral("tuneup.exe");
#else
    return QStringLiteral("tuneup");
#endif
}

bool isExistingFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QColor colorFromValue(std::uint32_t value) {
    if (value & 0x80000000u) {
        const std::size_t index = value & 0xFFu;
        value = index < kSystemColors.size() ? kSystemColors[index] : 0;
    }
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>(value >> 8 & 0xFF),
                  static_cast<int>(value >> 16 & 0xFF));
}

void TForm1::ReadSettings() {
    AboutText.clear();
    // The reader holds no handle, so leaving early on an error releases
    // nothing but itself.
    const TIniFile ini(SettingsPath);

    setApplicationTitle(ini.ReadValue("Captions", "Title", QString()));
    SaveDialog1.Title = ini.ReadValue("Captions", "Dialog", QString());
    const std::pair<QAction*, const char*> captions[] = {
        {Copytoclipboard1, "Copy"},
        {Saveas1, "Icon"},
        {SaveIconasBMP1, "Bitmap"},
        {Setbackgroundcolor1, "Background"},
        {Internet1, "Homepage"},
        {EMail1, "EMail"},
        {Help1, "Help"},
        {About1, "About"},
    };
    int number = 0;
    for (const auto& [item, key] : captions) {
        item->setText(ini.ReadValue("Menu", key, QString::number(++number)));
        // Items without a hint of their own show their caption as the tip.
        if (item->statusTip().isEmpty()) item->setToolTip(QString(item->text()).remove(QLatin1Char('&')));
    }

    setMaskSelectorEditable(ini.ReadNumber("Options", "EditMask", 0) != 0);
    ShowFileNames = ini.ReadNumber("Options", "ShowFileNames", 1) != 0;
    HelpFileName = ini.ReadValue("Options", "HelpFile", QString());
    CollectionExtension = normalisedCollectionExtension(ini.ReadValue("Options", "Default", QString()));
    StartFile = ini.ReadValue("Options", "Open", QString());
    WebsiteAddress = ini.ReadValue("Options", "Home", QString());
    Internet1->setVisible(!WebsiteAddress.isEmpty());
    EmailAddress = ini.ReadValue("Options", "Mail", QString());
    EMail1->setVisible(!EmailAddress.isEmpty());
    ApplyColorSetting(ini.ReadValue("Options", "Color", QString()));
    ReadMaskList(ini);
    ReadAboutLines(ini);
    FileBox1->setFocus();
}

void TForm1::ApplyColorSetting(const QString& value) {
    if (value.isEmpty()) {
        setDisplayColor(colorFromValue(kDesktopColorValue));
        return;
    }
    // A value that does not convert, and 0, leave the colour as it is.
    const auto color = parseProfileInteger(localBytes(value));
    if (!color || *color == 0) return;
    setDisplayColor(colorFromValue(static_cast<std::uint32_t>(*color)));
}

void TForm1::ReadMaskList(const TIniFile& ini) {
    for (int n = 1; n <= kMaxMasks; ++n) {
        const QString mask = ini.ReadValue("Extensions", QStringLiteral("E%1").arg(n), QString());
        if (mask.isEmpty()) break;
        if (n == 1) {
            ComboBox1->clear();
            ComboBox1->clearEditText();
        }
        ComboBox1->addItem(mask);
    }
}

void TForm1::ReadAboutLines(const TIniFile& ini) {
    bool firstLine = true;
    for (int n = 1; n <= 6; ++n) {
        QString line = ini.ReadValue("Dialogs", QStringLiteral("L%1").arg(n), QStringLiteral("^"));
        if (line == QLatin1String("^")) continue;
        // The profile lookup drops leading blanks; a ">" in front keeps them.
        if (line.startsWith(QLatin1Char('>'))) line = line.mid(1, 255);
        if (!line.isEmpty() && firstLine) {
            line += QString(13, QLatin1Char(' '));
            firstLine = false;
        }
        AboutText += line + QStringLiteral("\r\n");
    }
}

void TForm1::ResolveHelpFile() {
    if (HelpFileName.isEmpty()) return;
    HelpFileName = ExecutableFolder + helpNamePart(HelpFileName);
    if (!isExistingFile(HelpFileName)) return;
    // Once shown the item stays, and so does the help file, for the run.
    Help1->setVisible(true);
    if (lowerExtension(HelpFileName.toStdString()) == ".hlp") WinHelpFile = HelpFileName;
}

}  // namespace pictrove
