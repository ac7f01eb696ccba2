// "Save Icon Collection as ...": every icon of the grid, in grid order, as
// one icon collection file.
#include <QFile>
#include <vector>

#include "app/errors.h"
#include "app/form1.h"
#include "browser/icon_picture.h"
#include "collection_file.h"
#include "save_file.h"

namespace pictrove {

void TForm1::SaveIconCollection1Click() {
    if (!IconsShown) return;
    if (!SaveDialog2.Execute(this)) return;
    WaitCursor hourglass;
    const QString fileName = SaveDialog2.FileName;  // used exactly as chosen

    // A picture whose icon file image cannot be built gets no record; the
    // others are written all the same.
    std::vector<std::span<const std::uint8_t>> images;
    images.reserve(iconPictures().size());
    for (TIconPicture* picture : iconPictures()) {
        if (picture->tag() != TIconPicture::kGridTag || !picture->record()) continue;
        if (auto image = picture->record()->fileImage()) images.push_back(*image);
    }
    // The whole file is written at once beside the target and then put in its
    // place, so a failure never leaves a cut-short collection behind.
    const auto bytes = buildCollection(images, fileName.toStdString());
    if (const auto error = saveFile(QFile::encodeName(fileName).toStdString(), bytes)) {
        if (error->code == ErrorCode::writeFailed) throw UserError(QStringLiteral("Stream write error"));
        throw UserError(QStringLiteral("Cannot create file %1").arg(fileName));
    }
}

}  // namespace pictrove
