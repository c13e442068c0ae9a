// The analysis marks against the flown camera: a pause mark shades exactly where the eye the
// plug-in places stands still, on the bundled example and on random paths.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "tests/flight/FlightScenes.h"

using host::FlightMark;
using host::FlightTick;
using host::Host;

namespace {

bool sameEye(const FlightTick& a, const FlightTick& b) { return std::memcmp(&a.eye, &b.eye, sizeof a.eye) == 0; }

/// Flies `iterator` and holds its ticks against the pause marks:
///  - between two ticks that both lie within a pause, the eye stays the same to the bit;
///  - where two ticks in a row show the same eye (not the tick after the end of the flight,
///    which keeps the eye before), a pause mark lies between or at them. With `lenient`, also
///    where the eye stands where its segment begins or ends: an eased start moves by less than
///    a float's step far along the path, and a time-distance curve through uneven flight times
///    can overshoot, while the path holds the eye at the end of its part.
/// Returns how many tick pairs lay within a pause, so that a caller can see the check bite.
std::size_t checkPauses(Host& host, const std::string& iterator, ULong start, bool lenient) {
    SCOPED_TRACE(iterator);
    const Handle handle = host.find(iterator);
    const host::FlightRecording flight = host::recordFlight(host, handle, {start, 16, 100000});
    const std::vector<FlightTick>& ticks = flight.ticks;
    const host::FlightAnalysis analysis = host::analyseFlight(host::flightAnalysisInput(host, handle, ticks));
    EXPECT_FALSE(flight.hitLimit);
    // Times as ms since the first tick (the flight does not pass 2^32 here).
    const auto at = [&](ULong time) { return ULong(time - ticks.front().time); };
    const auto pause = [](const FlightMark& m) { return m.kind == FlightMark::Kind::Pause; };

    std::size_t inside = 0;
    for (const FlightMark& m : analysis.marks)
        for (std::size_t i = 1; pause(m) && i < ticks.size(); ++i)  // the tick pairs within each pause
            if (at(m.time) <= at(ticks[i - 1].time) && at(ticks[i].time) < at(m.end)) {
                ++inside;
                EXPECT_TRUE(sameEye(ticks[i - 1], ticks[i]))
                    << "the eye moves at " << at(ticks[i].time) << " ms within the pause of waypoint " << m.waypoint
                    << " [" << at(m.time) << ", " << at(m.end) << "]";
            }
    for (std::size_t i = 1; i + 1 < ticks.size(); ++i) {
        if (!sameEye(ticks[i - 1], ticks[i])) continue;
        bool cut = false, paused = false;
        for (const FlightMark& m : analysis.marks) {
            cut = cut || (m.kind == FlightMark::Kind::Cut && m.time == ticks[i].time);
            paused = paused || (pause(m) && at(m.time) <= at(ticks[i].time) && at(ticks[i - 1].time) <= at(m.end));
        }
        const auto sameSegment = [&](std::size_t j) {
            return ticks[j].waypoint == ticks[i].waypoint && ticks[j].segmentStart == ticks[i].segmentStart;
        };
        std::size_t first = i, last = i;  // the ticks of this segment
        while (first > 0 && sameSegment(first - 1)) --first;
        while (last + 1 < ticks.size() && sameSegment(last + 1)) ++last;
        const bool atEnds = lenient && (sameEye(ticks[i], ticks[first]) || sameEye(ticks[i], ticks[last]));
        EXPECT_TRUE(cut || paused || atEnds) << "the eye stands still from " << at(ticks[i - 1].time) << " to "
                                             << at(ticks[i].time) << " ms outside every pause";
    }
    return inside;
}

/// A path of 3 to 6 waypoints at random places, with random flight times, pauses (about half
/// the waypoints), cuts (about one in five), easing, and now and then a switched-off waypoint.
std::string randomScene(std::mt19937& random) {
    std::uniform_real_distribution<float> place(-80.0f, 80.0f);
    std::uniform_int_distribution<int> percent(0, 99), flight(40, 2000), pause(20, 900), count(3, 6);
    std::vector<flight_testing::Wp> path;
    const int n = count(random);
    for (int k = 0; k < n; ++k) {
        const bool off = k > 0 && percent(random) < 8;
        std::ostringstream position, attributes;
        position << "[" << place(random) << ", " << place(random) << ", " << place(random) / 4 + 30 << "]";
        attributes << R"("Time2Next": )" << (percent(random) < 20 ? 0 : flight(random)) << R"(, "PauseTime": )"
                   << (percent(random) < 50 ? pause(random) : 0) << R"(, "EaseIn": )"
                   << (percent(random) < 30 ? "true" : "false") << R"(, "EaseOut": )"
                   << (percent(random) < 30 ? "true" : "false") << R"(, "IsOn": )" << (off ? "false" : "true");
        path.push_back({"W" + std::to_string(k), position.str(), attributes.str()});
    }
    return flight_testing::pathScene(path);
}

}  // namespace

TEST(PauseMarks, ShadeWhereTheExampleStandsStill) {
    auto host = flight_testing::exampleHost();
    EXPECT_GT(checkPauses(*host, "Cam", 0, false), 20u);
    checkPauses(*host, "Chase", 0, false);
}

TEST(PauseMarks, ShadeWhereRandomPathsStandStill) {
    std::mt19937 random(20261207u);
    std::size_t inside = 0;
    for (int scene = 0; scene < 40; ++scene) {
        const std::string json = randomScene(random);
        SCOPED_TRACE(json);
        auto host = flight_testing::loadedHost(json);
        inside += checkPauses(*host, "Cam", 1000u * scene, true);
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(inside, 200u);
}
