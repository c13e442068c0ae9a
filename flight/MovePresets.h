#pragma once
/// Standard camera moves as new paths: an orbit around a target, a dolly along a line, a crane
/// that rises while it keeps a target in view, a fly-through of points looking ahead, and a
/// follow of an existing path at an offset. A move is planned as a list of waypoints (ordinary
/// waypoints, to be edited further), lifted clear of a level when there is one, and then added
/// to the scene through the editor as a new path with those waypoints and an iterator that
/// flies it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Vec.h"
#include "framework/Geometry.h"
#include "framework/Types.h"

namespace host {

class Host;
class LevelGeometry;
class SceneEditor;

enum class MoveKind { Orbit, Dolly, Crane, FlyThrough, Follow };

/// "orbit", "dolly", "crane", "fly-through", "follow".
const char* moveKindWord(MoveKind kind);
std::optional<MoveKind> moveKindFromWord(std::string_view word);

/// A place a move names: a scene object (by name) or a point.
struct MovePlace {
    std::string object{};  ///< empty: `point`
    Vec3 point{0, 0, 0};
};

struct MoveOptions {
    MoveKind kind = MoveKind::Orbit;
    std::optional<MovePlace> target{};  ///< looked at (orbit: required; dolly: else ahead; crane: required)
    double radius = 10;               ///< orbit
    double height = 0;                ///< orbit: the eye above the target
    double turns = 1;                 ///< orbit
    int perTurn = 8;                  ///< orbit: waypoints a turn
    bool clockwise = false;           ///< orbit, seen from above
    std::optional<Vec3> from{};       ///< dolly, crane
    std::optional<Vec3> to{};         ///< dolly, crane
    std::optional<double> toHeight{};   ///< crane: the height reached above `from`'s x, y (instead of `to`)
    std::vector<MovePlace> through{};   ///< fly-through
    std::string path{};               ///< follow: the path followed
    Vec3 offset{0, 0, 0};             ///< follow
    std::optional<double> speed{};      ///< units/s; the default 10, except that a follow keeps the path's times
    double clearance = 0.5;           ///< from the level's surfaces
};

/// The speed a move flies at when none is given.
inline constexpr double kDefaultMoveSpeed = 10;

/// One waypoint of a planned move.
struct MoveWaypoint {
    Vec3 position{0, 0, 0};
    std::string pointsTo{};           ///< the object looked at; empty: `orientation` and `range`
    _CMatrix3<float> orientation{1};  ///< rows; columns right, forward, up
    float range = 1;
    float roll = 0;
    float fovFac = 1;
    ULong time2Next = 1000;
    ULong pauseTime = 0;
};

struct MovePlan {
    std::vector<MoveWaypoint> waypoints;
    std::size_t lifted = 0;  ///< waypoints raised clear of the level
    ULong duration = 0;      ///< the flight's time (ms): every Time2Next but the last's
};

/// The waypoints of the move `options` describes in the scene of `host`; lifted straight up out
/// of `level` and to `options.clearance` from its surfaces when given. Throws InputError (naming
/// `file`) for options that make no move: a target that names no object with a position, a
/// radius, turns or speed that is not a positive number, fewer than 3 waypoints a turn, fewer
/// than two places to fly through, a path with fewer than two waypoints.
MovePlan planMove(const Host& host, const MoveOptions& options, const LevelGeometry* level, const std::string& file);

/// What `addMove` made.
struct AddedMove {
    std::string path;
    std::string iterator;
    std::vector<std::string> waypoints;
};

/// Adds `plan` to the scene through `editor`: a new path named after the kind ("Orbit1", the
/// first number free), its waypoints as children ("Orbit1_W1", ...), and an iterator
/// ("Orbit1Cam") whose `Path` names it. Throws InputError (the scene as the editor leaves it).
AddedMove addMove(Host& host, SceneEditor& editor, MoveKind kind, const MovePlan& plan);

/// The rotation (rows) whose forward axis is `forward` and whose right axis is level (the world
/// up is z); straight up or down keeps right along x.
_CMatrix3<float> orientationLookingAlong(const Vec3& forward);

/// Raises `p` straight up until it lies outside the level's solids and `clearance` or more from
/// every surface; answers whether it moved.
bool liftClear(const LevelGeometry& level, Vec3& p, double clearance);

}  // namespace host
