#include "app/seam.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "paths.h"

namespace pictrove {
namespace {
Seam defaultSeam;
Seam* current = &defaultSeam;
}  // namespace

void Seam::errorBox(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox::critical(parent, title, message, QMessageBox::Ok);
}

void Seam::informationBox(QWidget* parent, const QString& title, const QString& message) {
    // Settings text is shown as written, never taken for markup; its lines
    // end in CR LF.
    QMessageBox box(QMessageBox::Information, title, QString(message).replace(QStringLiteral("\r\n"), "\n"),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<QString> Seam::saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                          const QString& fileName) {
    // "Icon (*.ico)|*.ico" names the filter before the bar.
    QFileDialog dialog(parent, title, fileName, filter.section(QLatin1Char('|'), 0, 0));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QColor> Seam::chooseColor(QWidget* parent, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

bool Seam::confirmReplace(QWidget* parent, const QString& title, const QString& path) {
    return QMessageBox::question(parent, title,
                                 QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void Seam::openDocument(QWidget*, const QString& target) {
    if (target.isEmpty()) return;
    // A path goes to the program registered for its type; anything else is
    // an address ("https:", "mailto:", or a bare host name).
    const QUrl url = QDir::isAbsolutePath(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
    QDesktopServices::openUrl(url);
}

void Seam::startProgram(QWidget*, const QString& program, const QString& parameters) {
    QStringList arguments;
    for (const std::string& argument : splitCommandLine(parameters.toStdString()))
        arguments << QString::fromStdString(argument);
    QProcess::startDetached(program, arguments);
}

void Seam::showHelpContents(QWidget* owner, const QString& helpFile) {
    // No WinHelp viewer here: the help file goes to whatever the desktop
    // has for it.
    openDocument(owner, helpFile);
}

Seam& seam() {
    return *current;
}

void setSeam(Seam* replacement) {
    current = replacement ? replacement : &defaultSeam;
}

}  // namespace pictrove
