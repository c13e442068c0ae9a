#include "SCOCameraSystemPath.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "CubicSpline.h"
#include "framework/IClassStorage.h"
#include "framework/RenderEngine.h"
#include "framework/ModuleRuntime.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

namespace {

constexpr const char* kClassName = "SCOCameraSystemPath";
constexpr const char* kRefitLocation = "SCOCameraSystemPath::RefreshCubicData";
constexpr int kRecordVersion = 3;

constexpr int kCurveCount = 9;          ///< eight camera channels over distance, distance over time
constexpr int kValueRows = 8;           ///< GetPara(0..7)
constexpr float kFirstDistance = 0.1f;  ///< D[0]: the path's distance scale starts here, not at 0
constexpr double kStepExtra = 0.1;      ///< added to every step, so the distance knots always increase
constexpr double kSixth = 1.0 / 6.0;
constexpr float kDefaultStep = 1000.0f;  ///< the waypoints' default Time2Next

constexpr float kBoxStep = 0.25f;
constexpr float kBoxMargin = 1.0f;
constexpr float kBoxFineEnd = 4194304.0f;  ///< 2^22: below it d + 0.25 is exact
constexpr float kDrawStep = 32.0f;
constexpr float kDrawEndGap = 1e-6f;
constexpr float kLineWidth = 2.0f;
constexpr float kLineColour[4] = {0.4f, 0.4f, 0.4f, 0.8f};

using WayPointPtr = CInterfacePtr<ISCO_CSWayPoint>;

void report(const char* location, const char* text) { pCameraSystemIRTS->Message(2, location, text); }

/// Moves `pos` on to the next child that is a switched-on waypoint and returns it resolved; empty
/// once the list is used up. Other children are skipped silently.
WayPointPtr nextWayPoint(ISCO_SCOContainer& children, ChildPos& pos) {
    while (pos != 0) {
        WayPointPtr wayPoint(children.GetNextChild(&pos));
        if (wayPoint && wayPoint->IsOn()) return wayPoint;
    }
    return {};
}

/// One walk over the switched-on waypoints, in container order; each is released after `step`.
template <class Step>
void forEachWayPoint(ISCO_SCOContainer& children, Step&& step) {
    ChildPos pos = children.GetFirstChild();
    while (WayPointPtr wayPoint = nextWayPoint(children, pos)) step(*wayPoint.get());
}

_Point3<float> eyeOf(ISCO_CSWayPoint& wayPoint) {
    return {wayPoint.GetPara(0), wayPoint.GetPara(1), wayPoint.GetPara(2)};
}
_Point3<float> viewOf(ISCO_CSWayPoint& wayPoint) {
    return {wayPoint.GetPara(3), wayPoint.GetPara(4), wayPoint.GetPara(5)};
}

/// Euclidean length, in double.
double length(const _Point3<float>& v) {
    const double x = v.x, y = v.y, z = v.z;
    return std::sqrt(x * x + y * y + z * z);
}

/// Four float lanes (x, y, z and an unused one), computed lane by lane with the same IEEE
/// operations as scalar code: the box sweep evaluates the three position channels at once.
using Lanes = float __attribute__((vector_size(16)));

#if defined(__x86_64__) && defined(__SSE2__)
/// The box sweep's unit of work: four consecutive samples side by side, one a lane.
using Slot = Lanes;
constexpr int kSlotWidth = 4;
Slot splat(float v) { return Slot{v, v, v, v}; }
#else
/// One sample at a time: the 32-bit build and other targets.
using Slot = float;
constexpr int kSlotWidth = 1;
Slot splat(float v) { return v; }
#endif

/// The samples d, d + step, ..., each lane past `lastLane` repeating the last one (a repeated
/// sample changes no bound). Every value is a sample of the stretch, so exact in float.
Slot samplesFrom(float d, double step, std::size_t lastLane) {
    Slot at = splat(d);
    if constexpr (!std::is_same_v<Slot, float>) {
        for (std::size_t k = 1; k < static_cast<std::size_t>(kSlotWidth); ++k)
            at[k] = static_cast<float>(d + static_cast<double>(std::min(k, lastLane)) * step);
    } else {
        (void)step, (void)lastLane;
    }
    return at;
}
template <class T>
float highest(T v) {
    if constexpr (std::is_same_v<T, float>) {
        return v;
    } else {
        float best = v[0];
        for (int k = 1; k < kSlotWidth; ++k) best = v[k] > best ? v[k] : best;
        return best;
    }
}
template <class T>
float lowest(T v) {
    if constexpr (std::is_same_v<T, float>) {
        return v;
    } else {
        float best = v[0];
        for (int k = 1; k < kSlotWidth; ++k) best = v[k] < best ? v[k] : best;
        return best;
    }
}

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
    void add(float x, float y, float z) { add(splat(x), splat(y), splat(z)); }
    /// The box widened by the margin, added after all samples. With no sample at all the box
    /// stays inverted (min above max).
    void finish(_Point3<float>& min, _Point3<float>& max) const {
        max = {highest(hiX) + kBoxMargin, highest(hiY) + kBoxMargin, highest(hiZ) + kBoxMargin};
        min = {lowest(loX) - kBoxMargin, lowest(loY) - kBoxMargin, lowest(loZ) - kBoxMargin};
    }
};

