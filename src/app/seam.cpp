#include "app/seam.h"

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

Seam& seam() {
    return *current;
}

void setSeam(Seam* replacement) {
    current = replacement ? replacement : &defaultSeam;
}

}  // namespace pictrove
