// Frames resumed from remembered iterator states against frames flown from the activation:
// the same ticks to the bit, wherever the time falls and in whatever order they are asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "tests/flight/FlightScenes.h"
#include "tests/support/FlightTicks.h"

using flight_testing::loadedHost;
using host::FlightTick;
using host::FrameSampler;
using testing_support::sameTick;

namespace {

/// Cuts, pauses, a switched-off waypoint and plain objects in the gaps (activated in flight).
const char* const kScene = R"({ "objects": [
  { "name": "Tower", "position": [40, 120, 15] },
  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
      { "name": "Intro", "position": [1, 2, 3] },
      { "name": "W0", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 10],
        "attributes": { "PointsTo": "Tower", "Time2Next": 2000, "PauseTime": 500 } },
      { "name": "Gate", "position": [30, 10, 0] },
      { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [60, 20, 12],
        "attributes": { "Time2Next": 0, "EaseIn": true } },
      { "name": "W2", "class": "SCOCameraSystemWaypoint", "position": [90, -20, 14],
        "attributes": { "Time2Next": 1300, "PauseTime": 250, "EaseOut": true } },
      { "name": "W3", "class": "SCOCameraSystemWaypoint", "position": [120, 0, 20],
        "attributes": { "Time2Next": 700, "FOVFac": 2 } },
      { "name": "W4", "class": "SCOCameraSystemWaypoint", "position": [150, 40, 25] },
      { "name": "Off", "class": "SCOCameraSystemWaypoint", "position": [95, -25, 14],
        "attributes": { "IsOn": false } },
      { "name": "Finale", "position": [160, 40, 25] } ] },
  { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Flight" } } ] })";

/// The scene with its first `from` made `to`.
std::string replaced(std::string scene, const std::string& from, const std::string& to) {
    return scene.replace(scene.find(from), from.size(), to);
}

/// Times around every tick of a flight, past its end and (wrapped) before its start, shuffled.
std::vector<ULong> probeTimes(const host::FlightRecording& flight, ULong start) {
    std::vector<ULong> times;
    for (std::size_t i = 0; i < flight.ticks.size(); i += 7)
        for (const ULong d : {0u, 1u, 9u}) times.push_back(flight.ticks[i].time + d);
    const ULong end = flight.ticks.back().time;
    for (const ULong t : {end + 16, end + 40, end + 100000, start - 1, start - 16, start + 3}) times.push_back(t);
    std::mt19937 random(7);
    std::shuffle(times.begin(), times.end(), random);
    return times;
}

}  // namespace

TEST(FrameSampler, ResumedFramesEqualFramesFlownFromTheActivation) {
    // A clock that does not wrap; one that wraps where the last segment ends (which ends it at
    // once); one that wraps just before segment 2 ends, so that the ticks after the wrap stay
    // in segment 2 for good while a single Run at their time from the activation stays in
    // segment 0: states of ticks after a wrap must not serve frames at those times.
    const ULong stuck = 0xFFFFFFFFu - 4050 - 7;
    for (const ULong start : {0u, 0xFFFFF000u, stuck}) {
        SCOPED_TRACE(start);
        auto host = loadedHost(kScene);
        const Handle cam = host->find("Cam");
        FrameSampler sampler;
        const std::size_t maxTicks = start == stuck ? 400 : 100000;
        const host::FlightRecording flight = sampler.record(*host, cam, {start, 16, maxTicks});
        ASSERT_TRUE(flight.hitLimit == (start == stuck) && flight.cameraTaken) << flight.hitLimit;
        EXPECT_GT(sampler.remembered(), 3u);
        // The recording is the plain recording.
        const host::FlightRecording plain = host::recordFlight(*host, cam, {start, 16, maxTicks});
        ASSERT_EQ(plain.ticks.size(), flight.ticks.size());
        for (std::size_t i = 0; i < plain.ticks.size(); ++i) ASSERT_TRUE(sameTick(plain.ticks[i], flight.ticks[i]));

        std::size_t resumed = 0;
        for (const ULong t : probeTimes(flight, start))
            for (const ULong step : {16u, 5u}) {
                const FlightTick fast = sampler.sample(*host, cam, start, step, t);
                resumed += sampler.lastSampleResumed();
                ASSERT_TRUE(sameTick(fast, host::sampleFlight(*host, cam, start, step, t)))
                    << "t " << t << " step " << step;
            }
        EXPECT_GT(resumed, 100u) << "frames should mostly resume";
        // Every tick of the flight before the clock wraps, from the sampler.
        for (std::size_t i = 0; i < flight.ticks.size() && flight.ticks[i].time >= start; i += 13)
            ASSERT_TRUE(sameTick(sampler.sample(*host, cam, start, 16, flight.ticks[i].time), flight.ticks[i]));
    }
}

TEST(FrameSampler, LearnsFromItsOwnFramesAndForgets) {
    auto host = loadedHost(kScene);
    const Handle cam = host->find("Cam");
    FrameSampler sampler;
    // The first frame is flown from the activation; later ones resume from a frame remembered
    // before the one ahead of them (the frame at 3000 remembers the tick at 2984).
    for (const auto& [t, resumes] : {std::pair{3000u, false}, std::pair{3001u, true}, std::pair{4500u, true},
                                     std::pair{4000u, true}, std::pair{2999u, false}}) {
        EXPECT_TRUE(sameTick(sampler.sample(*host, cam, 0, 16, t), host::sampleFlight(*host, cam, 0, 16, t)));
        EXPECT_EQ(sampler.lastSampleResumed(), resumes) << t;
    }
    // Another activation time is another flight. (Forgetting, after every change of the scene:
    // through the studio, tests/studio.)
    sampler.sample(*host, cam, 100, 16, 4000);
    EXPECT_FALSE(sampler.lastSampleResumed());
}

TEST(FrameSampler, FliesFromTheActivationWhenItsEffectsMatter) {
    // An iterator in a gap takes the camera when it is activated; one that does not grab the
    // camera is never placed. Neither flight may skip its activation.
    const std::string live =
        replaced(kScene, R"({ "name": "Gate", "position": [30, 10, 0] })",
                 R"({ "name": "Other", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Flight" } })");
    const std::string idle =
        replaced(kScene, R"("Path": "Flight" } } ] })", R"("Path": "Flight", "GrabCamera": false } } ] })");
    for (const std::string& scene : {live, idle}) {
        auto host = loadedHost(scene);
        const Handle cam = host->find("Cam");
        FrameSampler sampler;
        sampler.record(*host, cam, {0, 16, 1000});
        for (const ULong t : {100u, 3000u, 5000u, 2500u, 7000u}) {
            ASSERT_TRUE(sameTick(sampler.sample(*host, cam, 0, 16, t), host::sampleFlight(*host, cam, 0, 16, t)));
            EXPECT_FALSE(sampler.lastSampleResumed()) << t;
        }
        EXPECT_EQ(sampler.remembered(), 0u);
    }
}
