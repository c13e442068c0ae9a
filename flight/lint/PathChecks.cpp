#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "flight/lint/Linter.h"

namespace host {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

/// Samples per segment where a check walks a segment's curves. The curves are cubics: 64
/// samples place a turn or a dip to within 1/64 of the segment.
constexpr int kSamples = 64;
/// Eye and view moving together by less than this (|dP| + |dQ|, scene units) is no segment: the
/// path still gives it its 0.1 of distance, and the camera stands still for its Time2Next.
constexpr double kShortSegment = 0.01;
/// Excursions from a segment's box below this (scene units) are rounding, not overshoot.
constexpr double kOvershootFloor = 0.01;
/// A distance over time that falls by less than this part of its size is rounding.
constexpr double kRelativeRounding = 1e-6;

/// A waypoint child of a path, switched on or not: the iterator's look-ahead sees both kinds.
struct WaypointChild {
    Handle handle;
    CInterfacePtr<ISCO_CSWayPoint> waypoint;
    bool on = false;
};

/// The parts of a path as the path fits them: runs [first, end) of stops, each ending at a
/// waypoint whose Time2Next is 0 (a cut) or at the last one.
std::vector<std::pair<std::size_t, std::size_t>> partsOf(const std::vector<Stop>& stops) {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    for (std::size_t first = 0; first < stops.size();) {
        std::size_t end = first + 1;
        while (end < stops.size() && stops[end - 1].time2Next != 0) ++end;
        parts.emplace_back(first, end);
        first = end;
    }
    return parts;
}

/// The checks of the scene's objects and of each path's waypoints and segment curves.
class PathChecker {
public:
    explicit PathChecker(Linter& linter) : linter_(linter) {}

    /// `dangling-reference`: a Path that names no path, a PointsTo or MovingDestination that
    /// names nothing, the object itself, or an object without a position of its own.
    void references(const Handle& object) {
        const std::string& name = linter_.host.nameOf(object);
        for (const char* attribute : {"Path", "PointsTo", "MovingDestination"}) {
            const std::optional<Handle> target = linter_.host.getReference(object, attribute);
            if (!target) continue;
            const bool path = std::string_view(attribute) == "Path";
            const std::string said = std::string(attribute) + " ";
            if (target->IsNull()) {
                if (path)
                    linter_.add("dangling-reference", LintSeverity::Error, name, {}, {},
                                said + "names no object: nothing to fly");
                continue;
            }
            if (!linter_.host.descriptor(*target)) {
                linter_.add("dangling-reference", LintSeverity::Error, name, {}, {},
                            said + "names an object that is not in the scene");
                continue;
            }
            const std::string targetName = linter_.host.nameOf(*target);
            if (path) {
                if (!CInterfacePtr<ISCO_CSPath>(*target))
                    linter_.add("dangling-reference", LintSeverity::Error, name, {}, {},
                                said + "names " + targetName + ", " + kindOf(*target) + ", not a path");
            } else if (*target == object) {
                linter_.add("dangling-reference", LintSeverity::Error, name, {}, {},
                            said + "names the object itself: no direction to look in");
            } else if (const RtsObject* o = linter_.host.object(*target); o && !o->IsPosValid()) {
                linter_.add(
                    "dangling-reference", LintSeverity::Error, name, {}, {},
                    said + "names " + targetName + ", " + kindOf(*target) + ", which has no position of its own");
            }
        }
    }

    /// `bad-fov` and `bad-range`, on every object that has the attribute.
    void values(const Handle& object) {
        const std::string& name = linter_.host.nameOf(object);
        if (const std::optional<float> fov = linter_.host.getFloat(object, "FOVFac");
            fov && !(std::isfinite(*fov) && *fov > 0))
            linter_.add("bad-fov", LintSeverity::Error, name, {}, {},
                        "FOVFac is " + lintNumber(*fov) +
                            "; it must be finite and above 0 (the path fits 1/FOVFac, 100 for 0 or NaN)");
        if (const std::optional<float> range = linter_.host.getFloat(object, "Range");
            range && !(std::isfinite(*range) && *range > 0))
            linter_.add("bad-range", LintSeverity::Error, name, {}, {},
                        "Range is " + lintNumber(*range) +
                            "; it must be finite and above 0 (the view vector is Range times the forward axis)");
    }

