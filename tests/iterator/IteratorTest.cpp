// The camera iterator flown through the stand-in host: its record, its contract with the game
// camera and the host's activation, segment timing, easing, the camera frame, bad input, and a
// golden hash of a whole flight.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "host/Host.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "module/InProcessModule.h"
#include "tests/support/Bytes.h"
#include "tests/support/FakePath.h"
#include "tests/support/Points.h"
#include "tests/support/Records.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

using namespace testing_support;

/// Reaches the iterator's private playback helpers.
struct IteratorTestAccess {
    static ISCO_CSWayPoint* wayPointNo(SCOCameraSystemIterator& it, int n, bool& last) {
        return it.GetWayPointNo(n, last);
    }
};

namespace {

using Names = std::vector<std::string>;
const float kNan = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

/// Camera, path (the module's own, or a FakePath) and iterator; waypoints are added in order.
struct Scene {
    explicit Scene(bool fakePath = false)
        : path(fakePath ? host.add("path", {}, makeFakePath) : host.create("SCOCameraSystemPath", "path")) {
        host.setReference(iterator, "Path", path);
    }
    Handle waypoint(const std::string& name, Point3f at, ULong time2Next = 1000, ULong pause = 0, double turn = 0) {
        const Handle w = host.create("SCOCameraSystemWaypoint", name, path);
        host.object(w)->ObjectPos.RotateZ(turn);
        host.object(w)->ObjectPos.Origin = at;
        host.setULong(w, "Time2Next", time2Next);
        host.setULong(w, "PauseTime", pause);
        return w;
    }
    Handle other(const std::string& name) { return host.createPlain(name, {0, 0, 0}, path); }
    SCOCameraSystemIterator& it() { return *static_cast<SCOCameraSystemIterator*>(host.object(iterator)); }
    FakePath& fake() { return *static_cast<FakePath*>(host.object(path)); }
    void run(ULong time) { it().Run(time); }
    /// The eye the camera would read now, and its field of view.
    _CCoordSystem<float> eye(float& fov) { return it().GetEyeCoordSystem(0, fov); }
    _CCoordSystem<float> eye(float&& fov = 0) { return eye(fov); }
    Point3f axis(int c) { return column(eye().Orientation, c); }
    /// The activation requests so far, in order: the name of each object to activate, and
    /// "-name" for each deactivation.
    Names requests() const {
        Names names;
        for (const auto& r : host.runtime().requests())
            names.push_back((r.kind == host::ActivationKind::Activate ? "" : "-") + host.nameOf(r.target));
        return names;
    }

    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle camera = host.createCamera(), path, iterator = host.create("SCOCameraSystemIterator", "iterator");
};

}  // namespace

TEST(Iterator, RecordVersions) {
    Scene s;
    auto& it = s.it();
    const Handle relative = s.host.createPlain("relative");
    it.ActualWayPointIndex = 2;
    it.ActualWayPointTime = 0x12345678;
    it.RelativeTo = relative;
    it.MovingDestination = s.camera;
    it.GrabCamera = false;
    it.ObjectPos.Origin = {1.5f, -2, 3};
    // Version, index, time, Path, RelativeTo, RelativeTo2, MovingDestination, then per version
    // 20 unread bytes (1) or GrabCamera (3), then the base record.
    auto head = [](ULong version, ULong index, const CGUID& path = {}, const CGUID& rel = {}, const CGUID& to = {}) {
        Bytes b;
        b.u32(version).u32(index).u32(0x12345678).guid(path).guid(rel).guid(CGUID()).guid(to);
        return b;
    };
    auto withBase = [&](Bytes b) { return b.base(it.SecondGuid, kIdentity, 1.5f, -2, 3, CGUID(), 0).data; };
    const ByteVector v3 = withBase(head(3, 2, s.path, relative, s.camera).u8(0));
    EXPECT_EQ(s.host.save(s.iterator), v3);

    // Loaded into another iterator it saves the same record; EyeFOV is no part of it.
    const Handle otherHandle = s.host.create("SCOCameraSystemIterator", "b");
    auto& other = *static_cast<SCOCameraSystemIterator*>(s.host.object(otherHandle));
    std::size_t read = 0;
    auto load = [&](const ByteVector& bytes) { return loadRecord(static_cast<ISCO_RtsObject&>(other), bytes, &read); };
    other.EyeFOV = 0.5f;
    EXPECT_TRUE(load(v3) == 1 && read == v3.size() && other.EyeFOV == 0.5f);
    EXPECT_EQ(s.host.save(otherHandle), v3);

    // Version 1 carries a 20-byte block after the handles and no GrabCamera; version 2 neither.
    const ByteVector v1 = withBase(head(1, 5).raw("twenty bytes, unread", 20)), v2 = withBase(head(2, 7));
    for (const bool grab : {true, false}) {
        other.GrabCamera = grab;
        for (const auto& [bytes, index] : {std::pair{&v1, 5u}, std::pair{&v2, 7u}})
            EXPECT_TRUE(load(*bytes) == 1 && read == bytes->size() && other.ActualWayPointIndex == index &&
                        other.GrabCamera == grab);
    }
    EXPECT_EQ(load(head(1, 5).raw("ten bytes.", 10).data), 0);
    // Version 4 and above: refused after the version record.
    EXPECT_TRUE(load(head(4, 9).data) == 0 && read == 4u && other.ActualWayPointIndex == 5u);
}

