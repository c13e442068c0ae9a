// The linter's fixes: each makes its finding go away and changes nothing but the values it names
// (the scene as `camsys load` writes it, compared value by value), as one undo step that gives the
// scene back byte for byte; and the ease fix of a speed jump over every combination of flags. (The
// loop that fixes what it can: tests/cli, tests/studio.)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "flight/lint/Lint.h"
#include "flight/lint/LintFix.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "scene/ScoFile.h"
#include "tests/flight/FlightScenes.h"

using flight_testing::alongX;
using flight_testing::loadedHost;
using flight_testing::pathScene;
using host::Host;
using host::LintFinding;

namespace {

/// Every value of the scene as `camsys load` writes it, one a line: (object, key) -> value text.
using Values = std::map<std::pair<std::string, std::string>, std::string>;
Values valuesOf(const Host& host) {
    static const std::regex name(R"re(^\s*"name": "([^"]*)",?$)re"), value(R"re(^\s*"(\w+)": (.*[^,{\[]),?$)re");
    Values values;
    std::istringstream lines(host::sceneToJson(host));
    std::string object;
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, name))
            object = m[1];
        else if (std::regex_match(line, m, value))
            values[{object, m[1]}] = m[2];
    }
    return values;
}

/// What changed between two scenes: (object, key) -> the value after ("gone" for a value that went).
Values changes(const Values& before, const Values& after) {
    Values changed;
    for (const auto& [key, was] : before)
        if (!after.count(key)) changed[key] = "gone";
    for (const auto& [key, now] : after)
        if (!before.count(key) || before.at(key) != now) changed[key] = now;
    return changed;
}

ULong flightEnd(Host& host) { return host::recordFlight(host, host.find("Cam"), {}).ticks.back().time; }

/// Fixes the finding `id` of `object` in `json` and checks that it is gone, that the scene changed
/// by `expected` (and, for a merge that removes the waypoint `gone`, its values, the path's bounds
/// following its new curve, the flight keeping its length) and that one undo gives the scene back
/// byte for byte.
void expectFix(const std::string& json, const std::string& id, const std::string& object, const std::string& label,
               Values expected, const std::string& gone = {}) {
    SCOPED_TRACE(id + " of " + object);
    const std::unique_ptr<Host> host = loadedHost(json);
    const std::vector<LintFinding> findings = host::lintScene(*host, {});
    const auto found = std::find_if(findings.begin(), findings.end(),
                                    [&](const LintFinding& f) { return f.id == id && f.object == object; });
    ASSERT_NE(found, findings.end()) << host::lintText("scene", findings);
    ASSERT_TRUE(found->fix) << found->text;
    EXPECT_EQ(found->fix->label, label);
    const Values before = valuesOf(*host);
    const std::vector<std::uint8_t> image = host::sceneToScoImage(*host);
    const ULong end = flightEnd(*host);

    host::SceneEditor editor(*host);
    host::applyLintFix(editor, *host, *found->fix);
    const std::vector<LintFinding> after = host::lintScene(*host, {});
    for (const LintFinding& f : after) EXPECT_FALSE(f.id == id && f.object == object) << host::lintText("scene", after);

    Values changed = changes(before, valuesOf(*host));
    for (const auto& [key, value] : before)
        if (key.first == gone) expected[key] = "gone";
    if (!gone.empty()) {
        changed.erase({"P", "MinBound"}), changed.erase({"P", "MaxBound"});
        EXPECT_NEAR(double(flightEnd(*host)), double(end), 16) << "the flight keeps its length";
    }
    EXPECT_EQ(changed, expected);

    EXPECT_EQ(editor.undoLabels(), std::vector<std::string>{label});
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(host::sceneToScoImage(*host), image);
}

}  // namespace

TEST(LintFix, EachFixTakesItsFindingAndNothingElse) {
    // A cut at W1 with EaseIn (the camera stops before it) and a pause after it on W2.
    const std::string cut = pathScene(alongX(
        {R"("Time2Next": 1000)", R"("Time2Next": 0, "EaseIn": true)", R"("Time2Next": 1000, "PauseTime": 400)", ""}));
    expectFix(cut, "cut-with-ease", "W1", "clear W1's EaseIn", {{{"W1", "EaseIn"}, "false"}});
    expectFix(cut, "cut-with-ease", "W2", "clear W2's PauseTime", {{{"W2", "PauseTime"}, "0"}});

    // From 170 to -170 degrees turns 340 the long way; W2 keeps its turn of 10 from W1.
    const std::string roll = pathScene(
        alongX({R"("Time2Next": 1000, "Roll": 170)", R"("Time2Next": 1000, "Roll": -170)", R"("Roll": -160)"}));
    expectFix(roll, "roll-long-way", "W0", "roll W1 the short way (Roll +360 on W1-W2)",
              {{{"W1", "Roll"}, "190"}, {{"W2", "Roll"}, "200"}});

    // W2 stands on W1: W1 takes W2's flight on and its pause, the total time stays.
    const std::string twice = pathScene({{"W0", "[0, 0, 0]", R"("Time2Next": 1000)"},
                                         {"W1", "[10, 0, 0]", R"("Time2Next": 700, "PauseTime": 100)"},
                                         {"W2", "[10, 0, 0]", R"("Time2Next": 1000, "PauseTime": 300)"},
                                         {"W3", "[20, 0, 0]"}});
    expectFix(twice, "short-segment", "W1", "merge W2 into W1",
              {{{"W1", "Time2Next"}, "1700"}, {{"W1", "PauseTime"}, "400"}}, "W2");
    // At the end of the path the earlier one goes, the one before it taking its time.
    const std::string end = pathScene({{"W0", "[0, 0, 0]", R"("Time2Next": 1000)"},
                                       {"W1", "[10, 0, 0]", R"("Time2Next": 500)"},
                                       {"W2", "[10, 0, 0]"}});
    expectFix(end, "short-segment", "W1", "merge W1 into W2", {{{"W0", "Time2Next"}, "1500"}}, "W1");

    // W1's EaseIn stops the camera at W1 and at W2 (its law eases the segment leaving W1 as well):
    // EaseOut on W1 starts it slowly again and lets it reach W2 at speed.
    const std::string eased =
        pathScene(alongX({R"("Time2Next": 1000)", R"("Time2Next": 1000, "EaseIn": true)", R"("Time2Next": 1000)", ""}));
    expectFix(eased, "speed-jump", "W1", "set W1's EaseOut", {{{"W1", "EaseOut"}, "true"}});
    expectFix(eased, "speed-jump", "W2", "set W1's EaseOut", {{{"W1", "EaseOut"}, "true"}});
}

TEST(LintFix, SpeedJumpsOfEveryCombinationOfEasesGo) {
    // Five evenly spaced waypoints and every EaseIn and EaseOut of the middle three and W0's: a
    // speed jump there is the ease laws' doing, so each has a fix, and the fix leaves no jump at
    // its waypoint and none where there was none.
    int jumps = 0;
    for (unsigned flags = 0; flags < 256; ++flags) {
        std::vector<std::string> attributes(5, R"("Time2Next": 1000)");  // the last one's times no segment
        for (int k = 0; k < 4; ++k) {
            if (flags >> (2 * k) & 1) attributes[k] += R"(, "EaseIn": true)";
            if (flags >> (2 * k + 1) & 1) attributes[k] += R"(, "EaseOut": true)";
        }
        const std::string json = pathScene(alongX(attributes));
        const std::vector<LintFinding> found = host::lintScene(*loadedHost(json), {});
        std::vector<std::string> before;
        for (const LintFinding& f : found)
            if (f.id == "speed-jump") before.push_back(f.object);
        for (const LintFinding& jump : found) {
            if (jump.id != "speed-jump") continue;
            ++jumps;
            SCOPED_TRACE("flags " + std::to_string(flags) + ", " + jump.object);
            ASSERT_TRUE(jump.fix) << jump.text;
            const std::unique_ptr<Host> host = loadedHost(json);
            host::SceneEditor editor(*host);
            host::applyLintFix(editor, *host, *jump.fix);
            for (const LintFinding& f : host::lintScene(*host, {})) {
                if (f.id != "speed-jump") continue;
                EXPECT_TRUE(f.object != jump.object &&
                            std::find(before.begin(), before.end(), f.object) != before.end())
                    << jump.fix->label << " leaves " << f.object << ": " << f.text;
            }
        }
    }
    EXPECT_GT(jumps, 100);
}
