#pragma once
/// The benchmarks' path: n waypoints along a gentle wave, about 40 distance units apart.

#include <cmath>
#include <numbers>
#include <string>

#include "host/Host.h"
#include "path/SCOCameraSystemPath.h"

/// A path of `n` waypoints along a wavy curve, named `name`; its waypoints are named W0, W1, ...
/// when `named`. Fitted (`RefreshCubicData`) when `fitted`, else left as made.
///
/// Waypoint k stands at x = 39k, y = 18 sin(0.45k), z = 12 + 6 sin(0.17k), turned to face
/// along the curve: consecutive eyes lie about 39 to 41 units apart and the view turns a
/// little, so the distance scale grows by about 40 per waypoint (some 160 box samples).
inline Handle makeWavyPath(host::Host& host, int n, const std::string& name, bool named, bool fitted = true) {
    const Handle path = host.create("SCOCameraSystemPath", name);
    for (int k = 0; k < n; ++k) {
        const double x = 39.0 * k, y = 18.0 * std::sin(0.45 * k), z = 12.0 + 6.0 * std::sin(0.17 * k);
        const double heading = std::atan2(18.0 * 0.45 * std::cos(0.45 * k), 39.0);  // dy/dx of the curve
        _CCoordSystem<float> frame;
        frame.RotateZ(heading - std::numbers::pi / 2);  // local y (the view) along +x, then along the curve
        frame.Origin = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
        const Handle w = host.create("SCOCameraSystemWaypoint", named ? "W" + std::to_string(k) : "", path);
        host.setObjectPos(w, frame);
    }
    if (fitted) static_cast<SCOCameraSystemPath*>(host.object(path))->RefreshCubicData();
    return path;
}