TEST(Iterator, ActivationOfCameraPathAndObjectsBetweenWaypoints) {
    Scene s(true);
    s.other("O1");
    s.waypoint("W0", {0, 0, 0});
    s.other("O2");
    s.waypoint("W1", {5, 0, 0});
    s.other("O3");
    auto& it = s.it();
    const auto& calls = s.host.camera()->calls();

    s.host.activate(s.iterator, 5000);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].op == host::GameCamera::Op::SetMaster && calls[0].master == s.iterator);
    EXPECT_TRUE(it.ActualWayPointIndex == 0u && it.ActualWayPointTime == 5000u && !it.ObjectsActivated &&
                s.fake().refits == 1);

    // Activation activates O1; leaving W0 activates the gap behind it, once; the end at W1
    // activates O2 again and O3.
    s.run(5000);  // still at W0
    EXPECT_EQ(s.requests(), Names{"O1"});
    s.run(5001);
    s.run(5500);
    EXPECT_EQ(s.requests(), (Names{"O1", "O2"}));
    s.run(6000);
    EXPECT_EQ(s.requests(), (Names{"O1", "O2", "O2", "O3", "-iterator"}));

    // The eye: one, the same for any eye number.
    float fov = 0;
    EXPECT_TRUE(it.GetEyeCount() == 1u && near(it.GetEyeCoordSystem(7, fov).Origin, {1, 2, 3}) && fov == 0.8f);
    EXPECT_TRUE(it.AquireControl({}, s.camera)) << "the camera is taken whenever asked";

    s.host.deactivate(s.iterator, 7000);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[1].op == host::GameCamera::Op::RemoveMaster && calls[1].master == s.iterator);
    EXPECT_EQ(it.ActualWayPointIndex, 1u);
}