/// A stretch of the box's samples with one step: below 2^22 every quarter unit; from 2^22 on,
/// where d + 0.25 no longer moves d, every float, [2^k, 2^(k+1)) by 2^(k-23). Within a stretch
/// every d + i step below its end is a float, so the samples are exact sums.
struct BoxStretch {
    double step, end;
};
BoxStretch boxStretchAt(float d) {
    if (d < kBoxFineEnd) return {kBoxStep, kBoxFineEnd};
    int exponent = 0;
    std::frexp(d, &exponent);
    return {std::ldexp(1.0, exponent - 24), std::ldexp(1.0, exponent)};
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
        box.add(SegmentValue({x3, x2, x1, x0}, u), SegmentValue({y3, y2, y1, y0}, u), SegmentValue({z3, z2, z1, z0}, u));
        at += stride;
    }
    if (i < n) {
        const Slot u = samplesFrom(static_cast<float>(d + static_cast<double>(i) * step), step, n - i - 1) - origin;
        box.add(SegmentValue({x3, x2, x1, x0}, u), SegmentValue({y3, y2, y1, y0}, u), SegmentValue({z3, z2, z1, z0}, u));
    }
    return box;
}

/// The switched-on waypoints of one walk, resolved once for a run of samples along the distance
/// scale. `position` picks the waypoint and the local distance exactly as
/// `CalcOrientationAtDistanceSum` does, without walking the children again:
///
///   next = the first k with distance < D[k] (n when there is none)
///   next == 0: waypoint 0 at the distance itself; else waypoint next-1 at distance - D[next-1]
///
/// `next` never moves back while the distance grows (a waypoint passed once, by
/// distance >= D[k] or because D[k] is NaN, stays passed), so increasing samples cost one step
/// each; a smaller distance, or a NaN, starts the search again from waypoint 0.
class WayPointSampler {
    /// A waypoint's four coefficient records: cubic, quadratic, linear, constant.
    using Segment = COrientation[4];

public:
    explicit WayPointSampler(ISCO_SCOContainer& children) {
        ChildPos pos = children.GetFirstChild();
        while (WayPointPtr wayPoint = nextWayPoint(children, pos)) {
            distanceSums_.push_back(wayPoint->GetDistanceSum());
            coefficients_.push_back(ownCoefficients(wayPoint.get()));
            wayPoints_.push_back(std::move(wayPoint));
        }
    }

    /// DistanceSum of the last switched-on waypoint; 0 without waypoints (as GetSumDistance).
    float total() const { return distanceSums_.empty() ? 0.0f : distanceSums_.back(); }

