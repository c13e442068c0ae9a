#include "flight/FlightAnalysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Vec.h"
#include "geometry/LevelGeometry.h"

namespace host {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr Vec3 kNaNVec{kNaN, kNaN, kNaN};

/// A point in double; NaN in every coordinate when one is not finite, so that every measure
/// built on it is NaN (an infinite eye has no speed, and no distance to anything).
Vec3 point(const _Point3<float>& p) { return IsFinite(p) ? Vec3{p.x, p.y, p.z} : kNaNVec; }

/// The eye's rotation in double with unit columns: c[k] is column k (right, forward, up) as a
/// world direction. `ok` is false when a column is zero or not finite.
struct Frame {
    std::array<Vec3, 3> c;
    bool ok = true;
};

Frame frame(const _CMatrix3<float>& m) {
    Frame f;
    for (int k = 0; k < 3; ++k) {
        const Vec3 column{m.m[0][k], m.m[1][k], m.m[2][k]};
        const double length = norm(column);
        f.ok = f.ok && std::isfinite(length) && length > 0;
        f.c[k] = scale(column, 1.0 / length);
    }
    return f;
}

/// The angle between the forward axes, theta = atan2(|f x g|, f . g), in radians (well
/// conditioned for small angles, unlike acos).
double turnAngle(const Frame& a, const Frame& b) {
    const Vec3 &f = a.c[1], &g = b.c[1];
    return std::atan2(norm(cross(f, g)), dot(f, g));
}

/// The twist about a's forward axis f of the relative rotation Q = R_b * R_a^T (which takes
/// frame a to frame b: Q R_a = R_b), in radians in (-pi, pi], right-hand rule about f.
///
/// Swing-twist: Q = S * T with T a rotation about f and S about an axis perpendicular to f, so
/// that S takes f to Q f = g by the shortest turn. With Q's unit quaternion (w, v) the twist
/// angle is 2 * atan2(v . f, w); the sign of the quaternion changes the angle by 2 pi only.
double twistAngle(const Frame& a, const Frame& b) {
    double q[3][3];  // Q[r][s] = sum_k R_b[r][k] R_a[s][k] = sum_k b.c[k][r] a.c[k][s]
    for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) q[r][s] = b.c[0][r] * a.c[0][s] + b.c[1][r] * a.c[1][s] + b.c[2][r] * a.c[2][s];
    // The quaternion of Q (Shepperd: divide by the largest of 4w^2, 4x^2, 4y^2, 4z^2); only the
    // direction of (w, v) matters to the atan2, so the common factor 1/4 is left out.
    const double trace = q[0][0] + q[1][1] + q[2][2];
    double w, v[3];
    if (trace >= q[0][0] && trace >= q[1][1] && trace >= q[2][2]) {
        w = 1 + trace;
        v[0] = q[2][1] - q[1][2], v[1] = q[0][2] - q[2][0], v[2] = q[1][0] - q[0][1];
    } else {
        const int i = q[0][0] >= q[1][1] && q[0][0] >= q[2][2] ? 0 : q[1][1] >= q[2][2] ? 1 : 2;
        const int j = (i + 1) % 3, k = (i + 2) % 3;
        v[i] = 1 + q[i][i] - q[j][j] - q[k][k];
        v[j] = q[i][j] + q[j][i];
        v[k] = q[i][k] + q[k][i];
        w = q[k][j] - q[j][k];
    }
    const Vec3& f = a.c[1];
    double angle = 2 * std::atan2(v[0] * f[0] + v[1] * f[1] + v[2] * f[2], w);
    if (angle > kPi) angle -= 2 * kPi;
    if (angle <= -kPi) angle += 2 * kPi;
    return angle;
}

/// The marks of a flight, each with its place in the flight: the ms since the first tick, as a
/// signed 64-bit number so that a pause that began before the first tick sorts first; elapsed
/// times are unsigned differences, so the order holds across the wrap at 2^32.
///
/// The times follow the iterator's segments: segment n leaves waypoint n at its start plus
/// lead(n) = (n == 0 ? P(0) : 0), arrives at waypoint n+1 after T(n) and stands there for
/// P(n+1); only then does the index become n+1 (P = "PauseTime", T = "Time2Next", mod 2^32):
///   pause of W0      [s, s + P(0)]                                   (segment 0 only)
///   W(n+1) reached   a = s + lead(n) + T(n)
///   pause of W(n+1)  [a, a + P(n+1)]
///   next start       a + P(n+1)
/// After a cut (T(n) = 0) the camera stands at the end of its part for P(n+1) and shows W(n+1)
/// only when the index moves on; that tick marks the cut and the waypoint.
class MarkList {
public:
    MarkList(const std::vector<FlightTick>& ticks, const std::vector<FlightWaypoint>& waypoints)
        : ticks_(ticks), waypoints_(waypoints) {}

