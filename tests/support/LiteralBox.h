#pragma once
/// The path's bounding box computed the slow, literal way, through the path's public interfaces
/// only: the oracle that the refit's box is checked against, bit for bit (tests, benchmark,
/// fuzzing). Header-only, without gtest, so every one of them can use it.

#include <cmath>
#include <limits>

#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "path/SCOCameraSystemPath.h"

namespace testing_support {

/// An axis-aligned box.
struct Box {
    _Point3<float> min, max;
};

/// DistanceSum of the last switched-on waypoint among the path's children (0 without one): the
/// child list walked through ISCO_SCOContainer, each child asked through ISCO_CSWayPoint.
inline float LastDistanceSum(SCOCameraSystemPath& path) {
    ISCO_SCOContainer& children = path;
    float total = 0.0f;
    ChildPos pos = children.GetFirstChild();
    while (pos != 0) {
        CInterfacePtr<ISCO_CSWayPoint> wayPoint(children.GetNextChild(&pos));
        if (wayPoint && wayPoint->IsOn()) total = wayPoint->GetDistanceSum();
    }
    return total;
}

/// The box's sample after `d`: d + 0.25 while that moves d, else the next float up; from 2^26 on
/// d + 2^(k-16) for d in [2^k, 2^(k+1)).
inline float NextBoxSample(float d) {
    constexpr float kCoarseFrom = 67108864.0f;  // 2^26
    if (d >= kCoarseFrom) return d + std::ldexp(1.0f, std::ilogb(d) - 16);
    const float next = d + 0.25f;
    return next == d ? std::nextafter(d, std::numeric_limits<float>::infinity()) : next;
}

/// How many samples the box takes below `total` (none when it is not finite).
inline double BoxSampleCount(float total) {
    double count = 0;
    if (std::isfinite(total))
        for (float d = 0.0f; d < total; d = NextBoxSample(d)) ++count;
    return count;
}

/// The box as the contract words it: min = (F, F, F), max = (-F, -F, -F) with F the largest
/// float; for d = 0, 0.25, 0.5, ... (float sums) while d < total, p = the Position of
/// CalcOrientationAtDistanceSum(d) through ISCO_CSPath, and per axis "if p > max then max = p;
/// if p < min then min = p"; then max + 1 and min - 1. A total that is not finite samples
/// nothing; where d + 0.25 no longer moves d the next sample is the next float up, and from
/// 2^26 on d + 2^(k-16) for d in [2^k, 2^(k+1)).
inline Box LiteralBox(SCOCameraSystemPath& path) {
    constexpr float kLargest = std::numeric_limits<float>::max();
    Box box{{kLargest, kLargest, kLargest}, {-kLargest, -kLargest, -kLargest}};
    auto widen = [](float p, float& lo, float& hi) {
        if (p > hi) hi = p;
        if (p < lo) lo = p;
    };
    ISCO_CSPath& evaluation = path;
    const float total = LastDistanceSum(path);
    for (float d = 0.0f; std::isfinite(total) && d < total; d = NextBoxSample(d)) {
        const _Point3<float> p = evaluation.CalcOrientationAtDistanceSum(d).Position;
        widen(p.x, box.min.x, box.max.x);
        widen(p.y, box.min.y, box.max.y);
        widen(p.z, box.min.z, box.max.z);
    }
    // The margin of one unit.
    box.max = {box.max.x + 1.0f, box.max.y + 1.0f, box.max.z + 1.0f};
    box.min = {box.min.x - 1.0f, box.min.y - 1.0f, box.min.z - 1.0f};
    return box;
}

}  // namespace testing_support
