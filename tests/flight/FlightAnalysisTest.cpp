#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/Vec.h"
#include "flight/FlightAnalysis.h"
#include "geometry/LevelGeometry.h"
#include "tests/support/LevelMeshes.h"

namespace {

using host::analyseFlight;
using host::FlightAnalysisInput;
using host::FlightMark;
using host::FlightTick;

/// The camera's frame as the iterator builds it: forward turned by `yaw` degrees about +z from
/// +y, then rolled by `roll` degrees (up <- up cos r - right sin r: the right axis rises).
_CMatrix3<float> frame(double yaw, double roll) {
    const double y = yaw / host::kDegrees, r = roll / host::kDegrees;
    const host::Vec3 forward{-std::sin(y), std::cos(y), 0}, right{std::cos(y), std::sin(y), 0};
    const host::Vec3 up{-right[0] * std::sin(r), -right[1] * std::sin(r), std::cos(r)};
    const host::Vec3 side = host::cross(forward, up);
    return _CMatrix3<float>(side[0], forward[0], up[0], side[1], forward[1], up[1], side[2], forward[2], up[2]);
}

FlightTick tick(ULong time, _Point3<float> p, ULong waypoint = 0, ULong segmentStart = 0,
                _CMatrix3<float> m = _CMatrix3<float>(1.0f)) {
    return {time, waypoint, segmentStart, {m, p}};
}

/// The marks as one line to compare whole: "kind time Wn" each, a mark that ends later "kind time..end Wn".
std::string marks(const host::FlightAnalysis& a) {
    std::string out;
    for (const FlightMark& m : a.marks) {
        out += (out.empty() ? "" : ", ") + std::string(host::markWord(m.kind)) + " " + std::to_string(m.time);
        if (m.end != m.time) out += ".." + std::to_string(m.end);
        out += " W" + std::to_string(m.waypoint);
    }
    return out;
}

TEST(FlightAnalysis, SpeedAccelerationAndJerkByDifferences) {
    // (0.75, 1, 0) k^2 / 8 every 125 ms: 1.25 (2k - 1) / 8 units a tick, a speed of 1.25 (2k - 1)
    // units/s, acceleration 20, jerk 0; no turn, no roll, no target.
    FlightAnalysisInput in;
    for (int k = 0; k < 6; ++k) in.ticks.push_back(tick(1000 + 125 * k, {0.75f * k * k / 8, 1.0f * k * k / 8, 2.0f}));
    const host::FlightAnalysis a = analyseFlight(in);
    ASSERT_EQ(a.ticks.size(), 6u);
    EXPECT_TRUE(std::isnan(a.ticks[0].speed) && std::isnan(a.ticks[0].angularRate) && std::isnan(a.ticks[0].rollRate));
    EXPECT_TRUE(std::isnan(a.ticks[1].acceleration) && std::isnan(a.ticks[2].jerk));
    for (int k = 1; k < 6; ++k) {
        EXPECT_EQ(a.ticks[k].speed, 1.25 * (2 * k - 1));
        EXPECT_TRUE(a.ticks[k].angularRate == 0 && a.ticks[k].rollRate == 0 && a.ticks[k].fov == 1) << k;
        EXPECT_TRUE(std::isnan(a.ticks[k].targetDistance));
    }
    for (int k = 2; k < 6; ++k) EXPECT_EQ(a.ticks[k].acceleration, 20.0);
    for (int k = 3; k < 6; ++k) EXPECT_EQ(a.ticks[k].jerk, 0.0);
    EXPECT_EQ(marks(a), "waypoint 1000 W0");  // reached at the start
}

TEST(FlightAnalysis, TurnAndRollRates) {
    // Forward turning about +z at 90 deg/s (9 degrees per 100 ms): no roll. Then rolling at
    // +-45 deg/s with the forward axis still; positive is the right axis rising (counter-
    // clockwise looking along forward), the sense of the waypoints' "Roll".
    EXPECT_GT(frame(30, 4.5).m[2][0], 0.0f);  // the right axis has risen
    for (const auto& [turn, roll] : {std::pair{9.0, 0.0}, std::pair{0.0, 4.5}, std::pair{0.0, -4.5}}) {
        FlightAnalysisInput in;
        for (int k = 0; k < 4; ++k) in.ticks.push_back(tick(100 * k, {0, 0, 0}, 0, 0, frame(30 + turn * k, roll * k)));
        const host::FlightAnalysis a = analyseFlight(in);
        for (int k = 1; k < 4; ++k) {
            EXPECT_NEAR(a.ticks[k].angularRate, 10 * turn, 1e-3) << roll;
            EXPECT_NEAR(a.ticks[k].rollRate, 10 * roll, 1e-3) << turn;
            EXPECT_EQ(a.ticks[k].speed, 0.0);
        }
    }
    // Half a turn of roll in one tick reads 180 (the wrap keeps (-180, 180]), not 0.
    FlightAnalysisInput half;
    half.ticks = {tick(0, {0, 0, 0}, 0, 0, frame(0, 0)), tick(1000, {0, 0, 0}, 0, 0, frame(0, 180))};
    EXPECT_NEAR(std::abs(analyseFlight(half).ticks[1].rollRate), 180.0, 1e-3);
}

TEST(FlightAnalysis, CutAndWaypointMarks) {
    // W0 ends a part (Time2Next 0): the camera jumps from x = 3 to x = 100 at tick 4, then moves
    // 1 unit per 100 ms; W1 -> W2, reached at 800, is an ordinary transition.
    FlightAnalysisInput in;
    in.waypoints = {{"W0", 0, 0, {}}, {"W1", 400, 0, {}}, {"W2", 1000, 0, {}}, {"W3", 1000, 0, {}}};
    for (ULong k = 0; k < 10; ++k)  // four ticks of each segment (two of the last), from 0, 400 and 800
        in.ticks.push_back(tick(100 * k, {k < 4 ? k * 1.0f : 96.0f + k, 0, 0}, k / 4, 400 * (k / 4)));
    const host::FlightAnalysis a = analyseFlight(in);
    EXPECT_EQ(a.ticks[3].speed, 10.0);
    // Every difference across the cut is undefined; the next ones are back.
    EXPECT_TRUE(std::isnan(a.ticks[4].speed) && std::isnan(a.ticks[4].angularRate) && std::isnan(a.ticks[4].rollRate));
    EXPECT_TRUE(std::isnan(a.ticks[4].acceleration) && std::isnan(a.ticks[5].acceleration));
    EXPECT_TRUE(std::isnan(a.ticks[4].jerk) && std::isnan(a.ticks[5].jerk) && std::isnan(a.ticks[6].jerk));
    EXPECT_TRUE(a.ticks[5].speed == 10 && a.ticks[5].angularRate == 0 && a.ticks[6].acceleration == 0);
    EXPECT_EQ(a.ticks[7].jerk, 0.0);
    EXPECT_EQ(marks(a), "waypoint 0 W0, cut 400 W0, waypoint 400 W1, waypoint 800 W2");

    // A part passed within one tick: from W0 straight to W2 across W1, which ends its part.
    in.waypoints[0].time2Next = 350;
    in.waypoints[1].time2Next = 0;
    in.waypoints[2].pauseTime = 50;
    for (int k = 4; k < 10; ++k) in.ticks[k].waypoint = 2;
    const host::FlightAnalysis b = analyseFlight(in);
    EXPECT_TRUE(std::isnan(b.ticks[4].speed)) << "the jump across the cut is no motion";
    // W1 reached at 350 and held there (the cut) for W2's pause; W2 shows at the next tick.
    EXPECT_EQ(marks(b), "waypoint 0 W0, waypoint 350 W1, pause 350..400 W2, cut 400 W1, waypoint 400 W2");
}

TEST(FlightAnalysis, PauseMarks) {
    // The camera stands at W0 for its pause (0..100), flies to W1 (reached at 1100), stands there
    // for W1's pause, and only then does the index move on, at 1400; W2 is reached at 2400. The
    // first run of ticks sees every segment; the second passes segment 1 between two ticks.
    FlightAnalysisInput in;
    in.waypoints = {{"W0", 1000, 100, {}}, {"W1", 1000, 300, {}}, {"W2", 1000, 0, {}}};
    for (ULong t = 0; t <= 2400; t += 200)
        in.ticks.push_back(tick(t, {0, 0, 0}, t < 1400 ? 0 : t < 2400 ? 1 : 2, t < 1400 ? 0 : t < 2400 ? 1400 : 2400));
    for (const auto& ticks : {in.ticks, std::vector<FlightTick>{in.ticks.front(), in.ticks.back()}}) {
        in.ticks = ticks;
        EXPECT_EQ(marks(analyseFlight(in)),
                  "waypoint 0 W0, pause 0..100 W0, waypoint 1100 W1, pause 1100..1400 W1, "
                  "waypoint 2400 W2");
    }
    // Recorded only until 1000: W1 is not reached yet, nor its pause begun.
    in.ticks.pop_back();
    in.ticks.push_back(tick(1000, {0, 0, 0}, 0, 0));
    EXPECT_EQ(marks(analyseFlight(in)), "waypoint 0 W0, pause 0..100 W0");
    // A flight that ends at W1 (the waypoint after it is switched off) arrives and stops there.
    in.waypoints[1].ends = true;
    in.ticks = {tick(0, {0, 0, 0}, 0, 0), tick(1400, {0, 0, 0}, 1, 1400), tick(3000, {0, 0, 0}, 1, 1400)};
    EXPECT_EQ(marks(analyseFlight(in)), "waypoint 0 W0, pause 0..100 W0, waypoint 1100 W1, pause 1100..1400 W1");
}

TEST(FlightAnalysis, TargetDistance) {
    FlightAnalysisInput in;
    in.waypoints = {{"W0", 1000, 0, _Point3<float>{3, 4, 0}}, {"W1", 1000, 0, {}}};
    in.ticks = {tick(0, {0, 0, 0}, 0), tick(100, {0, 0, 12}, 0), tick(200, {0, 0, 0}, 1), tick(300, {0, 0, 0}, 7)};
    const host::FlightAnalysis a = analyseFlight(in);
    EXPECT_EQ(a.ticks[0].targetDistance, 5.0);
    EXPECT_EQ(a.ticks[1].targetDistance, 13.0);  // |(3, 4, -12)|
    // None where W1 has no target, nor where the index is past the list.
    EXPECT_TRUE(std::isnan(a.ticks[2].targetDistance) && std::isnan(a.ticks[3].targetDistance));
    in.destination = _Point3<float>{0, 6, 8};  // takes the place of every target
    const host::FlightAnalysis d = analyseFlight(in);
    EXPECT_EQ(d.ticks[0].targetDistance, 10.0);
    EXPECT_EQ(d.ticks[1].targetDistance, std::sqrt(36.0 + 16.0));
    EXPECT_EQ(d.ticks[3].targetDistance, 10.0);
}

TEST(FlightAnalysis, TimesWrapAround) {
    // Ticks 100 ms apart across 2^32; the pause that starts before the wrap ends after it.
    const ULong start = 0xFFFFFF38u;  // 2^32 - 200
    FlightAnalysisInput in;
    in.waypoints = {{"W0", 1000, 400, {}}, {"W1", 1000, 0, {}}};
    for (ULong k = 0; k < 5; ++k) in.ticks.push_back(tick(start + 100 * k, {2.0f * k, 0, 0}, 0, start));
    const host::FlightAnalysis a = analyseFlight(in);
    for (int k = 1; k < 5; ++k) EXPECT_EQ(a.ticks[k].speed, 20.0);
    EXPECT_EQ(a.ticks[4].acceleration, 0.0);
    EXPECT_EQ(marks(a), "waypoint " + std::to_string(start) + " W0, pause " + std::to_string(start) + "..200 W0");
}

TEST(FlightAnalysis, DegenerateInputs) {
    EXPECT_TRUE(analyseFlight({}).ticks.empty() && analyseFlight({}).marks.empty());

    FlightAnalysisInput one;
    one.ticks = {tick(5, {1, 2, 3})};
    one.ticks[0].fov = 1.5f;
    const host::FlightAnalysis o = analyseFlight(one);
    ASSERT_EQ(o.ticks.size(), 1u);
    EXPECT_TRUE(std::isnan(o.ticks[0].speed) && std::isnan(o.ticks[0].jerk) && std::isnan(o.ticks[0].rollRate));
    EXPECT_EQ(o.ticks[0].fov, 1.5);
    EXPECT_EQ(marks(o), "waypoint 5 W0");  // index 0 past an empty list: a mark, but no pause or cut

    // A repeated time, a non-finite eye and a zero matrix: NaN where they take part, then back.
    FlightAnalysisInput bad;
    bad.destination = _Point3<float>{0, 0, 0};
    const float inf = std::numeric_limits<float>::infinity();
    bad.ticks = {tick(0, {0, 0, 0}),         tick(0, {1, 0, 0}),   tick(100, {2, 0, 0}),
                 tick(200, {inf, 0, 0}),     tick(300, {4, 0, 0}), tick(400, {5, 0, 0}, 0, 0, _CMatrix3<float>(0.0f)),
                 tick(500, {6, 0, 0}, 0, 0), tick(600, {7, 0, 0})};
    const host::FlightAnalysis b = analyseFlight(bad);
    EXPECT_TRUE(std::isnan(b.ticks[1].speed) && std::isnan(b.ticks[1].angularRate));  // dt = 0
    EXPECT_EQ(b.ticks[2].speed, 10.0);
    EXPECT_TRUE(std::isnan(b.ticks[3].speed) && std::isnan(b.ticks[4].speed));  // from and to infinity
    EXPECT_TRUE(std::isnan(b.ticks[3].targetDistance));
    EXPECT_EQ(b.ticks[3].angularRate, 0.0);  // the frame is still good
    EXPECT_TRUE(std::isnan(b.ticks[5].rollRate) && std::isnan(b.ticks[6].angularRate));
    EXPECT_EQ(b.ticks[5].speed, 10.0);
    EXPECT_EQ(b.ticks[7].rollRate, 0.0);
    EXPECT_EQ(b.ticks[7].targetDistance, 7.0);
}

}  // namespace

