// "Save Icon Collection as ...": every icon of the grid, in grid order, as
// one icon collection file.
#include <QFile>
#include <vector>

#include "app/errors.h"
#include "app/form1.h"
#include "browser/icon_picture.h"
#include "collection_file.h"
#include "paths.h"

namespace pictrove {

void TForm1::SaveIconCollection1Click() {
    if (!IconsShown) return;
    SaveDialog2.InitialDir = saveDialogFolder();
    if (!SaveDialog2.Execute(this)) return;
    // A name without an extension gets the collection extension: without it
    // the trailer would name none and the file would never read as a
    // collection again. A name with one is used exactly as chosen.
    const auto named =
        SaveDialog2.Rename(this, QString::fromStdString(withDefaultExtension(
                                     SaveDialog2.FileName.toStdString(), CollectionExtension.toStdString())));
    if (!named) return;
    const QString fileName = *named;
    WaitCursor hourglass;

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
    writeUserFile(fileName, buildCollection(images, fileName.toStdString()));
    noteSavedFile(fileName);
}

}  // namespace pictrove
