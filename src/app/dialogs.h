// The dialogs of the main window as components: they keep their settings
// between uses and open through the seam.
#pragma once

#include <QColor>
#include <QString>

class QWidget;

namespace pictrove {

class TSaveDialog {
public:
    TSaveDialog(QString title, QString filter) : Title(std::move(title)), Filter(std::move(filter)) {}

    QString Title;
    QString Filter;    // "Description (*.ext)|*.ext"
    QString FileName;  // the name chosen last, offered again at the next use

    // Asks before replacing an existing file, hides the read-only choice and
    // accepts only names in existing folders. False when cancelled.
    bool Execute(QWidget* parent);
};

class TColorDialog {
public:
    QColor Color;
    bool Execute(QWidget* parent);
};

}  // namespace pictrove
