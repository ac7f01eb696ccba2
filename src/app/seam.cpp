#include "app/seam.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace pictrove {
namespace {
Seam defaultSeam;
Seam* current = &defaultSeam;
}  // namespace

void Seam::errorBox(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox::critical(parent, title, message, QMessageBox::Ok);
}

void Seam::informationBox(QWidget* parent, const QString& title, const QString& message) {
    QMessageBox::information(parent, title, message, QMessageBox::Ok);
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

Seam& seam() {
    return *current;
}

void setSeam(Seam* replacement) {
    current = replacement ? replacement : &defaultSeam;
}

}  // namespace pictrove
