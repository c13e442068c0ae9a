#include "WayPointSampler.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>
#include <utility>

#include "waypoint/SCOCameraSystemWaypoint.h"

namespace {

constexpr float kBoxStep = 0.25f;
constexpr float kBoxMargin = 1.0f;
constexpr float kBoxFineEnd = 4194304.0f;         ///< 2^22: below it d + 0.25 is exact
constexpr float kBoxEveryFloatEnd = 67108864.0f;  ///< 2^26: below it every float is a sample
constexpr int kBoxCoarseBits = 16;                ///< beyond 2^26: 2^16 samples a doubling

/// Four float lanes (x, y, z and an unused one), computed lane by lane with the same IEEE
/// operations as scalar code: the box sweep evaluates the three position channels at once.
using Lanes = float __attribute__((vector_size(16)));

#if defined(__x86_64__) && defined(__SSE2__)
/// The box sweep's unit of work: four consecutive samples side by side, one a lane.
using Slot = Lanes;
constexpr int kSlotWidth = 4;
Slot splat(float v) { return Slot{v, v, v, v}; }

/// The samples d, d + step, ..., each lane past `lastLane` repeating the last one (a repeated
/// sample changes no bound). Every value is a sample of the stretch, so exact in float.
Slot samplesFrom(float d, double step, std::size_t lastLane) {
    Slot at = splat(d);
    for (std::size_t k = 1; k < static_cast<std::size_t>(kSlotWidth); ++k)
        at[k] = static_cast<float>(d + static_cast<double>(std::min(k, lastLane)) * step);
    return at;
}
float highest(Slot v) {
    float best = v[0];
    for (int k = 1; k < kSlotWidth; ++k) best = v[k] > best ? v[k] : best;
    return best;
}
float lowest(Slot v) {
    float best = v[0];
    for (int k = 1; k < kSlotWidth; ++k) best = v[k] < best ? v[k] : best;
    return best;
}
#else
/// One sample at a time: the 32-bit build and other targets.
using Slot = float;
constexpr int kSlotWidth = 1;
Slot splat(float v) { return v; }
Slot samplesFrom(float d, double, std::size_t) { return d; }
float highest(Slot v) { return v; }
float lowest(Slot v) { return v; }
#endif

/// The running box of the sampled positions, one bound a lane. `p > hi ? p : hi` keeps hi unless
/// p is greater (a NaN never is), exactly as "if (p > hi) hi = p", and compiles to maxps/minps.
/// Folding the lanes in another order than the samples came can only trade +0 for -0 in a bound,
/// which the margin turns into the same bits: the box equals the one built sample by sample.
struct BoxBounds {
    static constexpr float kLargest = std::numeric_limits<float>::max();
    Slot loX = splat(kLargest), loY = splat(kLargest), loZ = splat(kLargest);
    Slot hiX = splat(-kLargest), hiY = splat(-kLargest), hiZ = splat(-kLargest);

