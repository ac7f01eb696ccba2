#include "browser/icon_image.h"

namespace pictrove {

QImage renderIcon(const Image& icon, QColor background) {
    QImage out(static_cast<int>(icon.width), static_cast<int>(icon.height), QImage::Format_RGB32);
    const QRgb back = background.rgb() & 0x00FFFFFF;
    for (std::uint32_t y = 0; y < icon.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < icon.width; ++x) {
            const std::size_t i = std::size_t{y} * icon.width + x;
            const std::uint8_t* p = icon.bgra.data() + i * 4;
            const QRgb colour = qRgb(p[2], p[1], p[0]) & 0x00FFFFFF;
            QRgb result;
            if (icon.hasAlpha) {
                const int a = p[3];
                const auto mix = [a](int front, int behind) {
                    return (front * a + behind * (255 - a) + 127) / 255;
                };
                result = qRgb(mix(p[2], qRed(back)), mix(p[1], qGreen(back)), mix(p[0], qBlue(back)));
            } else {
                result = ((icon.mask[i] ? back : 0u) ^ colour) & 0x00FFFFFF;
            }
            line[x] = 0xFF000000u | result;
        }
    }
    return out;
}

}  // namespace pictrove
