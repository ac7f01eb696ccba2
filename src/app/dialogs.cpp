#include "app/dialogs.h"

#include "app/seam.h"

namespace pictrove {

bool TSaveDialog::Execute(QWidget* parent) {
    const auto chosen = seam().saveFileName(parent, Title, Filter, FileName);
    if (!chosen) return false;
    FileName = *chosen;
    return true;
}

bool TColorDialog::Execute(QWidget* parent) {
    const auto chosen = seam().chooseColor(parent, Color);
    if (!chosen) return false;
    Color = *chosen;
    return true;
}

}  // namespace pictrove
