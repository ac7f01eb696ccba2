// Turning the engine's icon values into pictures Qt can show.
#pragma once

#include <QColor>
#include <QImage>

#include "image/image.h"

namespace pictrove {

// The icon drawn over a plain background, the way the shell draws it: images
// with alpha are blended; classic ones clear the background where the mask is
// clear and then XOR their colour into it, so inverting pixels invert.
QImage renderIcon(const Image& icon, QColor background);

// The picture as it stands, alpha included.
QImage toQImage(const Image& picture);

}  // namespace pictrove
