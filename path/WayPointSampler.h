#pragma once
/// The path's waypoints resolved once for a run of samples along the distance scale: the
/// drawing's positions and the bounding box.

#include <cstddef>
#include <limits>
#include <vector>

#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "framework/ModuleRuntime.h"
#include "framework/RtsObject.h"

using WayPointPtr = CInterfacePtr<ISCO_CSWayPoint>;

/// Moves `pos` on to the next child that is a switched-on waypoint and returns it resolved; empty
/// once the list is used up. Other children are skipped silently.
inline WayPointPtr nextWayPoint(RtsObjectContainer& children, ChildPos& pos) {
    while (pos != 0) {
        WayPointPtr wayPoint = resolveInterface<ISCO_CSWayPoint>(children.GetNextChild(&pos));
        if (wayPoint && wayPoint->IsOn()) return wayPoint;
    }
    return {};
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
    explicit WayPointSampler(RtsObjectContainer& children) : WayPointSampler(children, nullptr) {}

    /// DistanceSum of the last switched-on waypoint; 0 without waypoints (as GetSumDistance).
    float total() const { return distanceSums_.empty() ? 0.0f : distanceSums_.back(); }

    /// The eye position at an accumulated distance; (0, 0, 0) without waypoints.
    _Point3<float> position(float distance);

    /// The box of the path whose children these are: the positions at d = 0, 0.25, 0.5, ...
    /// (single precision) while d < total, and from 2^22 on, where d + 0.25 no longer moves d, at
    /// every float below the total; then widened by 1 on every side. A total that is not finite
    /// samples nothing: the box stays inverted (min above max). The same samples, each evaluated
    /// as `position` does, so the same box as a full CalcOrientationAtDistanceSum per sample.
    ///
    /// The samples are swept while the children are walked: each of our own waypoints a few
    /// waypoints after it was resolved, while its records are still in the caches. The host sees
    /// the calls of one walk, and other implementations are called after it.
    static void box(RtsObjectContainer& children, _Point3<float>& min, _Point3<float>& max);

private:
    /// Where a box sweep has got to (defined with the sweep).
    struct Sweep;

    WayPointSampler(RtsObjectContainer& children, Sweep* sweep);

    /// The runs of samples that the first `settled` distance sums already fix, up to the first
    /// run on a segment of another implementation (those are called after the walk) or one that
    /// ends at an infinite sum.
    void sweepSettled(Sweep& sweep, std::size_t settled) const;
    /// The runs from where `sweep` got to up to the total.
    void sweepToEnd(Sweep& sweep) const;
    /// The samples from the sweep's distance below `bound` on the segment of waypoint `chosen`.
    void sweepRun(Sweep& sweep, std::size_t chosen, float base, double bound) const;

    /// The coefficient records of a waypoint of exactly our own class, read in place for the
    /// length of one call: the box and the drawing need three channels of every sample, and
    /// asking through the interface evaluates all nine behind a virtual call. Any other
    /// implementation of ISCO_CSWayPoint (null here) is asked through the interface.
    static const Segment* ownCoefficients(ISCO_CSWayPoint* wayPoint);

    std::vector<WayPointPtr> wayPoints_;  ///< held for other implementations only; empty for our own
    std::vector<const Segment*> coefficients_;
    std::vector<float> distanceSums_;
    std::size_t next_ = 0;
    float lastDistance_ = -std::numeric_limits<float>::infinity();
};
