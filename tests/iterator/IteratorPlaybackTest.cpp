// Playback: segment timing with pauses and the clock's wrap, the easing laws and their
// selection, the camera frame, bad input, and a golden hash of a whole flight.

#include <cstdio>
#include <cstring>
#include <limits>

#include "IteratorScene.h"

using namespace iterator_tests;

TEST(IteratorPlayback, SegmentTimingPausesAndWrap) {
    // W0 (flight 1000, pause 500), W1 (2000, 200), W2: segment 0 lasts 500 + 1000 + 200, segment
    // 1 lasts 2000. Oracle for the flown position: the path's own evaluation by time.
    Scene s;
    const Point3f p0{0, 0, 0}, p1{10, 0, 0}, p2{10, 10, 0};
    s.waypoint("W0", p0, 1000, 500);
    s.waypoint("W1", p1, 2000, 200);
    s.waypoint("W2", p2, 1000, 0);
    auto& it = s.it();
    const ULong a = 50000;
    s.host.activate(s.iterator, a);
    const auto at = [&](ULong t) {
        s.run(t);
        return s.eye().Origin;
    };

    EXPECT_TRUE(near(at(a), p0));
    EXPECT_TRUE(near(at(a + 500), p0));
    float fov = 0;
    const Point3f half = at(a + 1000);
    s.eye(&fov);
    const COrientation expected = CInterfacePtr<ISCO_CSPath>(s.path)->CalcPosAtTimeSum(500);
    EXPECT_TRUE(near(half, expected.Position, 1e-5f));
    EXPECT_EQ(fov, expected.FOV);
    EXPECT_TRUE(near(at(a + 1500), p1));
    EXPECT_TRUE(near(at(a + 1699), p1));
    EXPECT_EQ(it.ActualWayPointIndex, 0u);
    EXPECT_TRUE(near(at(a + 1700), p1));
    EXPECT_EQ(it.ActualWayPointIndex, 1u);
    EXPECT_EQ(it.ActualWayPointTime, a + 1700);
    EXPECT_TRUE(near(at(a + 1000), p2));  // before the segment start: wraps, clamped to the end
    EXPECT_EQ(it.ActualWayPointIndex, 1u);
    s.run(a + 3699);
    EXPECT_EQ(s.deactivations(), 0);
    const auto placed = s.eye();
    s.run(a + 3700);  // the end: deactivation asked, the camera not placed
    EXPECT_EQ(it.ActualWayPointIndex, 2u);
    EXPECT_EQ(it.ActualWayPointTime, a + 3700);
    EXPECT_EQ(s.deactivations(), 1);
    const auto after = s.eye();
    EXPECT_EQ(std::memcmp(&placed, &after, sizeof after), 0);

    // One far step passes both segments; the start time advances by whole segments.
    s.host.activate(s.iterator, a);
    s.run(a + 900000);
    EXPECT_EQ(it.ActualWayPointIndex, 2u);
    EXPECT_EQ(it.ActualWayPointTime, a + 3700);
    // Times compare unsigned as they stand: segment ends that pass 2^32 are over at once.
    s.host.activate(s.iterator, 0xFFFFFF00u);
    s.run(0xFFFFFF00u);
    EXPECT_EQ(it.ActualWayPointIndex, 2u);
    EXPECT_EQ(it.ActualWayPointTime, 3700u - 0x100u);
}

TEST(IteratorPlayback, EasingLawsAndTheirSelection) {
    const float atHalf[] = {500, 625, 375, 500};  // f(0.5) * 1000: none, slow end, slow start, both
    for (int law = 0; law < 4; ++law) {
        EXPECT_EQ(IteratorTestAccess::ease(law, 0, 1000), 0.0f) << law;
        EXPECT_FLOAT_EQ(IteratorTestAccess::ease(law, 500, 1000), atHalf[law]) << law;
        EXPECT_FLOAT_EQ(IteratorTestAccess::ease(law, 1000, 1000), 1000.0f) << law;
    }

    // Selection, flown: evenly spaced waypoints in a line with equal flight times put the eye
    // linearly on the eased time, so at u = 1/4 it stands at 10 * f(1/4): none 0.25, slow end
    // 0.296875, slow start 0.109375, both 0.15625. Flags: W0's EaseIn, W0's EaseOut, W1's EaseIn.
    const struct {
        bool inHere, outHere, inNext;
        float f;
    } cases[] = {{false, false, false, 0.25f},    {false, true, false, 0.25f},    {true, false, false, 0.296875f},
                 {false, false, true, 0.296875f}, {true, false, true, 0.296875f}, {true, true, false, 0.109375f},
                 {false, true, true, 0.15625f},   {true, true, true, 0.15625f}};
    for (const auto& c : cases) {
        Scene s;
        const Handle w0 = s.waypoint("W0", {0, 0, 0}), w1 = s.waypoint("W1", {10, 0, 0});
        s.waypoint("W2", {20, 0, 0});
        s.host.setBool(w0, "EaseIn", c.inHere);
        s.host.setBool(w0, "EaseOut", c.outHere);
        s.host.setBool(w1, "EaseIn", c.inNext);
        s.host.setBool(w1, "EaseOut", !c.outHere);  // never read
        s.host.activate(s.iterator, 0);
        s.run(250);
        EXPECT_NEAR(s.eye().Origin.x, 10 * c.f, 1e-3) << c.inHere << c.outHere << c.inNext;
    }
}

