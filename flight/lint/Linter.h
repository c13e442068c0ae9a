#pragma once
/// What the checks of one lint share: the driver (Lint.cpp) runs them, PathChecks.cpp checks
/// the scene's objects and each path's waypoints and segment curves, FlightChecks.cpp the
/// recorded flights. Internal to the linter.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/Vec.h"
#include "flight/lint/Lint.h"
#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "host/Host.h"

namespace host {

/// A number for a finding's text: three significant digits, whole numbers from 1000 on.
std::string lintNumber(double x);

/// A switched-on waypoint of a path, with what the checks read of it.
struct Stop {
    std::string name;
    CInterfacePtr<ISCO_CSWayPoint> waypoint;
    Vec3 eye{}, view{};  ///< the values the path fits: GetPara(0..2) and GetPara(3..5)
    double roll = 0;     ///< degrees
    bool rollAttribute = false;  ///< the roll is its `Roll` attribute (a fix can set it)
    ULong time2Next = 0;
    ULong pause = 0;
    bool easeIn = false, easeOut = false;
    double distanceSum = 0;
};

/// The switched-on waypoints of a path in child order, and how many of them an iterator flies.
struct PathStops {
    std::vector<Stop> stops;
    std::size_t flown = 0;
};

/// Collects the findings of one lint, each said once.
class Linter {
public:
    Linter(Host& host, const LintOptions& options) : host(host), options(options) {}

    Host& host;
    const LintOptions& options;
    std::vector<LintFinding> findings;

    /// Adds a finding; answers it (to give it a fix) or null when it was said already.
    LintFinding* add(std::string_view id, LintSeverity severity, const std::string& object, std::optional<ULong> time,
                     std::optional<double> distance, std::string text, std::optional<ULong> until = std::nullopt);

private:
    std::set<std::tuple<std::string, std::string, std::optional<ULong>, std::optional<double>, std::string>> seen_;
};

/// `dangling-reference` on one object.
void checkReferences(Linter& linter, const Handle& object);
/// `bad-fov` and `bad-range` on one object.
void checkValues(Linter& linter, const Handle& object);
/// Every check of one path's waypoints and segment curves. Returns its stops for the flights.
PathStops checkPath(Linter& linter, const Handle& path);
/// The flight checks of one iterator's flight over `path`.
void checkFlight(Linter& linter, const PathStops& path, const FlightRecording& recording);
/// `through-geometry` on the curve of the segment from stop `a` to the next stop `b`
/// (LevelChecks.cpp; needs `options.level`).
void checkSegmentInLevel(Linter& linter, const Stop& a, const Stop& b);
/// The level's checks of one iterator's flight over `path` (needs `options.level`).
void checkFlightInLevel(Linter& linter, const Handle& iterator, const PathStops& path,
                        const FlightRecording& recording);

/// The fixes (LintFix.cpp). `roll-long-way` into stop b of the part [first, end): b and the
/// stops after it in the part turned by the whole turns that make that one turn the short way.
std::optional<LintFix> rollFix(const std::vector<Stop>& stops, std::size_t b, std::size_t end);
/// `short-segment` from stop a to a + 1 of the part [first, end): a merge of the two.
std::optional<LintFix> mergeFix(Host& host, const std::vector<Stop>& stops, std::size_t a, std::size_t first,
                                std::size_t end);
/// `cut-with-ease`: `attribute` of `stop` cleared (a flag, or a PauseTime).
LintFix clearFix(const Stop& stop, const char* attribute);
/// `speed-jump` at stop k of the `flown` first stops: one ease flag that makes the laws either
/// side agree on stopping there.
std::optional<LintFix> easeFix(const std::vector<Stop>& stops, std::size_t flown, std::size_t k);

}  // namespace host
