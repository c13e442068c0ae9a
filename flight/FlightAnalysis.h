#pragma once
/// Derived measures of a recorded flight: how fast the eye moves and turns, per tick, and where
/// the flight reaches waypoints, pauses and cuts. Used by the studio's plots; meant also for a
/// profile command and a linter.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "flight/Flight.h"

namespace host {

class LevelGeometry;

/// What the analysis knows of one switched-on waypoint of the flown path, by its index among
/// the switched-on ones (the iterator's "ActualWayPointIndex").
struct FlightWaypoint {
    std::string name;
    ULong time2Next = 1000;
    ULong pauseTime = 0;
    /// Where the object its "PointsTo" names stands, when it names one.
    std::optional<_Point3<float>> target;
    /// The flight ends here though switched-on waypoints follow: the next waypoint child is off.
    bool ends = false;
};

struct FlightAnalysisInput {
    std::vector<FlightTick> ticks;
    std::vector<FlightWaypoint> waypoints;
    /// Where the iterator's "MovingDestination" stands, when it names one; it takes the place of
    /// every waypoint's target.
    std::optional<_Point3<float>> destination;
    /// The level the flight flies through: with one, every tick gets its clearance and whether
    /// its target is in sight.
    const LevelGeometry* level = nullptr;
};

/// Measures of one tick. Times are milliseconds, so rates are per second (x 1000). A measure
/// that is not defined at a tick (the first ticks of a difference, a difference across a cut,
/// a tick without a target) is NaN.
struct TickMeasures {
    double speed = 0;           ///< distance units per second
    double acceleration = 0;    ///< units per second^2
    double jerk = 0;            ///< units per second^3
    double angularRate = 0;     ///< turn of the forward axis, degrees per second
    double rollRate = 0;        ///< turn about the forward axis, degrees per second (signed)
    double fov = 1;             ///< the field-of-view value
    double targetDistance = 0;  ///< eye to the target or destination
    /// Eye to the nearest surface of the level; NaN without a level.
    double clearance = std::numeric_limits<double>::quiet_NaN();
    /// No surface of the level between the eye and the target or destination (within
    /// `LevelGeometry::kVisibilityMargin` of it); none without a level or a target.
    std::optional<bool> targetVisible;
};

/// A moment of the flight worth a mark on a timeline.
struct FlightMark {
    enum class Kind { Waypoint, Pause, Cut };
    Kind kind = Kind::Waypoint;
    /// When the camera arrives or a pause begins; the tick that shows it for a cut, the waypoint
    /// after a cut and the waypoint of the first tick.
    ULong time = 0;
    ULong end = 0;       ///< a pause's end (its start plus "PauseTime"); `time` for the others
    ULong waypoint = 0;  ///< index of the waypoint reached, pausing, or cut away from
};

/// "waypoint", "pause" or "cut".
const char* markWord(FlightMark::Kind kind);

struct FlightAnalysis {
    std::vector<TickMeasures> ticks;  ///< one per tick of the input
    std::vector<FlightMark> marks;    ///< in order of time
    bool level = false;               ///< measured against a level: `clearance` and `targetVisible`
};

FlightAnalysis analyseFlight(const FlightAnalysisInput& input);

}  // namespace host
