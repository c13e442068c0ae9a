#include "pictures/ScenePicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace host {

namespace {

// Layout of one view, in pixels.
constexpr double kFrameInset = 6.0;    ///< gap between a view's half of the picture and its frame
constexpr double kTitleHeight = 28.0;  ///< band at the top of the frame holding the title
constexpr double kPlotMargin = 40.0;   ///< room between the frame and the drawn extent
constexpr double kTitleFontSize = 15.0;
constexpr double kLabelFontSize = 12.0;
constexpr double kLabelOffset = 6.0;  ///< label text sits this far right of and above its point
constexpr double kLabelDotRadius = 2.5;
constexpr double kMaxLabelShare = 0.25;  ///< most of a view's width kept free for names
constexpr double kGridPixels = 80.0;     ///< wanted distance between grid lines
constexpr int kMaxGridLines = 1000;

/// Lines are drawn to scale but never thinner than this, so width 0 still shows.
constexpr double kMinPixelWidth = 1.0;
/// Cairo works in 24.8 fixed point; a width from a huge world value must stay far below that.
constexpr double kMaxPixelWidth = 65536.0;
constexpr std::size_t kMaxLabelBytes = 80;

constexpr Rgba kBackground{0.965, 0.965, 0.955, 1.0};
constexpr Rgba kPlotBackground{1.0, 1.0, 1.0, 1.0};
constexpr Rgba kFrame{0.55, 0.55, 0.55, 1.0};
constexpr Rgba kGrid{0.88, 0.88, 0.88, 1.0};
constexpr Rgba kAxis{0.70, 0.70, 0.70, 1.0};
constexpr Rgba kText{0.12, 0.12, 0.12, 1.0};
constexpr Rgba kLabelBackdrop{1.0, 1.0, 1.0, 0.75};

/// A screen point.
struct Pixel {
    double x, y;
};

/// A 3D point in double, so that differences of huge floats do not overflow.
struct World {
    double x, y, z;
};

World toWorld(const _Point3<float>& p) { return {p.x, p.y, p.z}; }

bool isFinite(const _Point3<float>& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

bool isDrawable(const DrawCall& call) { return isFinite(call.from) && isFinite(call.to); }

/// A width or size as a length: non-finite values count as 0, the sign is dropped.
double lengthOf(float value) { return std::isfinite(value) ? std::fabs(static_cast<double>(value)) : 0.0; }

/// Channels clamped to 0..1; NaN counts as 0.
Rgba colourOf(const std::array<float, 4>& c) {
    auto channel = [](float v) { return v > 0.0f ? (v < 1.0f ? static_cast<double>(v) : 1.0) : 0.0; };
    return {channel(c[0]), channel(c[1]), channel(c[2]), channel(c[3])};
}

/// Names come from the host and may hold anything; the canvas refuses text that is not UTF-8 and
/// would put the whole drawing into its error state. Invalid bytes and control characters
/// become '?', and long names are cut at a character boundary.
std::string printable(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size() && out.size() < kMaxLabelBytes) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length == 2) valid = lead >= 0xC2;  // no overlong forms
        if (valid && length == 3) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            valid = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second >= 0xA0);  // overlong, surrogates
        }
        if (valid && length == 4) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            valid = lead <= 0xF4 && !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second >= 0x90);
        }
        if (!valid || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
            out += '?';
            ++i;
            continue;
        }
        if (out.size() + length > kMaxLabelBytes) break;
        out.append(text, i, length);
        i += length;
    }
    return out;
}

/// One orthographic view: world (u, v) -> screen, u to the right, v up, the same scale on both.
class View {
public:
    /// `vertical` picks the world axis shown upwards: 1 = y (top view), 2 = z (side view).
    View(const char* title, int vertical, double left, double top, double width, double height)
        : title_(title), vertical_(vertical), left_(left), top_(top), width_(width), height_(height) {}

    double u(const World& p) const { return p.x; }
    double v(const World& p) const { return vertical_ == 1 ? p.y : p.z; }

    void include(const World& p) {
        minU_ = std::min(minU_, u(p));
        maxU_ = std::max(maxU_, u(p));
        minV_ = std::min(minV_, v(p));
        maxV_ = std::max(maxV_, v(p));
        hasExtent_ = true;
    }

