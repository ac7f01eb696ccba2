// The commands that lead out of the icon work: website, e-mail, help, About,
// the F1 key, and the configurator that edits the settings file.
#include <QAction>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "app/settings.h"

namespace pictrove {

void TForm1::connectLinkCommands() {
    const auto handle = [this](QAction* action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded(this, [this, handler] { (this->*handler)(); }); });
    };
    handle(Internet1, &TForm1::Internet1Click);
    handle(EMail1, &TForm1::EMail1Click);
    handle(Help1, &TForm1::Help1Click);
    handle(About1, &TForm1::About1Click);
    handle(ConfigExtractor, &TForm1::ConfigExtractorClick);
}

void TForm1::ShellOpen(const QString& target, const QStringList& arguments) {
    // Only the configurator is started with arguments; everything else is
    // a document or an address for the desktop's open action.
    if (arguments.isEmpty()) {
        seam().openDocument(this, target);
    } else {
        seam().startProgram(this, target, arguments);
    }
}

void TForm1::Internet1Click() {
    ShellOpen(WebsiteAddress);
}

void TForm1::EMail1Click() {
    ShellOpen(EmailAddress);
}

void TForm1::Help1Click() {
    if (!WinHelpFile.isEmpty()) {
        seam().showHelpContents(this, WinHelpFile);
    } else {
        ShellOpen(HelpFileName);
    }
}

void TForm1::About1Click() {
    seam().informationBox(this, applicationTitle(), AboutText);
}

void TForm1::FormKeyDown(int& key, Qt::KeyboardModifiers) {
    if (key != Qt::Key_F1) return;
    // Taken before anything runs, so no control sees the key even when the
    // command fails.
    key = 0;
    if (!HelpFileName.isEmpty()) {
        Help1Click();
    } else {
        About1Click();
    }
}

void TForm1::ConfigExtractorClick() {
    // Armed first: the user comes back from the configurator to a window
    // that reads the settings again, even if the start itself went wrong.
    armApplicationActivation();
    // The path goes as one argument, whatever quotes or blanks it holds.
    ShellOpen(ExecutableFolder + configuratorFileName(), {SettingsPath});
}

}  // namespace pictrove
