#include "pictures/Canvas.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "base/AtomicFile.h"
#include "base/Vec.h"

namespace host {

struct Canvas::Context {
    cairo_t* cr;
};

namespace {

/// Cairo's limit for image surfaces, and ours for both formats.
constexpr int kMaxPictureSize = 32767;

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

void check(cairo_status_t status, const std::string& what) {
    if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error(what + ": " + cairo_status_to_string(status));
}

enum class Format { Png, Svg };

/// The extension of `path` in lower case ("" when it has none).
std::string extensionOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

Format formatOf(const std::string& path) {
    const std::string extension = extensionOf(path);
    if (extension == ".png") return Format::Png;
    if (extension == ".svg") return Format::Svg;
    throw std::runtime_error("unknown picture format \"" + extension + "\" of " + path + " (use .png or .svg)");
}

}  // namespace

double niceStep(double raw) {
    if (!(raw > 0.0) || !std::isfinite(raw)) return 0.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    if (!(power > 0.0) || !std::isfinite(power)) return 0.0;
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (power * factor >= raw) return power * factor;
    return power * 10.0;
}

bool isPicturePath(const std::string& path) {
    const std::string extension = extensionOf(path);
    return extension == ".png" || extension == ".svg";
}

void Canvas::paint(const Rgba& colour) {
    setColour(colour);
    cairo_paint(context_.cr);
}

void Canvas::setColour(const Rgba& c) { cairo_set_source_rgba(context_.cr, c.r, c.g, c.b, c.a); }

void Canvas::setLineWidth(double width) { cairo_set_line_width(context_.cr, width); }

void Canvas::setDash(double length) {
    if (length > 0.0)
        cairo_set_dash(context_.cr, &length, 1, 0);
    else
        cairo_set_dash(context_.cr, nullptr, 0, 0);
}

void Canvas::moveTo(double x, double y) { cairo_move_to(context_.cr, x, y); }

void Canvas::lineTo(double x, double y) { cairo_line_to(context_.cr, x, y); }

void Canvas::closePath() { cairo_close_path(context_.cr); }

void Canvas::rectangle(double x, double y, double width, double height) {
    cairo_rectangle(context_.cr, x, y, width, height);
}

void Canvas::circle(double x, double y, double radius) { cairo_arc(context_.cr, x, y, radius, 0.0, 2.0 * kPi); }

void Canvas::fill() { cairo_fill(context_.cr); }

void Canvas::stroke() { cairo_stroke(context_.cr); }

void Canvas::clipped(double x, double y, double width, double height, const std::function<void()>& draw) {
    cairo_save(context_.cr);
    cairo_rectangle(context_.cr, x, y, width, height);
    cairo_clip(context_.cr);
    draw();
    cairo_restore(context_.cr);
}

void Canvas::setFont(FontFace face, double size) {
    cairo_select_font_face(context_.cr, "sans-serif",
                           face == FontFace::Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           face == FontFace::Bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context_.cr, size);
}

TextExtents Canvas::measure(const std::string& text) const {
    cairo_text_extents_t e;
    cairo_text_extents(context_.cr, text.c_str(), &e);
    return {e.x_bearing, e.y_bearing, e.width, e.height, e.x_advance};
}

void Canvas::text(double x, double y, const std::string& text, TextAnchor anchor) {
    if (anchor == TextAnchor::Right) x -= measure(text).xAdvance;
    if (anchor == TextAnchor::Centre) x -= measure(text).xAdvance / 2;
    cairo_move_to(context_.cr, x, y);
    cairo_show_text(context_.cr, text.c_str());
}

namespace {

/// Paints onto `surface` and reports any failure of Cairo along the way.
void paintOnto(cairo_surface_t* surface, const std::function<void(Canvas&)>& paint, const std::string& path) {
    check(cairo_surface_status(surface), "cannot create picture " + path);
    ContextPtr cr(cairo_create(surface));
    Canvas::Context context{cr.get()};
    Canvas canvas(context);
    paint(canvas);
    check(cairo_status(cr.get()), "cannot draw picture " + path);
}

}  // namespace

void writeCanvasFile(const std::string& path, int width, int height, const std::function<void(Canvas&)>& paint) {
    const Format format = formatOf(path);
    if (width < 1 || height < 1 || width > kMaxPictureSize || height > kMaxPictureSize)
        throw std::runtime_error("picture size " + std::to_string(width) + " x " + std::to_string(height) +
                                 " out of range 1..32767");

    writeFileAtomically(path, [&](const std::string& temporary) {
        if (format == Format::Png) {
            SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
            paintOnto(surface.get(), paint, path);
            cairo_surface_flush(surface.get());
            check(cairo_surface_write_to_png(surface.get(), temporary.c_str()), "cannot write picture " + path);
        } else {
            SurfacePtr surface(cairo_svg_surface_create(temporary.c_str(), width, height));
            paintOnto(surface.get(), paint, path);
            // Finishing writes the rest of the file; its errors show in the surface's status.
            cairo_surface_finish(surface.get());
            check(cairo_surface_status(surface.get()), "cannot write picture " + path);
        }
    });
}

}  // namespace host
