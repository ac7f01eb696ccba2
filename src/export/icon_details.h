// A window listing every stored image of one icon at its own size, each of
// which can be saved as PNG or copied.
#pragma once

#include <QWidget>

#include "export/original_icon.h"

namespace pictrove {

class IconDetails : public QWidget {
    Q_OBJECT

public:
    // A window of its own over `owner`, deleted when closed; its save dialog
    // opens in `folder` first.
    IconDetails(OriginalIcon original, QWidget* owner, QString folder);

    // One line per stored image, as the window lists them.
    static QString describe(const IconImage& image);

    void saveImage(std::size_t image);
    void copyImage(std::size_t image);

private:
    OriginalIcon original_;
    QString lastFolder_;
};

}  // namespace pictrove