TEST(FlightAnalysis, ClearanceAndTargetInSightAgainstALevel) {
    // Along x at height 2 over the ground, through a wall at x = 5, looking at (10, 0, 2):
    // clearance min(2, |x - 5|), the target hidden while the wall is between.
    host::LevelMesh mesh;
    testing_support::addGround(mesh, 0, 50);
    testing_support::addWallX(mesh, 5, -5, 5, 0, 6);
    const host::LevelGeometry level(mesh);
    FlightAnalysisInput in;
    for (int k = 0; k <= 20; ++k) in.ticks.push_back(tick(100 * k, {0.5f * k, 0, 2}));
    in.waypoints.push_back({"W0", 1000, 0, _Point3<float>{10, 0, 2}});
    const host::FlightAnalysis without = analyseFlight(in);
    EXPECT_TRUE(!without.level && std::isnan(without.ticks[3].clearance) && !without.ticks[3].targetVisible);

    in.level = &level;
    const host::FlightAnalysis a = analyseFlight(in);
    EXPECT_TRUE(a.level);
    for (int k = 0; k <= 20; ++k) {
        const double x = 0.5 * k;
        EXPECT_NEAR(a.ticks[k].clearance, std::min(2.0, std::fabs(x - 5)), 1e-6) << k;
        // Known at every tick; at 10 the eye is on the wall, either answer is right.
        EXPECT_TRUE(a.ticks[k].targetVisible && (k == 10 || *a.ticks[k].targetVisible == (x > 5))) << k;
    }
    // The same speeds as without a level.
    EXPECT_EQ(a.ticks[7].speed, without.ticks[7].speed);
}
