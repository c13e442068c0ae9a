// The linter's level checks: a small level made in code per check, shown by a straight flight
// through it, and nothing without a level.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flight/lint/Lint.h"
#include "geometry/LevelGeometry.h"
#include "tests/flight/FlightScenes.h"
#include "tests/support/LevelMeshes.h"

using flight_testing::Found;
using flight_testing::found;
using host::LevelGeometry;
using host::LevelMesh;
using host::LintFinding;
using host::LintOptions;
using namespace testing_support;

namespace {

/// Cam flies W0 (0, 0, 2), W1 (10, 0, 2), W2 (20, 0, 2) at 1 unit/s; `waypoint` is added to every
/// waypoint's attributes. Tower stands at (10, 20, 2).
std::string sceneJson(const std::string& waypoint = "") {
    const std::vector<std::string> attributes(3, R"("Time2Next": 10000)" + waypoint);
    return flight_testing::pathScene(flight_testing::alongX(attributes, 10, 2), "[10, 20, 2]");
}

// Options are given as designated initializers; `.iterator = {}` (every iterator) is named
// because it has no default of its own to leave out.
std::vector<LintFinding> lint(const std::string& json, const LevelMesh* mesh, LintOptions options = {}) {
    const std::unique_ptr<host::Host> host = flight_testing::loadedHost(json);
    std::unique_ptr<LevelGeometry> level = mesh ? std::make_unique<LevelGeometry>(*mesh) : nullptr;
    options.level = level.get();
    return host::lintScene(*host, options);
}

}  // namespace

TEST(LevelLint, ThroughAWallTheCurveAndTheFlightBoth) {
    LevelMesh mesh;
    addWallX(mesh, 5, -5, 5, 0, 6);
    const LintOptions options{.iterator = {}, .clearance = 0};  // the eye passes the wall closely, of course
    const std::vector<LintFinding> findings = lint(sceneJson(), &mesh, options);
    ASSERT_EQ(found(findings), (Found{"W0 through-geometry", "W0 through-geometry"}))
        << host::lintText("scene", findings);
    const LintFinding &path = findings[0], &flight = findings[1];
    EXPECT_EQ(path.severity, host::LintSeverity::Error);
    EXPECT_TRUE(path.distance && !path.time && !path.until) << "on the path: where on it, not when";
    EXPECT_NE(path.text.find("the path to W1 passes through Wall at (5, "), std::string::npos) << path.text;
    ASSERT_TRUE(flight.time && *flight.time > 4900 && *flight.time < 5100) << "at x = 5: " << flight.time.value_or(0);
    EXPECT_EQ(flight.until, *flight.time + options.step) << "the step that crosses: from one tick to the next";
    EXPECT_NE(flight.text.find("the eye passes through Wall at (5, "), std::string::npos) << flight.text;
    // Without a level the level's checks find nothing.
    EXPECT_TRUE(lint(sceneJson(), nullptr).empty());
}

TEST(LevelLint, InsideTheGroundOrASolidIsOneFindingPerRun) {
    LevelMesh underground;
    addGround(underground, 5, 100);
    const std::vector<LintFinding> under = lint(sceneJson(), &underground);
    ASSERT_EQ(found(under), Found{"W0 inside-geometry"}) << host::lintText("scene", under);
    EXPECT_TRUE(under[0].time == 0u && under[0].until > 1000u) << "the whole run under the ground";
    EXPECT_NE(under[0].text.find("the nearest surface Ground"), std::string::npos) << under[0].text;

    // Above the ground the same flight is clean, through a house it is not.
    LevelMesh ground;
    addGround(ground, 0, 100);
    EXPECT_TRUE(lint(sceneJson(), &ground).empty());
    LevelMesh house = ground;
    addBox(house, {-5, -5, 0}, {25, 5, 6}, "House");
    EXPECT_EQ(found(lint(sceneJson(), &house)), Found{"W0 inside-geometry"});
}

TEST(LevelLint, ClearanceAtTheClosestTickOfARun) {
    LevelMesh mesh;
    addQuad(mesh, {{{5, 0.3f, 0}, {15, 0.3f, 0}, {15, 0.3f, 6}, {5, 0.3f, 6}}}, "Fence");
    const std::vector<LintFinding> findings = lint(sceneJson(), &mesh);
    ASSERT_EQ(found(findings), Found{"W0 clearance"}) << host::lintText("scene", findings);
    EXPECT_EQ(findings[0].severity, host::LintSeverity::Warning);
    EXPECT_NE(findings[0].text.find("within 0.3 units of Fence (threshold 0.5)"), std::string::npos)
        << findings[0].text;
    EXPECT_TRUE(lint(sceneJson(), &mesh, {.iterator = {}, .clearance = 0.25}).empty());
}

TEST(LevelLint, TargetHiddenLongerThanTheThreshold) {
    // The eye at (x, 0, 2) sees Tower (10, 20, 2) across y = 10 at x' = (x + 10) / 2: the wall
    // from x' = 4 to 8 hides it while x runs from 0 to 6, the first 6 s.
    LevelMesh mesh;
    addQuad(mesh, {{{4, 10, 0}, {8, 10, 0}, {8, 10, 6}, {4, 10, 6}}}, "Hedge");
    const std::string scene = sceneJson(R"(, "PointsTo": "Tower")");
    const std::vector<LintFinding> findings = lint(scene, &mesh);
    ASSERT_EQ(found(findings), Found{"W0 target-occluded"}) << host::lintText("scene", findings);
    EXPECT_EQ(*findings[0].time, 0u);
    EXPECT_NE(findings[0].text.find("at (10, 20, 2) is hidden behind Hedge for "), std::string::npos)
        << findings[0].text;
    EXPECT_TRUE(lint(scene, &mesh, {.iterator = {}, .occluded = 10000}).empty());
}
