#pragma once
/// A flight and its scene as a glTF 2.0 asset, for any 3D tool that reads glTF: the scene's
/// objects as nodes, the flown path as lines, and the camera animated tick by tick.
///
/// Axes. The world has +z up and a camera looks along its local +y (the eye's orientation has
/// the columns right, forward, up). glTF has +y up and a camera looks along its local -z. A world
/// point (x, y, z) becomes (x, z, -y), the rotation C of -90 degrees about x:
///
///         | 1  0  0 |
///     C = | 0  0  1 |      glTF = C world,   world up (0, 0, 1) -> (0, 1, 0)
///         | 0 -1  0 |                         world +y (0, 1, 0) -> (0, 0, -1)
///
/// An orientation M (world axes of a local frame in its columns) becomes C M C^T: the local frame
/// is converted like the world, so a frame with the identity orientation is the identity in
/// glTF as well. For a camera this is exactly glTF's convention: C^T takes glTF's camera axes
/// x, y, -z to the local right (x), up (z) and forward (+y), so the node's x is the right axis,
/// its y the up axis and its -z the view. One conversion serves objects and the eye alike.
///
/// The file:
/// - every object of the scene (`sceneTree`) as a node named after it, nested as in the scene,
///   with its "ObjectPos" as translation and rotation relative to its parent node (positions in
///   the scene are world positions; a node's transform is relative), and its class in `extras`;
/// - the flown eye positions as a mesh of LINE_STRIP primitives, one per unbroken piece: a cut
///   (as `analyseFlight` marks it) starts a new piece, so the jump is not drawn;
/// - a node with a perspective camera, animated by LINEAR translation and rotation samplers with
///   a key per tick, at the seconds since the first tick (the unsigned 32-bit difference of the
///   tick times / 1000). At a cut the camera holds the eye of the tick before until the cut's
///   tick and jumps there: glTF wants strictly increasing key times, so the cut's key sits at
///   the largest float not above the cut's time (a player asked for that time in seconds finds
///   the cut's eye), the held eye's key at the float just below it, and no float time lies
///   between the two keys. The
///   vertical field of view, `/cameras/0/perspective/yfov`, is animated through
///   KHR_animation_pointer with the same keys, from the iterator's factor as the studio shows it:
///   yfov = 2 atan(tan(60 degrees / 2) / factor), in radians;
/// - the flight's activations, deactivation and messages in the animation's `extras`, with
///   their times in seconds on the same clock, and the cuts' times;
/// - with a level, a node "level" with a child node per surface, named after it, each with a
///   TRIANGLES mesh of the surface's triangles (world positions in glTF's axes, no transform),
///   which exchange/LevelFile.h reads back as the same world triangles.

#include <optional>
#include <string>

#include "base/Vec.h"
#include "flight/Flight.h"
#include "framework/Guid.h"
#include "geometry/LevelMesh.h"

namespace host {

class Host;

/// The base vertical field of view, in radians, that the iterator's factor divides (60 degrees,
/// as in the studio).
inline constexpr double kGltfBaseYfov = 60.0 * kPi / 180.0;

/// The two forms of a glTF file.
enum class GltfContainer {
    Json,    ///< .gltf: JSON with the buffer embedded as a base64 data URI
    Binary,  ///< .glb: the binary container, JSON and buffer as chunks
};

/// The form a file name asks for by its extension (".gltf" or ".glb", any letter case).
std::optional<GltfContainer> gltfContainerOf(const std::string& path);

/// The asset described above, as the bytes of a file of the given form: `flight` is the flight
/// of `iterator` recorded with `options` (`recordFlight`), and `host` holds the scene it was
/// flown in, as the recording left it. Nothing is flown here. Throws std::invalid_argument when
/// the flight cannot be animated: no tick, tick times that do not increase (a step of 0, a
/// flight longer than 2^32 ms, or times too close together for float seconds), an eye that is
/// not finite or a field-of-view factor that is not positive; or when an object's position is
/// not finite.
std::string flightToGltf(const Host& host, const Handle& iterator, const FlightOptions& options,
                         const FlightRecording& flight, GltfContainer container, const LevelMesh* level = nullptr);

/// `flightToGltf`, written to `path` complete or not at all (`writeFileAtomically`) in the form
/// its extension names. Throws std::invalid_argument for another extension and as
/// `flightToGltf`, std::runtime_error when the file cannot be written.
void writeGltfFile(const Host& host, const Handle& iterator, const FlightOptions& options,
                   const FlightRecording& flight, const std::string& path, const LevelMesh* level = nullptr);

}  // namespace host
