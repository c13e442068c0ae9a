#pragma once
/// Even speed for a path: `Time2Next` values that make the time of each segment proportional to
/// the path's own distance step (the waypoints' `DistanceSum`, as the last refit measured it).
/// The path fits its distance over time through the knots (T_i, D_i); with T proportional to D
/// that fit is a straight line, and the camera moves along the distance measure at one rate.
/// The measure adds the eye's travel, the view vector's change and 0.1 per segment, so the eye's
/// own speed is even only where the view turns little.
///
/// Only flight times change: a cut (`Time2Next` 0) stays a cut and counts for nothing, pauses
/// and eases stay, and the `Time2Next` of the run's last waypoint (which times no segment of the
/// run) is kept. The distances do not depend on the times, so the refit after the change keeps them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/Host.h"

namespace host {

class SceneEditor;

/// What to retime and how.
struct RetimeOptions {
    /// Units of the distance measure per second; none: keep the run's total time ("even").
    std::optional<double> speed;
    /// The run's first and last switched-on waypoint by name; empty: the path's first or last.
    std::string from;
    std::string to;
};

/// One segment of the run: the waypoint that begins it and its time before and after.
struct RetimeSegment {
    Handle waypoint;
    std::string name;
    ULong before = 0;
    ULong after = 0;
    double step = 0;  ///< D_{k+1} - D_k
};

/// The new times of one path's run, not yet applied.
struct RetimePlan {
    Handle path;
    std::string pathName;
    std::vector<RetimeSegment> segments;  ///< every segment of the run, cuts included (kept at 0)
    std::uint64_t totalBefore = 0;        ///< milliseconds of flight (pauses not counted)
    std::uint64_t totalAfter = 0;
};

/// Plans the new times of `path`'s run. Throws InputError for an object that is no path, a
/// `from` or `to` that is not a switched-on waypoint of it (or `to` before `from`), a speed that
/// is not finite and above 0, a time beyond the 32-bit range, and for "even" a total too short
/// to give every segment 1 ms.
RetimePlan planRetime(Host& host, const Handle& path, const RetimeOptions& options);

/// The plan's times as one change of `editor` (one undo step). Each waypoint's change refits the
/// path as an editor's edit does.
void applyRetime(SceneEditor& editor, const RetimePlan& plan);

/// The paths among `scene` (objects that answer `ISCO_CSPath`), in its order.
std::vector<Handle> scenePaths(const std::vector<Handle>& scene);

}  // namespace host
