// The PNG codec through libspng.
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

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

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    out.insert(out.end(), bytes, bytes + 4);
}

void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data,
              std::size_t length) {
    putBigEndian(out, static_cast<std::uint32_t>(length));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (length != 0) out.insert(out.end(), data, data + length);
    putBigEndian(out,
                 static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(length + 4))));
}

// What encodeQuickly keeps from one image to the next: the compressor,
// whose setting up takes its tables, and the buffers the rows are filtered
// and compressed into. A compressor holds nothing of the last image it
// compressed.
class QuickEncoder {
public:
    QuickEncoder() = default;
    QuickEncoder(const QuickEncoder&) = delete;
    QuickEncoder& operator=(const QuickEncoder&) = delete;
    ~QuickEncoder() {
        if (compressor_) libdeflate_free_compressor(compressor_);
    }

    // The compressor; nothing when there is no memory for it.
    libdeflate_compressor* compressor() {
        if (!compressor_) compressor_ = libdeflate_alloc_compressor(kLevel);
        return compressor_;
    }
    std::uint8_t* filtered(std::size_t size) { return grow(filtered_, filteredSize_, size); }
    std::uint8_t* compressed(std::size_t size) { return grow(compressed_, compressedSize_, size); }

private:
    // Contents are not kept: each image fills what it uses.
    static std::uint8_t* grow(std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& capacity,
                              std::size_t size) {
        if (size > capacity) {
            buffer.reset(new std::uint8_t[size]);
            capacity = size;
        }
        return buffer.get();
    }
    static constexpr int kLevel = 1;
    libdeflate_compressor* compressor_ = nullptr;
    std::unique_ptr<std::uint8_t[]> filtered_, compressed_;
    std::size_t filteredSize_ = 0, compressedSize_ = 0;
};

// The encoders not in use, one for each thread that encodes at once. Not
// kept per thread: this code lives in a module loaded at run time, where a
// thread's own objects take the dynamic kind of thread storage, which the
// leak checker of the sanitizer builds cannot walk safely at exit.
class EncoderPool {
public:
    // An encoder of the pool's, given back when the lease ends.
    class Lease {
    public:
        explicit Lease(EncoderPool& pool) : pool_(pool), encoder_(pool.take()) {}
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { pool_.give(std::move(encoder_)); }
        QuickEncoder& operator*() const { return *encoder_; }

    private:
        EncoderPool& pool_;
        std::unique_ptr<QuickEncoder> encoder_;
    };

private:
    // Preferably the one this thread gave back last: its tables and buffers
    // are still in this processor's cache, where another thread's would have
    // to be fetched from another's (5 % of extracting every image).
    std::unique_ptr<QuickEncoder> take() {
        const auto self = std::this_thread::get_id();
        const std::lock_guard lock(mutex_);
        if (free_.empty()) return std::make_unique<QuickEncoder>();
        auto it =
            std::find_if(free_.begin(), free_.end(), [&](const Kept& kept) { return kept.user == self; });
        if (it == free_.end()) --it;
        auto encoder = std::move(it->encoder);
        free_.erase(it);
        return encoder;
    }
    void give(std::unique_ptr<QuickEncoder> encoder) {
        const std::lock_guard lock(mutex_);
        try {
            free_.push_back({std::this_thread::get_id(), std::move(encoder)});
        } catch (const std::bad_alloc&) {  // no room to keep it: let it go
        }
    }

    struct Kept {
        std::thread::id user;
        std::unique_ptr<QuickEncoder> encoder;
    };
    std::mutex mutex_;
    std::vector<Kept> free_;
};

// The quick encoding every extracted icon and thumbnail takes: each row
// Sub-filtered (the pixel minus its left neighbour, so flat runs and pixels
// repeated by enlarging become zeroes) while red and blue are swapped, or,
// when it repeats the row above as enlarged rows do, Up-filtered to all
// zeroes; then deflated by libdeflate at its quickest level, which is
// quicker than zlib's and still makes smaller files of icons. Done here rather than
// through libspng, whose general scanline path cost more than the
// compression itself on a 256 px thumbnail. Sides are at most 1024, so every
// size fits 32 bits.
std::optional<std::vector<std::uint8_t>> encodeQuickly(const std::vector<std::uint8_t>& bgra,
                                                       std::uint32_t width, std::uint32_t height) {
    const std::size_t rowBytes = std::size_t{width} * 4;
    const std::size_t stride = rowBytes + 1;
    const std::size_t filteredSize = stride * height;
    static EncoderPool pool;
    const EncoderPool::Lease lease(pool);
    QuickEncoder& encoder = *lease;
    // Filled completely below, so not cleared.
    std::uint8_t* const filtered = encoder.filtered(filteredSize);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* pixel = bgra.data() + y * rowBytes;
        std::uint8_t* row = filtered + y * stride;
        if (y > 0 && std::memcmp(pixel, pixel - rowBytes, rowBytes) == 0) {
            row[0] = 2;  // Up
            std::memset(row + 1, 0, rowBytes);
            continue;
        }
        row[0] = 1;  // Sub, in RGBA order: each byte minus the same channel's a pixel before
        std::uint8_t* out = row + 1;
        out[0] = pixel[2];
        out[1] = pixel[1];
        out[2] = pixel[0];
        out[3] = pixel[3];
        for (std::size_t i = 4; i < rowBytes; i += 4) {
            out[i] = static_cast<std::uint8_t>(pixel[i + 2] - pixel[i - 2]);
            out[i + 1] = static_cast<std::uint8_t>(pixel[i + 1] - pixel[i - 3]);
            out[i + 2] = static_cast<std::uint8_t>(pixel[i] - pixel[i - 4]);
            out[i + 3] = static_cast<std::uint8_t>(pixel[i + 3] - pixel[i - 1]);
        }
    }

    libdeflate_compressor* const compressor = encoder.compressor();
    if (!compressor) return std::nullopt;
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor, filteredSize);
    std::uint8_t* const compressed = encoder.compressed(bound);
    const std::size_t compressedSize =
        libdeflate_zlib_compress(compressor, filtered, filteredSize, compressed, bound);
    if (compressedSize == 0) return std::nullopt;

    std::vector<std::uint8_t> out;
    out.reserve(compressedSize + 64);
    const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.insert(out.end(), signature, signature + 8);
    std::vector<std::uint8_t> header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    putChunk(out, "IHDR", header.data(), header.size());
    putChunk(out, "IDAT", compressed, compressedSize);
    putChunk(out, "IEND", nullptr, 0);
    return out;
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

