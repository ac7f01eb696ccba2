#include "image/svg.h"

#include <algorithm>
#include <string_view>

#include "module_loader.h"
#include "reader_limits.h"

namespace pictrove {

bool isSvg(Bytes data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()),
                                std::min<std::size_t>(data.size(), 4096));
    const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string_view::npos && text[first] == '<' &&
           text.find("<svg") != std::string_view::npos;
}

std::optional<Image> renderSvg(Bytes data, std::uint32_t side) {
    if (side == 0 || side > limits::kMaxImageSide || !isSvg(data)) return std::nullopt;
#ifdef PICTROVE_HAVE_SVG_MODULE
    // Built, so it must be there: a missing module throws ModuleError.
    const auto& drawing =
        *static_cast<const SvgDrawing*>(loadModuleTable(kSvgModule, kSvgModuleEntry, sizeof(SvgDrawing)));
    return drawing.draw ? drawing.draw(data, side) : std::nullopt;
#else
    return std::nullopt;
#endif
}

}  // namespace pictrove
