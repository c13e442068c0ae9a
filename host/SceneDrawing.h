#pragma once
/// What the scene's objects drew in the editor's 3D view, as the host records it: the calls,
/// which object made which, and the labels of the waypoints. Pictures are made of it (the tool's
/// ScenePicture.h), the studio sends it to the page.

#include <cstddef>
#include <string>
#include <vector>

#include "framework/Guid.h"
#include "render/RecordingRenderer.h"

namespace host {

/// A text written beside a point of the scene (a waypoint's name at its position).
struct PictureLabel {
    _Point3<float> position;
    std::string text;
};

/// The calls one object made: `calls[first, first + count)` of its drawing.
struct DrawGroup {
    Handle object;
    std::size_t first = 0;
    std::size_t count = 0;
};

/// What the scene's objects drew in the editor's 3D view, and the names of its waypoints.
struct SceneDrawing {
    std::vector<DrawCall> calls;
    std::vector<DrawGroup> groups;  ///< one per object that drew something, in drawing order
    std::vector<PictureLabel> labels;
    std::size_t dropped = 0;  ///< calls beyond the recorder's limit, not kept
};

}  // namespace host
