#include "image/jpeg2000.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "module_loader.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::string_view kJp2Signature("\0\0\0\x0CjP  \r\n\x87\n", 12);
constexpr std::string_view kCodestreamStart("\xFF\x4F\xFF\x51", 4);

}  // namespace

bool isJpeg2000(Bytes data) {
    return hasTagAt(data, 0, kJp2Signature) || hasTagAt(data, 0, kCodestreamStart);
}

namespace {

std::optional<std::uint64_t> bigEndianAt(Bytes data, std::uint64_t at, int width) {
    if (!fitsIn(data.size(), at, static_cast<std::uint64_t>(width))) return std::nullopt;
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | std::to_integer<std::uint64_t>(data[at + i]);
    return value;
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> jpeg2000Size(Bytes head) {
    if (hasTagAt(head, 0, kCodestreamStart)) {
        // Xsiz, Ysiz, XOsiz, YOsiz: the picture lies between the offsets and the sizes.
        const auto right = bigEndianAt(head, 8, 4), bottom = bigEndianAt(head, 12, 4);
        const auto left = bigEndianAt(head, 16, 4), top = bigEndianAt(head, 20, 4);
        if (!right || !bottom || !left || !top || *right <= *left || *bottom <= *top) return std::nullopt;
        return std::pair(static_cast<std::uint32_t>(*right - *left),
                         static_cast<std::uint32_t>(*bottom - *top));
    }
    if (!hasTagAt(head, 0, kJp2Signature)) return std::nullopt;
    // Boxes: a length (1: a 64-bit one follows the type; 0: to the end) and
    // a type; the header box holds the image header box, height first.
    for (std::uint64_t at = 0; fitsIn(head.size(), at, 8);) {
        std::uint64_t length = *bigEndianAt(head, at, 4), header = 8;
        if (length == 1) {
            length = bigEndianAt(head, at + 8, 8).value_or(0);
            header = 16;
        }
        if (hasTagAt(head, at + 4, "ihdr")) {
            const auto height = bigEndianAt(head, at + header, 4),
                       width = bigEndianAt(head, at + header + 4, 4);
            if (!height || !width || *height == 0 || *width == 0) return std::nullopt;
            return std::pair(static_cast<std::uint32_t>(*width), static_cast<std::uint32_t>(*height));
        }
        if (hasTagAt(head, at + 4, "jp2h")) {
            at += header;  // into it
        } else if (length < header || length > head.size() - at) {
            return std::nullopt;  // the last box, or one past what was read
        } else {
            at += length;
        }
    }
    return std::nullopt;
}

bool canDecodeJpeg2000() {
#ifdef PICTROVE_HAVE_OPENJP2
    return true;
#else
    return false;
#endif
}

std::optional<Image> decodeJpeg2000(Bytes data) {
#ifdef PICTROVE_HAVE_JPEG2000_MODULE
    // Built, so it must be there: a missing module throws ModuleError.
    const auto& decoder = *static_cast<const Jpeg2000Decoder*>(
        loadModuleTable(kJpeg2000Module, kJpeg2000ModuleEntry, sizeof(Jpeg2000Decoder)));
    return decoder.decode ? decoder.decode(data) : std::nullopt;
#else
    (void)data;
    return std::nullopt;
#endif
}

}  // namespace pictrove