    void add(Slot x, Slot y, Slot z) {
        hiX = x > hiX ? x : hiX, hiY = y > hiY ? y : hiY, hiZ = z > hiZ ? z : hiZ;
        loX = x < loX ? x : loX, loY = y < loY ? y : loY, loZ = z < loZ ? z : loZ;
    }
    void addPoint(float x, float y, float z) { add(splat(x), splat(y), splat(z)); }
    /// The box widened by the margin, added after all samples. With no sample at all the box
    /// stays inverted (min above max).
    void finish(_Point3<float>& min, _Point3<float>& max) const {
        max = {highest(hiX) + kBoxMargin, highest(hiY) + kBoxMargin, highest(hiZ) + kBoxMargin};
        min = {lowest(loX) - kBoxMargin, lowest(loY) - kBoxMargin, lowest(loZ) - kBoxMargin};
    }
};

/// A stretch of the box's samples with one step: below 2^22 every quarter unit; from 2^22 on,
/// where d + 0.25 no longer moves d, every float ([2^k, 2^(k+1)) by 2^(k-23)) up to 2^26; beyond,
/// where only absurd paths reach, 2^16 samples a doubling ([2^k, 2^(k+1)) by 2^(k-16)), so that
/// no length costs more than some 2^23 samples a doubling. Within a stretch every d + i step
/// below its end is a float, so the samples are exact sums.
struct BoxStretch {
    double step, end;
    double perStep;  ///< 1 / step, exact (a power of two): dividing by step is multiplying by it
};
BoxStretch boxStretchAt(float d) {
    if (d < kBoxFineEnd) return {kBoxStep, kBoxFineEnd, 1.0 / kBoxStep};
    int exponent = 0;
    std::frexp(d, &exponent);
    const int stepBits = d < kBoxEveryFloatEnd ? 24 : kBoxCoarseBits + 1;
    return {std::ldexp(1.0, exponent - stepBits), std::ldexp(1.0, exponent), std::ldexp(1.0, stepBits - exponent)};
}

/// n samples of one segment from d on, at local distance sample - base: the waypoint's Horner
/// form on the three position channels, kSlotWidth samples at once. The bounds are passed by
/// value so that they live in registers through the loop.
BoxBounds sweepSegment(BoxBounds box, const COrientation (&c)[4], float base, float d, double step, std::size_t n) {
    const Slot x3 = splat(c[0].Position.x), x2 = splat(c[1].Position.x), x1 = splat(c[2].Position.x),
               x0 = splat(c[3].Position.x);
    const Slot y3 = splat(c[0].Position.y), y2 = splat(c[1].Position.y), y1 = splat(c[2].Position.y),
               y0 = splat(c[3].Position.y);
    const Slot z3 = splat(c[0].Position.z), z2 = splat(c[1].Position.z), z1 = splat(c[2].Position.z),
               z0 = splat(c[3].Position.z);
    const Slot origin = splat(base);
    const Slot stride = splat(static_cast<float>(step * kSlotWidth));
    Slot at = samplesFrom(d, step, kSlotWidth - 1);
    std::size_t i = 0;
    for (; i + kSlotWidth <= n; i += kSlotWidth) {
        const Slot u = at - origin;
        box.add(SegmentValue({x3, x2, x1, x0}, u), SegmentValue({y3, y2, y1, y0}, u),
                SegmentValue({z3, z2, z1, z0}, u));
        at += stride;
    }
    if (i < n) {
        const Slot u = samplesFrom(static_cast<float>(d + static_cast<double>(i) * step), step, n - i - 1) - origin;
        box.add(SegmentValue({x3, x2, x1, x0}, u), SegmentValue({y3, y2, y1, y0}, u),
                SegmentValue({z3, z2, z1, z0}, u));
    }
    return box;
}

/// Asks the processor for the first two lines and the last of `size` bytes from `first`: every
/// line of a block that spans three.
void askForLines(const void* first, std::size_t size) {
    const char* bytes = static_cast<const char*>(first);
    __builtin_prefetch(bytes);
    __builtin_prefetch(bytes + 64);
    __builtin_prefetch(bytes + size - 1);
}

}  // namespace

WayPointSampler::WayPointSampler(RtsObjectContainer& children, Sweep* sweep) {
    // An own waypoint's DistanceSum is its constant record's distance channel, which lies in a
    // cache line of its own that the walk does not read: on a long path each would be a wait
    // on memory. It is asked for when the waypoint is resolved and read kSumsBehind waypoints
    // later. Other implementations are asked through the interface at once. A box swept during
    // the walk asks for all of the records' lines.
    constexpr std::size_t kSumsBehind = 8;
    const auto sumOf = [](const Segment& c) -> const float& { return c[3].Distance; };
    ChildPos pos = children.GetFirstChild();
    while (WayPointPtr wayPoint = nextWayPoint(children, pos)) {
        const Segment* own = ownCoefficients(wayPoint.get());
        if (own && sweep)
            askForLines(own, sizeof(Segment));
        else if (own)
            __builtin_prefetch(&sumOf(*own));
        distanceSums_.push_back(own ? 0.0f : wayPoint->GetDistanceSum());
        coefficients_.push_back(own);
        // Our own waypoints are read in place and never called: each reference goes back here,
        // while the line its release reads is at hand, not in a pass over the objects at the end.
        wayPoints_.push_back(own ? WayPointPtr() : std::move(wayPoint));
        if (const std::size_t k = coefficients_.size(); k > kSumsBehind) {
            if (const Segment* c = coefficients_[k - 1 - kSumsBehind]) distanceSums_[k - 1 - kSumsBehind] = sumOf(*c);
            if (sweep) sweepSettled(*sweep, k - kSumsBehind);
        }
    }
    const std::size_t count = coefficients_.size();
    for (std::size_t k = count > kSumsBehind ? count - kSumsBehind : 0; k < count; ++k)
        if (const Segment* c = coefficients_[k]) distanceSums_[k] = sumOf(*c);
}

_Point3<float> WayPointSampler::position(float distance) {
    const std::size_t count = wayPoints_.size();
    if (count == 0) return {0, 0, 0};
    if (!(distance >= lastDistance_)) next_ = 0;
    lastDistance_ = distance;
    while (next_ < count && !(distance < distanceSums_[next_])) ++next_;
    const std::size_t chosen = next_ == 0 ? 0 : next_ - 1;
    const float base = next_ == 0 ? 0.0f : distanceSums_[next_ - 1];
    const float s = distance - base;
    if (const Segment* c = coefficients_[chosen]) {
        // The waypoint's own evaluation, ((c3*s + c2)*s + c1)*s + c0 in float, on the three
        // position channels only: the same operations in the same order, so the same bits.
        return {SegmentChannel(*c, 0, s), SegmentChannel(*c, 1, s), SegmentChannel(*c, 2, s)};
    }
    COrientation result{};
    wayPoints_[chosen]->CalcOrientationAtDistance(s, result);
    return result.Position;
}