    /// The eye position at an accumulated distance; (0, 0, 0) without waypoints.
    _Point3<float> position(float distance) {
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

    /// The box of the positions at the box's samples below `total` (finite), before the margin.
    /// Each segment's run of samples is swept with its coefficients held in registers; the same
    /// samples, each evaluated with the same operations as `position`, so the same points.
    BoxBounds sweepBox(float total) const {
        BoxBounds box;
        const std::size_t count = wayPoints_.size();
        std::size_t next = 0;
        float d = 0.0f;
        while (count != 0 && d < total) {
            while (next < count && !(d < distanceSums_[next])) ++next;
            const std::size_t chosen = next == 0 ? 0 : next - 1;
            const float base = next == 0 ? 0.0f : distanceSums_[next - 1];
            // The run ends at the segment's end (for the last one: never), the total, or the end of
            // the stretch of equal steps, whichever comes first; all three exceed d.
            const double limit = next < count ? distanceSums_[next] : std::numeric_limits<double>::infinity();
            const BoxStretch stretch = boxStretchAt(d);
            const double bound = std::min({limit, static_cast<double>(total), stretch.end});
            // bound - d is exact in double (both lie in the stretch, or d is 0), so this is the count
            // of samples d + i h below bound; d + n h is the next sample, exact, at most the stretch end.
            const auto n = static_cast<std::size_t>(std::ceil((bound - d) / stretch.step));
            if (const Segment* c = coefficients_[chosen]) {
                box = sweepSegment(box, *c, base, d, stretch.step, n);
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    const float at = static_cast<float>(d + static_cast<double>(i) * stretch.step);
                    COrientation result{};
                    wayPoints_[chosen]->CalcOrientationAtDistance(at - base, result);
                    box.add(result.Position.x, result.Position.y, result.Position.z);
                }
            }
            d = static_cast<float>(d + static_cast<double>(n) * stretch.step);
        }
        return box;
    }

private:
    /// The coefficient records of a waypoint of exactly our own class, read in place for the
    /// length of one call: the box and the drawing need three channels of every sample, and
    /// asking through the interface evaluates all nine behind a virtual call. Any other
    /// implementation of ISCO_CSWayPoint (null here) is asked through the interface.
    static const Segment* ownCoefficients(ISCO_CSWayPoint* wayPoint) {
        if (typeid(*wayPoint) != typeid(SCOCameraSystemWaypoint)) return nullptr;
        return &static_cast<SCOCameraSystemWaypoint*>(wayPoint)->CubicData;
    }

    std::vector<WayPointPtr> wayPoints_;
    std::vector<const Segment*> coefficients_;
    std::vector<float> distanceSums_;
    std::size_t next_ = 0;
    float lastDistance_ = -std::numeric_limits<float>::infinity();
};

bool nearlyEqual(const _Point3<float>& a, const _Point3<float>& b) {
    return std::fabs(a.x - b.x) <= kDrawEndGap && std::fabs(a.y - b.y) <= kDrawEndGap &&
           std::fabs(a.z - b.z) <= kDrawEndGap;
}

void drawLine(const _Point3<float>& a, const _Point3<float>& b) {
    REU->DrawLine(&a, &b, kLineWidth, kLineWidth, kLineColour, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

SCOCameraSystemPath::SCOCameraSystemPath(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor)
    : RtsObject(objectGuid, secondGuid, descriptor) {}

// Member by member, the box included.
SCOCameraSystemPath::SCOCameraSystemPath(const SCOCameraSystemPath& other) = default;
SCOCameraSystemPath& SCOCameraSystemPath::operator=(const SCOCameraSystemPath& other) = default;

SCOCameraSystemPath::~SCOCameraSystemPath() = default;

// ---------------------------------------------------------------------------------------------
// Interface discovery and attributes

bool SCOCameraSystemPath::QueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    switch (id) {
        case kIdBoundingBox:
            return HandOut(static_cast<ISCO_BoundingBox*>(this), out);
        case kIdCSPath:
            return HandOut(static_cast<ISCO_CSPath*>(this), out);
        case kIdGCDrawSelf:
            return HandOut(static_cast<ISCO_GCDrawSelf*>(this), out);
        default:
            return BaseQueryInterface(id, out);
    }
}

bool SCOCameraSystemPath::GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) {
    // The bounds are computed by the path itself: not editable, but shown.
    const Attribute table[] = {
        MakeAttribute("MinBound", kTypePoint, false, false, true, &GetMinBoundX, &SetMinBoundX),
        MakeAttribute("MaxBound", kTypePoint, false, false, true, &GetMaxBoundX, &SetMaxBoundX),
        MakeAttribute("ShowPath", kTypeBool, true, true, true, &GetShowPathX, &SetShowPathX),
        Attribute{},
    };
    return DescribeAttribute(table, std::size(table) - 1, kClassName, index, attr, className, includeParents);
}