    /// Fits the extent into the plot area, centred, keeping the aspect ratio. `labelRoom` is
    /// kept free on the right so that names beside the rightmost points stay inside.
    void fit(double labelRoom) {
        const double margin = std::min(kPlotMargin, 0.1 * std::min(width_, height_));
        const double right = std::max(margin, std::min(labelRoom, kMaxLabelShare * width_));
        plotLeft_ = left_ + margin;
        plotTop_ = top_ + kTitleHeight + margin;
        plotWidth_ = std::max(1.0, width_ - margin - right);
        plotHeight_ = std::max(1.0, height_ - kTitleHeight - 2.0 * margin);
        if (!hasExtent_) return;
        // scale = min(plot width / span u, plot height / span v); an axis without span does
        // not limit it, and a single point shows one world unit across the smaller side.
        const double spanU = maxU_ - minU_, spanV = maxV_ - minV_;
        const double byU = spanU > 0.0 ? plotWidth_ / spanU : std::numeric_limits<double>::infinity();
        const double byV = spanV > 0.0 ? plotHeight_ / spanV : std::numeric_limits<double>::infinity();
        scale_ = std::min(byU, byV);
        if (!std::isfinite(scale_)) scale_ = std::min(plotWidth_, plotHeight_);
        centreU_ = minU_ + 0.5 * spanU;
        centreV_ = minV_ + 0.5 * spanV;
    }

    Pixel project(const World& p) const {
        return {plotLeft_ + 0.5 * plotWidth_ + (u(p) - centreU_) * scale_,
                plotTop_ + 0.5 * plotHeight_ - (v(p) - centreV_) * scale_};
    }

    /// A width in world units as pixels, at least `kMinPixelWidth`.
    double pixels(double worldLength) const { return std::clamp(worldLength * scale_, kMinPixelWidth, kMaxPixelWidth); }

    void drawFrame(Canvas& canvas) const;
    void drawGrid(Canvas& canvas) const;
    void drawCall(Canvas& canvas, const DrawCall& call) const;
    void drawLabel(Canvas& canvas, const PictureLabel& label) const;
    void drawEmptyNote(Canvas& canvas) const;
    /// Runs `draw` restricted to the frame below the title, so nothing spills into the other view.
    void clipped(Canvas& canvas, const std::function<void()>& draw) const {
        canvas.clipped(left_, top_ + kTitleHeight, width_, std::max(0.0, height_ - kTitleHeight), draw);
    }
    bool hasExtent() const { return hasExtent_; }

private:
    /// World distance between grid lines; 0 when the scale gives none.
    double gridStep() const { return hasExtent_ ? niceStep(kGridPixels / scale_) : 0.0; }
    void gridLines(Canvas& canvas, bool vertical, double step) const;

    const char* title_;
    int vertical_;
    double left_, top_, width_, height_;
    double plotLeft_ = 0, plotTop_ = 0, plotWidth_ = 1, plotHeight_ = 1;
    double minU_ = std::numeric_limits<double>::infinity(), maxU_ = -std::numeric_limits<double>::infinity();
    double minV_ = std::numeric_limits<double>::infinity(), maxV_ = -std::numeric_limits<double>::infinity();
    bool hasExtent_ = false;
    double scale_ = 1.0, centreU_ = 0.0, centreV_ = 0.0;
};

void View::drawFrame(Canvas& canvas) const {
    canvas.setColour(kPlotBackground);
    canvas.rectangle(left_, top_ + kTitleHeight, width_, std::max(0.0, height_ - kTitleHeight));
    canvas.fill();
    canvas.setColour(kFrame);
    canvas.setLineWidth(1.0);
    canvas.rectangle(left_ + 0.5, top_ + 0.5, std::max(0.0, width_ - 1.0), std::max(0.0, height_ - 1.0));
    canvas.moveTo(left_, top_ + kTitleHeight + 0.5);
    canvas.lineTo(left_ + width_, top_ + kTitleHeight + 0.5);
    canvas.stroke();

    char text[128];
    const double step = gridStep();
    if (step > 0.0)
        std::snprintf(text, sizeof text, "%s    grid %g", title_, step);
    else
        std::snprintf(text, sizeof text, "%s", title_);
    canvas.setFont(FontFace::Bold, kTitleFontSize);
    canvas.setColour(kText);
    canvas.text(left_ + 10.0, top_ + 0.5 * kTitleHeight + 0.35 * kTitleFontSize, text);
}