    /// Every check of one path's waypoints and curves. Returns its stops for the flights.
    PathStops path(const Handle& pathObject) {
        PathStops out;
        Descriptor* container = linter_.host.descriptor(pathObject);
        if (!container || !CInterfacePtr<ISCO_CSPath>(pathObject)) return out;

        std::vector<WaypointChild> children;
        for (const Handle& child : std::vector<Handle>(container->children())) {
            CInterfacePtr<ISCO_CSWayPoint> waypoint(child);
            if (!waypoint) continue;
            const bool on = waypoint->IsOn();
            children.push_back({child, std::move(waypoint), on});
        }

        std::optional<std::size_t> flown;
        for (std::size_t i = 0; i < children.size(); ++i) {
            WaypointChild& child = children[i];
            if (child.on) {
                out.stops.push_back(stopOf(child.handle, std::move(child.waypoint)));
                continue;
            }
            switchedOff(children[i].handle, i, children, out.stops, flown);
        }
        out.flown = flown.value_or(out.stops.size());

        const std::vector<Stop>& stops = out.stops;
        for (const auto& [first, end] : partsOf(stops)) {
            if (end - first == 1) singlePart(pathObject, stops, first);
            for (std::size_t k = first; k + 1 < end; ++k) segment(stops, k, first, end);
            viewVertical(stops, first, end);
        }
        cuts(stops);
        return out;
    }

private:
    std::string kindOf(const Handle& object) const {
        const std::string className = linter_.host.className(object);
        return className.empty() ? "a plain object" : "a " + className;
    }

    Stop stopOf(const Handle& handle, CInterfacePtr<ISCO_CSWayPoint> waypoint) const {
        Stop stop;
        stop.name = linter_.host.nameOf(handle);
        ISCO_CSWayPoint& w = *waypoint.get();
        stop.eye = {w.GetPara(0), w.GetPara(1), w.GetPara(2)};
        stop.view = {w.GetPara(3), w.GetPara(4), w.GetPara(5)};
        const std::optional<float> roll = linter_.host.getFloat(handle, "Roll");
        stop.roll = roll ? *roll : w.GetPara(6) * kDegrees;
        stop.rollAttribute = roll.has_value();
        stop.time2Next = w.GetTime2Next();
        stop.pause = w.GetPauseTime();
        w.GetEaseInOut(stop.easeIn, stop.easeOut);
        stop.distanceSum = w.GetDistanceSum();
        stop.waypoint = std::move(waypoint);
        return stop;
    }

    /// `switched-off`. The iterator takes a switched-on waypoint for the last one when the next
    /// waypoint child is switched off, so such a child between switched-on ones ends the flight
    /// at the one before it, although the path goes on through the rest.
    void switchedOff(const Handle& handle, std::size_t i, const std::vector<WaypointChild>& children,
                     const std::vector<Stop>& stops, std::optional<std::size_t>& flown) {
        const std::string& name = linter_.host.nameOf(handle);
        const bool afterOn = i > 0 && children[i - 1].on;
        std::size_t later = i + 1;
        while (later < children.size() && !children[later].on) ++later;
        if (!afterOn || later == children.size()) {
            linter_.add("switched-off", LintSeverity::Info, name, {}, {},
                        "switched off (IsOn false): the flight leaves it out");
            return;
        }
        if (!flown) flown = stops.size();
        linter_.add("switched-off", LintSeverity::Warning, name, {}, {},
                    "switched off between switched-on waypoints: the iterator takes " + stops.back().name +
                        " before it for the last and ends its flight there, never reaching " +
                        linter_.host.nameOf(children[later].handle));
    }

    /// `single-waypoint-part`: a part of one waypoint is a shot without a flight.
    void singlePart(const Handle& pathObject, const std::vector<Stop>& stops, std::size_t k) {
        const Stop& stop = stops[k];
        std::string text;
        if (stops.size() == 1) {
            text = "the only switched-on waypoint of " + linter_.host.nameOf(pathObject) + ": nothing to fly";
        } else if (k + 1 == stops.size()) {
            text = "a part of one waypoint after a cut: the flight ends on reaching it, so it is never shown";
        } else {
            // Its segment has no flight time; the camera holds for the pauses it carries.
            const ULong held = (k == 0 ? stop.pause : 0) + stops[k + 1].pause;
            text = "a part of one waypoint between cuts: the camera jumps to it, holds " + lintNumber(held) +
                   " ms and jumps on";
        }
        linter_.add("single-waypoint-part", LintSeverity::Warning, stop.name, {}, stop.distanceSum, text);
    }