TEST(IteratorPlayback, CameraFrame) {
    Scene s(true);
    s.waypoint("W0", {0, 0, 0});
    s.waypoint("W1", {1, 0, 0});
    s.host.activate(s.iterator, 0);
    auto& sample = s.fake().sample;

    s.run(100);  // along +y, unrolled: the identity; origin and FOV from the sample
    float fov = 0;
    auto eye = s.eye(&fov);
    const _CCoordSystem<float> identity;
    EXPECT_EQ(std::memcmp(&eye.Orientation, &identity.Orientation, sizeof identity.Orientation), 0);
    EXPECT_TRUE(near(eye.Origin, {1, 2, 3}, 0));
    EXPECT_EQ(fov, 0.8f);

    // Along (1, 1, 0), rolled by 90 degrees: up turns into -right and right into world up.
    const float r = 0.70710678f;
    sample.View = {3, 3, 0};
    sample.Roll = 1.57079633f;
    s.run(200);
    eye = s.eye();
    EXPECT_TRUE(near(column(eye, 0), {0, 0, 1}, 1e-6f));
    EXPECT_TRUE(near(column(eye, 1), {r, r, 0}, 1e-6f));
    EXPECT_TRUE(near(column(eye, 2), {-r, r, 0}, 1e-6f));

    // A moving destination replaces the view vector.
    s.host.setReference(s.iterator, "MovingDestination", s.host.createPlain("target", {1, -5, 3}));
    s.run(300);
    EXPECT_TRUE(near(column(s.eye(), 1), {0, -1, 0}, 1e-6f));
}

