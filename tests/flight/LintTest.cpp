// The scene linter: per check a minimal scene showing that fault alone, a clean scene, the
// thresholds, and the check table. (The bundled example's findings are pinned byte for byte by
// tests/cli/check-outputs.sh.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "flight/lint/Lint.h"
#include "tests/flight/FlightScenes.h"

using flight_testing::alongX;
using flight_testing::Found;
using flight_testing::found;
using flight_testing::Wp;
using host::Host;
using host::LintFinding;
using host::LintOptions;

namespace {

/// A scene with the plain object Tower, the path P of `waypoints` and the iterator Cam that
/// flies it (`camAttributes` replaces its attributes).
std::string sceneJson(const std::vector<Wp>& waypoints, const std::string& camAttributes = R"("Path": "P")") {
    return flight_testing::pathScene(waypoints, "[0, 50, 0]", camAttributes);
}

/// A straight path along x at 1 unit per second: nothing to find.
std::vector<Wp> straight() { return alongX({R"("Time2Next": 10000)", R"("Time2Next": 10000)", ""}); }

using Findings = std::vector<LintFinding>;

std::string listing(const Findings& findings) { return host::lintText("scene", findings); }

// Options are given as designated initializers; `.iterator = {}` (every iterator) is named
// because it has no default of its own to leave out.
/// Loads `json`, gives the scene its camera, lets `edit` change it and lints it.
Findings lint(const std::string& json, const LintOptions& options = {}, const std::function<void(Host&)>& edit = {}) {
    const std::unique_ptr<Host> host = flight_testing::loadedHost(json);
    if (edit) edit(*host);
    return host::lintScene(*host, options);
}

}  // namespace

TEST(Lint, PathCurvesAndValues) {
    // A straight path at an even pace: nothing to find, an empty JSON list.
    const Findings clean = lint(sceneJson(straight()));
    EXPECT_EQ(host::lintJson(clean), "[]\n") << listing(clean);

    // Each of these scenes shows exactly one fault.
    struct Case {
        const char* found;
        std::vector<Wp> waypoints;
    };
    const std::vector<Case> cases = {
        // 1 unit, then 0.1 in 10 s, then 1 unit: the distance-over-time spline swings back.
        {"W1 time-backward",
         {{"W0", "[0, 0, 0]", R"("Time2Next": 1000)"},
          {"W1", "[1, 0, 0]", R"("Time2Next": 10000)"},
          {"W2", "[1.1, 0, 0]", R"("Time2Next": 1000)"},
          {"W3", "[2.1, 0, 0]"}}},
        // W2 turns to look at the tower while the eye moves 1 unit: the path's distance (eye
        // and view) runs 50 units there, and the eye's fit over it swings 8 units wide.
        {"W1 overshoot",
         {{"W0", "[0, 0, 0]", R"("Time2Next": 10000)"},
          {"W1", "[10, 0, 0]", R"("Time2Next": 50000)"},
          {"W2", "[10, 1, 0]", R"("PointsTo": "Tower")"}}},
        {"W0 roll-long-way", alongX({R"("Time2Next": 10000, "Roll": 170)", R"("Roll": -170)"})},
        // W0 looks straight up (forward axis +z).
        {"W0 view-vertical",
         {{"W0", "[0, 0, 0]", R"("Time2Next": 10000)", R"(, "orientation": [1, 0, 0, 0, 0, -1, 0, 1, 0])"},
          {"W1", "[10, 0, 0]"}}},
        {"W0 short-segment", alongX({"", ""}, 0)},
        {"W0 bad-fov", alongX({R"("Time2Next": 10000, "FOVFac": 0)", ""})},
        {"W0 bad-fov", alongX({R"("Time2Next": 10000, "FOVFac": "NaN")", ""})},
        {"W0 bad-range", alongX({R"("Time2Next": 10000, "Range": 0)", ""})},
        {"W0 bad-range", alongX({R"("Time2Next": 10000, "Range": -2)", ""})},
    };
    for (const Case& c : cases) {
        const Findings linted = lint(sceneJson(c.waypoints));
        EXPECT_EQ(found(linted), Found{c.found}) << listing(linted);
        EXPECT_TRUE(host::lintFails(linted));
    }

    // Where and why: the overshoot on W1's segment, with the number that triggered it.
    const Findings swing = lint(sceneJson(cases[1].waypoints));
    ASSERT_EQ(swing.size(), 1u);
    const LintFinding& f = swing[0];
    EXPECT_EQ(f.severity, host::LintSeverity::Warning);
    // On W1's segment (DistanceSum 10.2 to about 60), a place on the path rather than a time.
    EXPECT_TRUE(f.distance && *f.distance > 10.2 && *f.distance < 61 && !f.time) << f.distance.value_or(-1);
    EXPECT_NE(f.text.find("threshold 0.25"), std::string::npos) << f.text;
    // A looser threshold lets it pass.
    EXPECT_TRUE(lint(sceneJson(cases[1].waypoints), {.iterator = {}, .overshoot = 100}).empty());

    // roll-long-way takes a turn of more than 180 degrees: a half turn, either way, is none.
    auto rolled = [](const std::string& from, const std::string& to) {
        return sceneJson(alongX({R"("Time2Next": 10000, "Roll": )" + from, R"("Roll": )" + to}));
    };
    EXPECT_TRUE(lint(rolled("-90", "90")).empty());
    EXPECT_TRUE(lint(rolled("30", "-150")).empty());
    EXPECT_EQ(found(lint(rolled("-90", "90.5"))), Found{"W0 roll-long-way"});
    EXPECT_EQ(found(lint(rolled("30", "-150.5"))), Found{"W0 roll-long-way"});
}

