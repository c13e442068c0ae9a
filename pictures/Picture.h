#pragma once
/// Pictures of what the editor draws: the recorded `DrawLine` and `DrawArrow` calls of a scene,
/// rendered as an orthographic top view (x, y) beside a side view (x, z), as PNG or SVG.

#include <functional>
#include <string>
#include <vector>

#include "host/SceneDrawing.h"

// Cairo's drawing context, for those who paint pictures; only Picture.cpp needs Cairo's headers.
typedef struct _cairo cairo_t;

namespace host {

/// A colour with its opacity, each 0 to 1, as the host's pictures paint with it.
struct Rgba {
    double r, g, b, a;
};

/// Makes `colour` the source of what `cr` paints next.
void setColour(cairo_t* cr, const Rgba& colour);

/// Size of the whole picture in pixels (PNG) or points (SVG); each view takes half the width.
struct PictureOptions {
    int width = 1600;
    int height = 800;
};

/// True when `path` ends in .png or .svg (any case): a name `writePicture` can write.
bool isPicturePath(const std::string& path);

/// Writes the drawing as PNG or SVG, chosen by the extension of `path` (.png / .svg, any case);
/// top view (x, y) left, side view (x, z) right, each fitted to the drawn extent with a margin,
/// titled. Calls or labels with a non-finite coordinate are left out. The file appears complete
/// or not at all (see `writeFileAtomically`).
/// Throws std::runtime_error on an unknown extension, a size outside 1..32767 or a Cairo or
/// file failure.
void writePicture(const std::vector<DrawCall>& calls, const std::vector<PictureLabel>& labels, const std::string& path,
                  const PictureOptions& options = {});

/// Writes a picture of `width` x `height` pixels (PNG) or points (SVG), chosen by the extension
/// of `path`, painted by `paint` on a Cairo context, as atomically as `writePicture`; the same
/// errors. For the host's other pictures (a flight's profile).
void writeCairoPicture(const std::string& path, int width, int height, const std::function<void(cairo_t*)>& paint);

}  // namespace host
