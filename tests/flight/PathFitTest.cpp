// The free-flight recorder: a recording becomes a path of few waypoints whose flight, flown
// again from the scene it wrote, stays within the tolerances at every recorded time.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <sstream>

#include "base/Vec.h"
#include "flight/Flight.h"
#include "flight/PathFit.h"
#include "scene/JsonSceneWriter.h"
#include "tests/flight/FlightScenes.h"

using namespace host;

namespace {

/// An eye at `p` looking along `f` (not vertical), up from world +z, as samples of a hand-held
/// camera would be.
RecordedEye eye(ULong time, const Vec3& p, Vec3 f, float fov = 1.0f) {
    f = scale(f, 1 / norm(f));
    const Vec3 s = scale(cross(f, {0, 0, 1}), 1 / std::hypot(f[0], f[1]));
    const Vec3 u = cross(s, f);
    RecordedEye e{time, {}, fov};
    e.eye.Origin = {float(p[0]), float(p[1]), float(p[2])};
    e.eye.Orientation = _CMatrix3<float>(float(s[0]), float(f[0]), float(u[0]), float(s[1]), float(f[1]), float(u[1]),
                                         float(s[2]), float(f[2]), float(u[2]));
    return e;
}

Vec3 forward(const _CMatrix3<float>& m) { return {m.m[0][1], m.m[1][1], m.m[2][1]}; }

/// The imported scene flown again (by `camsys fly`'s own recorder) at the recording's times,
/// compared sample by sample: the largest distance and view angle (degrees). The scene is
/// written as `camsys load` writes it: loading it and writing it again gives the same text.
std::pair<double, double> deviation(const std::string& scene, const std::vector<RecordedEye>& samples) {
    Host host(SetIRTS, GetObjectFactories);
    host::loadJsonScene(host, scene, "imported.json");
    EXPECT_EQ(host::sceneToJson(host), scene);
    host.createCamera();
    const ULong step = samples[1].time - samples[0].time;
    const host::FlightRecording flight = host::recordFlight(host, host.find("Cam"), {samples[0].time, step, 1000000});
    EXPECT_GE(flight.ticks.size(), samples.size());
    double distance = 0, angle = 0;
    for (std::size_t i = 0; i < samples.size() && i < flight.ticks.size(); ++i) {
        EXPECT_EQ(flight.ticks[i].time, samples[i].time);
        const auto& a = flight.ticks[i].eye;
        const auto& b = samples[i].eye;
        distance = std::max(distance, norm(sub(vec3FromPoint(a.Origin), vec3FromPoint(b.Origin))));
        const double cosine = dot(forward(a.Orientation), forward(b.Orientation));
        angle = std::max(angle, std::acos(std::clamp(cosine, -1.0, 1.0)) * kDegrees);
    }
    return {distance, angle};
}

}  // namespace

TEST(PathFit, RecordingsBecomeFewWaypointsWithinTheTolerance) {
    struct Case {
        const char* name;
        std::vector<RecordedEye> samples;
        std::size_t mostWaypoints;
    };
    // (The example's flight, with pauses, easing and a cut, exported and imported back:
    // tests/cli/CamsysExportTest.cpp; its fit pinned by check-outputs.sh and test_against_tool.py.)
    std::array<Case, 2> cases{{{"circle", {}, 40}, {"figure eight", {}, 80}}};
    auto& [circle, eight] = cases;
    // A circle of radius 50 in 8 s, looking at its centre, rising and zooming slowly.
    for (int k = 0; k <= 500; ++k) {
        const double a = 2 * kPi * k / 500.0;
        circle.samples.push_back(eye(1000 + 16 * k, {50 * std::cos(a), 50 * std::sin(a), 10 + 0.02 * k},
                                     {-std::cos(a), -std::sin(a), -0.1}, static_cast<float>(1 + 0.001 * k)));
    }
    // A figure eight looking along its way, with a jump (a cut) half way.
    for (int k = 0; k <= 600; ++k) {
        const double t = 2 * kPi * k / 600.0;
        const double x = 80 * std::sin(t), y = 40 * std::sin(2 * t), shift = k > 300 ? 500 : 0;
        eight.samples.push_back(eye(16 * k, {x + shift, y, 5}, {80 * std::cos(t), 80 * std::cos(2 * t), 0}));
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(SetIRTS, GetObjectFactories);
        const host::PathFitResult result = host::fitPathToRecording(host, c.samples, {0.25, 1.0});
        EXPECT_TRUE(result.withinTolerance) << result.worstDistance << " units, " << result.worstAngle << " degrees";
        EXPECT_LE(result.waypoints, c.mostWaypoints);
        const auto [distance, angle] = deviation(result.sceneJson, c.samples);
        EXPECT_TRUE(distance <= 0.25 && angle <= 1.0) << distance << " units, " << angle << " degrees";
        EXPECT_NEAR(distance, result.worstDistance, 1e-9) << "the fit measured another flight than it wrote";
        EXPECT_EQ(result.parts, &c == &circle ? 1u : 2u);
    }
}

TEST(PathFit, AFieldOfViewTooSmallToInvertIsRefused) {
    // Its waypoint's factor 1 / fov would be no float.
    std::vector<RecordedEye> samples = {eye(0, {0, 0, 0}, {1, 0, 0}), eye(16, {1, 0, 0}, {1, 0, 0}, 1e-39f)};
    Host host(SetIRTS, GetObjectFactories);
    try {
        host::fitPathToRecording(host, samples, {});
        ADD_FAILURE() << "imported";
    } catch (const host::InputError& e) {
        EXPECT_EQ(e.object() + ": " + e.reason(), "sample 1 (time 16): has a field of view too small to invert");
    }
}
