#include "image/png.h"

#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>

#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Chunks other than image data that an icon has any business carrying are
// small; this keeps a hostile text or profile chunk from costing memory.
constexpr std::size_t kMaxAncillaryChunk = 1 << 20;

struct ContextDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

std::uint32_t bigEndian32(Bytes data, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | std::to_integer<std::uint32_t>(data[offset + i]);
    return value;
}

}  // namespace

bool isPng(Bytes data) {
    if (data.size() < sizeof kSignature) return false;
    for (std::size_t i = 0; i < sizeof kSignature; ++i) {
        if (std::to_integer<std::uint8_t>(data[i]) != kSignature[i]) return false;
    }
    return true;
}

std::optional<ImageInfo> peekPng(Bytes data) {
    // Signature, then the IHDR chunk: length 13, "IHDR", width, height.
    if (!isPng(data) || !hasTagAt(data, 12, "IHDR") || data.size() < 8 + 8 + 13) return std::nullopt;
    const std::uint32_t width = bigEndian32(data, 16);
    const std::uint32_t height = bigEndian32(data, 20);
    if (width == 0 || height == 0 || width > limits::kMaxImageSide || height > limits::kMaxImageSide) {
        return std::nullopt;
    }
    return ImageInfo{width, height, 32, true};
}

std::size_t storedPngSize(Bytes data) {
    constexpr std::uint64_t kSignatureSize = 8;
    constexpr std::uint64_t kChunkOverhead = 12;  // length, type, checksum
    // Every step moves on by at least a chunk's overhead, so the walk ends.
    for (std::uint64_t at = kSignatureSize; fitsIn(data.size(), at, kChunkOverhead);) {
        const std::uint64_t end = at + kChunkOverhead + bigEndian32(data, at);
        if (end > data.size()) break;
        if (hasTagAt(data, at + 4, "IEND")) return static_cast<std::size_t>(end);
        at = end;
    }
    return data.size();
}

std::optional<Image> decodePng(Bytes data) {
    const auto info = peekPng(data);
    if (!info) return std::nullopt;
    Context ctx(spng_ctx_new(0));
    if (!ctx) return std::nullopt;
    spng_set_image_limits(ctx.get(), limits::kMaxImageSide, limits::kMaxImageSide);
    spng_set_chunk_limits(ctx.get(), kMaxAncillaryChunk, kMaxAncillaryChunk * 4);
    if (spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) return std::nullopt;

    std::size_t size = 0;
    if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return std::nullopt;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (std::uint64_t{ihdr.width} * ihdr.height * 4 != size) return std::nullopt;

    Image image;
    image.width = ihdr.width;
    image.height = ihdr.height;
    image.bgra.resize(size);
    if (spng_decode_image(ctx.get(), image.bgra.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < size; i += 4) std::swap(image.bgra[i], image.bgra[i + 2]);
    image.hasAlpha = true;
    deriveMaskFromAlpha(image);
    return image;
}

std::optional<std::vector<std::uint8_t>> encodePng(const Image& image, bool fast) {
    if (image.empty() || image.bgra.size() != image.pixelCount() * 4) return std::nullopt;
    std::vector<std::uint8_t> rgba(image.bgra);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        std::swap(rgba[i], rgba[i + 2]);
        // Classic icons keep their colour under a set mask; in a PNG only the
        // alpha counts, so a transparent pixel is written as plain zeroes.
        if (rgba[i + 3] == 0) rgba[i] = rgba[i + 1] = rgba[i + 2] = 0;
    }

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
    ihdr.width = image.width;
    ihdr.height = image.height;
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

}  // namespace pictrove