void SCOCameraSystemPath::ReleaseInterface() { BaseReleaseInterface(); }

bool SCOCameraSystemPath::GetParentAttr(ULong index, Attribute* attr, char* className) {
    return BaseGetAttributeInfo(index, attr, className, true);
}

// Accessors copy raw bytes both ways and never validate: the editor may store anything. The
// bounds move as their three floats (12 bytes), never as the whole CPosition with its table
// pointer.
bool SCOCameraSystemPath::GetMinBound(void* value) {
    return CopyAttributeOut(value, static_cast<_Point3<float>&>(MinBound));
}
bool SCOCameraSystemPath::SetMinBound(void* value) {
    return CopyAttributeIn(static_cast<_Point3<float>&>(MinBound), value);
}
bool SCOCameraSystemPath::GetMaxBound(void* value) {
    return CopyAttributeOut(value, static_cast<_Point3<float>&>(MaxBound));
}
bool SCOCameraSystemPath::SetMaxBound(void* value) {
    return CopyAttributeIn(static_cast<_Point3<float>&>(MaxBound), value);
}
bool SCOCameraSystemPath::GetShowPath(void* value) { return CopyAttributeOut(value, ShowPath); }
bool SCOCameraSystemPath::SetShowPath(void* value) { return CopyAttributeIn(ShowPath, value); }

bool SCOCameraSystemPath::GetMinBoundX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->GetMinBound(value);
}
bool SCOCameraSystemPath::SetMinBoundX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->SetMinBound(value);
}
bool SCOCameraSystemPath::GetMaxBoundX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->GetMaxBound(value);
}
bool SCOCameraSystemPath::SetMaxBoundX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->SetMaxBound(value);
}
bool SCOCameraSystemPath::GetShowPathX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->GetShowPath(value);
}
bool SCOCameraSystemPath::SetShowPathX(RtsObject* object, void* value) {
    return static_cast<SCOCameraSystemPath*>(object)->SetShowPath(value);
}

// ---------------------------------------------------------------------------------------------
// Persistence. Record version 3: MinBound, MaxBound, ShowPath, then the base record. Version 2
// carried one more unsigned long after ShowPath that nothing uses any more.

int SCOCameraSystemPath::Serialize(IClassStorage* storage) {
    if (storage->IsLoading()) {
        CSCOVersion version;
        version.Serialize(storage);
        if (version.GetVersion() > kRecordVersion) return 0;
        storage->LoadObject(MinBound).LoadObject(MaxBound);
        storage->LoadBool(&ShowPath);
        if (version.GetVersion() == 2) {
            ULong dropped = 0;
            storage->LoadULong(&dropped);
        }
        return RtsObject::Serialize(storage);
    }
    CSCOVersion version(kRecordVersion);
    if (!version.Serialize(storage)) return 0;
    storage->StoreObject(MinBound).StoreObject(MaxBound);
    storage->StoreBool(ShowPath);
    return RtsObject::Serialize(storage);
}

