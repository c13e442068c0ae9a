#include "flight/lint/Lint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "base/Decimal.h"
#include "base/Vec.h"
#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "flight/FlightAnalysis.h"
#include "scene/AttributeValues.h"
#include "scene/SceneTree.h"

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
/// Speeds below this (units per second) are standing still: no ratio between two of them.
constexpr double kStandingStill = 1e-3;
/// A distance over time that falls by less than this part of its size is rounding.
constexpr double kRelativeRounding = 1e-6;
/// The clock's range: times are unsigned 32-bit milliseconds.
constexpr std::uint64_t kClockRange = std::uint64_t{1} << 32;

/// The checks in the order findings of one object are listed.
constexpr std::string_view kCheckOrder[] = {
    "dangling-reference", "bad-fov",       "bad-range",  "switched-off",  "single-waypoint-part",
    "short-segment",      "roll-long-way", "overshoot",  "time-backward", "view-vertical",
    "cut-with-ease",      "clock-wrap",    "speed-jump", "acceleration",  "jerk",
};


/// A number for a finding's text: three significant digits, whole numbers from 1000 on.
std::string number(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "infinity" : "-infinity";
    char text[48];
    if (std::fabs(x) >= 999.5)
        std::snprintf(text, sizeof text, "%.0f", x);
    else
        std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

/// A switched-on waypoint of a path, with what the checks read of it.
struct Stop {
    std::string name;
    CInterfacePtr<ISCO_CSWayPoint> waypoint;
    Vec3 eye{}, view{};  ///< the values the path fits: GetPara(0..2) and GetPara(3..5)
    double roll = 0;    ///< degrees
    ULong time2Next = 0;
    ULong pause = 0;
    bool easeIn = false, easeOut = false;
    double distanceSum = 0;
};

/// A waypoint child of a path, switched on or not: the iterator's look-ahead sees both kinds.
struct WaypointChild {
    Handle handle;
    CInterfacePtr<ISCO_CSWayPoint> waypoint;
    bool on = false;
};

/// The switched-on waypoints of a path in child order, and how many of them an iterator flies.
struct PathStops {
    std::vector<Stop> stops;
    std::size_t flown = 0;
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

/// When a flight moves, in ms since its activation. The iterator flies segment k (from stop k)
/// for Time2Next[k], then holds at stop k+1 for its pause; stop 0's pause comes first:
///   move[0] = P[0],   arrive[k+1] = move[k] + T[k],   move[k+1] = arrive[k+1] + P[k+1]
struct Schedule {
    std::vector<std::uint64_t> move, arrive;  ///< arrive[0] = 0

    Schedule(const std::vector<Stop>& stops, std::size_t flown) {
        move.resize(flown);
        arrive.resize(flown);
        for (std::size_t k = 0; k < flown; ++k) {
            if (k > 0) arrive[k] = move[k - 1] + stops[k - 1].time2Next;
            move[k] = arrive[k] + stops[k].pause;
        }
    }
};

/// Collects the findings of one lint: the checks of objects, paths and flights, each finding
/// said once.
class Linter {
public:
    Linter(Host& host, const LintOptions& options) : host_(host), options_(options) {}

    std::vector<LintFinding> findings;

    void add(std::string_view id, LintSeverity severity, const std::string& object, std::optional<ULong> time,
             std::optional<double> distance, std::string text) {
        // Iterators flying one path find its speed faults alike: each is said once.
        if (!seen_.emplace(std::string(id), object, time, distance, text).second) return;
        findings.push_back({std::string(id), severity, object, time, distance, std::move(text)});
    }

    /// `dangling-reference`: a Path that names no path, a PointsTo or MovingDestination that
    /// names nothing, the object itself, or an object without a position of its own.
    void references(const Handle& object) {
        const std::string& name = host_.nameOf(object);
        for (const char* attribute : {"Path", "PointsTo", "MovingDestination"}) {
            const std::optional<Handle> target = host_.getReference(object, attribute);
            if (!target) continue;
            const bool path = std::string_view(attribute) == "Path";
            const std::string said = std::string(attribute) + " ";
            if (target->IsNull()) {
                if (path)
                    add("dangling-reference", LintSeverity::Error, name, {}, {},
                        said + "names no object: nothing to fly");
                continue;
            }
            if (!host_.descriptor(*target)) {
                add("dangling-reference", LintSeverity::Error, name, {}, {},
                    said + "names an object that is not in the scene");
                continue;
            }
            const std::string targetName = host_.nameOf(*target);
            if (path) {
                if (!CInterfacePtr<ISCO_CSPath>(*target))
                    add("dangling-reference", LintSeverity::Error, name, {}, {},
                        said + "names " + targetName + ", " + kindOf(*target) + ", not a path");
            } else if (*target == object) {
                add("dangling-reference", LintSeverity::Error, name, {}, {},
                    said + "names the object itself: no direction to look in");
            } else if (const RtsObject* o = host_.object(*target); o && !o->IsPosValid()) {
                add("dangling-reference", LintSeverity::Error, name, {}, {},
                    said + "names " + targetName + ", " + kindOf(*target) + ", which has no position of its own");
            }
        }
    }

    /// `bad-fov` and `bad-range`, on every object that has the attribute.
    void values(const Handle& object) {
        const std::string& name = host_.nameOf(object);
        if (const std::optional<float> fov = host_.getFloat(object, "FOVFac");
            fov && !(std::isfinite(*fov) && *fov > 0))
            add("bad-fov", LintSeverity::Error, name, {}, {},
                "FOVFac is " + number(*fov) +
                    "; it must be finite and above 0 (the path fits 1/FOVFac, 100 for 0 or NaN)");
        if (const std::optional<float> range = host_.getFloat(object, "Range");
            range && !(std::isfinite(*range) && *range > 0))
            add("bad-range", LintSeverity::Error, name, {}, {},
                "Range is " + number(*range) +
                    "; it must be finite and above 0 (the view vector is Range times the forward axis)");
    }

    /// Every check of one path's waypoints and curves. Returns its stops for the flights.
    PathStops path(const Handle& pathObject) {
        PathStops out;
        Descriptor* container = host_.descriptor(pathObject);
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
            for (std::size_t k = first; k + 1 < end; ++k) segment(stops[k], stops[k + 1]);
            viewVertical(stops, first, end);
        }
        cuts(stops);
        return out;
    }

    /// The flight checks of one iterator's flight over `path`.
    void flight(const PathStops& path, const FlightRecording& recording) {
        if (path.flown < 2) return;
        // What a flight broken by the clock's wrap does is the wrap's doing: said once.
        if (clockWrap(path) || recording.ticks.size() < 2) return;
        speeds(path, recording.ticks, !recording.hitLimit);
    }

private:
    std::string kindOf(const Handle& object) const {
        const std::string className = host_.className(object);
        return className.empty() ? "a plain object" : "a " + className;
    }

    Stop stopOf(const Handle& handle, CInterfacePtr<ISCO_CSWayPoint> waypoint) const {
        Stop stop;
        stop.name = host_.nameOf(handle);
        ISCO_CSWayPoint& w = *waypoint.get();
        stop.eye = {w.GetPara(0), w.GetPara(1), w.GetPara(2)};
        stop.view = {w.GetPara(3), w.GetPara(4), w.GetPara(5)};
        const std::optional<float> roll = host_.getFloat(handle, "Roll");
        stop.roll = roll ? *roll : w.GetPara(6) * kDegrees;
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
        const std::string& name = host_.nameOf(handle);
        const bool afterOn = i > 0 && children[i - 1].on;
        std::size_t later = i + 1;
        while (later < children.size() && !children[later].on) ++later;
        if (!afterOn || later == children.size()) {
            add("switched-off", LintSeverity::Info, name, {}, {},
                "switched off (IsOn false): the flight leaves it out");
            return;
        }
        if (!flown) flown = stops.size();
        add("switched-off", LintSeverity::Warning, name, {}, {},
            "switched off between switched-on waypoints: the iterator takes " + stops.back().name +
                " before it for the last and ends its flight there, never reaching " +
                host_.nameOf(children[later].handle));
    }

    /// `single-waypoint-part`: a part of one waypoint is a shot without a flight.
    void singlePart(const Handle& pathObject, const std::vector<Stop>& stops, std::size_t k) {
        const Stop& stop = stops[k];
        std::string text;
        if (stops.size() == 1) {
            text = "the only switched-on waypoint of " + host_.nameOf(pathObject) + ": nothing to fly";
        } else if (k + 1 == stops.size()) {
            text = "a part of one waypoint after a cut: the flight ends on reaching it, so it is never shown";
        } else {
            // Its segment has no flight time; the camera holds for the pauses it carries.
            const ULong held = (k == 0 ? stop.pause : 0) + stops[k + 1].pause;
            text = "a part of one waypoint between cuts: the camera jumps to it, holds " + number(held) +
                   " ms and jumps on";
        }
        add("single-waypoint-part", LintSeverity::Warning, stop.name, {}, stop.distanceSum, text);
    }

    /// The checks of the segment from `a` to the next stop `b` of the same part. The samples are
    /// the segment's own curves (the waypoint's `CalcOrientationAtDistance` and
    /// `CalcDistanceAtTime`): the path evaluates the distances from D[a] up to D[b] with them,
    /// and asking the waypoint keeps a long path's lint linear in its length.
    void segment(const Stop& a, const Stop& b) {
        // roll-long-way: the roll channel is fitted through Roll as given, unwrapped.
        const double turn = b.roll - a.roll;
        if (std::fabs(turn) > 180) {
            double shortWay = std::fmod(std::fabs(turn), 360.0);
            if (shortWay > 180) shortWay = 360 - shortWay;
            add("roll-long-way", LintSeverity::Warning, a.name, {}, a.distanceSum,
                "Roll goes from " + number(a.roll) + " to " + number(b.roll) + " degrees at " + b.name + ": " +
                    number(std::fabs(turn)) + " degrees the long way round (the short way is " + number(shortWay) +
                    ")");
        }

        // short-segment: |dP| + |dQ|, the path's own step without its 0.1.
        const double move = norm(sub(b.eye, a.eye));
        const double apart = move + norm(sub(b.view, a.view));
        if (!(apart >= kShortSegment)) {
            add("short-segment", LintSeverity::Warning, a.name, {}, a.distanceSum,
                "the segment to " + b.name + " has no length: eye and view differ by " + number(apart) +
                    " (threshold " + number(kShortSegment) + "), so the camera stands still for its " +
                    number(a.time2Next) + " ms");
            return;
        }

        // overshoot: how far the eye leaves the box of the segment's two eyes,
        //   excess(p) = |(max(lo - p, 0, p - hi)) per axis|,
        // against the threshold times the segment's length |P[b] - P[a]|.
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
        if (worst > kOvershootFloor && worst > options_.overshoot * move)
            add("overshoot", LintSeverity::Warning, a.name, {}, worstAt,
                "on the way to " + b.name + " the eye leaves the box of the two waypoints by " + number(worst) +
                    " units, " +
                    (move > 0 ? number(worst / move) + " times the segment's length of " + number(move)
                              : std::string("where the eye should stand still")) +
                    " (threshold " + number(options_.overshoot) + ")");

        // time-backward: distance(t) over t in [0, Time2Next] must not fall. The drop is the
        // largest fall below the running maximum: max over t1 < t2 of distance(t1) - distance(t2).
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
            add("time-backward", LintSeverity::Warning, a.name, {}, dropAt,
                "on the way to " + b.name + " the distance over time falls by " + number(drop) + " between " +
                    number(dropFrom) + " and " + number(dropTo) + " ms of the segment's " + number(flight) +
                    ": the camera flies backwards");
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
            if (!(angle(samples[i].view) < options_.viewVertical)) {
                ++i;
                continue;
            }
            std::size_t closest = i;
            for (; i < samples.size() && angle(samples[i].view) < options_.viewVertical; ++i)
                if (angle(samples[i].view) < angle(samples[closest].view)) closest = i;
            const Sample& at = samples[closest];
            add("view-vertical", LintSeverity::Warning, stops[at.stop].name, {}, at.distance,
                "the view comes within " + number(angle(at.view)) + " degrees of straight " +
                    (at.view[2] > 0 ? "up" : "down") + " (threshold " + number(options_.viewVertical) +
                    "): the camera's roll is undefined there");
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
            if (cut.easeIn)
                add("cut-with-ease", LintSeverity::Warning, cut.name, {}, cut.distanceSum,
                    arrives ? "EaseIn on a cut: the camera slows to a stop here before it cuts to " + next.name
                            : "EaseIn on a cut with no segment arriving: it has no effect");
            if (cut.easeOut)
                add("cut-with-ease", LintSeverity::Warning, cut.name, {}, cut.distanceSum,
                    "EaseOut on a cut has no effect: Time2Next is 0, there is no flight to ease");
            if (cut.pause)
                add("cut-with-ease", LintSeverity::Warning, cut.name, {}, cut.distanceSum,
                    "PauseTime " + number(cut.pause) + " on a cut: the camera holds here " + number(cut.pause) +
                        " ms before it cuts to " + next.name);
            if (next.pause)
                add("cut-with-ease", LintSeverity::Warning, next.name, {}, next.distanceSum,
                    "PauseTime " + number(next.pause) + " after the cut at " + cut.name + ": the camera holds at " +
                        cut.name + " for it, before the cut, not here");
        }
    }

    /// `clock-wrap`. The iterator compares a tick's time t with its segment's end E = S + dur
    /// as unsigned 32-bit numbers, which is right only while both lie on the same side of 2^32
    /// (counted from an activation before it). Segment k runs from S[k] to E[k] = S[k] + (k = 0 ? P[0] : 0) + T[k] +
    /// P[k+1] (exact, from the activation). Let t0 be the last tick before 2^32 and k the
    /// segment it falls in (S[k] <= t0 < E[k]); if the flight is still on there:
    ///   E[k] >= 2^32: at the first tick from S[k] on, E[k] mod 2^32 compares smaller, so the
    ///                 iterator passes it and every segment after it: the flight ends there;
    ///   E[k] <  2^32: the next tick has wrapped and compares smaller than E[k] for good: the
    ///                 camera holds at the segment's end, and the flight does not end.
    /// A flight that ends by t0, or whose ticks do not move (a step of 0), never sees a wrap.
    bool clockWrap(const PathStops& path) {
        const std::vector<Stop>& stops = path.stops;
        const std::uint64_t start = options_.start, step = options_.step;
        if (step == 0) return false;
        const std::uint64_t lastBefore = start + (kClockRange - 1 - start) / step * step;
        std::uint64_t begin = start;
        for (std::size_t k = 0; k + 1 < path.flown; ++k) {
            const std::uint64_t end = begin + (k == 0 ? stops[0].pause : 0) + stops[k].time2Next + stops[k + 1].pause;
            if (end <= lastBefore) {
                begin = end;
                continue;
            }
            const std::string said =
                "started at " + number(double(start)) + ", the segment from here ends at " + number(double(end)) + ", ";
            if (end >= kClockRange) {
                // The first tick at or after the segment's start: start + ceil((S - start) / step) step.
                const std::uint64_t tick = start + (begin - start + step - 1) / step * step;
                add("clock-wrap", LintSeverity::Warning, stops[k].name, static_cast<ULong>(tick), {},
                    said +
                        "past the clock's 2^32: the iterator, comparing times unsigned, takes it and the rest of "
                        "the path for passed at the tick at " +
                        number(double(tick)) + " and ends the flight");
            } else {
                const std::uint64_t tick = lastBefore + step;
                add("clock-wrap", LintSeverity::Warning, stops[k].name, static_cast<ULong>(tick), {},
                    said + "but its next tick wraps past the clock's 2^32 to " + number(double(tick - kClockRange)) +
                        ": the iterator, comparing times unsigned, takes every later tick for earlier and holds the "
                        "camera at " +
                        stops[k + 1].name + " for good");
            }
            return true;
        }
        return false;
    }

    /// `speed-jump`, `acceleration` and `jerk` from the flight analysis. A peak that a coarser
    /// finding explains is not reported again: a jump of the speed shows as a spike of the
    /// acceleration (one tick wide, 1/dt high) and two of the jerk; a jump of the acceleration
    /// as a spike of the jerk.
    void speeds(const PathStops& path, const std::vector<FlightTick>& ticks, bool ended) {
        const std::vector<Stop>& stops = path.stops;
        const std::size_t n = ticks.size();
        std::vector<FlightWaypoint> waypoints;
        for (const Stop& stop : stops) waypoints.push_back({stop.name, stop.time2Next, stop.pause, {}});
        const FlightAnalysis analysis = analyseFlight({ticks, waypoints, {}});
        const Schedule schedule(stops, path.flown);

        // Elapsed ms since the activation, as unsigned differences summed: rising across a wrap.
        std::vector<std::uint64_t> elapsed(n);
        elapsed[0] = static_cast<ULong>(ticks[0].time - options_.start);
        for (std::size_t i = 1; i < n; ++i)
            elapsed[i] = elapsed[i - 1] + static_cast<ULong>(ticks[i].time - ticks[i - 1].time);
        // Steps from tick i-1 to tick i that are no motion of the eye (noMotion[i]): a jump to
        // another part, also where the flight passes a cut within one tick (no tick stands at the
        // cut's index, so the analysis sees no cut); and the last tick of a flight that ended,
        // which keeps the eye before it (the iterator deactivates instead of placing it) and
        // after which the camera is the game's again.
        std::vector<bool> noMotion(n, false);
        for (std::size_t i = 1; i < n; ++i) {
            const ULong from = std::min(ticks[i - 1].waypoint, ticks[i].waypoint);
            const ULong to = std::max(ticks[i - 1].waypoint, ticks[i].waypoint);
            for (ULong j = from; j < to && j < stops.size(); ++j) noMotion[i] = noMotion[i] || stops[j].time2Next == 0;
        }
        if (ended) noMotion[n - 1] = true;
        auto measure = [&](std::size_t i, int width, double TickMeasures::*field) {
            for (int back = 0; back < width; ++back)
                if (i < static_cast<std::size_t>(back) + 1 || noMotion[i - back]) return std::nan("");
            return analysis.ticks[i].*field;
        };
        auto speed = [&](std::size_t i) { return measure(i, 1, &TickMeasures::speed); };
        auto acceleration = [&](std::size_t i) { return measure(i, 2, &TickMeasures::acceleration); };
        auto jerk = [&](std::size_t i) { return measure(i, 3, &TickMeasures::jerk); };
        // The waypoint a tick is nearest to in time: the one its segment leaves or the one it
        // arrives at.
        auto nearest = [&](std::size_t i) -> const Stop& {
            const std::size_t k = std::min<std::size_t>(ticks[i].waypoint, path.flown - 1);
            if (k + 1 >= path.flown) return stops[k];
            const double e = static_cast<double>(elapsed[i]);
            const double fromLeaving = std::fabs(e - static_cast<double>(schedule.move[k]));
            const double fromArriving = std::fabs(e - static_cast<double>(schedule.arrive[k + 1]));
            return fromArriving < fromLeaving ? stops[k + 1] : stops[k];
        };

        std::vector<bool> explained(n + 3, false);
        auto explain = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i <= to && i < explained.size(); ++i) explained[i] = true;
        };

        // speed-jump at stop k, between two segments of one part: the speed over the last tick
        // interval that ends by the arrival, and over the first that begins at the departure,
        //   ratio = max(v_before, v_after) / min(v_before, v_after).
        // A waypoint with a pause is a stop the designer asked for: how hard the camera stops
        // and starts there is the acceleration's to judge.
        for (std::size_t k = 1; k + 1 < path.flown; ++k) {
            if (stops[k - 1].time2Next == 0 || stops[k].time2Next == 0 || stops[k].pause != 0) continue;
            const std::size_t arrivedBy =
                std::upper_bound(elapsed.begin(), elapsed.end(), schedule.arrive[k]) - elapsed.begin();
            const std::size_t leftFrom =
                std::lower_bound(elapsed.begin(), elapsed.end(), schedule.move[k]) - elapsed.begin();
            if (arrivedBy < 2 || leftFrom + 1 >= n) continue;
            const std::size_t before = arrivedBy - 1, after = leftFrom + 1;
            if (elapsed[before - 1] < schedule.move[k - 1] || elapsed[after] > schedule.move[k] + stops[k].time2Next)
                continue;  // ticks too far apart to see the waypoint
            const double v0 = speed(before), v1 = speed(after);
            const double high = std::max(v0, v1), low = std::min(v0, v1);
            if (!(high >= kStandingStill)) continue;
            const double ratio = low > 0 ? high / low : kInfinity;
            if (!(ratio > options_.speedJump)) continue;
            explain(before, after + 2);
            add("speed-jump", LintSeverity::Warning, stops[k].name, ticks[after].time, {},
                "the speed jumps from " + number(v0) + " to " + number(v1) + " units/s here (" +
                    (low > 0 ? "x" + number(ratio) : std::string("from standing still")) + ", threshold " +
                    number(options_.speedJump) + ")");
        }

        // Peaks: each run of ticks over the threshold is one finding, at its highest tick.
        auto peaks = [&](auto value, double threshold, auto report) {
            for (std::size_t i = 0; i < n;) {
                if (!(value(i) > threshold)) {
                    ++i;
                    continue;
                }
                std::size_t end = i, peak = i;
                bool known = false;
                for (; end < n && value(end) > threshold; ++end) {
                    if (value(end) > value(peak)) peak = end;
                    known = known || explained[end];
                }
                if (!known) report(i, end, peak);
                i = end;
            }
        };
        std::vector<std::pair<std::size_t, std::size_t>> accelerationRuns;
        peaks(acceleration, options_.acceleration, [&](std::size_t first, std::size_t end, std::size_t peak) {
            accelerationRuns.emplace_back(first, end);
            // The speeds on either side of the run say what the peak does: start, stop, swerve.
            const double from = speed(first - 1), to = speed(end - 1);
            add("acceleration", LintSeverity::Warning, nearest(peak).name, ticks[peak].time, {},
                "the eye's acceleration peaks at " + number(acceleration(peak)) + " units/s^2 (threshold " +
                    number(options_.acceleration) + ")" +
                    (std::isnan(from) || std::isnan(to)
                         ? std::string()
                         : " as the speed goes from " + number(from) + " to " + number(to) + " units/s"));
        });
        for (const auto& [first, end] : accelerationRuns) explain(first > 0 ? first - 1 : 0, end + 1);
        peaks(jerk, options_.jerk, [&](std::size_t, std::size_t, std::size_t peak) {
            add("jerk", LintSeverity::Warning, nearest(peak).name, ticks[peak].time, {},
                "the eye's jerk peaks at " + number(jerk(peak)) + " units/s^3 (threshold " + number(options_.jerk) +
                    ")");
        });
    }

    Host& host_;
    const LintOptions& options_;
    std::set<std::tuple<std::string, std::string, std::optional<ULong>, std::optional<double>, std::string>> seen_;
};

