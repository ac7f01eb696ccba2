// The PNG codec through libspng.
#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>

#include "image/png_codec.h"
#include "reader_limits.h"

namespace pictrove::png_codec {
namespace {

// Chunks other than image data that an icon has any business carrying are
// small; this keeps a hostile text or profile chunk from costing memory.
constexpr std::size_t kMaxAncillaryChunk = 1 << 20;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

void swapRedAndBlue(std::vector<std::uint8_t>& pixels) {
    for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) std::swap(pixels[i], pixels[i + 2]);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBgra(Bytes png, std::uint32_t width, std::uint32_t height) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) return std::nullopt;
    spng_set_image_limits(ctx.get(), limits::kMaxImageSide, limits::kMaxImageSide);
    spng_set_chunk_limits(ctx.get(), kMaxAncillaryChunk, kMaxAncillaryChunk * 4);
    if (spng_set_png_buffer(ctx.get(), png.data(), png.size()) != 0) return std::nullopt;

    std::size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return std::nullopt;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (ihdr.width != width || ihdr.height != height || std::uint64_t{width} * height * 4 != size) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> pixels(size);
    if (spng_decode_image(ctx.get(), pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
        return std::nullopt;
    }
    swapRedAndBlue(pixels);
    return pixels;
}

std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast) {
    std::vector<std::uint8_t> rgba = std::move(bgra);
    swapRedAndBlue(rgba);
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return std::nullopt;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    if (fast) {
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
        spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB);
        // Run-length matching finds nearly all an icon's redundancy (about 5 %
        // larger files than full matching) in much less time.
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, Z_RLE);
    }
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (spng_encode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0) {
        return std::nullopt;
    }
    std::size_t length = 0;
    int error = 0;
    void* buffer = spng_get_png_buffer(ctx.get(), &length, &error);
    if (!buffer || error != 0) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::vector<std::uint8_t> out(bytes, bytes + length);
    std::free(buffer);
    return out;
}

}  // namespace pictrove::png_codec
