#include "app/dialogs.h"

#include <QFileInfo>

#include "app/seam.h"
#include "paths.h"

namespace pictrove {

bool TSaveDialog::Execute(QWidget* parent) {
    const auto chosen = seam().saveFileName(parent, Title, Filter, FileName, InitialDir);
    if (!chosen) return false;
    FileName = *chosen;
    return true;
}

std::optional<std::uint32_t> TSaveDialog::ExecuteSized(QWidget* parent,
                                                       const std::vector<std::uint32_t>& sizes,
                                                       std::uint32_t size) {
    const auto chosen = seam().saveSizedFileName(parent, Title, Filter, FileName, InitialDir, sizes, size);
    if (!chosen) return std::nullopt;
    FileName = chosen->fileName;
    return chosen->size;
}

std::optional<QString> TSaveDialog::WithExtension(QWidget* parent, const char* extension) {
    return Rename(parent, QString::fromStdString(replaceExtension(FileName.toStdString(), extension)));
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