    /// The checks of the segment from stop k (`a`) to the next stop `b` of the part [first, end). The samples are
    /// the segment's own curves (the waypoint's `CalcOrientationAtDistance` and
    /// `CalcDistanceAtTime`): the path evaluates the distances from D[a] up to D[b] with them,
    /// and asking the waypoint keeps a long path's lint linear in its length.
    void segment(const std::vector<Stop>& stops, std::size_t k, std::size_t first, std::size_t end) {
        const Stop &a = stops[k], &b = stops[k + 1];
        rollLongWay(stops, k + 1, end);
        // short-segment: |dP| + |dQ|, the path's own step without its 0.1.
        const double move = norm(sub(b.eye, a.eye));
        const double apart = move + norm(sub(b.view, a.view));
        if (!(apart >= kShortSegment)) {
            LintFinding* found = linter_.add("short-segment", LintSeverity::Warning, a.name, {}, a.distanceSum,
                        "the segment to " + b.name + " has no length: eye and view differ by " + lintNumber(apart) +
                            " (threshold " + lintNumber(kShortSegment) + "), so the camera stands still for its " +
                            lintNumber(a.time2Next) + " ms");
            if (found) found->fix = mergeFix(linter_.host, stops, k, first, end);
            return;
        }
        overshoot(a, b, move);
        timeBackward(a, b);
        if (linter_.options.level) checkSegmentInLevel(linter_, a, b);
    }

    /// `roll-long-way` into stop b of a part ending before `end`: the roll channel is fitted
    /// through Roll as given, unwrapped.
    void rollLongWay(const std::vector<Stop>& stops, std::size_t bIndex, std::size_t end) {
        const Stop &a = stops[bIndex - 1], &b = stops[bIndex];
        const double turn = b.roll - a.roll;
        if (std::fabs(turn) > 180) {
            double shortWay = std::fmod(std::fabs(turn), 360.0);
            if (shortWay > 180) shortWay = 360 - shortWay;
            LintFinding* found = linter_.add(
                "roll-long-way", LintSeverity::Warning, a.name, {}, a.distanceSum,
                "Roll goes from " + lintNumber(a.roll) + " to " + lintNumber(b.roll) + " degrees at " + b.name + ": " +
                    lintNumber(std::fabs(turn)) + " degrees the long way round (the short way is " +
                    lintNumber(shortWay) + ")");
            if (found) found->fix = rollFix(stops, bIndex, end);
        }
    }

    /// `overshoot`: how far the eye leaves the box of the segment's two eyes,
    ///   excess(p) = |(max(lo - p, 0, p - hi)) per axis|,
    /// against the threshold times the segment's length |P[b] - P[a]| (`move`).
    void overshoot(const Stop& a, const Stop& b, double move) {
        const double length = b.distanceSum - a.distanceSum;
        Vec3 lo, hi;
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = std::min(a.eye[axis], b.eye[axis]);
            hi[axis] = std::max(a.eye[axis], b.eye[axis]);
        }
        double worst = 0, worstAt = a.distanceSum;
        for (int i = 0; i <= kSamples; ++i) {
            const float s = static_cast<float>(length * i / kSamples);
            COrientation sample{};
            a.waypoint->CalcOrientationAtDistance(s, sample);
            const Vec3 p = vec3FromPoint(sample.Position);
            double squared = 0;
            for (int axis = 0; axis < 3; ++axis) {
                const double outside = std::max({lo[axis] - p[axis], p[axis] - hi[axis], 0.0});
                squared += outside * outside;
            }
            const double excess = std::sqrt(squared);
            if (excess > worst) worst = excess, worstAt = a.distanceSum + s;
        }
        if (worst > kOvershootFloor && worst > linter_.options.overshoot * move)
            linter_.add("overshoot", LintSeverity::Warning, a.name, {}, worstAt,
                        "on the way to " + b.name + " the eye leaves the box of the two waypoints by " +
                            lintNumber(worst) + " units, " +
                            (move > 0 ? lintNumber(worst / move) + " times the segment's length of " + lintNumber(move)
                                      : std::string("where the eye should stand still")) +
                            " (threshold " + lintNumber(linter_.options.overshoot) + ")");
    }

    /// `time-backward`: distance(t) over t in [0, Time2Next] must not fall. The drop is the
    /// largest fall below the running maximum: max over t1 < t2 of distance(t1) - distance(t2).
    void timeBackward(const Stop& a, const Stop& b) {
        const double flight = a.time2Next;
        double high = -kInfinity, highTime = 0, drop = 0, dropFrom = 0, dropTo = 0, dropAt = 0;
        for (int i = 0; i <= kSamples; ++i) {
            const float t = static_cast<float>(flight * i / kSamples);
            const double d = a.waypoint->CalcDistanceAtTime(t);
            if (d > high) {
                high = d, highTime = t;
            } else if (high - d > drop) {
                drop = high - d, dropFrom = highTime, dropTo = t, dropAt = high;
            }
        }
        if (drop > kRelativeRounding * std::max(1.0, std::fabs(high)))
            linter_.add("time-backward", LintSeverity::Warning, a.name, {}, dropAt,
                        "on the way to " + b.name + " the distance over time falls by " + lintNumber(drop) +
                            " between " + lintNumber(dropFrom) + " and " + lintNumber(dropTo) +
                            " ms of the segment's " + lintNumber(flight) + ": the camera flies backwards");
    }

