// Camera moves from presets: each preset's waypoints, and the flight of the iterator it adds
// measured against the geometry the move describes (circle, line, offset path, level).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "exchange/LevelFile.h"
#include "flight/Flight.h"
#include "flight/MovePresets.h"
#include "geometry/LevelGeometry.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/SceneEditor.h"
#include "scene/SceneFile.h"

using namespace host;

namespace {

constexpr const char* kScene = R"({ "objects": [ { "name": "T", "position": [5, -3, 4] },
    { "name": "P", "class": "SCOCameraSystemPath", "children": [
        { "name": "A", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 2], "attributes": { "Range": 4, "Time2Next": 1200 } },
        { "name": "B", "class": "SCOCameraSystemWaypoint", "position": [10, 5, 3], "orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1],
          "attributes": { "Range": 2, "Roll": 10, "FOVFac": 1.5, "Time2Next": 800, "PauseTime": 300 } },
        { "name": "C", "class": "SCOCameraSystemWaypoint", "position": [20, 0, 6], "attributes": { "Range": 3 } } ] } ] })";

struct Flown {
    MovePlan plan;
    FlightRecording flight;
};

/// The move planned and added to `host`'s scene, and the flight of its iterator (8 ms ticks).
Flown fly(Host& host, const MoveOptions& options) {
    Flown f{planMove(host, options, nullptr, "scene.json"), {}};
    SceneEditor editor(host);
    const AddedMove added = addMove(host, editor, options.kind, f.plan);
    if (!host.camera()) host.createCamera();
    f.flight = recordFlight(host, host.find(added.iterator), {0, 8, 100000});
    return f;
}

Vec3 origin(const FlightTick& t) { return vec3FromPoint(t.eye.Origin); }
Vec3 forwardOf(const _CMatrix3<float>& m) { return {m.m[0][1], m.m[1][1], m.m[2][1]}; }
double angleDegrees(const Vec3& a, const Vec3& b) {
    return std::acos(std::clamp(dot(a, b) / (norm(a) * norm(b)), -1.0, 1.0)) * kDegrees;
}

struct HostWithScene : testing::Test {
    Host host{SetIRTS, GetObjectFactories};
    void SetUp() override { loadJsonScene(host, kScene, "scene.json"); }
};

}  // namespace

TEST_F(HostWithScene, OrbitKeepsToItsCircleAndLooksAtTheTarget) {
    const Vec3 centre{5, -3, 4};
    // Largest radial deviation of the eye (units) with 8 and 16 waypoints a turn, over the whole
    // flight and between the end segments: the spline through points on a circle bulges between
    // them. Measured: 0.63 and 0.073 with 8, 0.15 and 0.034 with 16; height and view errors below
    // 1e-6 units and 1e-4 degrees.
    for (const auto& [perTurn, radialBound, innerBound] : {std::tuple{8, 0.7, 0.09}, std::tuple{16, 0.18, 0.045}}) {
        SCOPED_TRACE(perTurn);
        MoveOptions o{.kind = MoveKind::Orbit, .target = MovePlace{"T"}, .radius = 20, .height = 3, .speed = 25};
        o.perTurn = perTurn;
        const Flown f = fly(host, o);
        ASSERT_EQ(f.plan.waypoints.size(), std::size_t(perTurn + 1));
        // Each segment is a side of the regular polygon, flown at 25 units/s; the flight lasts as
        // long as the plan says, to a tick.
        const double side = 40 * std::sin(kPi / perTurn);
        for (const MoveWaypoint& w : f.plan.waypoints) EXPECT_EQ(w.pointsTo, "T");
        for (int k = 0; k < perTurn; ++k) EXPECT_EQ(f.plan.waypoints[k].time2Next, ULong(std::lround(40 * side)));
        ASSERT_FALSE(f.flight.ticks.empty());
        EXPECT_NEAR(double(f.flight.ticks.back().time), f.plan.duration, 8);

        double radial = 0, inner = 0, height = 0, view = 0;
        for (const FlightTick& t : f.flight.ticks) {
            const Vec3 p = origin(t);
            const double off = std::abs(std::hypot(p[0] - centre[0], p[1] - centre[1]) - 20);
            radial = std::max(radial, off);
            // The natural spline's free ends bend least in the first and last segments.
            if (t.waypoint > 0 && t.waypoint + 2 < f.plan.waypoints.size()) inner = std::max(inner, off);
            height = std::max(height, std::abs(p[2] - 7));
            view = std::max(view, angleDegrees(forwardOf(t.eye.Orientation), sub(centre, p)));
        }
        EXPECT_TRUE(radial < radialBound && inner < innerBound && height < 1e-3 && view < 1e-3)
            << "radial " << radial << ", inner " << inner << ", height " << height << ", view " << view;
    }
}

TEST_F(HostWithScene, OrbitTurnsEitherWayAndNamesItsObjectsFreely) {
    const MoveOptions o{
        .kind = MoveKind::Orbit, .target = MovePlace{"", {0, 0, 0}}, .radius = 4, .turns = 0.5, .clockwise = true};
    const MovePlan plan = planMove(host, o, nullptr, "scene.json");
    ASSERT_EQ(plan.waypoints.size(), 5u);
    EXPECT_LT(plan.waypoints[1].position[1], 0);  // clockwise from +x goes to -y first
    EXPECT_NEAR(plan.waypoints[4].position[0], -4, 1e-9);
    // A point target is looked at by orientation and range, not by reference.
    EXPECT_TRUE(plan.waypoints[1].pointsTo.empty() && std::abs(plan.waypoints[1].range - 4) < 1e-6);
    EXPECT_LT(angleDegrees(forwardOf(plan.waypoints[1].orientation), scale(plan.waypoints[1].position, -1)), 1e-4);

    SceneEditor editor(host);
    EXPECT_EQ(addMove(host, editor, MoveKind::Orbit, plan).path, "Orbit1");
    const AddedMove second = addMove(host, editor, MoveKind::Orbit, plan);
    EXPECT_TRUE(second.path == "Orbit2" && second.iterator == "Orbit2Cam") << second.path << ", " << second.iterator;
}

