#pragma once
/// The path's private operations, for its tests, the benchmark and the fuzz bodies (the path
/// names this struct its friend).

#include "path/SCOCameraSystemPath.h"

struct PathTestAccess {
    /// Recomputes the box as the end of a refit does.
    static void box(SCOCameraSystemPath& path) { path.RecalcBoundingBox(); }
    /// Number of switched-on waypoints: one walk over the children.
    static ULong count(SCOCameraSystemPath& path) { return path.GetWayPointCount(); }
    static float sumDistance(SCOCameraSystemPath& path) { return path.GetSumDistance(); }
    static ULong sumTime(SCOCameraSystemPath& path) { return path.GetSumTime(); }
    /// Distance span of the part that begins at `pos`; moves `pos` behind it.
    static float distancePart(SCOCameraSystemPath& path, ChildPos& pos) { return path.GetDistanceSumPart(pos); }
};
