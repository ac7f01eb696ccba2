// The pictrove-svg module: SVG icons drawn by librsvg with cairo, whose
// fifty-odd shared objects are loaded only when an SVG icon is first drawn.
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>

#include "image/svg.h"

namespace pictrove {
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

// Called by renderSvg, which checked the side and that the bytes are SVG.
std::optional<Image> draw(Bytes data, std::uint32_t side) {
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

}  // namespace

}  // namespace pictrove

extern "C" __attribute__((visibility("default"))) const void* pictrove_svg_drawing() {
    static const pictrove::SvgDrawing drawing{sizeof(pictrove::SvgDrawing), pictrove::draw};
    return &drawing;
}
