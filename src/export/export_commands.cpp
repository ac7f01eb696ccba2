// The export commands of the icon menu: the selected icon to the clipboard,
// to an icon file or to a bitmap file, and the display area's colour.
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>

#include "app/errors.h"
#include "app/form1.h"
#include "app/seam.h"
#include "browser/icon_image.h"
#include "browser/icon_picture.h"
#include "icon_writer.h"
#include "paths.h"

namespace pictrove {

void TForm1::Saveas1Click() {
    if (!SelectedIcon) return;
    SaveDialog1.FileName.clear();
    SaveDialog1.Filter = QStringLiteral("Icon (*.ico)|*.ico");
    SaveDialog1.InitialDir = saveDialogFolder();
    if (!SaveDialog1.Execute(this)) return;
    if (const auto fileName = SaveDialog1.WithExtension(this, ".ico"))
        SaveIconPicture(*SelectedIcon, *fileName);
}

void TForm1::SaveIconasBMP1Click(QObject* sender) {
    if (!SelectedIcon) return;
    PrepareExportBitmap();
    if (sender != SaveIconasBMP1) {
        CopyExportBitmap();
        return;
    }
    SaveDialog1.FileName.clear();
    SaveDialog1.Filter = QStringLiteral("Bitmap (*.bmp)|*.bmp");
    SaveDialog1.InitialDir = saveDialogFolder();
    if (!SaveDialog1.Execute(this)) return;
    if (const auto fileName = SaveDialog1.WithExtension(this, ".bmp")) SaveExportBitmap(*fileName);
}

void TForm1::Setbackgroundcolor1Click() {
    ColorDialog1.Color = displayColor();
    if (!ColorDialog1.Execute(this)) return;
    setDisplayColor(ColorDialog1.Color);
}

void TForm1::PrepareExportBitmap() {
    // Filled white and drawn afresh each time, so no earlier icon shows through.
    const std::shared_ptr<IconRecord> shared = SelectedIcon->record();
    exportBitmap_ = prepareExportBitmap(shared && shared->icon() ? *shared->icon() : Image{});
    Image1->setPixmap(QPixmap::fromImage(toQImage(*exportBitmap_)));
}

void TForm1::SaveIconPicture(TIconPicture& picture, const QString& fileName) {
    if (!picture.record()) throw UserError(QStringLiteral("Icon image is not valid"));
    const auto bytes = picture.record()->fileImage();
    if (!bytes) throw UserError(QString::fromStdString(bytes.error().message));
    writeUserFile(fileName, *bytes);
    noteSavedFile(fileName);
}

void TForm1::SaveExportBitmap(const QString& fileName) {
    const auto bytes = exportBitmap_ ? encodeBitmapFile(*exportBitmap_, 32) : std::nullopt;
    if (!bytes) throw UserError(QStringLiteral("Bitmap image is not valid"));
    writeUserFile(fileName, *bytes);
    noteSavedFile(fileName);
}

void TForm1::CopyExportBitmap() {
    if (!exportBitmap_) return;
    QGuiApplication::clipboard()->setImage(toQImage(*exportBitmap_).convertToFormat(QImage::Format_RGB32));
}

}  // namespace pictrove
