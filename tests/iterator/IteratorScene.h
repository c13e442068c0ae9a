#pragma once
/// A stand-in host with a game camera, a path and an iterator flying it, and the shared checks.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/InProcessModule.h"
#include "iterator/SCOCameraSystemIterator.h"

/// Reaches the iterator's private playback helpers.
struct IteratorTestAccess {
    static ISCO_CSWayPoint* wayPointNo(SCOCameraSystemIterator& it, int n, bool& last) {
        return it.GetWayPointNo(n, last);
    }
    /// Law 0 none, 1 slow end, 2 slow start, 3 both.
    static float ease(int law, float elapsed, float flight) {
        return SCOCameraSystemIterator::EaseTime(static_cast<SCOCameraSystemIterator::EaseLaw>(law), elapsed, flight);
    }
};

namespace iterator_tests {

/// A path stand-in: counts refits and answers every distance with `sample`.
class FakePath final : public RtsObject, public ISCO_CSPath {
public:
    using RtsObject::RtsObject;
    void RefreshCubicData() override { ++refits; }
    COrientation CalcOrientationAtDistanceSum(float) override { return sample; }
    COrientation CalcPosAtTimeSum(float) override { return sample; }
    bool QueryInterface(ULong id, void** out) override {
        if (DescriptorRefuses(out)) return false;
        return id == kIdCSPath ? HandOut(static_cast<ISCO_CSPath*>(this), out) : BaseQueryInterface(id, out);
    }
    bool GetAttributeInfo(ULong i, Attribute* a, char* c, bool p) override { return BaseGetAttributeInfo(i, a, c, p); }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    int refits = 0;
    COrientation sample{{1, 2, 3}, {0, 1, 0}, 0.0f, 0.8f, 0.0f};
};

/// Camera, path (the module's own, or a FakePath) and iterator; waypoints are added in order.
struct Scene {
    explicit Scene(bool fakePath = false) {
        camera = host.createCamera();
        path = fakePath ? host.add("path", {}, [](auto& g, auto& s, auto* d) { return new FakePath(g, s, d); })
                        : host.create("SCOCameraSystemPath", "path");
        iterator = host.create("SCOCameraSystemIterator", "iterator");
        host.setReference(iterator, "Path", path);
    }
    Handle waypoint(const std::string& name, Point3f at, ULong time2Next = 1000, ULong pause = 0, double turn = 0) {
        const Handle w = host.create("SCOCameraSystemWaypoint", name, path);
        _CCoordSystem<float> frame;
        frame.RotateZ(turn);
        frame.Origin = at;
        host.setObjectPos(w, frame);
        host.setULong(w, "Time2Next", time2Next);
        host.setULong(w, "PauseTime", pause);
        return w;
    }
    Handle other(const std::string& name) { return host.createPlain(name, {0, 0, 0}, path); }
    SCOCameraSystemIterator& it() { return *static_cast<SCOCameraSystemIterator*>(host.object(iterator)); }
    FakePath& fake() { return *static_cast<FakePath*>(host.object(path)); }
    void run(ULong time) { it().Run(time); }
    /// The eye the camera would read now.
    _CCoordSystem<float> eye(float* fov = nullptr) {
        float value = 0;
        const auto frame = it().GetEyeCoordSystem(0, value);
        if (fov) *fov = value;
        return frame;
    }
    /// Names of the objects whose activation the iterator asked for, in order.
    std::vector<std::string> activated() const {
        std::vector<std::string> names;
        for (const auto& r : host.runtime().requests())
            if (r.kind == host::ActivationKind::Activate) names.push_back(host.nameOf(r.target));
        return names;
    }
    /// Requests of the iterator for its own deactivation.
    int deactivations() const {
        int n = 0;
        for (const auto& r : host.runtime().requests())
            n += r.kind == host::ActivationKind::Deactivate && r.sender == iterator && r.target == iterator;
        return n;
    }

    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle camera, path, iterator;
};

inline ::testing::AssertionResult near(Point3f a, Point3f b, float tolerance = 1e-3f) {
    if (std::fabs(a.x - b.x) <= tolerance && std::fabs(a.y - b.y) <= tolerance && std::fabs(a.z - b.z) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.x << " " << a.y << " " << a.z << " vs " << b.x << " " << b.y << " "
                                         << b.z;
}

inline Point3f column(const _CCoordSystem<float>& cs, int c) {
    return {cs.Orientation.m[0][c], cs.Orientation.m[1][c], cs.Orientation.m[2][c]};
}

/// Finite origin, and an orientation whose columns are unit, orthogonal and right-handed
/// (right x forward = up).
inline ::testing::AssertionResult isCameraFrame(const _CCoordSystem<float>& cs) {
    const Point3f r = column(cs, 0), f = column(cs, 1), u = column(cs, 2);
    const auto dot = [](Point3f a, Point3f b) { return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z; };
    const Point3f rf{r.y * f.z - r.z * f.y, r.z * f.x - r.x * f.z, r.x * f.y - r.y * f.x};
    const double checks[] = {dot(r, r) - 1,  dot(f, f) - 1,
                             dot(u, u) - 1,  dot(r, f),
                             dot(f, u),      dot(r, u),
                             dot(rf, u) - 1, std::isfinite(cs.Origin.x + cs.Origin.y + cs.Origin.z) ? 0.0 : 1.0};
    for (double c : checks)
        if (!(std::fabs(c) <= 1e-5)) return ::testing::AssertionFailure() << "not a camera frame";
    return ::testing::AssertionSuccess();
}

}  // namespace iterator_tests