void SCOCameraSystemPath::AfterLoad() {
    RtsObject::AfterLoad();
    // The curves live in the waypoints and are never stored: rebuild them from what was loaded.
    static_cast<ISCO_CSPath*>(this)->RefreshCubicData();
}

bool SCOCameraSystemPath::IsPosValid() const { return false; }

// ---------------------------------------------------------------------------------------------
// Walks over the waypoints

void SCOCameraSystemPath::Refresh() {
    forEachWayPoint(children(), [](ISCO_CSWayPoint& wayPoint) { wayPoint.Refresh(); });
}

ULong SCOCameraSystemPath::GetWayPointCount() {
    ULong count = 0;
    forEachWayPoint(children(), [&](ISCO_CSWayPoint&) { ++count; });
    return count;
}

void SCOCameraSystemPath::FillInValues(double* row, int index, ULong count) {
    ULong k = 0;
    forEachWayPoint(children(), [&](ISCO_CSWayPoint& wayPoint) {
        const float value = wayPoint.GetPara(index);
        if (k < count) row[k++] = value;
    });
}

void SCOCameraSystemPath::FillInDistanceValues(double* out, ULong count) {
    // D[0] = 0.1;  D[k] = D[k-1] + step[k-1],
    // step[k-1] = float(|P[k] - P[k-1]| + |Q[k] - Q[k-1]| + 0.1)   (lengths in double)
    // with P the eye position and Q the view vector. Turning on the spot takes distance too, and
    // two waypoints at the same place with the same view are still 0.1 apart.
    float sum = 0.0f;
    float step = 0.0f;
    WayPointPtr previous;
    _Point3<float> previousEye{0, 0, 0}, previousView{0, 0, 0};
    ULong k = 0;
    ChildPos pos = children().GetFirstChild();
    while (WayPointPtr wayPoint = nextWayPoint(children(), pos)) {
        const _Point3<float> eye = eyeOf(*wayPoint.get());
        const _Point3<float> view = viewOf(*wayPoint.get());
        float entry;
        if (sum == 0.0f) {  // only at the first waypoint: every step is at least 0.1 (or NaN)
            sum = kFirstDistance;
            entry = kFirstDistance;
        } else {
            step = static_cast<float>(length(eye - previousEye) + length(view - previousView) + kStepExtra);
            previous->SetDistance2Next(step);
            sum = sum + step;
            entry = sum;
        }
        if (k < count) out[k++] = entry;
        previous = std::move(wayPoint);
        previousEye = eye;
        previousView = view;
    }
    // The last waypoint leads nowhere; it keeps the step of the segment that ends at it.
    if (previous) previous->SetDistance2Next(step);
}

void SCOCameraSystemPath::FillInTimeValues(double* out, ULong count) {
    // T[0] = 0;  T[k] = T[k-1] + Time2Next[k-1]  (exact in double). Pauses are the iterator's.
    double time = 0.0;
    ULong k = 0;
    forEachWayPoint(children(), [&](ISCO_CSWayPoint& wayPoint) {
        if (k < count) out[k++] = time;
        time = time + static_cast<double>(wayPoint.GetTime2Next());
    });
}

// ---------------------------------------------------------------------------------------------
// The refit