TEST(Iterator, RefusalsAndIncompletePaths) {
    {  // The camera refuses: nothing starts, and Run then touches nothing.
        Scene s(true);
        s.other("O1");
        s.host.camera()->setAccepts(false);
        s.host.activate(s.iterator, 5000);
        s.run(6000);
        EXPECT_TRUE(!s.it().IsValid() && s.it().ActualWayPointTime == 0u && s.fake().refits == 0 &&
                    s.requests().empty());
    }
    {  // GrabCamera false: activation and deactivation call nothing at all.
        Scene s(true);
        s.host.setBool(s.iterator, "GrabCamera", false);
        const auto queries = s.host.runtime().counters().queries;
        s.host.activate(s.iterator, 5000);
        s.host.deactivate(s.iterator, 6000);
        EXPECT_TRUE(s.host.runtime().counters().queries == queries && !s.it().IsValid());
    }
    {  // No path: the camera is taken; every tick reports once and asks for deactivation.
        Scene s;
        s.host.setReference(s.iterator, "Path", {});
        s.host.activate(s.iterator, 100);
        EXPECT_TRUE(s.it().IsValid());
        s.run(200);
        s.run(300);
        const auto& m = s.host.messages();
        EXPECT_TRUE(m.size() == 2u && m[1].level == 2 && m[1].location == "SCOCameraSystemIterator::GetWayPointNo" &&
                    m[1].text == "Iterator has no Path");
        EXPECT_EQ(s.requests(), (Names{"-iterator", "-iterator"}));
    }
    {  // A switched-off waypoint right after W0 ends the flight there: the first tick activates the
       // objects before W0 again and those behind it, and ends. GetWayPointNo(1) is W2 all the same.
        Scene s(true);
        s.other("O1");
        s.waypoint("W0", {0, 0, 0});
        s.host.setBool(s.waypoint("W1", {1, 0, 0}), "IsOn", false);
        s.other("O");
        auto* w2 = static_cast<SCOCameraSystemWaypoint*>(s.host.object(s.waypoint("W2", {2, 0, 0})));
        s.host.activate(s.iterator, 0);
        s.run(1);
        EXPECT_EQ(s.requests(), (Names{"O1", "O1", "O", "-iterator"}));
        bool last = false;
        EXPECT_TRUE(IteratorTestAccess::wayPointNo(s.it(), 1, last) == static_cast<ISCO_CSWayPoint*>(w2) && last);
    }
}

TEST(Iterator, SegmentTimingPausesAndWrap) {
    // W0 (flight 1000, pause 500), W1 (2000, 200), W2: segment 0 lasts 500 + 1000 + 200, segment
    // 1 lasts 2000. Oracle for the flown position: the path's own evaluation by time.
    Scene s;
    const Point3f p0{0, 0, 0}, p1{10, 0, 0}, p2{10, 10, 0};
    s.waypoint("W0", p0, 1000, 500);
    s.waypoint("W1", p1, 2000, 200);
    s.waypoint("W2", p2);
    auto& it = s.it();
    const ULong a = 50000;
    s.host.activate(s.iterator, a);
    const Point3f half = CInterfacePtr<ISCO_CSPath>(s.path)->CalcPosAtTimeSum(500).Position;
    // Time, eye, index; the last one earlier than its segment's start wraps to its end.
    const std::tuple<ULong, Point3f, ULong> ticks[] = {{a, p0, 0},        {a + 500, p0, 0},  {a + 1000, half, 0},
                                                       {a + 1500, p1, 0}, {a + 1699, p1, 0}, {a + 1700, p1, 1},
                                                       {a + 1000, p2, 1}};
    for (const auto& [time, at, index] : ticks) {
        s.run(time);
        EXPECT_TRUE(near(s.eye().Origin, at, 1e-4) && it.ActualWayPointIndex == index) << time - a;
    }
    EXPECT_EQ(it.ActualWayPointTime, a + 1700);
    s.run(a + 3699);
    const auto placed = s.eye();
    s.run(a + 3700);  // the end: deactivation asked, the camera not placed
    const auto after = s.eye();
    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == a + 3700);
    EXPECT_TRUE(s.requests() == Names{"-iterator"} && !std::memcmp(&placed, &after, sizeof after));

    // One far step passes both segments; the start time advances by whole segments.
    s.host.activate(s.iterator, a);
    s.run(a + 900000);
    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == a + 3700);
}