void View::gridLines(Canvas& canvas, bool vertical, double step) const {
    // Lines at every multiple of `step` the frame below the title shows; the world range comes
    // from the frame's pixel bounds, screen = plot centre + (world - centre) * scale.
    const double frameTop = top_ + kTitleHeight, frameBottom = top_ + height_;
    const double low = vertical ? centreU_ + (left_ - (plotLeft_ + 0.5 * plotWidth_)) / scale_
                                : centreV_ - (frameBottom - (plotTop_ + 0.5 * plotHeight_)) / scale_;
    const double high = vertical ? centreU_ + (left_ + width_ - (plotLeft_ + 0.5 * plotWidth_)) / scale_
                                 : centreV_ - (frameTop - (plotTop_ + 0.5 * plotHeight_)) / scale_;
    const double first = std::ceil(low / step) * step;
    const double count = std::floor((high - first) / step);
    if (!std::isfinite(first) || !(count >= 0.0) || count > kMaxGridLines) return;
    for (int i = 0; i <= static_cast<int>(count); ++i) {
        const double value = first + i * step;
        const bool axis = std::fabs(value) < 0.5 * step;
        canvas.setColour(axis ? kAxis : kGrid);
        if (vertical) {
            const double x = std::round(project({value, centreV_, centreV_}).x) + 0.5;
            canvas.moveTo(x, frameTop);
            canvas.lineTo(x, frameBottom);
        } else {
            const double y = std::round(project({centreU_, value, value}).y) + 0.5;
            canvas.moveTo(left_, y);
            canvas.lineTo(left_ + width_, y);
        }
        canvas.stroke();
    }
}

void View::drawGrid(Canvas& canvas) const {
    const double step = gridStep();
    if (step <= 0.0) return;
    canvas.setLineWidth(1.0);
    gridLines(canvas, true, step);
    gridLines(canvas, false, step);
}

/// Fills a band from `a`, `halfA` wide on each side, to `b`, `halfB` wide: a trapezoid across
/// the screen direction of the line. A line seen end-on is a disc of the larger half width.
void fillBand(Canvas& canvas, Pixel a, Pixel b, double halfA, double halfB) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length = std::hypot(dx, dy);
    if (!(length > 1e-9)) {
        canvas.circle(a.x, a.y, std::max(halfA, halfB));
        canvas.fill();
        return;
    }
    const double nx = -dy / length, ny = dx / length;  // unit normal on screen
    canvas.moveTo(a.x + nx * halfA, a.y + ny * halfA);
    canvas.lineTo(b.x + nx * halfB, b.y + ny * halfB);
    canvas.lineTo(b.x - nx * halfB, b.y - ny * halfB);
    canvas.lineTo(a.x - nx * halfA, a.y - ny * halfA);
    canvas.closePath();
    canvas.fill();
}

void View::drawCall(Canvas& canvas, const DrawCall& call) const {
    const World from = toWorld(call.from), to = toWorld(call.to);
    if (call.kind == DrawKind::Line) {
        canvas.setColour(colourOf(call.colour));
        fillBand(canvas, project(from), project(to), 0.5 * pixels(lengthOf(call.widthFrom)),
                 0.5 * pixels(lengthOf(call.widthTo)));
        return;
    }
    // An arrow: sizes are head length, head width and shaft width, in world units. The head
    // is laid off along the arrow in 3D, so it foreshortens with the shaft.
    const double headLength = lengthOf(call.sizes[0]);
    const double headHalf = 0.5 * pixels(lengthOf(call.sizes[1]));
    const double shaftHalf = 0.5 * pixels(lengthOf(call.sizes[2]));
    const World d{to.x - from.x, to.y - from.y, to.z - from.z};
    const double length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const double t = length > 0.0 && std::isfinite(length) ? std::min(1.0, headLength / length) : 0.0;
    const World base{to.x - d.x * t, to.y - d.y * t, to.z - d.z * t};  // base = tip - dir * head
    const Pixel start = project(from), tip = project(to), headBase = project(base);

    canvas.setColour(colourOf(call.colour));
    if (t < 1.0) fillBand(canvas, start, headBase, shaftHalf, shaftHalf);
    // The head is a band that narrows from its full width at the base to nothing at the tip.
    canvas.setColour(colourOf(call.colour2));
    fillBand(canvas, headBase, tip, headHalf, 0.0);
}