void SCOCameraSystemPath::RefreshCubicData() {
    try {
        Refresh();
        const ULong count = GetWayPointCount();
        if (count <= 1) return;

        // Work arrays: value rows 0..7 (GetPara), the distance knots D and the time knots T.
        const std::size_t n = count;
        std::vector<double> values(kValueRows * n, 0.0), distances(n, 0.0), times(n, 0.0);
        for (int row = 0; row < kValueRows; ++row) FillInValues(&values[row * n], row, count);
        FillInDistanceValues(distances.data(), count);
        FillInTimeValues(times.data(), count);
        auto valueAt = [&](int curve, std::size_t k) {
            return curve < kValueRows ? values[curve * n + k] : distances[k];
        };

        // One child iteration across all parts hands every waypoint its segment, in order.
        ChildPos childPos = children().GetFirstChild();
        // The step h of the waypoint handled last (a failed GetDistance2Next keeps it). Before
        // the first waypoint there is none: 1000, the waypoints' default Time2Next, as for a
        // failed GetTime2Next.
        float step = kDefaultStep;
        bool wayPointsLeft = true;
        for (std::size_t s = 0; s < n && wayPointsLeft;) {
            // A part runs up to the first waypoint whose Time2Next is 0 (there T[e-1] == T[e]) or
            // to the last waypoint; the last one's Time2Next leads nowhere and never splits.
            std::size_t e = s + 1;
            while (e < n && times[e - 1] != times[e]) ++e;
            const int partCount = static_cast<int>(e - s);

            CCubicSpline curves[kCurveCount];
            for (int curve = 0; curve < kValueRows; ++curve)
                curves[curve].Fit(partCount, &distances[s], &values[curve * n + s]);
            curves[kValueRows].Fit(partCount, &times[s], &distances[s]);

            for (std::size_t k = s; k < e; ++k) {
                WayPointPtr wayPoint = nextWayPoint(children(), childPos);
                if (!wayPoint) {  // fewer waypoints than counted: nothing left to hand out
                    wayPointsLeft = false;
                    break;
                }
                try {
                    step = wayPoint->GetDistance2Next();
                } catch (...) {
                    report(kRefitLocation, "1");
                }

                // Segment k of curve j, u the distance (curves 0..7) or time (curve 8) since knot i:
                //   S(u) = a + b*u + c*u^2 + d*u^3
                //   a = y[i]
                //   b = (y[i+1] - y[i]) / h - (2*M[i] + M[i+1]) * h / 6
                //   c = M[i] / 2
                //   d = (M[i+1] - M[i]) / h / 6
                double a[kCurveCount], b[kCurveCount], c[kCurveCount], d[kCurveCount];
                const int i = static_cast<int>(k - s);
                for (int curve = 0; curve < kCurveCount; ++curve) {
                    if (curve == kValueRows) {
                        try {
                            step = static_cast<float>(wayPoint->GetTime2Next());
                        } catch (...) {
                            step = kDefaultStep;
                            report(kRefitLocation, "2");
                        }
                    }
                    const CCubicSpline& spline = curves[curve];
                    if (spline.secondDerivatives && i + 1 < spline.count) {
                        const double* y = spline.values.get();
                        const double* m = spline.secondDerivatives.get();
                        const double h = step;
                        a[curve] = y[i];
                        b[curve] = (y[i + 1] - y[i]) / h - (2 * m[i] + m[i + 1]) * h * kSixth;
                        c[curve] = m[i] * 0.5;
                        d[curve] = ((m[i + 1] - m[i]) / h) * kSixth;
                    } else {
                        // The last waypoint of a part (also a part of one waypoint) has no knot
                        // behind it to shape a segment. It gets its own values and D[k] as the
                        // constant and nothing else: evaluated behind it (past the end of the
                        // path, or across the jump behind a cut) the camera holds at the waypoint.
                        a[curve] = valueAt(curve, k);
                        b[curve] = c[curve] = d[curve] = 0.0;
                    }
                }

                try {
                    // Curve j is channel j of each record.
                    COrientation::Channels cubicChannels{}, quadraticChannels{}, linearChannels{}, constantChannels{};
                    for (int curve = 0; curve < kCurveCount; ++curve) {
                        cubicChannels[curve] = static_cast<float>(d[curve]);
                        quadraticChannels[curve] = static_cast<float>(c[curve]);
                        linearChannels[curve] = static_cast<float>(b[curve]);
                        constantChannels[curve] = static_cast<float>(a[curve]);
                    }
                    COrientation cubic = COrientation::FromChannels(cubicChannels);
                    COrientation quadratic = COrientation::FromChannels(quadraticChannels);
                    COrientation linear = COrientation::FromChannels(linearChannels);
                    COrientation constant = COrientation::FromChannels(constantChannels);
                    wayPoint->SetData(cubic, quadratic, linear, constant);
                } catch (...) {
                    report(kRefitLocation, "4");
                }
            }
            s = e;
        }

        RecalcBoundingBox();
    } catch (...) {
        report(kClassName, "Exception in RefreshCubicData");
    }
}

