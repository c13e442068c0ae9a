#pragma once
/// The surface the host's pictures paint on (the scene picture, a flight's profile): colours,
/// paths filled or stroked, text in a sans-serif face, and the picture written as PNG or SVG.
/// Only Canvas.cpp knows the drawing library.

#include <functional>
#include <string>

namespace host {

/// A colour with its opacity, each 0 to 1.
struct Rgba {
    double r, g, b, a;
};

enum class FontFace { Regular, Bold, Italic };

/// Where a text's pen position sits along the text, by its advance.
enum class TextAnchor { Left, Centre, Right };

/// A text's size in the face set last, relative to the pen on the baseline: the ink box
/// (bearing to its top left, width and height) and how far the pen moves.
struct TextExtents {
    double xBearing = 0, yBearing = 0, width = 0, height = 0, xAdvance = 0;
};

/// The smallest of 1, 2 or 5 times a power of ten that is at least `raw`: a step between grid
/// lines. 0 when there is none (`raw` not positive, not finite, or too small).
double niceStep(double raw);

/// True when `path` ends in .png or .svg (any case): a name `writeCanvasFile` can write.
bool isPicturePath(const std::string& path);

/// A picture being painted, in pixels (PNG) or points (SVG), y downwards. Like the library
/// beneath it, it keeps a current colour, line width, dash and face, and a path that `fill` or
/// `stroke` paints and clears.
class Canvas {
public:
    /// What the drawing library paints on; only Canvas.cpp knows it, and makes canvases.
    struct Context;
    explicit Canvas(Context& context) : context_(context) {}
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    /// Paints the whole picture (within the clip) in `colour`, which stays the current one.
    void paint(const Rgba& colour);
    void setColour(const Rgba& colour);
    void setLineWidth(double width);
    /// Strokes dashed, `length` on and off; 0 strokes solid.
    void setDash(double length);

    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void closePath();
    void rectangle(double x, double y, double width, double height);
    /// A full circle about (x, y), begun at angle 0.
    void circle(double x, double y, double radius);
    void fill();
    void stroke();

    /// Runs `draw` with painting restricted to the rectangle; the colour, line width, dash and
    /// face it sets are undone afterwards.
    void clipped(double x, double y, double width, double height, const std::function<void()>& draw);

    void setFont(FontFace face, double size);
    /// `text` (UTF-8) measured in the current face.
    TextExtents measure(const std::string& text) const;
    /// Writes `text` (UTF-8) in the current face and colour on the baseline at `y`, the pen at
    /// `x` placed by `anchor`.
    void text(double x, double y, const std::string& text, TextAnchor anchor = TextAnchor::Left);

private:
    Context& context_;
};

/// Writes a picture of `width` x `height` pixels (PNG) or points (SVG), chosen by the extension
/// of `path` (.png / .svg, any case), painted by `paint`. The file appears complete or not at
/// all (see `writeFileAtomically`). Throws std::runtime_error on an unknown extension, a size
/// outside 1..32767, or a failure to draw (text that is not UTF-8, say) or to write.
void writeCanvasFile(const std::string& path, int width, int height, const std::function<void(Canvas&)>& paint);

}  // namespace host
