#pragma once
/// A glTF camera animation read as a recorded camera move, for `camsys import`: the inverse of
/// the export's conventions (exchange/GltfExport.h): glTF's +y up and a camera looking along its
/// local -z become the world's +z up and a camera looking along its local +y.

#include <string>
#include <vector>

#include "flight/PathFit.h"

namespace host {

/// The samples of the first animated camera node of the .gltf or .glb file at `path`: one per
/// key of its translation (a node without a translation animation: of its rotation), at the
/// key's time in milliseconds (rounded; a key that rounds to the time of the next one, like the
/// held eye an export puts just before a cut, gives way to it). Rotation and the vertical field
/// of view (KHR_animation_pointer on its camera's yfov, else the camera's own) are sampled at
/// those times as glTF interpolates them (LINEAR, spherical for rotations, or STEP); the node's
/// parents' fixed transforms are applied. The field of view becomes the iterator's factor by
/// the studio's convention: factor = tan(30 degrees) / tan(yfov / 2).
/// Throws InputError naming `path` for a file that is no glTF this reads (external buffers
/// beside a .gltf are read; other URIs are not), no animated camera node, or a bad accessor,
/// and as `checkRecording`.
std::vector<RecordedEye> loadGltfRecordingFile(const std::string& path);

}  // namespace host
