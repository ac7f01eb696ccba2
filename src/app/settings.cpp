// The reading pass of the activation sequence: every key of the settings
// file, its default and its effect, in the order the file is read.
#include "app/settings.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <utility>

#include "app/errors.h"
#include "app/file_names.h"
#include "app/form1.h"
#include "filebox/file_box.h"
#include "paths.h"
#include "profile.h"
#include "system_colors.h"

namespace pictrove {
namespace {

// Keys are read as the local 8-bit text of the Windows "A" functions.
std::string localBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QString normalisedCollectionExtension(const QString& value) {
    QString extension = QString::fromStdString(asciiLower(value.toStdString()));
    if (extension.isEmpty()) return builtInText(settings_defaults::kCollectionExtension);
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
    return QString::fromLocal8Bit(readProfileString(coreFileName(FileName), localBytes(section),
                                                    localBytes(key), localBytes(fallback)));
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
    value = rgbOfColorValue(value);
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
    // In the order of the built-in caption table, whose keys they read.
    QAction* const items[] = {Copytoclipboard1, Saveas1, SaveIconasBMP1, Setbackgroundcolor1,
                              Internet1,        EMail1,  Help1,          About1};
    static_assert(std::size(items) == settings_defaults::kMenuCaptions.size());
    for (std::size_t n = 0; n < std::size(items); ++n) {
        QAction* item = items[n];
        item->setText(ini.ReadValue("Menu", builtInText(settings_defaults::kMenuCaptions[n].key),
                                    QString::number(n + 1)));
        // Items without a hint of their own show their caption as the tip.
        if (item->statusTip().isEmpty()) item->setToolTip(QString(item->text()).remove(QLatin1Char('&')));
    }

    QAction* const originalItems[] = {SaveOriginal1, SavePng1, IconDetails1};
    static_assert(std::size(originalItems) == settings_defaults::kOriginalMenuCaptions.size());
    for (std::size_t n = 0; n < std::size(originalItems); ++n) {
        const auto& caption = settings_defaults::kOriginalMenuCaptions[n];
        originalItems[n]->setText(
            ini.ReadValue("Menu", builtInText(caption.key), builtInText(caption.caption)));
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
    for (int n = 1; n <= settings_defaults::kMaxMasks; ++n) {
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
    using namespace settings_defaults;
    for (int n = 1; n <= kAboutLineCount; ++n) {
        QString line = ini.ReadValue("Dialogs", QStringLiteral("L%1").arg(n), builtInText(kNoAboutLine));
        if (line == builtInText(kNoAboutLine)) continue;
        // The profile lookup drops leading blanks; a mark in front keeps them.
        if (line.startsWith(QLatin1Char(kAboutLineMark)))
            line = line.mid(1, static_cast<qsizetype>(kMaxMarkedAboutLine));
        if (!line.isEmpty() && firstLine) {
            line += QString(13, QLatin1Char(' '));
            firstLine = false;
        }
        AboutText += line + QStringLiteral("\r\n");
    }
}

void TForm1::ResolveHelpFile() {
    if (HelpFileName.isEmpty()) return;
    // A user's own settings file may bring its own help file beside it; the
    // help installed with the program is found beside the program.
    const QString name = helpNamePart(HelpFileName);
    const QString settingsFolder = QFileInfo(SettingsPath).absolutePath() + QLatin1Char('/');
    const bool ownSettings = QDir(settingsFolder) != QDir(ExecutableFolder);
    HelpFileName = ownSettings && isExistingFile(settingsFolder + name) ? settingsFolder + name
                                                                        : ExecutableFolder + name;
    if (!isExistingFile(HelpFileName)) return;
    // Once shown the item stays, and so does the help file, for the run.
    Help1->setVisible(true);
    if (lowerExtension(HelpFileName.toStdString()) == ".hlp") WinHelpFile = HelpFileName;
}

}  // namespace pictrove