    /// Marks what tick i shows first; true when the camera cut to another part at it.
    bool markTick(std::size_t i) {
        const FlightTick& tick = ticks_[i];
        if (i == 0) {
            place(i, tick.time, FlightMark::Kind::Waypoint, tick.time, tick.waypoint);
            segment(i, tick.waypoint, tick.segmentStart);
            return false;
        }
        const FlightTick& before = ticks_[i - 1];
        if (tick.waypoint == before.waypoint && tick.segmentStart == before.segmentStart) return false;
        if (tick.waypoint <= before.waypoint) {
            // Set from outside (a restart): a segment of its own.
            segment(i, tick.waypoint, tick.segmentStart);
            return false;
        }
        // The index moved on, maybe across segments that passed between the ticks; each begins
        // where the one before ended. Cut: the index leaves a waypoint whose Time2Next is 0 (the
        // end of a part); marked at this tick, naming the first such waypoint left.
        bool cut = false;
        ULong start = before.segmentStart;
        for (ULong k = before.waypoint; k < tick.waypoint && k < waypoints_.size(); ++k) {
            if (waypoints_[k].time2Next == 0) {
                if (!cut) place(i, tick.time, FlightMark::Kind::Cut, tick.time, k);
                cut = true;
                place(i, tick.time, FlightMark::Kind::Waypoint, tick.time, k + 1);
            }
            if (k + 1 < tick.waypoint) {
                start = ULong(start + duration(k));
                segment(i, k + 1, start);
            }
        }
        segment(i, tick.waypoint, tick.segmentStart);
        return cut;
    }

    /// The marks in order of their place; marks at one place in the order marked.
    std::vector<FlightMark> sorted() {
        std::stable_sort(marks_.begin(), marks_.end(), [](const Placed& a, const Placed& b) { return a.at < b.at; });
        std::vector<FlightMark> out;
        out.reserve(marks_.size());
        for (const Placed& p : marks_) out.push_back(p.mark);
        return out;
    }

private:
    struct Placed {
        std::int64_t at;
        FlightMark mark;
    };

    /// Whether the iterator flies a segment from waypoint n: one follows it, and it is no end.
    bool flies(ULong n) const { return n + 1 < waypoints_.size() && !waypoints_[n].ends; }

    ULong lead(ULong n) const { return n == 0 ? waypoints_[0].pauseTime : 0; }

    ULong duration(ULong n) const {
        if (!flies(n)) return 0;
        return ULong(lead(n) + waypoints_[n].time2Next + waypoints_[n + 1].pauseTime);
    }

    /// The pauses and the arrival of segment n starting at `start`, first shown at tick i; an
    /// arrival after the last tick is not yet part of the flight, nor a pause beginning then.
    void segment(std::size_t i, ULong n, ULong start) {
        if (!flies(n)) return;
        const FlightWaypoint &here = waypoints_[n], &next = waypoints_[n + 1];
        if (n == 0 && here.pauseTime > 0) place(i, start, FlightMark::Kind::Pause, ULong(start + here.pauseTime), 0);
        const ULong arrival = ULong(start + lead(n) + here.time2Next);
        const std::int64_t at = since(arrival), last = since(ticks_.back().time);
        if (here.time2Next > 0 && at >= 0 && at <= last) place(i, arrival, FlightMark::Kind::Waypoint, arrival, n + 1);
        if (next.pauseTime > 0 && at <= last)
            place(i, arrival, FlightMark::Kind::Pause, ULong(arrival + next.pauseTime), n + 1);
    }

    /// The ms from the first tick to `time`, negative before it.
    std::int64_t since(ULong time) const { return static_cast<std::int32_t>(time - ticks_.front().time); }

    void place(std::size_t i, ULong time, FlightMark::Kind kind, ULong end, ULong waypoint) {
        const std::int64_t tick = ULong(ticks_[i].time - ticks_[0].time);
        // How far before the tick the mark lies (a pause begins between two ticks, and an
        // arrival may come after the tick that began its segment); signed, so that a time
        // after the tick does not read as 2^32 back.
        const std::int64_t lag = static_cast<std::int32_t>(ticks_[i].time - time);
        marks_.push_back({tick - lag, {kind, time, end, waypoint}});
    }

    const std::vector<FlightTick>& ticks_;
    const std::vector<FlightWaypoint>& waypoints_;
    std::vector<Placed> marks_;
};

/// The targets of each tick: the destination, else the target of the tick's waypoint.
const std::optional<_Point3<float>>& targetOf(const FlightAnalysisInput& input, const FlightTick& tick) {
    static const std::optional<_Point3<float>> none;
    if (input.destination) return input.destination;
    return tick.waypoint < input.waypoints.size() ? input.waypoints[tick.waypoint].target : none;
}