TEST_F(HostWithScene, DollyAndCraneStayOnTheirLines) {
    const Vec3 from{0, 0, 2}, to{30, 40, 2};
    for (bool targeted : {false, true}) {
        MoveOptions o{.kind = MoveKind::Dolly, .from = from, .to = to};
        if (targeted) o.target = MovePlace{"T"};
        const Flown f = fly(host, o);
        ASSERT_EQ(f.plan.waypoints.size(), 2u);
        double off = 0;
        for (const FlightTick& t : f.flight.ticks)
            off = std::max(off, norm(cross(sub(origin(t), from), scale(sub(to, from), 1.0 / 50))));
        EXPECT_LT(off, 1e-3) << "targeted " << targeted;
        EXPECT_NEAR(double(f.flight.ticks.back().time), 5000, 8);  // 50 units at 10 units/s
        if (targeted) continue;
        for (const FlightTick& t : f.flight.ticks)
            ASSERT_LT(angleDegrees(forwardOf(t.eye.Orientation), sub(to, from)), 0.01);
    }
    // A crane rises straight up to the height and tilts down to keep the target in view.
    const Flown f =
        fly(host, {.kind = MoveKind::Crane, .target = MovePlace{"T"}, .from = Vec3{-10, -3, 1}, .toHeight = 25});
    EXPECT_EQ(f.plan.waypoints[1].position, (Vec3{-10, -3, 25}));
    EXPECT_GT(forwardOf(f.flight.ticks.front().eye.Orientation)[2], 0);
    EXPECT_LT(forwardOf(f.flight.ticks.back().eye.Orientation)[2], -0.5);
    for (const FlightTick& t : f.flight.ticks)
        EXPECT_NEAR(std::hypot(t.eye.Origin.x + 10, t.eye.Origin.y + 3), 0, 1e-3);
}

TEST_F(HostWithScene, FlyThroughLooksAheadAndFollowFliesThePathShifted) {
    const MoveOptions through{.kind = MoveKind::FlyThrough,
                              .through = {MovePlace{"", {0, 0, 5}}, MovePlace{"T"}, MovePlace{"", {10, 10, 5}}}};
    const MovePlan plan = planMove(host, through, nullptr, "scene.json");
    ASSERT_EQ(plan.waypoints.size(), 3u);
    EXPECT_EQ(plan.waypoints[1].position, (Vec3{5, -3, 4}));
    EXPECT_LT(angleDegrees(forwardOf(plan.waypoints[0].orientation), {5, -3, -1}), 1e-4);
    EXPECT_LT(angleDegrees(forwardOf(plan.waypoints[1].orientation), {10, 10, 0}), 1e-4);  // along the chord around it
    EXPECT_LT(angleDegrees(forwardOf(plan.waypoints[2].orientation), {5, 13, 1}), 1e-4);

    // Without references the follow's view vectors are the path's, so its distance measure and
    // times are too: every tick is the original's eye moved by the offset.
    const Vec3 offset{1, 2, 5};
    MoveOptions follow{.kind = MoveKind::Follow, .path = "P", .offset = offset};
    const Flown f = fly(host, follow);
    EXPECT_EQ(f.plan.duration, 1200u + 800 + 300);
    host.create("SCOCameraSystemIterator", "Original");
    host.setReference(host.find("Original"), "Path", host.find("P"));
    const FlightRecording original = recordFlight(host, host.find("Original"), {0, 8, 100000});
    ASSERT_EQ(original.ticks.size(), f.flight.ticks.size());
    for (std::size_t i = 0; i < original.ticks.size(); ++i) {
        const FlightTick &shifted = f.flight.ticks[i], &was = original.ticks[i];
        EXPECT_LT(norm(sub(sub(origin(shifted), origin(was)), offset)), 1e-4) << i;
        EXPECT_LT(angleDegrees(forwardOf(shifted.eye.Orientation), forwardOf(was.eye.Orientation)), 1e-3) << i;
    }
}

TEST(MoveLevel, AnOrbitPlacedLowIsLiftedClearOfTheTown) {
    Host host(SetIRTS, GetObjectFactories);
    loadSceneFile(host, CAMSYS_EXAMPLES "/flythrough.json");
    const LevelGeometry level(loadLevelFile(CAMSYS_EXAMPLES "/town.glb"));
    const MoveOptions o{
        .kind = MoveKind::Orbit, .target = MovePlace{"Tower"}, .radius = 30, .height = -15, .perTurn = 16};
    const MovePlan plan = planMove(host, o, &level, "flythrough.json");
    std::size_t lifted = 0;
    for (const MoveWaypoint& w : plan.waypoints) {
        EXPECT_FALSE(level.inside(w.position));
        EXPECT_GE(level.nearest(w.position).distance, o.clearance - 1e-9);
        lifted += w.position[2] > 0 ? 1 : 0;  // the tower stands at z 15: -15 puts the eye on the ground
    }
    EXPECT_EQ(lifted, plan.lifted);  // all of them, measured
}
