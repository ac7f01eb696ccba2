#include <QtTest>

#include "browser/icon_image.h"

using pictrove::Image;

class IconImageTest : public QObject {
    Q_OBJECT

private slots:
    // One pixel of each kind a classic icon can hold, drawn over a background:
    // opaque colour, transparent, inverting, and alpha blending.
    void drawsLikeTheShell() {
        Image classic;
        classic.width = 3;
        classic.height = 1;
        classic.bgra = {0x10, 0x20, 0x30, 255, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
        classic.mask = {0, 1, 1};
        const QImage drawn = pictrove::renderIcon(classic, QColor(0x40, 0x80, 0xC0));
        QCOMPARE(drawn.pixel(0, 0), qRgb(0x30, 0x20, 0x10));
        QCOMPARE(drawn.pixel(1, 0), qRgb(0x40, 0x80, 0xC0));
        QCOMPARE(drawn.pixel(2, 0), qRgb(0xBF, 0x7F, 0x3F));

        Image alpha;
        alpha.width = 1;
        alpha.height = 1;
        alpha.hasAlpha = true;
        alpha.bgra = {0, 0, 255, 128};
        alpha.mask = {0};
        const QImage blended = pictrove::renderIcon(alpha, Qt::white);
        QCOMPARE(blended.pixel(0, 0), qRgb(255, 127, 127));
    }
};

QTEST_MAIN(IconImageTest)
#include "icon_image_test.moc"