/// How many segments ahead the box asks for coefficient records.
constexpr std::size_t kRecordsAhead = 4;

struct WayPointSampler::Sweep {
    BoxBounds box;
    float d = 0.0f;        ///< the next sample
    std::size_t next = 0;  ///< the first waypoint whose sum exceeds d, as far as looked
    double lastSettled = -std::numeric_limits<double>::infinity();  ///< the last bound settled in the walk
    BoxStretch stretch{0.0, 0.0, 0.0};  ///< the stretch of d, once `stretchOfD` has been asked

    /// The stretch d lies in. Every run moves d on and never back, so the one worked out last
    /// holds until d reaches its end: a path of many short segments works it out once a stretch,
    /// not once a segment.
    const BoxStretch& stretchOfD() {
        if (!(d < stretch.end)) stretch = boxStretchAt(d);
        return stretch;
    }
};

void WayPointSampler::box(RtsObjectContainer& children, _Point3<float>& min, _Point3<float>& max) {
    Sweep sweep;
    const WayPointSampler sampler(children, &sweep);
    // A run swept during the walk ended at its segment's end or its stretch's, whichever came
    // first; the total could have ended it earlier. The runs' bounds rise, so the last one tells
    // whether any was cut short: then (odd sums only) the sweep starts over.
    const float total = sampler.total();
    if (!(std::isfinite(total) && sweep.lastSettled <= total)) sweep = Sweep{};
    sampler.sweepToEnd(sweep);
    sweep.box.finish(min, max);
}

void WayPointSampler::sweepSettled(Sweep& sweep, std::size_t settled) const {
    for (;;) {
        while (sweep.next < settled && !(sweep.d < distanceSums_[sweep.next])) ++sweep.next;
        if (sweep.next >= settled) return;
        // A segment of another implementation is called after the walk. An infinite sum would
        // let the run go on to its stretch's end, far past any total: it waits for the total too.
        const std::size_t chosen = sweep.next == 0 ? 0 : sweep.next - 1;
        if (!coefficients_[chosen] || !std::isfinite(distanceSums_[sweep.next])) return;
        const double bound = std::min(static_cast<double>(distanceSums_[sweep.next]), sweep.stretchOfD().end);
        sweep.lastSettled = bound;
        sweepRun(sweep, chosen, sweep.next == 0 ? 0.0f : distanceSums_[sweep.next - 1], bound);
    }
}

void WayPointSampler::sweepToEnd(Sweep& sweep) const {
    const float total = this->total();
    // Each segment's run of samples is swept with its coefficients held in registers.
    const std::size_t count = wayPoints_.size();
    while (std::isfinite(total) && count != 0 && sweep.d < total) {
        while (sweep.next < count && !(sweep.d < distanceSums_[sweep.next])) ++sweep.next;
        const std::size_t chosen = sweep.next == 0 ? 0 : sweep.next - 1;
        const float base = sweep.next == 0 ? 0.0f : distanceSums_[sweep.next - 1];
        // The run ends at the segment's end (for the last one: never), the total, or the end of
        // the stretch of equal steps, whichever comes first; all three exceed d.
        const double limit = sweep.next < count ? distanceSums_[sweep.next] : std::numeric_limits<double>::infinity();
        sweepRun(sweep, chosen, base, std::min({limit, static_cast<double>(total), sweep.stretchOfD().end}));
    }
}

void WayPointSampler::sweepRun(Sweep& sweep, std::size_t chosen, float base, double bound) const {
    const float d = sweep.d;
    const double step = sweep.stretchOfD().step;
    // bound - d is exact in double (both lie in the stretch, or d is 0), so this is the count of
    // samples d + i h below bound; d + n h is the next sample, exact, at most the stretch end.
    const auto n = static_cast<std::size_t>(std::ceil((bound - d) * sweep.stretch.perStep));
    // On a long path the records of the segments ahead are in memory, not in the caches: ask
    // for them a few segments before the sweep gets there.
    if (chosen + kRecordsAhead < coefficients_.size())
        if (const Segment* ahead = coefficients_[chosen + kRecordsAhead]) askForLines(ahead, sizeof(Segment));
    if (const Segment* c = coefficients_[chosen]) {
        sweep.box = sweepSegment(sweep.box, *c, base, d, step, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const float at = static_cast<float>(d + static_cast<double>(i) * step);
            COrientation result{};
            wayPoints_[chosen]->CalcOrientationAtDistance(at - base, result);
            sweep.box.addPoint(result.Position.x, result.Position.y, result.Position.z);
        }
    }
    sweep.d = static_cast<float>(d + static_cast<double>(n) * step);
}

const WayPointSampler::Segment* WayPointSampler::ownCoefficients(ISCO_CSWayPoint* wayPoint) {
    if (typeid(*wayPoint) != typeid(SCOCameraSystemWaypoint)) return nullptr;
    return &static_cast<SCOCameraSystemWaypoint*>(wayPoint)->CubicData;
}