void View::drawLabel(Canvas& canvas, const PictureLabel& label) const {
    const Pixel at = project(toWorld(label.position));
    canvas.setColour(kText);
    canvas.circle(at.x, at.y, kLabelDotRadius);
    canvas.fill();

    const std::string text = printable(label.text);
    if (text.empty()) return;
    canvas.setFont(FontFace::Regular, kLabelFontSize);
    const TextExtents extents = canvas.measure(text);
    const double x = at.x + kLabelOffset, y = at.y - kLabelOffset;
    // A light backdrop keeps the name legible over lines and grid.
    canvas.setColour(kLabelBackdrop);
    canvas.rectangle(x + extents.xBearing - 2.0, y + extents.yBearing - 2.0, extents.width + 4.0, extents.height + 4.0);
    canvas.fill();
    canvas.setColour(kText);
    canvas.text(x, y, text);
}

void View::drawEmptyNote(Canvas& canvas) const {
    const std::string text = "(nothing drawn)";
    canvas.setFont(FontFace::Italic, kLabelFontSize);
    const TextExtents extents = canvas.measure(text);
    canvas.setColour(kFrame);
    // Centred by its ink, which an italic face sets off from the pen.
    canvas.text(plotLeft_ + 0.5 * (plotWidth_ - extents.width) - extents.xBearing, plotTop_ + 0.5 * plotHeight_, text);
}

/// Draws both views of the scene onto `canvas`, `width` x `height`.
void render(Canvas& canvas, const std::vector<DrawCall>& calls, const std::vector<PictureLabel>& labels, int width,
            int height) {
    canvas.paint(kBackground);

    const double half = std::floor(0.5 * width);
    const double inner = std::max(1.0, height - 2.0 * kFrameInset);
    View views[2] = {
        View("Top view (x, y)", 1, kFrameInset, kFrameInset, std::max(1.0, half - 1.5 * kFrameInset), inner),
        View("Side view (x, z)", 2, half + 0.5 * kFrameInset, kFrameInset,
             std::max(1.0, width - half - 1.5 * kFrameInset), inner)};

    // Room for the widest name right of its point (text, offset and backdrop).
    double labelRoom = 0.0;
    canvas.setFont(FontFace::Regular, kLabelFontSize);
    for (const PictureLabel& label : labels)
        if (isFinite(label.position))
            labelRoom = std::max(labelRoom, kLabelOffset + canvas.measure(printable(label.text)).xAdvance + 4.0);

    for (View& view : views) {
        for (const DrawCall& call : calls) {
            if (!isDrawable(call)) continue;
            view.include(toWorld(call.from));
            view.include(toWorld(call.to));
        }
        for (const PictureLabel& label : labels)
            if (isFinite(label.position)) view.include(toWorld(label.position));
        view.fit(labelRoom);
    }

    for (const View& view : views) {
        view.drawFrame(canvas);
        view.clipped(canvas, [&] {
            if (!view.hasExtent()) {
                view.drawEmptyNote(canvas);
                return;
            }
            view.drawGrid(canvas);
            // In the order the objects drew: later calls paint over earlier ones, as in the editor.
            for (const DrawCall& call : calls)
                if (isDrawable(call)) view.drawCall(canvas, call);
            for (const PictureLabel& label : labels)
                if (isFinite(label.position)) view.drawLabel(canvas, label);
        });
    }
}

}  // namespace

void writeScenePictureFile(const std::string& path, const std::vector<DrawCall>& calls,
                           const std::vector<PictureLabel>& labels, const PictureOptions& options) {
    writeCanvasFile(path, options.width, options.height,
                    [&](Canvas& canvas) { render(canvas, calls, labels, options.width, options.height); });
}

}  // namespace host
