#include "app/dialogs.h"

#include <QFileInfo>

#include "app/seam.h"

namespace pictrove {

bool TSaveDialog::Execute(QWidget* parent) {
    const auto chosen = seam().saveFileName(parent, Title, Filter, FileName, InitialDir);
    if (!chosen) return false;
    FileName = *chosen;
    return true;
}

std::optional<QString> TSaveDialog::Rename(QWidget* parent, const QString& name) {
    const QString chosen = FileName;
    FileName = name;
    if (name != chosen && QFileInfo::exists(name) && !seam().confirmReplace(parent, Title, name))
        return std::nullopt;
    return name;
}

bool TColorDialog::Execute(QWidget* parent) {
    const auto chosen = seam().chooseColor(parent, Color);
    if (!chosen) return false;
    Color = *chosen;
    return true;
}

}  // namespace pictrove
