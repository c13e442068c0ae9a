#pragma once
/// Pictures of what the editor draws: the recorded `DrawLine` and `DrawArrow` calls of a scene,
/// rendered as an orthographic top view (x, y) beside a side view (x, z), as PNG or SVG.

#include <string>
#include <vector>

#include "host/SceneDrawing.h"
#include "pictures/Canvas.h"

namespace host {

/// Size of the whole picture in pixels (PNG) or points (SVG); each view takes half the width.
struct PictureOptions {
    int width = 1600;
    int height = 800;
};

/// Writes the drawing as PNG or SVG, chosen by the extension of `path` (.png / .svg, any case);
/// top view (x, y) left, side view (x, z) right, each fitted to the drawn extent with a margin,
/// titled. Calls or labels with a non-finite coordinate are left out. The file appears complete
/// or not at all. Throws as `writeCanvasFile`.
void writeScenePictureFile(const std::string& path, const std::vector<DrawCall>& calls,
                           const std::vector<PictureLabel>& labels, const PictureOptions& options = {});

}  // namespace host
