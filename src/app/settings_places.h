// Where the settings file is looked for. A copy of Pictrove in a folder its
// user can write (unpacked anywhere, a build folder, a USB stick) reads the
// file beside its program, and nothing else, so it can be moved around with
// its settings. An installed copy sits in a folder only the administrator
// can write: there the user's own file, when there is one, comes first, and
// the administrator's file beside the program serves everyone else. The
// window and the configurator share these rules.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include "paths.h"

namespace pictrove {

// The platform's folder for a user's settings: here $XDG_CONFIG_HOME when it
// is an absolute path, else ~/.config.
inline QString userSettingsFolder() {
#ifdef _WIN32
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#else
    return QFile::decodeName(QByteArray::fromStdString(userConfigFolder(
        qgetenv("XDG_CONFIG_HOME").toStdString(), QFile::encodeName(QDir::homePath()).toStdString())));
#endif
}

// The user's own settings file for the one beside the program: the same
// name, in a "pictrove" folder of the user's folder for settings.
inline QString userSettingsPath(const QString& besideProgram) {
    const QString base = userSettingsFolder();
    if (base.isEmpty()) return QString();
    return QDir(base).filePath(QStringLiteral("pictrove/") + QFileInfo(besideProgram).fileName());
}

// Whether files can be made and replaced in the folder holding `path`
// (a save writes a new file there and renames it).
inline bool canSaveBeside(const QString& path) {
    return QFileInfo(QFileInfo(path).absolutePath()).isWritable();
}

// The settings file a pass reads: the user's own when the program's folder
// cannot be written and the user has one, else the one beside the program.
inline QString settingsPathFor(const QString& besideProgram) {
    if (canSaveBeside(besideProgram)) return besideProgram;
    const QString own = userSettingsPath(besideProgram);
    return !own.isEmpty() && QFileInfo(own).isFile() ? own : besideProgram;
}

}  // namespace pictrove
