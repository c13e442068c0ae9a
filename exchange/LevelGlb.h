#pragma once
/// A level file as one binary glTF for a viewer that takes a single file (the studio's page):
/// buffers and images inside it, the placement applied by a node above its scene.

#include <string>

#include "exchange/LevelFile.h"

namespace host {

/// The level at `path` (.gltf or .glb) as the bytes of a .glb in glTF's own axes, its default
/// scene (or every root node) under one node that scales it and moves it as `placement` says.
/// Read with the checks of `loadLevelFile` first. Throws InputError when tinygltf cannot read it.
std::string levelToGlb(const std::string& path, const LevelPlacement& placement = {});

}  // namespace host
