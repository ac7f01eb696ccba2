// The entry of the pictrove-codecs module.
#include "image/codec_module.h"

#include "image/png_codec.h"

extern "C" __attribute__((visibility("default"))) const void* pictrove_codecs() {
    static const pictrove::Codecs codecs = [] {
        pictrove::Codecs made;
        made.decodePng = pictrove::png_codec::decodeBgra;
        made.encodePng = pictrove::png_codec::encodeBgra;
        made.pngDecodes = pictrove::png_codec::decodes;
        return made;
    }();
    return &codecs;
}