TEST(Lint, FlightSpeeds) {
    // W1's EaseIn slows the camera to a stop at W1 and starts it again at full speed.
    const std::string eased = sceneJson(alongX({R"("Time2Next": 10000)", R"("Time2Next": 10000, "EaseIn": true)", ""}));
    const Findings jump = lint(eased);
    ASSERT_EQ(found(jump), Found{"W1 speed-jump"}) << listing(jump);
    // Reached at 10 s; the first tick that shows the new speed.
    EXPECT_TRUE(jump[0].time >= 10000u && jump[0].time <= 10032u) << jump[0].time.value_or(0);
    EXPECT_TRUE(lint(eased, {.iterator = {}, .speedJump = 1e9}).empty());

    // At 10 units/s into a pause and out of it: the camera stops dead and starts at full speed
    // (a pause is no speed jump: the stop is asked for, its hardness is not).
    const Findings stop =
        lint(sceneJson(alongX({R"("Time2Next": 1000)", R"("Time2Next": 1000, "PauseTime": 500)", ""})));
    EXPECT_EQ(found(stop), (Found{"W1 acceleration", "W1 acceleration"})) << listing(stop);

    // W1 is reached slowing down (its EaseIn eases the arrival) and left speeding up (its own
    // flags): the speed is continuous (0), the acceleration turns from -160 to +160 units/s^2
    // at once: jerk only.
    const Findings jerk = lint(
        sceneJson(alongX({R"("Time2Next": 1000)", R"("Time2Next": 1000, "EaseIn": true, "EaseOut": true)", ""}, 40)));
    EXPECT_EQ(found(jerk), Found{"W1 jerk"}) << listing(jerk);

    // Passing a cut within one tick (no tick at the cut's index) is no motion: no speed there,
    // though the eye jumps 10 units, as far as it flies in a second.
    const Findings cut =
        lint(sceneJson(alongX({R"("Time2Next": 1000)", R"("Time2Next": 0)", R"("Time2Next": 1000)", ""})));
    EXPECT_TRUE(cut.empty()) << listing(cut);
}