TEST(Iterator, CutEndsItsSegmentAtTheTickThatReachesIt) {
    // W1's Time2Next of 0 is a cut: its segment lasts T(1) + P(2) = P(2) and starts where
    // segment 0 ends, 1000 after the activation. Without a pause on W2 the Run that ends segment
    // 0 passes the cut too and places the eye on W2; a pause on W2 is held at W1, before the cut.
    // Ticks every 100 land on the segment's end, ticks every 300 pass it.
    for (const ULong pause : {0u, 300u})
        for (const ULong step : {100u, 300u}) {
            Scene s;
            s.waypoint("W0", {0, 0, 0}, 1000);
            s.waypoint("W1", {10, 0, 0}, 0);
            s.waypoint("W2", {100, 0, 0}, 1000, pause);
            s.waypoint("W3", {110, 0, 0});
            auto& it = s.it();
            const ULong a = 7000, cutEnd = 1000 + pause;
            s.host.activate(s.iterator, a);
            for (ULong t = 0; t <= cutEnd + 600; t += step) {
                s.run(a + t);
                const float x = s.eye().Origin.x;
                const std::string at = "pause " + std::to_string(pause) + ", tick " + std::to_string(t);
                if (t < 1000) {
                    EXPECT_TRUE(it.ActualWayPointIndex == 0u && x < 10) << at;
                } else if (t < cutEnd) {
                    EXPECT_TRUE(it.ActualWayPointIndex == 1u && it.ActualWayPointTime == a + 1000) << at;
                    EXPECT_NEAR(x, 10, 1e-4) << at;
                } else {
                    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == a + cutEnd) << at;
                    // On W2 at the tick that passes the cut, then on W2's segment.
                    EXPECT_TRUE(t == cutEnd ? std::fabs(x - 100) < 1e-4f : x > 100 && x < 110) << at << ": " << x;
                }
            }
        }
}

TEST(Iterator, EasingLawsAndTheirSelection) {
    // Evenly spaced waypoints in a line with equal flight times put the eye linearly on the eased
    // time, so at u = 1/4 it stands at 10 * f(1/4): none 0.25, slow end 0.296875, slow start
    // 0.109375, both 0.15625. Flags: W0's EaseIn, W0's EaseOut, W1's EaseIn.
    const std::tuple<bool, bool, bool, float> cases[] = {
        {false, false, false, 0.25f},    {false, true, false, 0.25f},    {true, false, false, 0.296875f},
        {false, false, true, 0.296875f}, {true, false, true, 0.296875f}, {true, true, false, 0.109375f},
        {false, true, true, 0.15625f},   {true, true, true, 0.15625f}};
    for (const auto& [inHere, outHere, inNext, f] : cases) {
        Scene s;
        const Handle w0 = s.waypoint("W0", {0, 0, 0}), w1 = s.waypoint("W1", {10, 0, 0});
        s.waypoint("W2", {20, 0, 0});
        s.host.setBool(w0, "EaseIn", inHere);
        s.host.setBool(w0, "EaseOut", outHere);
        s.host.setBool(w1, "EaseIn", inNext);
        s.host.setBool(w1, "EaseOut", !outHere);  // never read
        s.host.activate(s.iterator, 0);
        s.run(250);
        EXPECT_NEAR(s.eye().Origin.x, 10 * f, 1e-3) << inHere << outHere << inNext;
    }
}

TEST(Iterator, CameraFrameAndBadSamples) {
    Scene s(true);
    s.waypoint("W0", {0, 0, 0});
    s.waypoint("W1", {1, 0, 0});
    s.host.activate(s.iterator, 0);
    auto& sample = s.fake().sample;

    // Along (1, 1, 0), rolled by 90 degrees: up turns into -right and right into world up.
    const float r = 0.70710678f;
    sample = {{1, 2, 3}, {3, 3, 0}, 1.57079633f, 0.8f, 0};
    s.run(200);
    EXPECT_TRUE(near(s.axis(0), {0, 0, 1}, 1e-6) && near(s.axis(1), {r, r, 0}, 1e-6) &&
                near(s.axis(2), {-r, r, 0}, 1e-6));

    // Samples the frame formula has no answer for (straight up, non-finite) still give frames;
    // one without a finite position or FOV leaves the last good eye.
    const COrientation broken[] = {
        {{0, 0, 0}, {0, 0, 5}, 0, 1, 0},     {{0, 0, 0}, {kNan, 1, 0}, 0, 1, 0}, {{0, 0, 0}, {kInf, -kInf, 0}, 0, 1, 0},
        {{0, 0, 0}, {0, 0, -1}, kNan, 1, 0}, {{0, 0, 0}, {1, 0, 0}, kInf, 1, 0}, {{0, 0, 0}, {1, 0, 0}, -1e30f, 1, 0},
        {{0, 0, 0}, {0, -2, 0}, 0, 1, 0},    {{kNan, 0, 0}, {1, 0, 0}, 0, 1, 0}, {{0, 0, 0}, {1, 0, 0}, 0, kInf, 0}};
    for (const COrientation& b : broken) {
        float fov0 = 0, fov1 = 0;
        const auto before = s.eye(fov0);
        sample = b;
        s.run(320);
        const auto now = s.eye(fov1);
        EXPECT_TRUE(isEyeFrame(now)) << b.View.x << " " << b.View.z << " " << b.Roll;
        // A sample without a finite position or FOV leaves the eye as it was.
        EXPECT_TRUE(std::isfinite(b.Position.x + b.FOV) || (!std::memcmp(&before, &now, sizeof now) && fov1 == fov0));
    }

    // A moving destination replaces the view vector; one at the eye still gives a frame.
    s.host.setReference(s.iterator, "MovingDestination", s.host.createPlain("target", {1, -5, 3}));
    sample.Position = {1, 2, 3};
    s.run(400);
    EXPECT_TRUE(near(s.axis(1), {0, -1, 0}, 1e-6));
    sample.Position = {1, -5, 3};
    s.run(500);
    EXPECT_TRUE(isEyeFrame(s.eye()));
}

