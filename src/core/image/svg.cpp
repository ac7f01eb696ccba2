#include "image/svg.h"

#include <algorithm>
#include <string_view>

#include "reader_limits.h"

#ifdef PICTROVE_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>
#endif

namespace pictrove {

bool isSvg(Bytes data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()),
                                std::min<std::size_t>(data.size(), 4096));
    const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string_view::npos && text[first] == '<' &&
           text.find("<svg") != std::string_view::npos;
}

#ifdef PICTROVE_HAVE_RSVG
namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceFree {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextFree {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};

}  // namespace

std::optional<Image> renderSvg(Bytes data, std::uint32_t side) {
    if (side == 0 || side > limits::kMaxImageSide || !isSvg(data)) return std::nullopt;
    GError* error = nullptr;
    const std::unique_ptr<RsvgHandle, Unref> handle(
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(data.data()), data.size(), &error));
    if (error) g_error_free(error);
    if (!handle) return std::nullopt;
    const int size = static_cast<int>(side);
    const std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
    const std::unique_ptr<cairo_t, ContextFree> context(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, static_cast<double>(side), static_cast<double>(side)};
    const bool drawn = rsvg_handle_render_document(handle.get(), context.get(), &viewport, &error);
    if (error) g_error_free(error);
    if (!drawn || cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    cairo_surface_flush(surface.get());

    // Cairo keeps premultiplied pixels, blue first on this byte order;
    // they are taken back to straight alpha as its PNG writer does.
    Image image;
    image.width = image.height = side;
    image.bgra.resize(image.pixelCount() * 4);
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    for (std::size_t y = 0; y < side; ++y) {
        for (std::size_t x = 0; x < side; ++x) {
            const unsigned char* in = pixels + y * stride + x * 4;
            std::uint8_t* out = image.bgra.data() + (y * side + x) * 4;
            const unsigned alpha = in[3];
            for (std::size_t c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(alpha ? (in[c] * 255u + alpha / 2) / alpha : 0u);
            out[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    image.hasAlpha = true;
    deriveMaskFromAlpha(image);
    return image;
}
#else
std::optional<Image> renderSvg(Bytes, std::uint32_t) {
    return std::nullopt;
}
#endif

}  // namespace pictrove