/// clearance = distance from the eye to the nearest surface (asked along the flight at once: each
/// answer bounds the next); targetVisible = no surface between the eye and the target.
void measureInLevel(const FlightAnalysisInput& input, FlightAnalysis& out) {
    const LevelGeometry& level = *input.level;
    out.level = true;
    std::vector<Vec3> eyes;
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < input.ticks.size(); ++i) {
        const Vec3 eye = point(input.ticks[i].eye.Origin);
        if (!std::isfinite(eye[0])) continue;
        eyes.push_back(eye);
        at.push_back(i);
    }
    const std::vector<NearestSurface> nearest = level.nearestAlong(eyes);
    for (std::size_t k = 0; k < eyes.size(); ++k) {
        TickMeasures& m = out.ticks[at[k]];
        m.clearance = nearest[k].distance;
        const std::optional<_Point3<float>>& target = targetOf(input, input.ticks[at[k]]);
        if (target && IsFinite(*target)) m.targetVisible = level.targetInSight(eyes[k], point(*target));
    }
}

}  // namespace

const char* markWord(FlightMark::Kind kind) {
    switch (kind) {
        case FlightMark::Kind::Waypoint:
            return "waypoint";
        case FlightMark::Kind::Pause:
            return "pause";
        case FlightMark::Kind::Cut:
            return "cut";
    }
    return "waypoint";
}

FlightAnalysis analyseFlight(const FlightAnalysisInput& input) {
    const std::vector<FlightTick>& ticks = input.ticks;
    const std::vector<FlightWaypoint>& waypoints = input.waypoints;
    const std::size_t n = ticks.size();

    FlightAnalysis out;
    out.ticks.resize(n);
    if (n == 0) return out;

    MarkList marks(ticks, waypoints);
    Vec3 previousVelocity = kNaNVec, previousAcceleration = kNaNVec;
    Vec3 previousPosition = point(ticks[0].eye.Origin);
    Frame previousFrame = frame(ticks[0].eye.Orientation);
    for (std::size_t i = 0; i < n; ++i) {
        const FlightTick& tick = ticks[i];
        TickMeasures& m = out.ticks[i];
        const Vec3 position = point(tick.eye.Origin);
        const Frame eyeFrame = frame(tick.eye.Orientation);
        const bool first = i == 0;
        const bool cut = marks.markTick(i);
        const FlightWaypoint* current = tick.waypoint < waypoints.size() ? &waypoints[tick.waypoint] : nullptr;

        // dt_i = (t_i - t_{i-1}) / 1000 s, the unsigned difference (times wrap modulo 2^32). A
        // difference is defined only with an earlier tick, a non-zero dt and no cut at this tick
        // (a cut's jump is not motion); NaN then spreads to the later differences on its own:
        //   v_i = (p_i - p_{i-1}) / dt_i            speed        = |v_i|         (NaN at the cut)
        //   a_i = (v_i - v_{i-1}) / dt_i            acceleration = |a_i|         (and the next)
        //   j_i = (a_i - a_{i-1}) / dt_i            jerk         = |j_i|         (and the next two)
        const double dt = first ? 0.0 : ULong(tick.time - ticks[i - 1].time) / 1000.0;
        const bool defined = !first && dt > 0 && !cut;
        const double rate = defined ? 1.0 / dt : kNaN;
        const Vec3 velocity = defined ? scale(sub(position, previousPosition), rate) : kNaNVec;
        const Vec3 acceleration = defined ? scale(sub(velocity, previousVelocity), rate) : kNaNVec;
        const Vec3 jerk = defined ? scale(sub(acceleration, previousAcceleration), rate) : kNaNVec;
        m.speed = norm(velocity);
        m.acceleration = norm(acceleration);
        m.jerk = norm(jerk);

        // Rates of the frame, also undefined across a cut:
        //   angularRate = atan2(|f_{i-1} x f_i|, f_{i-1} . f_i) / dt_i       in degrees per second
        //   rollRate    = -twist(R_i R_{i-1}^T about f_{i-1}) / dt_i         in degrees per second
        // rollRate is positive counter-clockwise looking along forward (the right axis rising
        // towards up), as a rising "Roll" of the waypoints turns the camera: the left-hand sense
        // about forward, hence the minus on the right-hand twist.
        const bool frames = defined && previousFrame.ok && eyeFrame.ok;
        m.angularRate = frames ? turnAngle(previousFrame, eyeFrame) * kDegrees * rate : kNaN;
        m.rollRate = frames ? -twistAngle(previousFrame, eyeFrame) * kDegrees * rate : kNaN;

        m.fov = tick.fov;
        // targetDistance = |eye - target|: the destination, else the target of the tick's waypoint.
        const std::optional<_Point3<float>>& target = input.destination ? input.destination
                                                      : current         ? current->target
                                                                        : std::nullopt;
        m.targetDistance = target ? norm(sub(position, point(*target))) : kNaN;

        previousPosition = position;
        previousFrame = eyeFrame;
        previousVelocity = velocity;
        previousAcceleration = acceleration;
    }

    out.marks = marks.sorted();
    if (input.level) measureInLevel(input, out);
    return out;
}

}  // namespace host
