// The pictrove-jpeg2000 module: JPEG 2000 pictures decoded by libopenjp2,
// loaded when an icon file's first such picture is decoded.
#include <openjpeg.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "image/jpeg2000.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

// The bytes openjp2 reads, handed out through its stream callbacks.
struct MemoryStream {
    Bytes data;
    std::uint64_t at = 0;
};

OPJ_SIZE_T readFrom(void* into, OPJ_SIZE_T length, void* user) {
    auto& in = *static_cast<MemoryStream*>(user);
    if (in.at >= in.data.size()) return static_cast<OPJ_SIZE_T>(-1);
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(length, in.data.size() - in.at));
    std::copy_n(in.data.data() + in.at, count, static_cast<std::byte*>(into));
    in.at += count;
    return count;
}

OPJ_OFF_T skipIn(OPJ_OFF_T count, void* user) {
    auto& in = *static_cast<MemoryStream*>(user);
    if (count < 0 || static_cast<std::uint64_t>(count) > in.data.size() - in.at) return -1;
    in.at += static_cast<std::uint64_t>(count);
    return count;
}

OPJ_BOOL seekIn(OPJ_OFF_T to, void* user) {
    auto& in = *static_cast<MemoryStream*>(user);
    if (to < 0 || static_cast<std::uint64_t>(to) > in.data.size()) return OPJ_FALSE;
    in.at = static_cast<std::uint64_t>(to);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct CodecFree {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamFree {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageFree {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

// One sample scaled to 8 bits.
std::uint8_t eightBits(OPJ_INT32 value, const opj_image_comp_t& component) {
    std::int64_t v = value;
    if (component.sgnd) v += std::int64_t{1} << (component.prec - 1);
    const std::int64_t top = (std::int64_t{1} << component.prec) - 1;
    v = std::clamp<std::int64_t>(v, 0, top);
    return static_cast<std::uint8_t>(v * 255 / top);
}

// The picture, when its header asks for no more than the image limits and
// every component covers it at full resolution; nothing on any damage.
std::optional<Image> decode(Bytes data) {
    if (!isJpeg2000(data)) return std::nullopt;
    // A JP2 file unless it starts as a bare codestream does.
    const bool boxed = !hasTagAt(data, 0, std::string_view("\xFF\x4F\xFF\x51", 4));
    const std::unique_ptr<opj_codec_t, CodecFree> codec(
        opj_create_decompress(boxed ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec) return std::nullopt;
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return std::nullopt;

    MemoryStream source{data};
    const std::unique_ptr<opj_stream_t, StreamFree> stream(opj_stream_create(64 * 1024, OPJ_TRUE));
    if (!stream) return std::nullopt;
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), data.size());
    opj_stream_set_read_function(stream.get(), readFrom);
    opj_stream_set_skip_function(stream.get(), skipIn);
    opj_stream_set_seek_function(stream.get(), seekIn);

    opj_image_t* header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header)) {
        opj_image_destroy(header);
        return std::nullopt;
    }
    const std::unique_ptr<opj_image_t, ImageFree> picture(header);
    // The size is checked before a single sample is decoded: a header may
    // claim 65,535 pixels a side in a few bytes.
    if (picture->x1 <= picture->x0 || picture->y1 <= picture->y0) return std::nullopt;
    const std::uint32_t width = picture->x1 - picture->x0, height = picture->y1 - picture->y0;
    if (width > limits::kMaxImageSide || height > limits::kMaxImageSide) return std::nullopt;
    if (picture->numcomps == 0 || picture->numcomps > 4) return std::nullopt;
    if (!opj_decode(codec.get(), stream.get(), picture.get()) ||
        !opj_end_decompress(codec.get(), stream.get()))
        return std::nullopt;

    const std::size_t components = picture->numcomps;
    for (std::size_t c = 0; c < components; ++c) {
        const opj_image_comp_t& component = picture->comps[c];
        if (!component.data || component.dx != 1 || component.dy != 1 || component.w != width ||
            component.h != height || component.prec == 0 || component.prec > 16) {
            return std::nullopt;
        }
    }
    Image image;
    image.width = width;
    image.height = height;
    image.bgra.resize(image.pixelCount() * 4);
    const bool grey = components < 3;
    const bool alpha = components == 2 || components == 4;
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        const auto sample = [&](std::size_t c) {
            return eightBits(picture->comps[c].data[i], picture->comps[c]);
        };
        const std::uint8_t r = sample(0), g = grey ? r : sample(1), b = grey ? r : sample(2);
        image.bgra[i * 4] = b;
        image.bgra[i * 4 + 1] = g;
        image.bgra[i * 4 + 2] = r;
        image.bgra[i * 4 + 3] = alpha ? sample(components - 1) : 255;
    }
    image.hasAlpha = alpha;
    deriveMaskFromAlpha(image);
    return image;
}
}  // namespace

}  // namespace pictrove

extern "C" __attribute__((visibility("default"))) const void* pictrove_jpeg2000_decoder() {
    static const pictrove::Jpeg2000Decoder decoder{sizeof(pictrove::Jpeg2000Decoder), pictrove::decode};
    return &decoder;
}
