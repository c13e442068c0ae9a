#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "flight/FlightAnalysis.h"
#include "flight/lint/Linter.h"

namespace host {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

/// Speeds below this (units per second) are standing still: no ratio between two of them.
constexpr double kStandingStill = 1e-3;
/// The clock's range: times are unsigned 32-bit milliseconds.
constexpr std::uint64_t kClockRange = std::uint64_t{1} << 32;

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

/// Samples of a segment's eye curve for its length.
constexpr int kLengthSamples = 64;
/// How far past its law's own peak an eased stretch may go. The peaks below assume an eye at an
/// even pace on its curve; the path's pace (its distance-over-time fit) and the eye's speed over
/// that distance vary along a segment, the curve bends, and the ticks difference what they see,
/// which on smooth designs comes to some 1.2 times the peak. A quarter more covers that, while a
/// speed jump at an ease's end, a pace that lurches inside it (a neighbour's Time2Next far
/// shorter) or two eases meeting at a waypoint with opposite accelerations (their steps add up)
/// still show. The check table (Checks.cpp) names it.
constexpr double kEaseMargin = 1.25;

/// The iterator's time law for segment k (its SelectEaseLaw and EaseTime): the segment is eased
/// when the waypoint it leaves or the one it arrives at has EaseIn. Then EaseOut on the leaving
/// waypoint makes the start slow, and with EaseIn on the arriving one the end slow as well:
///   EaseIn on k or k+1, no EaseOut on k         slow end     f(u) = u + u^2 - u^3
///   EaseIn and EaseOut on k, no EaseIn on k+1   slow start   f(u) = 2u^2 - u^3
///   EaseOut on k and EaseIn on k+1              both         f(u) = 3u^2 - 2u^3
/// EaseOut with no EaseIn at either end eases nothing. The camera is where the segment is at
/// time T f(e / T), e the time since it left k and T its Time2Next. Over a segment whose eye
/// runs a length L at an even pace, the eye moves L f(e / T): its acceleration is L f''(u) / T^2
/// and its jerk L f'''(u) / T^3, with f'' a line and f''' a constant:
///   slow end    f'' = 2 - 6u   (2 .. -4)    f''' = -6
///   slow start  f'' = 4 - 6u   (4 .. -2)    f''' = -6
///   both        f'' = 6 - 12u  (6 .. -6)    f''' = -12
/// so the peaks are A = L max|f''| / T^2 and L |f'''| / T^3. No law starts or ends with an f''
/// of 0: the acceleration steps by up to A at the stretch's ends, which a tick of dt sees as a
/// jerk of A / dt; the jerk's peak is the larger of the two.
struct EaseLaw {
    double maxF2 = 0;  ///< max |f''| on [0, 1]; 0: the segment is not eased
    double maxF3 = 0;  ///< |f'''|
};

EaseLaw easeLawOf(const Stop& leaving, const Stop& arriving) {
    if (!leaving.easeIn && !arriving.easeIn) return {};
    if (!leaving.easeOut || !arriving.easeIn) return {4, 6};  // slow end, slow start
    return {6, 12};                                           // both
}

/// The eye's path length from stop `a` to the next stop `b`, along a's own segment curve.
double eyeLength(const Stop& a, const Stop& b) {
    const double span = b.distanceSum - a.distanceSum;
    double length = 0;
    Vec3 last{};
    for (int i = 0; i <= kLengthSamples; ++i) {
        COrientation sample{};
        a.waypoint->CalcOrientationAtDistance(static_cast<float>(span * i / kLengthSamples), sample);
        const Vec3 p = vec3FromPoint(sample.Position);
        if (i > 0) length += norm(sub(p, last));
        last = p;
    }
    return length;
}

/// What an eased segment's own law asks of the eye (see EaseLaw), per tick of `step` ms: its
/// peak acceleration and jerk, both 0 for a segment that is not eased.
struct EasePeaks {
    double acceleration = 0;  ///< units/s^2
    double jerk = 0;          ///< units/s^3
};

EasePeaks easePeaksOf(const Stop& a, const Stop& b, ULong step) {
    const EaseLaw law = easeLawOf(a, b);
    if (law.maxF2 == 0 || a.time2Next == 0) return {};
    const double length = eyeLength(a, b), time = a.time2Next / 1000.0, tick = step / 1000.0;
    const double acceleration = length * law.maxF2 / (time * time);
    const double jerk = std::max(length * law.maxF3 / (time * time * time), tick > 0 ? acceleration / tick : 0.0);
    return {acceleration, jerk};
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
bool clockWrap(Linter& linter, const PathStops& path) {
    const std::vector<Stop>& stops = path.stops;
    const std::uint64_t start = linter.options.start, step = linter.options.step;
    if (step == 0) return false;
    const std::uint64_t lastBefore = start + (kClockRange - 1 - start) / step * step;
    std::uint64_t begin = start;
    for (std::size_t k = 0; k + 1 < path.flown; ++k) {
        const std::uint64_t end = begin + (k == 0 ? stops[0].pause : 0) + stops[k].time2Next + stops[k + 1].pause;
        if (end <= lastBefore) {
            begin = end;
            continue;
        }
        const std::string said = "started at " + lintNumber(double(start)) + ", the segment from here ends at " +
                                 lintNumber(double(end)) + ", ";
        if (end >= kClockRange) {
            // The first tick at or after the segment's start: start + ceil((S - start) / step) step.
            const std::uint64_t tick = start + (begin - start + step - 1) / step * step;
            linter.add("clock-wrap", LintSeverity::Warning, stops[k].name, static_cast<ULong>(tick), {},
                       said +
                           "past the clock's 2^32: the iterator, comparing times unsigned, takes it and the rest of "
                           "the path for passed at the tick at " +
                           lintNumber(double(tick)) + " and ends the flight");
        } else {
            const std::uint64_t tick = lastBefore + step;
            linter.add("clock-wrap", LintSeverity::Warning, stops[k].name, static_cast<ULong>(tick), {},
                       said + "but its next tick wraps past the clock's 2^32 to " +
                           lintNumber(double(tick - kClockRange)) +
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
class SpeedChecker {
public:
    SpeedChecker(Linter& linter, const PathStops& path, const std::vector<FlightTick>& ticks, bool ended)
        : linter_(linter),
          path_(path),
          stops_(path.stops),
          ticks_(ticks),
          n_(ticks.size()),
          analysis_(analyseFlight({ticks, waypointsOf(path.stops), {}})),
          schedule_(path.stops, path.flown),
          elapsed_(n_),
          noMotion_(n_, false),
          explained_(n_ + 3, false) {
        for (std::size_t k = 0; k + 1 < path.flown; ++k)
            easePeaks_.push_back(easePeaksOf(stops_[k], stops_[k + 1], linter.options.step));
        // Elapsed ms since the activation, as unsigned differences summed: rising across a wrap.
        elapsed_[0] = static_cast<ULong>(ticks[0].time - linter.options.start);
        for (std::size_t i = 1; i < n_; ++i)
            elapsed_[i] = elapsed_[i - 1] + static_cast<ULong>(ticks[i].time - ticks[i - 1].time);
        // Steps from tick i-1 to tick i that are no motion of the eye (noMotion[i]): a jump to
        // another part, also where the flight passes a cut within one tick (no tick stands at the
        // cut's index, so the analysis sees no cut); and the last tick of a flight that ended,
        // which keeps the eye before it (the iterator deactivates instead of placing it) and
        // after which the camera is the game's again.
        for (std::size_t i = 1; i < n_; ++i) {
            const ULong from = std::min(ticks[i - 1].waypoint, ticks[i].waypoint);
            const ULong to = std::max(ticks[i - 1].waypoint, ticks[i].waypoint);
            for (ULong j = from; j < to && j < stops_.size(); ++j)
                noMotion_[i] = noMotion_[i] || stops_[j].time2Next == 0;
        }
        if (ended) noMotion_[n_ - 1] = true;
    }

    void check() {
        speedJumps();
        accelerationAndJerk();
    }

private:
    static std::vector<FlightWaypoint> waypointsOf(const std::vector<Stop>& stops) {
        std::vector<FlightWaypoint> waypoints;
        for (const Stop& stop : stops) waypoints.push_back({stop.name, stop.time2Next, stop.pause, {}});
        return waypoints;
    }

    /// A measure of tick i over `width` steps back; none where one of them is no motion.
    double measure(std::size_t i, int width, double TickMeasures::*field) const {
        for (int back = 0; back < width; ++back)
            if (i < static_cast<std::size_t>(back) + 1 || noMotion_[i - back]) return std::nan("");
        return analysis_.ticks[i].*field;
    }
    double speed(std::size_t i) const { return measure(i, 1, &TickMeasures::speed); }
    double acceleration(std::size_t i) const { return measure(i, 2, &TickMeasures::acceleration); }
    double jerk(std::size_t i) const { return measure(i, 3, &TickMeasures::jerk); }

    /// The waypoint a tick is nearest to in time: the one its segment leaves or the one it
    /// arrives at.
    const Stop& nearest(std::size_t i) const {
        const std::size_t k = std::min<std::size_t>(ticks_[i].waypoint, path_.flown - 1);
        if (k + 1 >= path_.flown) return stops_[k];
        const double e = static_cast<double>(elapsed_[i]);
        const double fromLeaving = std::fabs(e - static_cast<double>(schedule_.move[k]));
        const double fromArriving = std::fabs(e - static_cast<double>(schedule_.arrive[k + 1]));
        return fromArriving < fromLeaving ? stops_[k + 1] : stops_[k];
    }

    void explain(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i <= to && i < explained_.size(); ++i) explained_[i] = true;
    }

    /// `speed-jump` at stop k, between two segments of one part: the speed over the last tick
    /// interval that ends by the arrival, and over the first that begins at the departure,
    ///   ratio = max(v_before, v_after) / min(v_before, v_after).
    /// A waypoint with a pause is a stop the designer asked for: how hard the camera stops
    /// and starts there is the acceleration's to judge.
    void speedJumps() {
        const std::vector<std::uint64_t>& elapsed = elapsed_;
        for (std::size_t k = 1; k + 1 < path_.flown; ++k) {
            if (stops_[k - 1].time2Next == 0 || stops_[k].time2Next == 0 || stops_[k].pause != 0) continue;
            const std::size_t arrivedBy =
                std::upper_bound(elapsed.begin(), elapsed.end(), schedule_.arrive[k]) - elapsed.begin();
            const std::size_t leftFrom =
                std::lower_bound(elapsed.begin(), elapsed.end(), schedule_.move[k]) - elapsed.begin();
            if (arrivedBy < 2 || leftFrom + 1 >= n_) continue;
            const std::size_t before = arrivedBy - 1, after = leftFrom + 1;
            if (elapsed[before - 1] < schedule_.move[k - 1] || elapsed[after] > schedule_.move[k] + stops_[k].time2Next)
                continue;  // ticks too far apart to see the waypoint
            const double v0 = speed(before), v1 = speed(after);
            const double high = std::max(v0, v1), low = std::min(v0, v1);
            if (!(high >= kStandingStill)) continue;
            const double ratio = low > 0 ? high / low : kInfinity;
            if (!(ratio > linter_.options.speedJump)) continue;
            explain(before, after + 2);
            LintFinding* found = linter_.add(
                "speed-jump", LintSeverity::Warning, stops_[k].name, ticks_[after].time, {},
                "the speed jumps from " + lintNumber(v0) + " to " + lintNumber(v1) + " units/s here (" +
                    (low > 0 ? "x" + lintNumber(ratio) : std::string("from standing still")) + ", threshold " +
                    lintNumber(linter_.options.speedJump) + ")");
            if (found) found->fix = easeFix(stops_, path_.flown, k);
        }
    }

    /// The limit of a measure of tick i over `width` steps back: the threshold, or within an eased
    /// stretch its law's own peak times kEaseMargin where that is higher. Tick i is within the
    /// eased stretch of segment k when the ticks its measure differences, from i - width to i,
    /// overlap the segment's flight (from leaving k to arriving at k+1, pauses not included).
    double limit(std::size_t i, std::size_t width, double threshold, double EasePeaks::*field) const {
        double allowed = threshold;
        if (i < width) return allowed;
        const std::uint64_t from = elapsed_[i - width], to = elapsed_[i];
        const std::size_t first = std::min(ticks_[i - width].waypoint, ticks_[i].waypoint);
        const std::size_t last = std::max(ticks_[i - width].waypoint, ticks_[i].waypoint);
        for (std::size_t k = first; k <= last && k < easePeaks_.size(); ++k)
            if (from < schedule_.arrive[k + 1] && to > schedule_.move[k])
                allowed = std::max(allowed, kEaseMargin * (easePeaks_[k].*field));
        return allowed;
    }

    /// Peaks: each run of ticks over their limit is one finding, at its highest tick, unless a
    /// tick of the run is explained already. `report(first, end, peak)`.
    template <typename Value, typename Limit, typename Report>
    void peaks(Value value, Limit limit, Report report) const {
        for (std::size_t i = 0; i < n_;) {
            if (!(value(i) > limit(i))) {
                ++i;
                continue;
            }
            std::size_t end = i, peak = i;
            bool known = false;
            for (; end < n_ && value(end) > limit(end); ++end) {
                if (value(end) > value(peak)) peak = end;
                known = known || explained_[end];
            }
            if (!known) report(i, end, peak);
            i = end;
        }
    }

    /// "(threshold T)", or where an ease allows more, "(threshold L: the ease's own peak of P times M)".
    static std::string limitWords(double limit, double threshold) {
        if (!(limit > threshold)) return "(threshold " + lintNumber(threshold) + ")";
        return "(threshold " + lintNumber(limit) + ": the ease's own peak of " + lintNumber(limit / kEaseMargin) +
               " times " + lintNumber(kEaseMargin) + ")";
    }

    void accelerationAndJerk() {
        const double accelerationThreshold = linter_.options.acceleration, jerkThreshold = linter_.options.jerk;
        auto acceleration = [this](std::size_t i) { return this->acceleration(i); };
        auto jerk = [this](std::size_t i) { return this->jerk(i); };
        auto accelerationLimit = [&](std::size_t i) {
            return limit(i, 2, accelerationThreshold, &EasePeaks::acceleration);
        };
        auto jerkLimit = [&](std::size_t i) { return limit(i, 3, jerkThreshold, &EasePeaks::jerk); };
        std::vector<std::pair<std::size_t, std::size_t>> accelerationRuns;
        peaks(acceleration, accelerationLimit, [&](std::size_t first, std::size_t end, std::size_t peak) {
            accelerationRuns.emplace_back(first, end);
            // The speeds on either side of the run say what the peak does: start, stop, swerve.
            const double from = speed(first - 1), to = speed(end - 1);
            linter_.add("acceleration", LintSeverity::Warning, nearest(peak).name, ticks_[peak].time, {},
                        "the eye's acceleration peaks at " + lintNumber(acceleration(peak)) + " units/s^2 " +
                            limitWords(accelerationLimit(peak), accelerationThreshold) +
                            (std::isnan(from) || std::isnan(to) ? std::string()
                                                                : " as the speed goes from " + lintNumber(from) +
                                                                      " to " + lintNumber(to) + " units/s"));
        });
        for (const auto& [first, end] : accelerationRuns) explain(first > 0 ? first - 1 : 0, end + 1);
        peaks(jerk, jerkLimit, [&](std::size_t, std::size_t, std::size_t peak) {
            linter_.add("jerk", LintSeverity::Warning, nearest(peak).name, ticks_[peak].time, {},
                        "the eye's jerk peaks at " + lintNumber(jerk(peak)) + " units/s^3 " +
                            limitWords(jerkLimit(peak), jerkThreshold));
        });
    }

    Linter& linter_;
    const PathStops& path_;
    const std::vector<Stop>& stops_;
    const std::vector<FlightTick>& ticks_;
    const std::size_t n_;
    const FlightAnalysis analysis_;
    const Schedule schedule_;
    std::vector<std::uint64_t> elapsed_;
    std::vector<bool> noMotion_;
    std::vector<bool> explained_;
    std::vector<EasePeaks> easePeaks_;  ///< per segment k, from stop k
};

}  // namespace

void checkFlight(Linter& linter, const PathStops& path, const FlightRecording& recording) {
    if (path.flown < 2) return;
    // What a flight broken by the clock's wrap does is the wrap's doing: said once.
    if (clockWrap(linter, path) || recording.ticks.size() < 2) return;
    SpeedChecker(linter, path, recording.ticks, !recording.hitLimit).check();
}

}  // namespace host
