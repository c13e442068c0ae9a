// What a render flies: a video's frames at their own clock times, each exactly the camera's view
// at that time, and the contact sheet's moments of the example's shot list.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "flight/ContactSheet.h"
#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "tests/flight/FlightScenes.h"
#include "tests/support/FlightTicks.h"

using flight_testing::exampleHost;
using host::FlightTick;
using testing_support::sameTick;

namespace {

double distance(const FlightTick& a, const FlightTick& b) {
    const auto& p = a.eye.Origin;
    const auto& q = b.eye.Origin;
    return std::hypot(double(p.x) - q.x, double(p.y) - q.y, double(p.z) - q.z);
}

}  // namespace

TEST(FrameTime, RoundsToTheNearestMillisecondAndWrapsWithTheClock) {
    // Start, frames a second, frame, its time: 1000/7 = 142.86 ms; no drift over many frames;
    // 2^32 - 16 + 33 wraps to 17.
    using Case = std::tuple<ULong, double, std::size_t, ULong>;
    for (const auto& [start, fps, k, time] :
         {Case{0, 7, 1, 143}, Case{0, 7, 2, 286}, Case{0, 7, 3, 429}, Case{0, 30, 2, 67}, Case{500, 29.97, 1, 533},
          Case{500, 29.97, 2, 567}, Case{0, 29.97, 2997, 100000}, Case{0xFFFFFFF0u, 30, 0, 0xFFFFFFF0u},
          Case{0xFFFFFFF0u, 30, 1, 17}})
        EXPECT_EQ(host::frameTime(start, fps, k), time) << start << " at " << fps << " fps, frame " << k;
}

TEST(RecordFlightAt, EveryFrameIsTheCameraAtItsOwnTimeUpToTheTickThatEndsTheFlight) {
    auto host = exampleHost();
    // A clock that wraps within the flight as well (2^32 - 4096: in segment 2).
    for (const ULong start : {0u, 0xFFFFF000u})
        for (const char* name : {"Cam", "Chase"}) {
            const Handle iterator = host->find(name);
            // The tick that deactivates the iterator, to the millisecond.
            const host::FlightRecording fine = host::recordFlight(*host, iterator, {start, 1, 1000000});
            ASSERT_FALSE(fine.hitLimit);
            const ULong end = ULong(fine.ticks.back().time - start);
            for (const double fps : {30.0, 7.0}) {
                SCOPED_TRACE(std::string(name) + " from " + std::to_string(start) + " at fps " + std::to_string(fps));
                const auto timeOf = [=](std::size_t k) { return host::frameTime(start, fps, k); };
                const host::FlightRecording frames = host::recordFlightAt(*host, iterator, start, timeOf, 100000);
                ASSERT_TRUE(!frames.hitLimit && frames.ticks.size() > 20) << frames.ticks.size();
                // The last frame is the first at or after the end; every frame before it is before the end.
                EXPECT_GE(ULong(frames.ticks.back().time - start), end);
                EXPECT_LT(ULong(frames.ticks[frames.ticks.size() - 2].time - start), end);
                EXPECT_EQ(frames.events.back().kind, host::FlightEvent::Kind::Deactivate);
                EXPECT_EQ(frames.events.back().time, frames.ticks.back().time);
                // Against an oracle that flies each frame alone: activation, the frame before, the frame.
                for (std::size_t k = 0; k < frames.ticks.size(); ++k) {
                    const ULong step = k ? ULong(timeOf(k) - timeOf(k - 1)) : 33;
                    ASSERT_TRUE(sameTick(frames.ticks[k], host::sampleFlight(*host, iterator, start, step, timeOf(k))))
                        << "frame " << k;
                }
            }
        }
}

TEST(ContactSheet, TheExampleShowsItsStartWaypointsBothSidesOfItsCutAndItsEnd) {
    auto host = exampleHost();
    const Handle cam = host->find("Cam");
    const host::FlightRecording flight = host::recordFlight(*host, cam, {});  // 16 ms ticks from 0
    const host::FlightAnalysisInput input = host::flightAnalysisInput(*host, cam, flight.ticks);
    const host::FlightAnalysis analysis = host::analyseFlight(input);
    // W1 to W4 are reached as the Time2Next and PauseTime before them add up; W4 ends a part, and
    // W5's pause holds the camera there until 8700: the cut shows at the tick after (8704), the
    // old shot at the tick before. W6, reached at 10300 between the last two ticks, ends the path;
    // the Run that ends the flight holds the eye before it, so the end is shown 1 ms before.
    std::vector<std::string> moments;
    for (const host::SheetMoment& m : host::contactSheetMoments(input, analysis, 16))
        moments.push_back(std::to_string(m.time) + " " + m.label);
    EXPECT_EQ(moments, (std::vector<std::string>{"0 start · W0", "2500 W1", "4000 W2", "5800 W3", "8300 W4",
                                                 "8688 before cut · W4", "8704 after cut · W5", "10299 end · W6"}));
    // The old shot, then the new one: further apart than the camera moves in a tick.
    const auto at = [&](ULong time) { return flight.ticks.at(time / 16); };
    EXPECT_GT(distance(at(8688), at(8704)), 10 * distance(at(8672), at(8688)));

    host::FlightAnalysisInput noTicks = input;
    noTicks.ticks.clear();
    EXPECT_TRUE(host::contactSheetMoments(noTicks, analysis, 16).empty());
}
