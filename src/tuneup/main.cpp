// tuneup: the configurator that edits Pictrove's settings file. The window
// starts it with the settings file's path; without one it edits the file
// the window would read.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <string_view>

#include "temporary_files.h"
#include "tuneup/settings_editor.h"

namespace {

constexpr const char* kUsage =
    "Usage: tuneup [FILE]\n"
    "       tuneup --help | --version\n"
    "\n"
    "Edits Pictrove's settings file FILE (it need not exist yet): the window\n"
    "title, the icon menu captions, the file masks, the About box, the links,\n"
    "the help file and the display colour. Without FILE it edits the file\n"
    "Pictrove reads: pictrove.ini beside tuneup, or, when that folder cannot be\n"
    "written, your own $XDG_CONFIG_HOME/pictrove/pictrove.ini once you have one.\n"
    "When you may not change the pictrove.ini beside tuneup, it can start your\n"
    "own. Only the keys you change are written; everything else in the file\n"
    "stays as it is.\n";

}  // namespace

int main(int argc, char** argv) {
    // Options first, so that --help works without a display.
    if (argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 1 && std::string_view(argv[1]) == "--version") {
        std::printf("tuneup %s\n", PICTROVE_VERSION);
        return 0;
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fprintf(stderr, "tuneup: unknown argument\n%s", kUsage);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tuneup"));
    // A save cut short by a logout or a kill leaves no temporary file.
    pictrove::removeTemporariesOnSignals();
    // Qt's copy of the argument: on Windows it comes from the wide command
    // line, so no letter is lost to the code page.
    const QString shared = QDir(QCoreApplication::applicationDirPath()).filePath("pictrove.ini");
    using pictrove::tuneup::SettingsEditor;
    SettingsEditor editor(SettingsEditor::fileToEdit(QCoreApplication::arguments(), shared));
    editor.sharedSettingsPath = shared;
    editor.load();
    editor.show();
    return QApplication::exec();
}
