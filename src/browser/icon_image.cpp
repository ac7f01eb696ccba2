#include "browser/icon_image.h"

#include "icon_writer.h"

namespace pictrove {

QImage toQImage(const Image& picture) {
    QImage out(static_cast<int>(picture.width), static_cast<int>(picture.height), QImage::Format_ARGB32);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(static_cast<int>(y)));
        const std::uint8_t* p = picture.bgra.data() + std::size_t{y} * picture.width * 4;
        for (std::uint32_t x = 0; x < picture.width; ++x, p += 4) line[x] = qRgba(p[2], p[1], p[0], p[3]);
    }
    return out;
}

QImage renderIcon(const Image& icon, QColor background) {
    return toQImage(drawIconOver(icon, background.rgb() & 0x00FFFFFF)).convertToFormat(QImage::Format_RGB32);
}

}  // namespace pictrove
