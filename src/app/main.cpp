// Pictrove's program entry: the application, its title, and the main window.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <cstdio>

#include "app/errors.h"
#include "app/form1.h"
#include "app/settings.h"
#include "export/drag_folder.h"
#include "memory_reuse.h"
#include "temporary_files.h"

namespace {

// With PICTROVE_SELF_CHECK set, the program prints where it looked for its
// files and what the window made of them once the first pass is done, and
// quits. Install checks use it to see that a copy started through a link
// reads the files of its own program folder.
void reportWhenActivated(const pictrove::TForm1& form) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, qApp, [&form] {
        if (!form.Activated) return;
        QStringList menu;
        for (const QAction* action : form.IconMenu->actions())
            if (action->isVisible() && !action->isSeparator()) menu << action->text();
        const QString report = QStringLiteral("caption: %1\nsettings: %2 (%3)\nhelp: %4\nmenu: %5\n")
                                   .arg(form.windowTitle(), form.SettingsPath,
                                        pictrove::isExistingFile(form.SettingsPath) ? "found" : "missing",
                                        form.HelpFileName, menu.join(QLatin1Char('|')));
        std::fputs(report.toLocal8Bit().constData(), stdout);
        QApplication::quit();
    });
    poll->start(20);
}

}  // namespace

int main(int argc, char** argv) {
    pictrove::keepFreedMemory();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictrove"));
    // Ties the window to its menu entry, whose icon the desktop then shows.
    QGuiApplication::setDesktopFileName(QStringLiteral(PICTROVE_APP_ID));
    pictrove::setApplicationTitle(pictrove::builtInText(pictrove::settings_defaults::kTitle));
    // A save or a dragged icon cut short by a logout or a kill leaves no
    // temporary file or folder; those of earlier runs that ended otherwise
    // go now.
    pictrove::removeTemporariesOnSignals();
    pictrove::removeStaleDragFolders();
    pictrove::TForm1 form;
    form.show();
    if (qEnvironmentVariableIsSet("PICTROVE_SELF_CHECK")) reportWhenActivated(form);
    return QApplication::exec();
}
