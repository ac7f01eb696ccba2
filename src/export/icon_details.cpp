#include "export/icon_details.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs.h"
#include "app/errors.h"
#include "browser/icon_image.h"
#include "icon_source/icon_file.h"
#include "paths.h"

namespace pictrove {
namespace {

// Images above this are shown scaled down so one row never fills the screen.
constexpr int kLargestShown = 256;

}  // namespace

IconDetails::IconDetails(OriginalIcon original, QWidget* owner, QString folder)
    : QWidget(owner, Qt::Window), original_(std::move(original)), lastFolder_(std::move(folder)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("IconDetails"));
    setWindowTitle(QStringLiteral("%1 : Icon %2 - %3")
                       .arg(QFileInfo(original_.fileName()).fileName())
                       .arg(original_.index())
                       .arg(applicationTitle()));
    auto* rows = new QWidget;
    auto* grid = new QGridLayout(rows);
    const auto& images = original_.group().images;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int row = static_cast<int>(i);
        auto* picture = new QLabel;
        picture->setObjectName(QStringLiteral("image%1").arg(i));
        if (const auto decoded = decodeImage(images[i])) {
            QPixmap pixmap = QPixmap::fromImage(toQImage(*decoded));
            if (pixmap.width() > kLargestShown || pixmap.height() > kLargestShown)
                pixmap = pixmap.scaled(kLargestShown, kLargestShown, Qt::KeepAspectRatio,
                                       Qt::SmoothTransformation);
            picture->setPixmap(pixmap);
        } else {
            // A picture the reader draws, stopped by its limits, says why.
            const std::string why = whyNotMade({images[i]});
            picture->setText(
                why.empty() ? QStringLiteral("(cannot be decoded)")
                            : QStringLiteral("(cannot be decoded:\n%1)").arg(QString::fromStdString(why)));
        }
        grid->addWidget(picture, row, 0, Qt::AlignCenter);
        grid->addWidget(new QLabel(describe(images[i])), row, 1);
        auto* save = new QPushButton(QStringLiteral("&Save as PNG ..."));
        save->setObjectName(QStringLiteral("save%1").arg(i));
        connect(save, &QPushButton::clicked, this, [this, i] { guarded(this, [&] { saveImage(i); }); });
        grid->addWidget(save, row, 2);
        auto* copy = new QPushButton(QStringLiteral("&Copy"));
        copy->setObjectName(QStringLiteral("copy%1").arg(i));
        connect(copy, &QPushButton::clicked, this, [this, i] { guarded(this, [&] { copyImage(i); }); });
        grid->addWidget(copy, row, 3);
    }
    if (images.empty())
        grid->addWidget(new QLabel(QStringLiteral("This icon keeps no stored images.")), 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidget(rows);
    scroll->setWidgetResizable(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    // Wide enough for every row beside the scroll bar; the height scrolls.
    resize(std::min(rows->sizeHint().width() + 48, 960), 480);
}

QString IconDetails::describe(const IconImage& image) {
    QString text = QStringLiteral("%1 x %2 x %3 bits, %4, %5 bytes")
                       .arg(image.info.width)
                       .arg(image.info.height)
                       .arg(image.info.bits)
                       .arg(image.info.png ? QStringLiteral("PNG") : QStringLiteral("bitmap"))
                       .arg(image.data.size());
    if (image.hotSpot)
        text += QStringLiteral(", hot spot %1, %2").arg(image.hotSpot->x).arg(image.hotSpot->y);
    return text;
}

void IconDetails::saveImage(std::size_t image) {
    TSaveDialog dialog(QStringLiteral("Save Image as ..."), QStringLiteral("PNG image (*.png)|*.png"));
    dialog.InitialDir = lastFolder_;
    if (!dialog.Execute(this)) return;
    const auto fileName =
        dialog.Rename(this, QString::fromStdString(replaceExtension(dialog.FileName.toStdString(), ".png")));
    if (!fileName) return;
    const auto bytes = original_.storedPng(image);
    if (!bytes) throw UserError(QStringLiteral("Icon image is not valid"));
    writeUserFile(*fileName, *bytes);
    lastFolder_ = QFileInfo(*fileName).absolutePath();
}

void IconDetails::copyImage(std::size_t image) {
    const auto decoded = original_.storedImage(image);
    if (!decoded) throw UserError(QStringLiteral("Icon image is not valid"));
    QGuiApplication::clipboard()->setImage(toQImage(*decoded));
}

}  // namespace pictrove
