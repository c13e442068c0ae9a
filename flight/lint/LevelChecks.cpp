// The checks of a flight against the level it flies through: what the path and the eye cross,
// where the eye is inside, how close it comes, and when its target is out of sight.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "flight/FlightProfile.h"
#include "flight/lint/Linter.h"
#include "geometry/LevelGeometry.h"

namespace host {

namespace {

/// Samples of a segment's eye curve, as the path checks take them.
constexpr int kCurveSamples = 64;


bool finite(const Vec3& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

std::string pointWords(const Vec3& p) {
    return "(" + lintNumber(p[0]) + ", " + lintNumber(p[1]) + ", " + lintNumber(p[2]) + ")";
}

/// The point `distance` along the segment from `a` to `b`.
Vec3 along(const Vec3& a, const Vec3& b, double distance) {
    const Vec3 d = sub(b, a);
    const double length = norm(d);
    return length > 0
               ? Vec3{a[0] + d[0] * distance / length, a[1] + d[1] * distance / length, a[2] + d[2] * distance / length}
               : a;
}

/// The level's checks of one flight. A run of ticks is one finding.
class LevelChecker {
public:
    LevelChecker(Linter& linter, const Handle& iterator, const PathStops& path, const FlightRecording& recording)
        : linter_(linter),
          level_(*linter.options.level),
          path_(path),
          ticks_(recording.ticks),
          input_(flightAnalysisInput(linter.host, iterator, recording.ticks)),
          elapsed_(elapsedTimes(recording.ticks)) {
        // The analysis's measures (clearance, target in sight), asked here with the clearance
        // bounded by its threshold: only a tick nearer than that matters, and the bound keeps the
        // search short.
        for (const FlightTick& tick : ticks_) {
            eyes_.push_back(vec3FromPoint(tick.eye.Origin));
            const bool known = finite(eyes_.back());
            inside_.push_back(known && level_.inside(eyes_.back()));
            const std::optional<Vec3> target = known ? targetOf(eyes_.size() - 1) : std::nullopt;
            visible_.push_back(target && finite(*target) ? std::optional(level_.targetInSight(eyes_.back(), *target))
                                                         : std::nullopt);
        }
        for (const NearestSurface& near : level_.nearestAlong(eyes_, linter.options.clearance))
            clearance_.push_back(near.distance);
    }

    void check() {
        throughGeometry();
        insideGeometry();
        clearance();
        targetOccluded();
    }

private:
    const std::string& stopName(std::size_t i) const {
        return path_.stops[std::min<std::size_t>(ticks_[i].waypoint, path_.flown - 1)].name;
    }

    /// The step from tick i-1 to tick i is a cut's jump to another part, no motion of the eye.
    bool jumps(std::size_t i) const {
        const ULong from = std::min(ticks_[i - 1].waypoint, ticks_[i].waypoint);
        const ULong to = std::max(ticks_[i - 1].waypoint, ticks_[i].waypoint);
        for (ULong j = from; j < to && j < path_.stops.size(); ++j)
            if (path_.stops[j].time2Next == 0) return true;
        return false;
    }

    std::string timeWords(std::size_t i) const { return lintNumber(double(ticks_[i].time)) + " ms"; }

    /// `through-geometry`: the eye's straight move between two ticks crosses a surface. Steps
    /// in a row that cross the same surface are one finding.
    void throughGeometry() {
        std::int64_t last = -1;  // the surface the step before crossed; -1: none
        for (std::size_t i = 1; i < ticks_.size(); ++i) {
            const std::optional<SurfaceHit> hit = jumps(i) || !finite(eyes_[i - 1]) || !finite(eyes_[i])
                                                      ? std::nullopt
                                                      : level_.firstHit(eyes_[i - 1], eyes_[i]);
            if (!hit || last == hit->surface) {
                if (!hit) last = -1;
                continue;
            }
            last = hit->surface;
            linter_.add("through-geometry", LintSeverity::Error, stopName(i - 1), ticks_[i - 1].time, {},
                        "between the ticks at " + timeWords(i - 1) + " and " + timeWords(i) +
                            " the eye passes through " + level_.surfaceName(hit->surface) + " at " +
                            pointWords(along(eyes_[i - 1], eyes_[i], hit->distance)),
                        ticks_[i].time);
        }
    }

    /// Runs [first, end) of ticks for which `in(i)` holds; `report(first, end)` for each.
    template <typename In, typename Report>
    void runs(In in, Report report) const {
        for (std::size_t i = 0; i < ticks_.size();) {
            if (!in(i)) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < ticks_.size() && in(end)) ++end;
            report(i, end);
            i = end;
        }
    }

    /// `inside-geometry`: the eye inside a closed mesh or below the ground (ray parity).
    void insideGeometry() {
        runs([&](std::size_t i) { return inside_[i]; },
             [&](std::size_t first, std::size_t end) {
                 const NearestSurface near = level_.nearest(eyes_[first]);
                 linter_.add(
                     "inside-geometry", LintSeverity::Error, stopName(first), ticks_[first].time, {},
                     "the eye is inside the level's solids or below its ground for " + lintNumber(double(end - first)) +
                         " ticks, from " + timeWords(first) + " to " + timeWords(end - 1) + " (at " +
                         pointWords(eyes_[first]) +
                         (std::isfinite(near.distance) ? ", the nearest surface " + level_.surfaceName(near.surface)
                                                       : std::string()) +
                         ")",
                     ticks_[end - 1].time);
             });
    }

    /// `clearance`: nearer to a surface than the threshold, outside the solids (inside is
    /// `inside-geometry`'s), at the run's closest tick.
    void clearance() {
        const double threshold = linter_.options.clearance;
        auto near = [&](std::size_t i) { return !inside_[i] && clearance_[i] < threshold; };
        runs(near, [&](std::size_t first, std::size_t end) {
            std::size_t closest = first;
            for (std::size_t i = first; i < end; ++i)
                if (clearance_[i] < clearance_[closest]) closest = i;
            const NearestSurface surface = level_.nearest(eyes_[closest]);
            linter_.add("clearance", LintSeverity::Warning, stopName(closest), ticks_[closest].time, {},
                        "the eye comes within " + lintNumber(surface.distance) + " units of " +
                            level_.surfaceName(surface.surface) + " (threshold " + lintNumber(threshold) + ")");
        });
    }

    /// The target of tick i: the destination, else its waypoint's target.
    std::optional<Vec3> targetOf(std::size_t i) const {
        if (input_.destination) return vec3FromPoint(*input_.destination);
        const ULong k = ticks_[i].waypoint;
        if (k < input_.waypoints.size() && input_.waypoints[k].target)
            return vec3FromPoint(*input_.waypoints[k].target);
        return std::nullopt;
    }

    /// `target-occluded`: a run of ticks whose target is hidden, from its first tick to the tick
    /// that sees it again (or a step past the last tick), longer than the threshold.
    void targetOccluded() {
        const ULong step = linter_.options.step;
        runs([&](std::size_t i) { return visible_[i] == false; },
             [&](std::size_t first, std::size_t end) {
                 const double hidden = (end < ticks_.size() ? elapsed_[end] : elapsed_.back() + step) - elapsed_[first];
                 if (!(hidden > linter_.options.occluded)) return;
                 const std::optional<Vec3> target = targetOf(first);
                 const std::optional<SurfaceHit> hit = target ? level_.firstHit(eyes_[first], *target) : std::nullopt;
                 linter_.add("target-occluded", LintSeverity::Warning, stopName(first), ticks_[first].time, {},
                             "the look-at target at " + (target ? pointWords(*target) : std::string("?")) +
                                 " is hidden" + (hit ? " behind " + level_.surfaceName(hit->surface) : std::string()) +
                                 " for " + lintNumber(hidden) + " ms from " + timeWords(first) + " (threshold " +
                                 lintNumber(double(linter_.options.occluded)) + " ms)",
                             ticks_[end - 1].time);
             });
    }

    Linter& linter_;
    const LevelGeometry& level_;
    const PathStops& path_;
    const std::vector<FlightTick>& ticks_;
    FlightAnalysisInput input_;
    std::vector<double> elapsed_;
    std::vector<Vec3> eyes_;
    std::vector<bool> inside_;
    std::vector<double> clearance_;             ///< to the nearest surface; infinity beyond the threshold
    std::vector<std::optional<bool>> visible_;  ///< the target in sight; none without a target
};

}  // namespace

void checkSegmentInLevel(Linter& linter, const Stop& a, const Stop& b) {
    const LevelGeometry& level = *linter.options.level;
    const double length = b.distanceSum - a.distanceSum;
    std::set<std::uint32_t> said;
    Vec3 last{};
    double lastS = 0;
    for (int i = 0; i <= kCurveSamples; ++i) {
        const float s = static_cast<float>(length * i / kCurveSamples);
        COrientation sample{};
        a.waypoint->CalcOrientationAtDistance(s, sample);
        const Vec3 p = vec3FromPoint(sample.Position);
        if (i > 0 && finite(last) && finite(p)) {
            const std::optional<SurfaceHit> hit = level.firstHit(last, p);
            if (hit && said.insert(hit->surface).second) {
                const double step = norm(sub(p, last));
                linter.add("through-geometry", LintSeverity::Error, a.name, {},
                           a.distanceSum + lastS + (s - lastS) * hit->distance / step,
                           "the path to " + b.name + " passes through " + level.surfaceName(hit->surface) + " at " +
                               pointWords(along(last, p, hit->distance)));
            }
        }
        last = p;
        lastS = s;
    }
}

void checkFlightInLevel(Linter& linter, const Handle& iterator, const PathStops& path,
                        const FlightRecording& recording) {
    if (path.flown < 2 || recording.ticks.size() < 2) return;
    LevelChecker(linter, iterator, path, recording).check();
}

}  // namespace host
