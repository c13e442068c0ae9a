#pragma once
/// A level file (glTF 2.0, .gltf with its buffers beside it or .glb) read as the world's
/// triangles: glTF's +y up turned to the world's +z up, every node transform applied.

#include <string>

#include "base/Vec.h"
#include "geometry/LevelMesh.h"

namespace host {

/// Where a level stands in the scene: scaled about its origin, then moved.
struct LevelPlacement {
    double scale = 1;
    Vec3 position{0, 0, 0};
};

/// The level at `path`. Throws InputError naming the file and what it cannot read.
LevelMesh loadLevelFile(const std::string& path, const LevelPlacement& placement = {});

}  // namespace host
