// The PNG codec as the core sees it on Linux: the pictrove-codecs module
// (codec_module.h), loaded when the first picture needs it.
#include "image/codec_module.h"
#include "image/png_codec.h"
#include "module_loader.h"

namespace pictrove::png_codec {
namespace {

const Codecs* codecs() {
    // Once, whichever thread comes first. Without the module no PNG picture
    // can be read or written: those pictures are left out, as damaged ones are.
    static const auto* const loaded =
        static_cast<const Codecs*>(loadModuleTable(kCodecModule, kCodecModuleEntry, sizeof(Codecs)));
    return loaded;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBgra(Bytes png, std::uint32_t width, std::uint32_t height) {
    const Codecs* loaded = codecs();
    return loaded ? loaded->decodePng(png, width, height) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast) {
    const Codecs* loaded = codecs();
    return loaded ? loaded->encodePng(std::move(bgra), width, height, fast) : std::nullopt;
}

}  // namespace pictrove::png_codec
