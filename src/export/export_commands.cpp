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
#include "save_file.h"

namespace pictrove {
namespace {

// Writes a file so that a failure leaves any earlier file as it was, and
// turns the failure into the message the user sees.
void writeFile(const QString& fileName, std::span<const std::uint8_t> bytes) {
    if (const auto error = saveFile(QFile::encodeName(fileName).toStdString(), bytes)) {
        if (error->code == ErrorCode::writeFailed) throw UserError(QStringLiteral("Stream write error"));
        throw UserError(QStringLiteral("Cannot create file %1").arg(fileName));
    }
}

// The extension rule of both save commands: the chosen name's extension is
// replaced by `extension`, or `extension` is appended. The dialog keeps the
// result. The dialog asked before replacing the name the user chose; when
// the rule makes another name of it, the question is asked for that one.
std::optional<QString> finalName(QWidget* parent, TSaveDialog& dialog, const char* extension) {
    const QString chosen = dialog.FileName;
    dialog.FileName = QString::fromStdString(replaceExtension(chosen.toStdString(), extension));
    if (dialog.FileName != chosen && QFileInfo::exists(dialog.FileName) &&
        !seam().confirmReplace(parent, dialog.Title, dialog.FileName)) {
        return std::nullopt;
    }
    return dialog.FileName;
}

}  // namespace

void TForm1::Saveas1Click() {
    if (!SelectedIcon) return;
    SaveDialog1.FileName.clear();
    SaveDialog1.Filter = QStringLiteral("Icon (*.ico)|*.ico");
    if (!SaveDialog1.Execute(this)) return;
    if (const auto fileName = finalName(this, SaveDialog1, ".ico")) SaveIconPicture(*SelectedIcon, *fileName);
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
    if (!SaveDialog1.Execute(this)) return;
    if (const auto fileName = finalName(this, SaveDialog1, ".bmp")) SaveExportBitmap(*fileName);
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
    writeFile(fileName, *bytes);
}

void TForm1::SaveExportBitmap(const QString& fileName) {
    const auto bytes = exportBitmap_ ? encodeBitmapFile(*exportBitmap_, 32) : std::nullopt;
    if (!bytes) throw UserError(QStringLiteral("Bitmap image is not valid"));
    writeFile(fileName, *bytes);
}

void TForm1::CopyExportBitmap() {
    if (!exportBitmap_) return;
    QGuiApplication::clipboard()->setImage(toQImage(*exportBitmap_).convertToFormat(QImage::Format_RGB32));
}

}  // namespace pictrove
