// The entry of the pictrove-formats module: the readers its build has the
// libraries for.
#include "icon_source/format_module.h"

extern "C" __attribute__((visibility("default"))) const pictrove::FormatReaders* pictrove_format_readers() {
    static const pictrove::FormatReaders readers = [] {
        pictrove::FormatReaders made;
#ifdef PICTROVE_HAVE_GSF
        made.msi = pictrove::formats::readMsiIcons;
#endif
#ifdef PICTROVE_HAVE_APPX
        made.appx = pictrove::formats::readAppxIcons;
#endif
#ifdef PICTROVE_HAVE_APPIMAGE
        made.appImage = pictrove::formats::readAppImageIcons;
#endif
        return made;
    }();
    return &readers;
}
