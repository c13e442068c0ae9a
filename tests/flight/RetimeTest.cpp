// Even speed: a path of uneven spacing flown before and after retiming, the eye's speed measured
// per tick; a retime at a speed against the distance measure; cuts, pauses, eases and totals.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "flight/Retime.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "tests/flight/FlightScenes.h"

namespace {

/// Six waypoints 10, 80, 20, 60 and 15 units apart along x, `attributes` added to each and
/// `own[k]` to waypoint k's (by default a Time2Next of 1000 ms).
std::string unevenScene(const std::string& attributes = "",
                        const std::vector<std::string>& own = std::vector<std::string>(6, R"(, "Time2Next": 1000)")) {
    const char* const xs[] = {"0", "10", "90", "110", "170", "185"};
    std::vector<flight_testing::Wp> path;
    for (int k = 0; k < 6; ++k)
        path.push_back(
            {"W" + std::to_string(k), "[" + std::string(xs[k]) + ", 0, 10]", R"("IsOn": true)" + attributes + own[k]});
    return flight_testing::pathScene(path, "[90, 60, 0]");
}

struct Scene {
    explicit Scene(const std::string& json) : host(flight_testing::loadedHost(json)) {}
    Handle find(const char* name) const { return host->find(name); }
    host::RetimePlan retime(const host::RetimeOptions& options) {
        host::RetimePlan plan = host::planRetime(*host, find("P"), options);
        host::applyRetime(editor, plan);
        return plan;
    }
    /// Every waypoint's Time2Next, W0 to W5.
    std::vector<ULong> times() const {
        std::vector<ULong> out;
        for (int k = 0; k < 6; ++k)
            out.push_back(*host->getULong(find(("W" + std::to_string(k)).c_str()), "Time2Next"));
        return out;
    }

    /// The eye's speed per tick, without the ticks of the ends, where a difference is not defined.
    std::vector<double> speeds() {
        const Handle cam = find("Cam");
        host::FlightRecording flight = host::recordFlight(*host, cam, {});
        const host::FlightAnalysis a = host::analyseFlight(host::flightAnalysisInput(*host, cam, flight.ticks));
        std::vector<double> out;
        for (std::size_t i = 3; i + 3 < a.ticks.size(); ++i)
            if (!std::isnan(a.ticks[i].speed)) out.push_back(a.ticks[i].speed);
        return out;
    }
    std::unique_ptr<host::Host> host;
    host::SceneEditor editor{*host};
};

double mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size()); }

/// Standard deviation over mean.
double spread(const std::vector<double>& v) {
    const double m = mean(v);
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return std::sqrt(s / double(v.size())) / m;
}

TEST(Retime, EvenSpeedOnUnevenSpacing) {
    Scene scene(unevenScene());
    const double before = spread(scene.speeds());
    const host::RetimePlan plan = scene.retime({});
    EXPECT_TRUE(plan.totalBefore == 5000 && plan.totalAfter == 5000) << plan.totalBefore << " -> " << plan.totalAfter;
    // Steps 10.1, 80.1, 20.1, 60.1, 15.1 of 185.5 share 5000 ms; knots rounded as accumulated.
    // The last waypoint times no segment.
    EXPECT_EQ(scene.times(), (std::vector<ULong>{272, 2159, 542, 1620, 407, 1000}));
    const double after = spread(scene.speeds());
    // Measured: 0.75 before (the fit overshoots and nearly stops in the short segments), 0.003
    // after, about a 250th; what is left comes of whole milliseconds and float positions.
    EXPECT_GT(before, 0.5);
    EXPECT_LT(after, before / 50);
}

