// What a render flies: a video's frames at their own clock times, each exactly the camera's view
// at that time, and the contact sheet's moments of the example's shot list.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
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
                SCOPED_TRACE(std::string(name) + " from " + std::to_string(start) + " at " + std::to_string(fps) +
                             " fps");
                const auto timeOf = [=](std::size_t k) { return host::frameTime(start, fps, k); };
                const host::FlightRecording frames = host::recordFlightAt(*host, iterator, start, timeOf, 100000);
                ASSERT_FALSE(frames.hitLimit);
                ASSERT_GT(frames.ticks.size(), 20u);
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

TEST(ContactSheet, TheExampleShowsItsStartWaypointsBothSidesOfEveryCutAndItsEnd) {
    auto host = exampleHost();
    const Handle cam = host->find("Cam");
    const host::FlightOptions options;
    const host::FlightRecording flight = host::recordFlight(*host, cam, options);
    const host::FlightAnalysisInput input = host::flightAnalysisInput(*host, cam, flight.ticks);
    const host::FlightAnalysis analysis = host::analyseFlight(input);
    const std::vector<host::SheetMoment> moments = host::contactSheetMoments(input, analysis, options.step);
    const auto tickAt = [&](ULong time) { return flight.ticks.at((time - flight.ticks.front().time) / options.step); };
    // The Run that ends the flight holds the eye before it: what falls at or after the path's
    // end (the last waypoint reached after the tick before the last) is shown 1 ms before it.
    ULong end = flight.ticks.back().time;
    for (const host::FlightMark& mark : analysis.marks)
        if (mark.time > flight.ticks[flight.ticks.size() - 2].time && mark.time < end) end = mark.time;
    const auto shown = [&](ULong time) { return time >= end ? end - 1 : time; };
    const auto momentAt = [&](ULong time) -> std::string {
        for (const host::SheetMoment& m : moments)
            if (m.time == shown(time)) return m.label;
        return "(none at " + std::to_string(time) + ")";
    };
    const auto has = [](const std::string& label, const std::string& part) {
        return ::testing::AssertionResult(label.find(part) != std::string::npos) << '"' << label << "\" lacks " << part;
    };

    ASSERT_GE(moments.size(), 3u);
    for (std::size_t i = 1; i < moments.size(); ++i) EXPECT_LT(moments[i - 1].time, moments[i].time) << i;
    EXPECT_EQ(moments.front().time, flight.ticks.front().time);
    EXPECT_EQ(moments.front().label, "start · " + input.waypoints.front().name) << "the first waypoint's, once";
    EXPECT_EQ(moments.back().time, end - 1);
    EXPECT_LT(end, flight.ticks.back().time) << "the example's path ends between its last two ticks";
    EXPECT_TRUE(has(moments.back().label, "end · "));

    // One cell for each time any of them falls on, however many fall there.
    std::set<ULong> times = {flight.ticks.front().time, shown(flight.ticks.back().time)};
    std::size_t waypoints = 0, cuts = 0;
    for (const host::FlightMark& mark : analysis.marks) {
        if (mark.kind == host::FlightMark::Kind::Waypoint) {
            ++waypoints;
            times.insert(shown(mark.time));
            EXPECT_TRUE(has(momentAt(mark.time), input.waypoints.at(mark.waypoint).name));
        } else if (mark.kind == host::FlightMark::Kind::Cut) {
            ++cuts;
            const ULong before = mark.time - options.step;
            times.insert({before, mark.time});
            EXPECT_TRUE(has(momentAt(before), "before cut · " + input.waypoints.at(mark.waypoint).name));
            EXPECT_TRUE(has(momentAt(mark.time), "after cut · " + input.waypoints.at(mark.waypoint + 1).name));
            // The old shot, then the new one: further apart than the camera moves in a tick.
            EXPECT_GT(distance(tickAt(before), tickAt(mark.time)),
                      10 * distance(tickAt(before - options.step), tickAt(before)))
                << "cut at " << mark.time;
        }
    }
    EXPECT_GE(waypoints, 5u);
    EXPECT_GE(cuts, 1u);
    EXPECT_EQ(moments.size(), times.size());

    host::FlightAnalysisInput noTicks = input;
    noTicks.ticks.clear();
    EXPECT_TRUE(host::contactSheetMoments(noTicks, analysis, options.step).empty());
}