// ---------------------------------------------------------------------------------------------
// Evaluation

// Both evaluations are called by the host and by the iterator: a waypoint call that throws ends
// the evaluation with the all-zero sample (the one a path without waypoints gives) instead of
// passing the exception on.

COrientation SCOCameraSystemPath::CalcOrientationAtDistanceSum(float distance) {
    // The last waypoint whose DistanceSum is at most the distance evaluates it, at the distance
    // since that waypoint. Below the first DistanceSum (0.1) the first waypoint takes the
    // distance itself.
    try {
        COrientation result{};
        WayPointPtr chosen;
        float base = 0.0f;
        ChildPos pos = children().GetFirstChild();
        while (WayPointPtr wayPoint = nextWayPoint(children(), pos)) {
            const float distanceSum = wayPoint->GetDistanceSum();
            if (distance < distanceSum) {
                if (!chosen) chosen = std::move(wayPoint);
                break;
            }
            base = distanceSum;
            chosen = std::move(wayPoint);
        }
        if (chosen) chosen->CalcOrientationAtDistance(distance - base, result);
        return result;
    } catch (...) {
        return COrientation{};
    }
}

COrientation SCOCameraSystemPath::CalcPosAtTimeSum(float time) {
    // The last waypoint whose start time T[k] is at most the time (the first one for earlier
    // times) turns the time since T[k] into a distance; the distance gives the sample.
    try {
        WayPointPtr chosen;
        float start = 0.0f;
        float base = 0.0f;
        ChildPos pos = children().GetFirstChild();
        while (WayPointPtr wayPoint = nextWayPoint(children(), pos)) {
            if (time < start && chosen) break;
            base = start;
            start = start + static_cast<float>(wayPoint->GetTime2Next());
            chosen = std::move(wayPoint);
        }
        if (!chosen) return COrientation{};
        const float distance = chosen->CalcDistanceAtTime(time - base);
        chosen.Release();
        return static_cast<ISCO_CSPath*>(this)->CalcOrientationAtDistanceSum(distance);
    } catch (...) {
        return COrientation{};
    }
}

float SCOCameraSystemPath::measurePart(ChildPos& pos, float* firstSum, bool* found) {
    bool met = false;
    float first = 0.0f;
    float last = 0.0f;
    while (WayPointPtr wayPoint = nextWayPoint(children(), pos)) {
        const float distanceSum = wayPoint->GetDistanceSum();
        last = distanceSum;
        if (!met) {
            first = distanceSum;
            met = true;
        }
        if (wayPoint->GetTime2Next() == 0) break;  // the cut waypoint is the part's last point
    }
    if (firstSum) *firstSum = first;
    if (found) *found = met;
    return met ? last - first : 0.0f;
}

float SCOCameraSystemPath::GetDistanceSumPart(ChildPos& pos) { return measurePart(pos, nullptr, nullptr); }

float SCOCameraSystemPath::GetTimeSumPart(ChildPos& pos) {
    float sum = 0.0f;
    float lastTime = 0.0f;
    while (WayPointPtr wayPoint = nextWayPoint(children(), pos)) {
        lastTime = static_cast<float>(wayPoint->GetTime2Next());
        if (lastTime == 0.0f) break;
        sum = sum + lastTime;
    }
    // The path's last Time2Next leads nowhere and is no part of the span.
    if (pos == 0) sum = sum - lastTime;
    return sum;
}

ULong SCOCameraSystemPath::GetSumTime() {
    ULong sum = 0;
    ULong last = 0;
    forEachWayPoint(children(), [&](ISCO_CSWayPoint& wayPoint) {
        last = wayPoint.GetTime2Next();
        sum += last;
    });
    return sum - last;
}