namespace {

std::uint32_t bigEndianAt(const std::uint8_t* at) {
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// A PNG whose decoding cannot fail: libspng has read its header and every
// chunk before the image data without fault, and the image data is one run
// of chunks with sound checksums, holding one zlib stream of a 32 KiB window
// that inflates to exactly the filtered rows, each with a known filter, and
// nothing after it but the end chunk. Anything else is for the decoder to
// judge; so is every image that is not 8-bit RGBA, or interlaced.
bool plainlySound(Bytes png, std::uint32_t width, std::uint32_t height) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) return false;
    spng_set_image_limits(ctx.get(), limits::kMaxImageSide, limits::kMaxImageSide);
    spng_set_chunk_limits(ctx.get(), kMaxAncillaryChunk, kMaxAncillaryChunk * 4);
    spng_ihdr ihdr{};
    if (spng_set_png_buffer(ctx.get(), png.data(), png.size()) != 0 || spng_get_ihdr(ctx.get(), &ihdr) != 0 ||
        ihdr.width != width || ihdr.height != height || ihdr.bit_depth != 8 ||
        ihdr.color_type != SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || ihdr.interlace_method != 0 ||
        spng_decode_chunks(ctx.get()) != 0)
        return false;

    // The chunks, up to the end chunk right after the image data.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(png.data());
    const std::size_t size = png.size();
    std::vector<std::pair<std::size_t, std::size_t>> data;  // the image data chunks' (offset, length)
    std::size_t at = 8;
    bool ended = false;
    while (!ended) {
        if (size - at < 12) return false;
        const std::size_t length = bigEndianAt(bytes + at);
        if (length > size - at - 12) return false;
        const std::uint8_t* type = bytes + at + 4;
        const bool isData = std::memcmp(type, "IDAT", 4) == 0;
        if (!isData && !data.empty()) {
            // What follows the image data: the end chunk, whole, and no more.
            if (std::memcmp(type, "IEND", 4) != 0 || length != 0 || at + 12 != size) return false;
            ended = true;
        }
        if (isData || ended) {
            const std::uint32_t sum = bigEndianAt(type + 4 + length);
            if (libdeflate_crc32(0, type, length + 4) != sum) return false;
            if (isData) data.emplace_back(at + 8, length);
        }
        at += 12 + length;
    }

    // The stream, in one piece.
    std::vector<std::uint8_t> joined;
    const std::uint8_t* stream = bytes + data.front().first;
    std::size_t streamSize = data.front().second;
    if (data.size() > 1) {
        for (const auto& [offset, length] : data)
            joined.insert(joined.end(), bytes + offset, bytes + offset + length);
        stream = joined.data();
        streamSize = joined.size();
    }
    if (streamSize < 2 || (stream[0] & 0x0F) != 8 || (stream[0] >> 4) != 7) return false;

    static thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> inflater(
        libdeflate_alloc_decompressor());
    if (!inflater) return false;
    const std::size_t row = std::size_t{width} * 4 + 1;
    std::vector<std::uint8_t> rows(row * height);
    std::size_t used = 0, made = 0;
    if (libdeflate_zlib_decompress_ex(inflater.get(), stream, streamSize, rows.data(), rows.size(), &used,
                                      &made) != LIBDEFLATE_SUCCESS ||
        used != streamSize || made != rows.size())
        return false;
    for (std::size_t y = 0; y < height; ++y)
        if (rows[y * row] > 4) return false;
    return true;
}

}  // namespace

bool decodes(Bytes png, std::uint32_t width, std::uint32_t height) {
    return plainlySound(png, width, height) || decodeBgra(png, width, height).has_value();
}

std::optional<std::vector<std::uint8_t>> encodeBgra(std::vector<std::uint8_t> bgra, std::uint32_t width,
                                                    std::uint32_t height, bool fast) {
    if (fast) return encodeQuickly(bgra, width, height);
    std::vector<std::uint8_t> rgba = std::move(bgra);
    swapRedAndBlue(rgba);
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return std::nullopt;
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
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
