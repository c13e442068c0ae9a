// The free-flight recorder: a recording becomes a path of few waypoints whose flight, flown
// again from the scene it wrote, stays within the tolerances at every recorded time.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "flight/Flight.h"
#include "flight/PathFit.h"
#include "scene/JsonSceneWriter.h"
#include "tests/flight/FlightScenes.h"

using host::Host;
using host::RecordedEye;

namespace {

constexpr double kPi = 3.14159265358979323846;

/// An eye at `p` looking along `f` (unit, not vertical), up from world +z, as samples of a
/// hand-held camera would be.
RecordedEye eye(ULong time, double px, double py, double pz, double fx, double fy, double fz, float fov = 1.0f) {
    const double fl = std::sqrt(fx * fx + fy * fy + fz * fz);
    fx /= fl, fy /= fl, fz /= fl;
    double sx = fy, sy = -fx, sz = 0;  // f x (0, 0, 1)
    const double sl = std::sqrt(sx * sx + sy * sy);
    sx /= sl, sy /= sl;
    const double ux = sy * fz - sz * fy, uy = sz * fx - sx * fz, uz = sx * fy - sy * fx;
    RecordedEye e;
    e.time = time;
    e.eye.Origin = {float(px), float(py), float(pz)};
    e.eye.Orientation = _CMatrix3<float>(float(sx), float(fx), float(ux), float(sy), float(fy), float(uy), float(sz),
                                         float(fz), float(uz));
    e.fov = fov;
    return e;
}

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
        const double dx = a.Origin.x - b.Origin.x, dy = a.Origin.y - b.Origin.y, dz = a.Origin.z - b.Origin.z;
        distance = std::max(distance, std::sqrt(dx * dx + dy * dy + dz * dz));
        double dot = 0;
        for (int r = 0; r < 3; ++r) dot += static_cast<double>(a.Orientation.m[r][1]) * b.Orientation.m[r][1];
        angle = std::max(angle, std::acos(std::clamp(dot, -1.0, 1.0)) * 180 / kPi);
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
    std::vector<Case> cases;
    // A circle of radius 50 in 8 s, looking at its centre, rising and zooming slowly.
    Case circle{"circle", {}, 40};
    for (int k = 0; k <= 500; ++k) {
        const double a = 2 * kPi * k / 500.0;
        circle.samples.push_back(eye(1000 + 16 * k, 50 * std::cos(a), 50 * std::sin(a), 10 + 0.02 * k, -std::cos(a),
                                     -std::sin(a), -0.1, static_cast<float>(1 + 0.001 * k)));
    }
    cases.push_back(circle);
    // A figure eight looking along its way, with a jump (a cut) half way.
    Case eight{"figure eight", {}, 80};
    for (int k = 0; k <= 600; ++k) {
        const double t = 2 * kPi * k / 600.0;
        const double x = 80 * std::sin(t), y = 40 * std::sin(2 * t), shift = k > 300 ? 500 : 0;
        eight.samples.push_back(eye(16 * k, x + shift, y, 5, 80 * std::cos(t), 80 * std::cos(2 * t), 0));
    }
    cases.push_back(eight);
    // The example's flight as camsys fly records it (pauses, easing, a cut).
    Case example{"example", {}, 645 / 5};
    const auto flythrough = flight_testing::exampleHost();
    for (const host::FlightTick& t : host::recordFlight(*flythrough, flythrough->find("Cam"), {}).ticks)
        example.samples.push_back({t.time, t.eye, t.fov});
    cases.push_back(example);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(SetIRTS, GetObjectFactories);
        const host::PathFitResult result = host::fitPathToRecording(host, c.samples, {0.25, 1.0});
        EXPECT_TRUE(result.withinTolerance) << result.worstDistance << " units, " << result.worstAngle << " degrees";
        EXPECT_LE(result.waypoints, c.mostWaypoints);
        const auto [distance, angle] = deviation(result.sceneJson, c.samples);
        EXPECT_LE(distance, 0.25);
        EXPECT_LE(angle, 1.0);
        EXPECT_NEAR(distance, result.worstDistance, 1e-9) << "the fit measured another flight than it wrote";
        EXPECT_EQ(result.parts, std::string(c.name) == "circle" ? 1u : 2u);
    }
}

TEST(PathFit, AFieldOfViewTooSmallToInvertIsRefused) {
    // Its waypoint's factor 1 / fov would be no float.
    std::vector<RecordedEye> samples = {eye(0, 0, 0, 0, 1, 0, 0), eye(16, 1, 0, 0, 1, 0, 0, 1e-39f)};
    Host host(SetIRTS, GetObjectFactories);
    try {
        host::fitPathToRecording(host, samples, {});
        ADD_FAILURE() << "imported";
    } catch (const host::InputError& e) {
        EXPECT_NE(std::string(e.what()).find("sample 1 (time 16)"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("too small to invert"), std::string::npos) << e.what();
    }
}
