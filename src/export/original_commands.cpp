// The icon menu's commands on an icon's stored images, and dragging an icon
// out of the grid. What they hand out comes from OriginalIcon; the window
// only picks the icon and the file name.
#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QPixmap>
#include <QUrl>

#include "app/errors.h"
#include "app/form1.h"
#include "browser/icon_picture.h"
#include "export/drag_folder.h"
#include "export/icon_details.h"
#include "export/original_icon.h"
#include "paths.h"

namespace pictrove {
namespace {

const QString kNotValid = QStringLiteral("Icon image is not valid");

OriginalIcon originalOf(const TIconPicture& picture) {
    auto original = OriginalIcon::of(picture);
    if (!original) throw UserError(kNotValid);
    return std::move(*original);
}

}  // namespace

void TForm1::SaveOriginal1Click() {
    if (!SelectedIcon) return;
    const OriginalIcon original = originalOf(*SelectedIcon);
    const bool cursor = original.isCursor();
    SaveDialog1.FileName.clear();
    SaveDialog1.Filter =
        cursor ? QStringLiteral("Cursor (*.cur)|*.cur") : QStringLiteral("Icon (*.ico)|*.ico");
    SaveDialog1.InitialDir = saveDialogFolder();
    if (!SaveDialog1.Execute(this)) return;
    const auto fileName = SaveDialog1.WithExtension(this, cursor ? ".cur" : ".ico");
    if (!fileName) return;
    const auto bytes = original.groupFile();
    if (!bytes) throw UserError(kNotValid);
    writeUserFile(*fileName, *bytes);
    noteSavedFile(*fileName);
}

void TForm1::SavePng1Click() {
    if (!SelectedIcon) return;
    const OriginalIcon original = originalOf(*SelectedIcon);
    SaveDialog1.FileName.clear();
    SaveDialog1.Filter = QStringLiteral("PNG image (*.png)|*.png");
    SaveDialog1.InitialDir = saveDialogFolder();
    const auto size = SaveDialog1.ExecuteSized(this, original.offeredSizes(), original.largestStoredSize());
    if (!size) return;
    const auto fileName = SaveDialog1.WithExtension(this, ".png");
    if (!fileName) return;
    const auto bytes = original.pngAt(*size);
    if (!bytes) throw UserError(kNotValid);
    writeUserFile(*fileName, *bytes);
    noteSavedFile(*fileName);
}

void TForm1::IconDetails1Click() {
    if (!SelectedIcon) return;
    auto* details = new IconDetails(originalOf(*SelectedIcon), this, saveDialogFolder());
    details->show();
}

QMimeData* TForm1::iconDragData(const TIconPicture& picture) {
    const OriginalIcon original = originalOf(picture);
    auto bytes = original.storedPng(original.largestImage());
    // A group whose largest image is damaged still gives the icon as shown.
    if (!bytes) bytes = original.pngAt(kIconSize);
    if (!bytes) throw UserError(kNotValid);
    if (!dragFolder_) {
        dragFolder_ = DragFolder::make();
        if (!dragFolder_) throw UserError(QStringLiteral("Cannot create a temporary folder"));
    }
    const QString name =
        QStringLiteral("%1_%2.png").arg(QFileInfo(original.fileName()).fileName()).arg(original.index());
    const QString path = dragFolder_->filePath(name);
    writeUserFile(path, *bytes);
    auto* offered = new QMimeData;
    offered->setUrls({QUrl::fromLocalFile(path)});
    offered->setData(QStringLiteral("image/png"), QByteArray(reinterpret_cast<const char*>(bytes->data()),
                                                             static_cast<qsizetype>(bytes->size())));
    return offered;
}

QDrag* TForm1::iconDrag(TIconPicture* picture) {
    auto* drag = new QDrag(displayArea());
    drag->setMimeData(iconDragData(*picture));
    if (!picture->empty()) drag->setPixmap(QPixmap::fromImage(picture->rendered(displayColor())));
    return drag;
}

void TForm1::DragIconOut(TIconPicture* picture) {
    iconDrag(picture)->exec(Qt::CopyAction);
}

}  // namespace pictrove