TEST(IteratorPlayback, BadInputGivesFiniteFrames) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    {  // Samples the frame formula has no answer for.
        Scene s(true);
        s.waypoint("W0", {0, 0, 0});
        s.waypoint("W1", {1, 0, 0});
        s.host.activate(s.iterator, 0);
        auto& sample = s.fake().sample;
        sample.View = {0.6f, 0.8f, 0};
        s.run(1);
        const Point3f right = column(s.eye(), 0);
        sample.View = {0, 0, 5};  // straight up: the right axis stays
        s.run(2);
        EXPECT_TRUE(isCameraFrame(s.eye()));
        EXPECT_TRUE(near(column(s.eye(), 0), right, 1e-6f));
        const COrientation broken[] = {{{0, 0, 0}, {nan, 1, 0}, 0, 1, 0},    {{0, 0, 0}, {inf, -inf, 0}, 0, 1, 0},
                                       {{0, 0, 0}, {0, 0, -1}, nan, 1, 0},   {{0, 0, 0}, {1, 0, 0}, inf, 1, 0},
                                       {{0, 0, 0}, {1, 0, 0}, -1e30f, 1, 0}, {{0, 0, 0}, {0, -2, 0}, 0, 1, 0}};
        for (const COrientation& b : broken) {
            sample = b;
            s.run(3);
            EXPECT_TRUE(isCameraFrame(s.eye())) << b.View.x << " " << b.Roll;
        }
        // The destination at the eye leaves no look vector: the forward axis stays.
        s.host.setReference(s.iterator, "MovingDestination", s.host.createPlain("at eye", {0, 0, 0}));
        s.run(4);
        EXPECT_TRUE(isCameraFrame(s.eye()));
        EXPECT_TRUE(near(column(s.eye(), 1), {0, -1, 0}, 0));
        // A sample without a finite position or FOV leaves the last good eye.
        float fovBefore = 0, fovAfter = 0;
        const auto good = s.eye(&fovBefore);
        sample = {{nan, 0, 0}, {1, 0, 0}, 0, 1, 0};
        s.run(5);
        sample = {{0, 0, 0}, {1, 0, 0}, 0, inf, 0};
        s.run(6);
        const auto kept = s.eye(&fovAfter);
        EXPECT_EQ(std::memcmp(&good, &kept, sizeof good), 0);
        EXPECT_EQ(fovBefore, fovAfter);
    }
    {  // Broken attributes through the whole module: every tick's eye is a frame; flights end.
        Scene s;
        const Handle w0 = s.waypoint("W0", {0, 0, 0}, 0xFFFFFFFFu, 0);
        const Handle w1 = s.waypoint("W1", {5, 0, 0}, 0, 0, 1.5707963);
        const Handle w2 = s.waypoint("W2", {5, 5, 0}, 1000, 500);
        s.waypoint("W3", {0, 5, 5}, 1000, 0, -2.0);
        s.host.setFloat(w0, "Roll", nan);
        s.host.setFloat(w1, "Roll", inf);
        s.host.setFloat(w1, "FOVFac", 0);
        s.host.setFloat(w2, "FOVFac", -inf);
        s.host.setBool(w1, "EaseIn", true);  // W1's flight of 0, eased
        s.host.setBool(w1, "EaseOut", true);
        std::size_t frames = 0;
        const auto check = [&](ULong, std::size_t, const _CCoordSystem<float>& eye, float fov) {
            frames += isCameraFrame(eye) && std::isfinite(fov);
        };
        // Started at 0, W0's flight spans the whole clock; one tick at its very end passes all
        // segments (the later ends wrap past 2^32, so they are over at once).
        s.host.fly(s.iterator, 0, 0x01000000u, 256, check);
        EXPECT_EQ(frames, 256u);
        s.run(0xFFFFFFFFu);
        EXPECT_EQ(s.it().ActualWayPointIndex, 3u);
        // Started at 10, W0's segment ends at 9: on through W1's zero flight and W2 to the end.
        frames = 0;
        const auto flight = s.host.fly(s.iterator, 10, 10, 1000, check);
        EXPECT_FALSE(flight.hitLimit);
        EXPECT_EQ(flight.lastTime, 1510u);
        EXPECT_EQ(frames, flight.ticks);
    }
}

// Every eye frame and field of view of a whole flight over a fixed scene, hashed with FNV-1a 64:
// a change of the numbers anywhere from the fit to the frame shows here. After an intended
// change, pin the value printed.
TEST(IteratorPlayback, GoldenFlight) {
    Scene s;
    const Handle w0 = s.waypoint("W0", {0, 0, 0}, 800, 300);
    const Handle w1 = s.waypoint("W1", {10, 5, 2}, 1200, 0, 0.5);
    const Handle w2 = s.waypoint("W2", {20, -3, 4}, 600, 250);
    s.other("O");
    s.waypoint("W3", {25, 0, 1}, 1000, 0, 2.5);
    s.host.setBool(w0, "EaseIn", true);
    s.host.setFloat(w1, "Roll", 15);
    s.host.setFloat(w1, "FOVFac", 1.5f);
    s.host.setBool(w1, "EaseOut", true);
    s.host.setBool(w2, "EaseIn", true);
    s.host.setFloat(w2, "Range", 5);
    _CCoordSystem<float> tilted;  // W2 looks down a little
    tilted.Orientation = _CMatrix3<float>::RotationZ(-0.8) * _CMatrix3<float>::RotationX(-0.3);
    tilted.Origin = {20, -3, 4};
    s.host.setObjectPos(w2, tilted);

    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&](const void* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ static_cast<const std::uint8_t*>(data)[i]) * 1099511628211ull;
    };
    const auto flight = s.host.fly(s.iterator, 1000, 37, 1000, [&](ULong, std::size_t, const auto& eye, float fov) {
        EXPECT_TRUE(isCameraFrame(eye));
        mix(&eye, sizeof eye);
        mix(&fov, sizeof fov);
    });
    EXPECT_EQ(flight.ticks, 87u);
    const std::uint64_t kExpected = 0xa235aff95992a82aull;
    if (hash != kExpected) std::printf("golden flight hash: 0x%016llxull\n", static_cast<unsigned long long>(hash));
    EXPECT_EQ(hash, kExpected);
}
