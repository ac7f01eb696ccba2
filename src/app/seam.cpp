#include "app/seam.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace pictrove {
namespace {
Seam defaultSeam;
Seam* current = &defaultSeam;

// The toolkit's own dialog, so that a name in a folder that does not exist
// can be turned down while the dialog is still open.
class SaveFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo chosen(files.first());
            if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
                QMessageBox::warning(this, windowTitle(),
                                     QStringLiteral("The folder %1 does not exist.")
                                         .arg(QDir::toNativeSeparators(chosen.absolutePath())));
                return;
            }
        }
        QFileDialog::accept();
    }
};

// "Description|*.a;*.b" as the toolkit takes it: the description shown as
// it is, the patterns apart, and "*.*" meaning every file, as on Windows,
// names without an extension included.
QString nameFilter(const QString& filter) {
    QStringList patterns = filter.section(QLatin1Char('|'), 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
        if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    return filter.section(QLatin1Char('|'), 0, 0) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

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

namespace {

void prepareSaveDialog(QFileDialog& dialog, const QString& filter, const QString& fileName,
                       const QString& folder) {
    // The description is shown without the patterns the toolkit would add.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(nameFilter(filter));
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    if (!fileName.isEmpty()) dialog.selectFile(fileName);
}

std::optional<QString> runSaveDialog(QFileDialog& dialog, const QString& title) {
    // Set last: an empty title would otherwise give way to the toolkit's own.
    dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

}  // namespace

std::optional<QString> Seam::saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                          const QString& fileName, const QString& folder) {
    SaveFileDialog dialog(parent);
    prepareSaveDialog(dialog, filter, fileName, folder);
    return runSaveDialog(dialog, title);
}

std::optional<Seam::SizedName> Seam::saveSizedFileName(QWidget* parent, const QString& title,
                                                       const QString& filter, const QString& fileName,
                                                       const QString& folder,
                                                       const std::vector<std::uint32_t>& sizes,
                                                       std::uint32_t size) {
    SaveFileDialog dialog(parent);
    prepareSaveDialog(dialog, filter, fileName, folder);
    auto* sizeBox = new QComboBox(&dialog);
    sizeBox->setObjectName(QStringLiteral("sizeBox"));
    for (const std::uint32_t offered : sizes) {
        sizeBox->addItem(QStringLiteral("%1 x %1").arg(offered), offered);
        if (offered == size) sizeBox->setCurrentIndex(sizeBox->count() - 1);
    }
    auto* sizeLabel = new QLabel(QStringLiteral("Si&ze:"), &dialog);
    sizeLabel->setObjectName(QStringLiteral("sizeLabel"));
    sizeLabel->setBuddy(sizeBox);
    // The toolkit's own dialog lays itself out on a grid; the box takes a
    // row of its own below the name and type rows.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(sizeLabel, row, 0);
        grid->addWidget(sizeBox, row, 1);
    }
    const auto chosen = runSaveDialog(dialog, title);
    if (!chosen) return std::nullopt;
    return SizedName{*chosen, sizeBox->currentData().toUInt()};
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

void Seam::startProgram(QWidget*, const QString& program, const QStringList& arguments) {
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
