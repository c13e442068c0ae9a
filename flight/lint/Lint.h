#pragma once
/// The scene linter: what a level designer would want to hear about a camera flight before a
/// player sees it. `camsys lint` and the studio's `/api/lint` both call `lintScene`, so both
/// report the same findings.
///
/// Every check asks the plug-in through the host (the waypoints' own segment curves, a recorded
/// flight and its analysis): the linter re-implements nothing it judges. The checks, their
/// severities and thresholds are the table of `lintChecks` (flight/lint/Checks.h).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "flight/lint/Checks.h"
#include "scene/EditEntry.h"

namespace host {

class Host;
class LevelGeometry;

/// What makes a finding go away, where one change does (flight/lint/LintFix.h applies it): a
/// label for a button or a log line, attribute values to set and a waypoint to delete (a merge).
struct LintFix {
    std::string label;  ///< "set W0's EaseOut", "roll W3 the short way (Roll -360)", ...
    /// Attribute values by the object's name, set in this order.
    std::vector<std::pair<std::string, EditEntry>> edits;
    std::string remove;  ///< the waypoint deleted after the edits; empty: none
};

/// One thing the linter found.
struct LintFinding {
    std::string id;  ///< the check, kebab-case, stable across versions
    LintSeverity severity = LintSeverity::Warning;
    std::string object;  ///< the object it concerns (mostly a waypoint)
    /// Where in a flight: the tick's clock time, as `camsys fly` prints it.
    std::optional<ULong> time;
    /// Where on a path: its distance scale (the waypoints' DistanceSum).
    std::optional<double> distance;
    std::string text;  ///< one line, with the number that triggered it
    /// A finding about a stretch of the flight (the eye inside the level from `time` on, a step
    /// through a wall): the clock time of the stretch's last tick.
    std::optional<ULong> until;
    /// Its fix, where one exists (see the README's list).
    std::optional<LintFix> fix;
};

/// What to check and how strictly.
struct LintOptions {
    /// The iterator whose flight is checked; none: the flights of every iterator of the scene.
    std::optional<Handle> iterator;
    ULong start = 0;                ///< activation time of the flights
    ULong step = 16;                ///< time between ticks
    std::size_t maxTicks = 100000;  ///< flight checks see at most this many ticks
    double overshoot = 0.25;        ///< excursion from the waypoints' box / segment length
    double speedJump = 3;           ///< ratio of the speeds either side of a waypoint
    double acceleration = 200;      ///< scene units per second^2
    double jerk = 10000;            ///< scene units per second^3
    double viewVertical = 2;        ///< degrees from straight up or down
    /// The level the flights fly through; without one the level's checks find nothing.
    const LevelGeometry* level = nullptr;
    double clearance = 0.5;  ///< least distance from the eye to a surface, scene units
    ULong occluded = 250;    ///< longest time the look-at target may be hidden, ms
};

/// Flies one iterator for the flight checks. The studio passes its own (it keeps flights and
/// their iterator states); the default is `recordFlight`.
using LintFlight = std::function<FlightRecording(const Handle& iterator, const FlightOptions& options)>;

/// Every finding of the scene in `host`, sorted by the objects' order in the scene (pre-order),
/// then in the order of `lintCheckOrder`. Path checks cover every path of the scene; flight
/// checks fly `options.iterator`, or each iterator. The flights need the game camera.
std::vector<LintFinding> lintScene(Host& host, const LintOptions& options, const LintFlight& fly = {});

/// True when a finding is a warning or an error: the lint fails.
bool lintFails(const std::vector<LintFinding>& findings);

/// Two lines per finding: "FILE: OBJECT: id: text", then "  hint: " and its check's hint. The
/// first line stands alone for a script that greps it; the hint's is indented.
std::string lintText(const std::string& file, const std::vector<LintFinding>& findings);

/// The findings as a JSON array of {id, severity, object, time, distance, text, hint}, and
/// `until` for a finding about a stretch of the flight (null for an absent time or distance);
/// with `fixes`, `fix` (its label) for a finding that has one. Written by hand: the distances are the shortest decimals of their
/// floats (`floatToDecimal`), byte for byte.
std::string lintJson(const std::vector<LintFinding>& findings, bool fixes = false);

}  // namespace host