TEST(Retime, SpeedFollowsTheDistanceMeasure) {
    // Views unchanged along the path: the measure is the eye's travel plus 0.1 a segment, so the
    // eye flies at V times 185 / 185.5.
    Scene straight(unevenScene());
    const host::RetimePlan plan = straight.retime({20.0, "", ""});
    EXPECT_EQ(plan.totalAfter, 505u + 4005u + 1005u + 3005u + 755u);
    EXPECT_NEAR(mean(straight.speeds()), 20.0 * 185 / 185.5, 0.05);

    // Looking at the Tower the view vector (Range, the distance to it) turns and changes
    // length: the measure counts that too, and the eye is slower than V by the share of it
    // (measured: a measure of 370.5 for 185 units of travel, the eye at 0.499 V).
    Scene aimed(unevenScene(R"(, "PointsTo": "Tower")"));
    double measure = 0;
    for (const host::RetimeSegment& segment : aimed.retime({20.0, "", ""}).segments) measure += segment.step;
    const double eyeShare = 185.0 / measure;
    const double ratio = mean(aimed.speeds()) / 20.0;
    EXPECT_NEAR(ratio, eyeShare, 0.03);
    EXPECT_LT(ratio, 0.9);
}

TEST(Retime, CutsPausesEasesAndRunsStay) {
    // W2 ends a part (a cut); W3 pauses and eases. Odd times: the total 4003 is kept exactly.
    Scene scene(unevenScene("", {R"(, "Time2Next": 999)", R"(, "EaseOut": true, "Time2Next": 1001)",
                                 R"(, "Time2Next": 0)", R"(, "PauseTime": 700, "EaseIn": true, "Time2Next": 1003)",
                                 R"(, "Time2Next": 1000)", R"(, "Time2Next": 77)"}));
    const host::RetimePlan plan = scene.retime({});
    EXPECT_EQ(plan.totalAfter, 4003u);
    // Shared by steps 10.1, 80.1, (cut), 60.1, 15.1; the last waypoint's is left.
    EXPECT_EQ(scene.times(), (std::vector<ULong>{244, 1939, 0, 1455, 365, 77}));
    EXPECT_EQ(*scene.host->getULong(scene.find("W3"), "PauseTime"), 700u);
    // Undone, back to the times as they were. (A retime is one undo step that gives back every
    // byte: tests/studio, StudioEditTest.)
    ASSERT_TRUE(scene.editor.undo());

    // A run from W3 to W5 changes W3 and W4 only: steps 60.1 and 15.1 share 2003 ms as 1600.8
    // and 402.2. At 10 units/s each step takes a tenth of its length in seconds; cuts stay cuts.
    scene.retime({std::nullopt, "W3", "W5"});
    EXPECT_EQ(scene.times(), (std::vector<ULong>{999, 1001, 0, 1601, 402, 77}));
    scene.retime({10.0, "", ""});
    EXPECT_EQ(scene.times(), (std::vector<ULong>{1010, 8010, 0, 6010, 1510, 77}));

    // Refusals name what is wrong and change nothing.
    const std::string now = host::sceneToJson(*scene.host);
    const auto refusal = [&](const char* path, const host::RetimeOptions& options) {
        try {
            host::planRetime(*scene.host, scene.find(path), options);
        } catch (const host::InputError& e) {
            return e.object() + " " + e.attribute() + ": " + e.reason();
        }
        return std::string("accepted");
    };
    const std::string speed = "P speed: the speed must be a finite number above 0 (units per second); it is ";
    EXPECT_EQ(refusal("P", {0.0, "", ""}), speed + "0.000000");
    EXPECT_EQ(refusal("P", {-1.0, "", ""}), speed + "-1.000000");
    EXPECT_EQ(refusal("P", {std::nan(""), "", ""}), speed + "nan");
    EXPECT_EQ(refusal("P", {std::nullopt, "W4", "W1"}), "P to: W1 comes before W4");
    EXPECT_EQ(refusal("P", {std::nullopt, "Tower", ""}), "P from: Tower is not a switched-on waypoint of the path");
    EXPECT_EQ(refusal("Tower", {}), "Tower : not a camera path");
    EXPECT_EQ(host::sceneToJson(*scene.host), now);
}

}  // namespace