/// The scene's objects in pre-order.
void preOrder(const std::vector<SceneNode>& nodes, std::vector<Handle>& out) {
    for (const SceneNode& node : nodes) {
        out.push_back(node.object);
        preOrder(node.children, out);
    }
}

}  // namespace

const char* severityWord(LintSeverity severity) {
    switch (severity) {
        case LintSeverity::Info:
            return "info";
        case LintSeverity::Warning:
            return "warning";
        case LintSeverity::Error:
            return "error";
    }
    return "warning";
}

std::vector<LintFinding> lintScene(Host& host, const LintOptions& options, const LintFlight& fly) {
    std::vector<Handle> objects;
    preOrder(sceneTree(host), objects);

    Linter linter(host, options);
    std::vector<std::pair<Handle, PathStops>> paths;
    std::vector<Handle> iterators;
    for (const Handle& object : objects) {
        linter.references(object);
        linter.values(object);
        if (CInterfacePtr<ISCO_CSPath>(object)) paths.emplace_back(object, linter.path(object));
        if (object.GetInterface(kIdHasEye, nullptr)) iterators.push_back(object);
    }

    if (options.iterator) iterators = {*options.iterator};
    const FlightOptions flightOptions{options.start, options.step, options.maxTicks};
    for (const Handle& iterator : iterators) {
        const std::optional<Handle> pathObject = host.getReference(iterator, "Path");
        const auto flown = std::find_if(paths.begin(), paths.end(),
                                        [&](const auto& path) { return pathObject && path.first == *pathObject; });
        if (flown == paths.end() || flown->second.flown < 2) continue;
        const FlightRecording recording =
            fly ? fly(iterator, flightOptions) : recordFlight(host, iterator, flightOptions);
        linter.flight(flown->second, recording);
    }

    // By object in scene order, then by check; a check's findings stay in the order found
    // (along the path, along the flight).
    std::map<std::string, std::size_t> place;
    for (std::size_t i = 0; i < objects.size(); ++i) place.emplace(host.nameOf(objects[i]), i);
    auto rank = [&](const LintFinding& f) {
        const auto found = place.find(f.object);
        const std::size_t check =
            std::find(std::begin(kCheckOrder), std::end(kCheckOrder), f.id) - std::begin(kCheckOrder);
        return std::pair(found == place.end() ? objects.size() : found->second, check);
    };
    std::vector<LintFinding> findings = std::move(linter.findings);
    std::stable_sort(findings.begin(), findings.end(),
                     [&](const LintFinding& a, const LintFinding& b) { return rank(a) < rank(b); });
    return findings;
}

bool lintFails(const std::vector<LintFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const LintFinding& f) { return f.severity != LintSeverity::Info; });
}

std::string lintText(const std::string& file, const std::vector<LintFinding>& findings) {
    std::string out;
    for (const LintFinding& f : findings) out += file + ": " + f.object + ": " + f.id + ": " + f.text + "\n";
    return out;
}

std::string lintJson(const std::vector<LintFinding>& findings) {
    std::string out = "[";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const LintFinding& f = findings[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"id\":" + jsonString(f.id) + ",\"severity\":" + jsonString(severityWord(f.severity)) +
               ",\"object\":" + jsonString(f.object) + ",\"time\":" + (f.time ? std::to_string(*f.time) : "null") +
               ",\"distance\":" +
               (f.distance && std::isfinite(*f.distance) ? floatToDecimal(static_cast<float>(*f.distance)) : "null") +
               ",\"text\":" + jsonString(f.text) + "}";
    }
    out += findings.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace host