TEST(Lint, EasesAreJudgedByTheirOwnLaw) {
    // W0 -> W1 -> W2 along x, 100 units a segment, each segment from rest to rest: W0's EaseOut
    // and W1's EaseIn ease the first with the law f(u) = 3u^2 - 2u^3, W1's EaseOut and W2's
    // EaseIn the second; W1's pause keeps the two apart.
    auto scene = [](ULong first, ULong second) {
        return sceneJson(alongX(
            {R"("Time2Next": )" + std::to_string(first) + R"(, "EaseOut": true)",
             R"("Time2Next": )" + std::to_string(second) + R"(, "PauseTime": 500, "EaseIn": true, "EaseOut": true)",
             R"("EaseIn": true)"},
            100));
    };
    // The law's own peak acceleration, max |f''| L / T^2, with f'' from second differences of the
    // law sampled densely.
    auto law = [](double u) { return (3 - 2 * u) * u * u; };
    double maxF2 = 0;
    const double h = 1e-4;
    for (double u = h; u < 1; u += h)
        maxF2 = std::max(maxF2, std::fabs(law(u + h) - 2 * law(u) + law(u - h)) / (h * h));
    const double peak = maxF2 * 100 / (1.4 * 1.4);
    ASSERT_GT(peak, LintOptions{}.acceleration);  // the ease asks for more than the threshold

    // In 1.4 s each, the eye accelerates as the laws ask: nothing to find.
    const Findings designed = lint(scene(1400, 1400));
    EXPECT_TRUE(designed.empty()) << listing(designed);

    // Squeezing the second ease into 0.4 s makes the path's pace, fitted through both segments,
    // lurch on the first beyond its law's peak (times 1.25): found, with that peak.
    const Findings squeezed = lint(scene(1400, 400));
    EXPECT_EQ(found(squeezed), Found{"W1 acceleration"}) << listing(squeezed);
    char said[160];
    std::snprintf(said, sizeof said, "(threshold %.3g: the ease's own peak of %.3g times 1.25)", 1.25 * peak, peak);
    for (const LintFinding& f : squeezed) EXPECT_NE(f.text.find(said), std::string::npos) << f.text;
    // The same for the first ease squeezed.
    EXPECT_EQ(found(lint(scene(400, 1400))), Found{"W1 acceleration"});

    // Raised thresholds govern where they are above the ease's own peaks.
    EXPECT_TRUE(lint(scene(1400, 400), {.iterator = {}, .acceleration = 1000, .jerk = 1e5}).empty());

    // Two eases that meet at W1 without a pause reverse the acceleration at once (the jerk
    // case of FlightSpeeds); the hint's pause between them separates them.
    const Findings paused = lint(sceneJson(alongX(
        {R"("Time2Next": 1000)", R"("Time2Next": 1000, "PauseTime": 500, "EaseIn": true, "EaseOut": true)", ""}, 40)));
    EXPECT_TRUE(paused.empty()) << listing(paused);
}

TEST(Lint, CutsPartsAndSwitchedOff) {
    // A cut at W1: EaseOut there eases nothing; a pause on W2 holds the camera at W1.
    const Findings eased = lint(sceneJson(alongX({R"("Time2Next": 10000)", R"("Time2Next": 0, "EaseOut": true)",
                                                  R"("Time2Next": 10000, "PauseTime": 400)", ""})));
    EXPECT_EQ(found(eased), (Found{"W1 cut-with-ease", "W2 cut-with-ease"})) << listing(eased);

    // A cut at W1 leaves W2 a part of its own: the flight ends on reaching it.
    const Findings single = lint(sceneJson(alongX({R"("Time2Next": 10000)", R"("Time2Next": 0)", ""})));
    EXPECT_EQ(found(single), Found{"W2 single-waypoint-part"}) << listing(single);
    EXPECT_EQ(found(lint(sceneJson(alongX({""})))), Found{"W0 single-waypoint-part"});

    // A switched-off waypoint at the end is left out (info); between switched-on ones it ends
    // the flight at the one before it (warning).
    std::vector<Wp> trailing = straight();
    trailing.push_back({"Off", "[30, 0, 0]", R"("IsOn": false)"});
    const Findings info = lint(sceneJson(trailing));
    ASSERT_EQ(found(info), Found{"Off switched-off"}) << listing(info);
    EXPECT_EQ(info[0].severity, host::LintSeverity::Info);
    EXPECT_FALSE(host::lintFails(info));
    std::vector<Wp> middle = straight();
    middle.insert(middle.begin() + 2, {"Off", "[15, 5, 0]", R"("IsOn": false)"});
    const Findings early = lint(sceneJson(middle));
    ASSERT_EQ(found(early), Found{"Off switched-off"}) << listing(early);
    EXPECT_EQ(early[0].severity, host::LintSeverity::Warning);
    EXPECT_NE(early[0].text.find("ends its flight there, never reaching W2"), std::string::npos);
}

