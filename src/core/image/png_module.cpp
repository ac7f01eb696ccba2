// The PNG codec as the core sees it on Linux: the pictrove-codecs module
// (codec_module.h), loaded when the first picture needs it.
#include "image/codec_module.h"
#include "image/png_codec.h"
#include "module_loader.h"

namespace pictrove::png_codec {
namespace {

// Without the module no PNG picture can be read or written: that is an error
// (ModuleError) for whoever asked, never a picture left out as if damaged.
const Codecs& codecs() {
    return *static_cast<const Codecs*>(loadModuleTable(kCodecModule, kCodecModuleEntry, sizeof(Codecs)));
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBgra(Bytes png, std::uint32_t width, std::uint32_t height) {
    return codecs().decodePng(png, width, height);
}

bool decodes(Bytes png, std::uint32_t width, std::uint32_t height) {
    return codecs().pngDecodes(png, width, height);
}

std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast) {
    return codecs().encodePng(std::move(bgra), width, height, fast);
}

}  // namespace pictrove::png_codec
