#include "image/png.h"

#include <utility>

#include "image/png_codec.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

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
    auto pixels = png_codec::decodeBgra(data, info->width, info->height);
    if (!pixels) return std::nullopt;
    Image image;
    image.width = info->width;
    image.height = info->height;
    image.bgra = std::move(*pixels);
    image.hasAlpha = true;
    deriveMaskFromAlpha(image);
    return image;
}

bool pngDecodes(Bytes data) {
    const auto info = peekPng(data);
    return info && png_codec::decodes(data, info->width, info->height);
}

std::optional<std::vector<std::uint8_t>> encodePng(const Image& image, bool fast) {
    if (image.empty() || image.bgra.size() != image.pixelCount() * 4) return std::nullopt;
    std::vector<std::uint8_t> bgra(image.bgra);
    // Classic icons keep their colour under a set mask; in a PNG only the
    // alpha counts, so a transparent pixel is written as plain zeroes.
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        if (bgra[i + 3] == 0) bgra[i] = bgra[i + 1] = bgra[i + 2] = 0;
    }
    return png_codec::encodeBgra(std::move(bgra), image.width, image.height, fast);
}

}  // namespace pictrove
