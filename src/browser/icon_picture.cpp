#include "browser/icon_picture.h"

#include "browser/icon_image.h"

namespace pictrove {

void TIconPicture::setAutoSize(bool on) {
    if (on && !empty())
        geometry_.setSize({static_cast<int>(record_->iconWidth()), static_cast<int>(record_->iconHeight())});
}

const QImage& TIconPicture::rendered(QColor background) {
    if (record_ && record_->icon() && (rendered_.isNull() || renderedOver_ != background.rgb())) {
        rendered_ = renderIcon(*record_->icon(), background);
        renderedOver_ = background.rgb();
    }
    return rendered_;
}

}  // namespace pictrove
