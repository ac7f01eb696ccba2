// The dialogs of the main window as components: they keep their settings
// between uses and open through the seam.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class QWidget;

namespace pictrove {

class TSaveDialog {
public:
    TSaveDialog(QString title, QString filter) : Title(std::move(title)), Filter(std::move(filter)) {}

    QString Title;
    QString Filter;      // "Description (*.ext)|*.ext"
    QString FileName;    // the name chosen last, offered again at the next use
    QString InitialDir;  // the folder the dialog opens in

    // Asks before replacing an existing file, hides the read-only choice and
    // accepts only names in existing folders. False when cancelled.
    bool Execute(QWidget* parent);

    // The dialog with a size box, offering `sizes` with `size` chosen. The
    // chosen size; nothing when cancelled.
    std::optional<std::uint32_t> ExecuteSized(QWidget* parent, const std::vector<std::uint32_t>& sizes,
                                              std::uint32_t size);

    // Puts `name`, which a naming rule made of the chosen name, in its place.
    // When it differs and names an existing file, asks before that file is
    // replaced (the dialog asked only about the chosen one); nothing when
    // the user says no.
    std::optional<QString> Rename(QWidget* parent, const QString& name);

    // The extension rule of the save commands: the chosen name's extension
    // is replaced by `extension`, or `extension` is appended; then Rename.
    std::optional<QString> WithExtension(QWidget* parent, const char* extension);
};

class TColorDialog {
public:
    QColor Color;
    bool Execute(QWidget* parent);
};

}  // namespace pictrove