TEST(Iterator, BrokenAttributesGiveFramesAndFlightsEnd) {
    Scene s;
    const Handle w0 = s.waypoint("W0", {0, 0, 0}, 0xFFFFFFFFu, 0);
    const Handle w1 = s.waypoint("W1", {5, 0, 0}, 0, 0, 1.5707963);
    const Handle w2 = s.waypoint("W2", {5, 5, 0}, 1000, 500);
    s.waypoint("W3", {0, 5, 5}, 1000, 0, -2.0);
    s.host.setFloat(w0, "Roll", kNan);
    s.host.setFloat(w1, "Roll", kInf);
    s.host.setFloat(w1, "FOVFac", 0);
    s.host.setFloat(w2, "FOVFac", -kInf);
    s.host.setBool(w1, "EaseIn", true);  // W1's flight of 0, eased
    s.host.setBool(w1, "EaseOut", true);
    std::size_t frames = 0;
    auto check = [&](ULong, std::size_t, const auto& eye, float f) { frames += isEyeFrame(eye) && std::isfinite(f); };
    // Started at 0, W0's flight spans the whole clock; one tick at its very end passes all
    // segments (the later ends wrap past 2^32, so they are over at once).
    s.host.fly(s.iterator, 0, 0x01000000u, 256, check);
    EXPECT_EQ(frames, 256u);
    s.run(0xFFFFFFFFu);
    // The start time advances by whole segments (2^32 - 1 + 500 + 1000), wrapping too.
    EXPECT_TRUE(s.it().ActualWayPointIndex == 3u && s.it().ActualWayPointTime == 1499u);
    // Started at 10, W0's segment ends at 9: on through W1's zero flight and W2 to the end.
    frames = 0;
    const auto flight = s.host.fly(s.iterator, 10, 10, 1000, check);
    EXPECT_TRUE(!flight.hitLimit && flight.lastTime == 1510u && frames == flight.ticks);
}

// Every eye frame and field of view of a whole flight over a fixed scene, hashed with FNV-1a 64:
// a change of the numbers anywhere from the fit to the frame shows here. After an intended
// change, pin the value printed.
TEST(Iterator, GoldenFlight) {
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
    // W2 looks down a little.
    s.host.object(w2)->ObjectPos.Orientation = _CMatrix3<float>::RotationZ(-0.8) * _CMatrix3<float>::RotationX(-0.3);

    std::uint64_t hash = 14695981039346656037ull;
    s.host.fly(s.iterator, 1000, 37, 1000, [&](ULong, std::size_t, const auto& eye, float fov) {
        const ByteVector bytes = Bytes().raw(&eye, sizeof eye).f32(fov);
        for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    });
    EXPECT_EQ(hash, 0xa235aff95992a82aull) << "golden flight hash: 0x" << std::hex << hash;
}