float SCOCameraSystemPath::GetSumDistance() {
    float last = 0.0f;
    forEachWayPoint(children(), [&](ISCO_CSWayPoint& wayPoint) { last = wayPoint.GetDistanceSum(); });
    return last;
}

// ---------------------------------------------------------------------------------------------
// Bounds and drawing

// The box samples the positions at d = 0, 0.25, 0.5, ... (single precision) while d < total and
// adds the margin afterwards; total itself is not sampled. Where d + 0.25 no longer moves d (from
// 2^22 on) the samples go on at every float, so the box holds every point the path evaluates
// below its total, however long. A total that is not finite samples nothing.

void SCOCameraSystemPath::RecalcBoundingBox() {
    // Every waypoint is resolved once for the whole run of samples, and the samples rise, so the
    // segment only ever moves forward: the same samples and the same evaluation as a full
    // CalcOrientationAtDistanceSum per sample, so the same box.
    WayPointSampler sampler(children());
    const float total = sampler.total();
    BoxBounds box;
    if (std::isfinite(total)) box = sampler.sweepBox(total);
    box.finish(MinBound, MaxBound);
}

void SCOCameraSystemPath::GetBBox(_Point3<float>* min, _Point3<float>* max) {
    if (min) *min = MinBound;
    if (max) *max = MaxBound;
}

void SCOCameraSystemPath::GetBSphere(_Point3<float>* center, float* radius) {
    // The waypoint's sphere is formed the same way.
    const BoundingSphere sphere = SphereAroundBox(MinBound, MaxBound);
    if (center) *center = sphere.Center;
    if (radius) *radius = sphere.Radius;
}

void SCOCameraSystemPath::PotentiallyVisible() {}

void SCOCameraSystemPath::Draw3D(IGC_DrawSelfParameter*) {
    if (!ShowPath) return;
    // The drawing allocates (the sampler) and calls the waypoints unguarded: whatever fails ends
    // it where it got to, and nothing is reported.
    try {
        ChildPos childPos = children().GetFirstChild();
        if (childPos == 0) return;

        WayPointSampler sampler(children());
        bool firstPart = true;
        while (childPos != 0) {
            float firstSum = 0.0f;
            bool found = false;
            const float span = measurePart(childPos, &firstSum, &found);
            // The first part is drawn from 0 (the first waypoint's own point: below D[0] = 0.1 it is
            // evaluated at the distance itself). A part after a cut starts at its first waypoint's
            // DistanceSum: the spans leave out the jump behind each cut, so a running sum of spans
            // would fall behind the distance scale part by part.
            const float pos = firstPart ? 0.0f : firstSum;
            firstPart = false;
            // Nothing to draw without waypoints or extent. (For a part of one waypoint behind a cut,
            // the point just below its start lies on the cut waypoint before it: no line across.)
            if (!found || !(span > 0.0f)) continue;
            const float end = pos + span;

            // Samples at pos, pos + 32, ... while below end - 32 - 1e-6 (the sample at pos always),
            // then one at end - 1e-6: the last line covers between 32 and 64 units. The steps stop
            // where adding 32 no longer moves the sample, and are not taken towards a non-finite end.
            const double limit = static_cast<double>(end) - kDrawStep - static_cast<double>(kDrawEndGap);
            float d = pos;
            _Point3<float> last = sampler.position(d);
            if (std::isfinite(end)) {
                for (;;) {
                    const float next = d + kDrawStep;
                    if (!(next > d) || !(static_cast<double>(next) < limit)) break;
                    d = next;
                    const _Point3<float> point = sampler.position(d);
                    drawLine(last, point);
                    last = point;
                }
            }
            const _Point3<float> endPoint = sampler.position(end - kDrawEndGap);
            if (!nearlyEqual(last, endPoint)) drawLine(last, endPoint);
        }
    } catch (...) {
    }
}

void SCOCameraSystemPath::Draw2D(IGC_DrawSelfParameter*) {}
