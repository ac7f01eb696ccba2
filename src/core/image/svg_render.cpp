// SVG documents drawn by librsvg with cairo, in the helper program alone:
// its fifty-odd shared objects are loaded only there.
#include "image/svg_render.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>

namespace pictrove::svg_render {
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
using Handle = std::unique_ptr<RsvgHandle, Unref>;

// The message of `error`, which is freed.
std::string taken(GError* error, const char* otherwise) {
    if (!error) return otherwise;
    std::string message = error->message ? error->message : otherwise;
    g_error_free(error);
    return message;
}

Handle parsed(Bytes data, std::string& why) {
    GError* error = nullptr;
    Handle handle(
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(data.data()), data.size(), &error));
    if (!handle || error) why = taken(error, "librsvg cannot read it");
    return error ? nullptr : std::move(handle);
}

}  // namespace

bool readable(Bytes data, std::string& why) {
    return parsed(data, why) != nullptr;
}

std::optional<std::vector<std::uint8_t>> draw(Bytes data, std::uint32_t side, std::string& why) {
    const Handle handle = parsed(data, why);
    if (!handle) return std::nullopt;
    const int size = static_cast<int>(side);
    const std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
    const std::unique_ptr<cairo_t, ContextFree> context(cairo_create(surface.get()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        why = cairo_status_to_string(cairo_surface_status(surface.get()));
        return std::nullopt;
    }
    const RsvgRectangle viewport{0, 0, static_cast<double>(side), static_cast<double>(side)};
    GError* error = nullptr;
    const bool drawn = rsvg_handle_render_document(handle.get(), context.get(), &viewport, &error);
    if (!drawn || error) {
        why = taken(error, "librsvg cannot draw it");
        return std::nullopt;
    }
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) {
        why = cairo_status_to_string(cairo_status(context.get()));
        return std::nullopt;
    }
    cairo_surface_flush(surface.get());

    // Cairo keeps premultiplied pixels, blue first on this byte order;
    // they are taken back to straight alpha as its PNG writer does.
    std::vector<std::uint8_t> bgra(std::size_t{side} * side * 4);
    const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    for (std::size_t y = 0; y < side; ++y) {
        for (std::size_t x = 0; x < side; ++x) {
            const unsigned char* in = pixels + y * stride + x * 4;
            std::uint8_t* out = bgra.data() + (y * side + x) * 4;
            const unsigned alpha = in[3];
            for (std::size_t c = 0; c < 3; ++c)
                out[c] = static_cast<std::uint8_t>(alpha ? (in[c] * 255u + alpha / 2) / alpha : 0u);
            out[3] = static_cast<std::uint8_t>(alpha);
        }
    }
    return bgra;
}

}  // namespace pictrove::svg_render