TEST(Lint, ReferencesAndClock) {
    // Every reference that names nothing, the wrong kind of object or the object itself.
    for (const char* attributes :
         {R"("Path": null)", R"("Path": "Tower")", R"("Path": "P", "MovingDestination": "Cam")",
          R"("Path": "P", "MovingDestination": "P")"}) {
        const Findings linted = lint(sceneJson(straight(), attributes));
        ASSERT_EQ(found(linted), Found{"Cam dangling-reference"}) << attributes << "\n" << listing(linted);
        EXPECT_EQ(linted[0].severity, host::LintSeverity::Error);
    }
    std::vector<Wp> aimed = straight();
    aimed[2].attributes = R"("PointsTo": "P")";  // the path has no position of its own
    EXPECT_EQ(found(lint(sceneJson(aimed))), Found{"W2 dangling-reference"});
    // A reference to an object that is no longer in the scene.
    const Findings gone = lint(sceneJson(straight()), {}, [](Host& host) {
        host.setReference(host.find("W2"), "PointsTo", Handle(_GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
    });
    ASSERT_EQ(found(gone), Found{"W2 dangling-reference"}) << listing(gone);
    EXPECT_NE(gone[0].text.find("not in the scene"), std::string::npos);

    // A flight across the clock's wrap: started 1 s before it, the first segment ends past 2^32
    // and the flight ends at its first tick; started 15 s before, the second one does, at the
    // tick that enters it; with ticks that leave a segment's end between the last tick before
    // the wrap and 2^32, the camera is stuck at W1 after the wrap.
    for (const auto& [start, step, expected, time] : {std::tuple{4294966296u, 16u, "W0 clock-wrap", 4294966296u},
                                                      std::tuple{4294952296u, 16u, "W1 clock-wrap", 4294962296u},
                                                      std::tuple{4294957291u, 15u, "W0 clock-wrap", 0u}}) {
        const Findings wrap = lint(sceneJson(straight()), {.iterator = {}, .start = start, .step = step});
        ASSERT_EQ(found(wrap), Found{expected}) << listing(wrap);
        EXPECT_EQ(wrap[0].time, time);
    }
    // Ending before the last tick before the wrap is fine.
    EXPECT_TRUE(lint(sceneJson(straight()), {.iterator = {}, .start = 4294967296u - 20000u - 16u}).empty());
}

TEST(Lint, CheckTableIsTheReadmes) {
    // README.md's lint table is the check table rendered, byte for byte: edit Checks.cpp, then
    // paste lintCheckTableMarkdown() into the README.
    std::stringstream readme;
    readme << std::ifstream(CAMSYS_README).rdbuf();
    const std::string table = host::lintCheckTableMarkdown();
    EXPECT_NE(readme.str().find("\n\n" + table + "\n"), std::string::npos) << table;

    // Every check has a hint of one line, found by each of its ids; the listing order names each
    // id of the table once.
    std::multiset<std::string_view> ids;
    for (const host::LintCheck& check : host::lintChecks()) {
        EXPECT_EQ(check.hint.find('\n'), std::string_view::npos) << check.hint;
        ids.insert(check.ids.begin(), check.ids.end());
        for (const std::string_view id : check.ids) EXPECT_FALSE(host::lintHint(id).empty()) << id;
    }
    EXPECT_EQ(host::lintHint("no-such-check"), "");
    EXPECT_EQ(ids, std::multiset<std::string_view>(host::lintCheckOrder().begin(), host::lintCheckOrder().end()));

    // The help's text: every row, no markdown, lines within 100 columns.
    const std::string text = host::lintCheckTableText();
    for (const char* part : {"  acceleration, jerk (warning): a run of ticks", "Threshold: 200 units/s^2",
                             "Hint: merge the waypoint into its"})
        EXPECT_NE(text.find(part), std::string::npos) << text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.size() <= 100 && line.find('`') == line.npos && line.find("\\|") == line.npos) << line;
}
