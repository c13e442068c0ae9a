#include "SCOCameraSystemPath.h"

#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

#include "CubicSpline.h"
#include "WayPointSampler.h"
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

constexpr float kDrawStep = 32.0f;
constexpr float kDrawEndGap = 1e-6f;
constexpr float kLineWidth = 2.0f;
constexpr float kLineColour[4] = {0.4f, 0.4f, 0.4f, 0.8f};

void report(const char* location, const char* text) { pCameraSystemIRTS->Message(2, location, text); }

/// One walk over the switched-on waypoints, in container order; each is released after `step`.
template <class Step>
void forEachWayPoint(RtsObjectContainer& children, Step&& step) {
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
        // Every part refits the same nine curves, which keep their arrays from part to part.
        CCubicSpline curves[kCurveCount];
        for (std::size_t s = 0; s < n && wayPointsLeft;) {
            // A part runs up to the first waypoint whose Time2Next is 0 (there T[e-1] == T[e]) or
            // to the last waypoint; the last one's Time2Next leads nowhere and never splits.
            std::size_t e = s + 1;
            while (e < n && times[e - 1] != times[e]) ++e;
            const int partCount = static_cast<int>(e - s);

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
                        const double* y = spline.values;
                        const double* m = spline.secondDerivatives;
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

void SCOCameraSystemPath::RecalcBoundingBox() {
    // Every waypoint is resolved once for the whole run of samples (see WayPointSampler::box).
    WayPointSampler::box(children(), MinBound, MaxBound);
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
