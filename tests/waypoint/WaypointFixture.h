#pragma once
/// A stand-in host with the module linked in, and helpers shared by the waypoint tests.

#include <gtest/gtest.h>

#include <cmath>

#include "host/Host.h"
#include "host/InProcessModule.h"
#include "host/RecordingRenderer.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

/// Reaches the waypoint's private aiming operation.
struct WaypointTestAccess {
    static void aim(SCOCameraSystemWaypoint& waypoint, const _Point3<float>& target) { waypoint._SetDestPoint(target); }
};

class WaypointTest : public ::testing::Test {
protected:
    host::Host host{&SetIRTS, &GetObjectFactories};

    /// A new waypoint named `name`, a child of `parent` when given.
    SCOCameraSystemWaypoint* make(const std::string& name, const Handle& parent = Handle()) {
        return static_cast<SCOCameraSystemWaypoint*>(host.object(host.create("SCOCameraSystemWaypoint", name, parent)));
    }
};

/// Column `c` of a frame: 0 right, 1 forward, 2 up.
inline _Point3<float> column(const _CMatrix3<float>& m, int c) { return {m.m[0][c], m.m[1][c], m.m[2][c]}; }

/// Finite, unit, mutually orthogonal, right-handed columns.
inline void expectOrthonormal(const _CMatrix3<float>& m) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            ASSERT_TRUE(std::isfinite(m.m[i][j]));
            const _Point3<float> a = column(m, i), b = column(m, j);
            EXPECT_NEAR(a.x * b.x + a.y * b.y + a.z * b.z, i == j ? 1.0 : 0.0, 1e-5) << "columns " << i << ", " << j;
        }
    const _Point3<float> r = column(m, 0), f = column(m, 1), u = column(m, 2);
    EXPECT_NEAR((r.y * f.z - r.z * f.y) * u.x + (r.z * f.x - r.x * f.z) * u.y + (r.x * f.y - r.y * f.x) * u.z, 1.0,
                1e-5);
}

inline void expectPoint(const _Point3<float>& p, float x, float y, float z, float tolerance = 0.0f) {
    EXPECT_NEAR(p.x, x, tolerance);
    EXPECT_NEAR(p.y, y, tolerance);
    EXPECT_NEAR(p.z, z, tolerance);
}