    /// `view-vertical` over one part: the fitted view vector sampled along its segments (the
    /// last stop at its own view). A run of samples near vertical is one finding, at the sample
    /// closest to it. There the camera's frame has no right axis, and the iterator keeps the
    /// one it had.
    void viewVertical(const std::vector<Stop>& stops, std::size_t first, std::size_t end) {
        struct Sample {
            Vec3 view;
            std::size_t stop;
            double distance;
        };
        std::vector<Sample> samples;
        for (std::size_t k = first; k + 1 < end; ++k) {
            const double length = stops[k + 1].distanceSum - stops[k].distanceSum;
            for (int i = 0; i < kSamples; ++i) {
                const float s = static_cast<float>(length * i / kSamples);
                COrientation sample{};
                stops[k].waypoint->CalcOrientationAtDistance(s, sample);
                samples.push_back({vec3FromPoint(sample.View), k, stops[k].distanceSum + s});
            }
        }
        samples.push_back({stops[end - 1].view, end - 1, stops[end - 1].distanceSum});

        // The angle from the vertical axis: atan2(|(x, y)|, |z|), in degrees; none for a view
        // vector of no length (bad-range says why).
        auto angle = [](const Vec3& v) {
            return norm(v) > 0 ? std::atan2(std::hypot(v[0], v[1]), std::fabs(v[2])) * kDegrees : kInfinity;
        };
        for (std::size_t i = 0; i < samples.size();) {
            if (!(angle(samples[i].view) < linter_.options.viewVertical)) {
                ++i;
                continue;
            }
            std::size_t closest = i;
            for (; i < samples.size() && angle(samples[i].view) < linter_.options.viewVertical; ++i)
                if (angle(samples[i].view) < angle(samples[closest].view)) closest = i;
            const Sample& at = samples[closest];
            linter_.add("view-vertical", LintSeverity::Warning, stops[at.stop].name, {}, at.distance,
                        "the view comes within " + lintNumber(angle(at.view)) + " degrees of straight " +
                            (at.view[2] > 0 ? "up" : "down") + " (threshold " +
                            lintNumber(linter_.options.viewVertical) + "): the camera's roll is undefined there");
        }
    }

    /// `cut-with-ease`: a cut's segment has no flight time, so its ease flags and the pauses on
    /// either side of it do something other than they seem to.
    void cuts(const std::vector<Stop>& stops) {
        for (std::size_t c = 0; c + 1 < stops.size(); ++c) {
            const Stop &cut = stops[c], &next = stops[c + 1];
            if (cut.time2Next != 0) continue;
            // EaseIn here eases the segment that arrives here (its law looks at the next
            // waypoint's EaseIn), so the camera slows to a stop before the cut.
            const bool arrives = c > 0 && stops[c - 1].time2Next != 0;
            // Each finding's fix clears what it names.
            auto found = [&](const Stop& stop, const char* attribute, std::string text) {
                if (LintFinding* f = linter_.add("cut-with-ease", LintSeverity::Warning, stop.name, {},
                                                 stop.distanceSum, std::move(text)))
                    f->fix = clearFix(stop, attribute);
            };
            if (cut.easeIn)
                found(cut, "EaseIn",
                      arrives ? "EaseIn on a cut: the camera slows to a stop here before it cuts to " + next.name
                              : "EaseIn on a cut with no segment arriving: it has no effect");
            if (cut.easeOut)
                found(cut, "EaseOut", "EaseOut on a cut has no effect: Time2Next is 0, there is no flight to ease");
            if (cut.pause)
                found(cut, "PauseTime",
                      "PauseTime " + lintNumber(cut.pause) + " on a cut: the camera holds here " +
                          lintNumber(cut.pause) + " ms before it cuts to " + next.name);
            if (next.pause)
                found(next, "PauseTime",
                      "PauseTime " + lintNumber(next.pause) + " after the cut at " + cut.name + ": the camera holds at " +
                          cut.name + " for it, before the cut, not here");
        }
    }

    Linter& linter_;
};

}  // namespace

void checkReferences(Linter& linter, const Handle& object) { PathChecker(linter).references(object); }

void checkValues(Linter& linter, const Handle& object) { PathChecker(linter).values(object); }

PathStops checkPath(Linter& linter, const Handle& path) { return PathChecker(linter).path(path); }

}  // namespace host
