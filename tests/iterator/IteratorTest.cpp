// The camera iterator flown through the stand-in host: its record, its contract with the game
// camera and the host's activation, segment timing, easing, the camera frame, bad input, and a
// golden hash of a whole flight.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/InProcessModule.h"
#include "host/Streams.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "tests/support/Bytes.h"
#include "tests/support/FakePath.h"
#include "tests/support/Points.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

using namespace testing_support;

/// Reaches the iterator's private playback helpers.
struct IteratorTestAccess {
    static ISCO_CSWayPoint* wayPointNo(SCOCameraSystemIterator& it, int n, bool& last) {
        return it.GetWayPointNo(n, last);
    }
    /// Law 0 none, 1 slow end, 2 slow start, 3 both.
    static float ease(int law, float elapsed, float flight) {
        return SCOCameraSystemIterator::EaseTime(static_cast<SCOCameraSystemIterator::EaseLaw>(law), elapsed, flight);
    }
};

namespace {

/// Camera, path (the module's own, or a FakePath) and iterator; waypoints are added in order.
struct Scene {
    explicit Scene(bool fakePath = false) {
        camera = host.createCamera();
        path = fakePath ? host.add("path", {}, makeFakePath) : host.create("SCOCameraSystemPath", "path");
        iterator = host.create("SCOCameraSystemIterator", "iterator");
        host.setReference(iterator, "Path", path);
    }
    Handle waypoint(const std::string& name, Point3f at, ULong time2Next = 1000, ULong pause = 0, double turn = 0) {
        const Handle w = host.create("SCOCameraSystemWaypoint", name, path);
        _CCoordSystem<float> frame;
        frame.RotateZ(turn);
        frame.Origin = at;
        host.setObjectPos(w, frame);
        host.setULong(w, "Time2Next", time2Next);
        host.setULong(w, "PauseTime", pause);
        return w;
    }
    Handle other(const std::string& name) { return host.createPlain(name, {0, 0, 0}, path); }
    SCOCameraSystemIterator& it() { return *static_cast<SCOCameraSystemIterator*>(host.object(iterator)); }
    FakePath& fake() { return *static_cast<FakePath*>(host.object(path)); }
    void run(ULong time) { it().Run(time); }
    /// The eye the camera would read now.
    _CCoordSystem<float> eye(float* fov = nullptr) {
        float value = 0;
        return it().GetEyeCoordSystem(0, fov ? *fov : value);
    }
    Point3f axis(int c) { return column(eye().Orientation, c); }
    /// Names of the objects whose activation the iterator asked for, in order.
    std::vector<std::string> activated() const {
        std::vector<std::string> names;
        for (const auto& r : host.runtime().requests())
            if (r.kind == host::ActivationKind::Activate) names.push_back(host.nameOf(r.target));
        return names;
    }
    /// Requests of the iterator for its own deactivation.
    int deactivations() const {
        int n = 0;
        for (const auto& r : host.runtime().requests())
            n += r.kind == host::ActivationKind::Deactivate && r.sender == iterator && r.target == iterator;
        return n;
    }

    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle camera, path, iterator;
};

using Names = std::vector<std::string>;

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
    auto head = [](ULong version, ULong index, const CGUID& path, const CGUID& relative, const CGUID& destination) {
        Bytes b;
        b.u32(version).u32(index).u32(0x12345678).guid(path).guid(relative).guid(CGUID()).guid(destination);
        return b;
    };
    auto withBase = [&](Bytes b) { return b.base(it.SecondGuid, kIdentity, 1.5f, -2, 3, CGUID(), 0).data; };
    const ByteVector v3 = withBase(head(3, 2, s.path, relative, s.camera).u8(0));
    EXPECT_EQ(s.host.save(s.iterator), v3);

    // Loaded into another iterator it saves the same record; EyeFOV is no part of it.
    const Handle otherHandle = s.host.create("SCOCameraSystemIterator", "b");
    auto& other = *static_cast<SCOCameraSystemIterator*>(s.host.object(otherHandle));
    std::size_t position = 0;
    auto load = [&](const ByteVector& bytes) {
        host::MemoryStream stream(bytes);
        const int result = static_cast<ISCO_RtsObject&>(other).Serialize(&stream);
        position = stream.position();
        return result;
    };
    other.EyeFOV = 0.5f;
    EXPECT_EQ(load(v3), 1);
    EXPECT_EQ(position, v3.size());
    EXPECT_EQ(s.host.save(otherHandle), v3);
    EXPECT_EQ(other.EyeFOV, 0.5f);

    // Version 1 carries a 20-byte block after the handles and no GrabCamera; version 2 neither.
    const ByteVector v1 = withBase(head(1, 5, {}, {}, {}).raw("twenty bytes, unread", 20));
    const ByteVector v2 = withBase(head(2, 7, {}, {}, {}));
    for (const bool grab : {true, false}) {
        other.GrabCamera = grab;
        for (const auto& [bytes, index] : {std::pair{&v1, 5u}, std::pair{&v2, 7u}}) {
            EXPECT_EQ(load(*bytes), 1);
            EXPECT_TRUE(position == bytes->size() && other.ActualWayPointIndex == index && other.GrabCamera == grab);
        }
    }
    EXPECT_EQ(load(head(1, 5, {}, {}, {}).raw("ten bytes.", 10).data), 0);

    // Version 4 and above: refused after the version record.
    EXPECT_EQ(load(head(4, 9, {}, {}, {}).data), 0);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(other.ActualWayPointIndex, 5u);
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
    EXPECT_TRUE(it.ActualWayPointIndex == 0u && it.ActualWayPointTime == 5000u && !it.ObjectsActivated);
    EXPECT_EQ(s.fake().refits, 1);
    EXPECT_EQ(s.activated(), Names{"O1"});

    // Leaving W0 activates the gap behind it, once; the end at W1 activates O2 again and O3.
    s.run(5000);  // still at W0
    EXPECT_EQ(s.activated().size(), 1u);
    s.run(5001);
    s.run(5500);
    EXPECT_EQ(s.activated(), (Names{"O1", "O2"}));
    EXPECT_EQ(s.deactivations(), 0);
    s.run(6000);
    EXPECT_EQ(s.activated(), (Names{"O1", "O2", "O2", "O3"}));
    EXPECT_EQ(s.deactivations(), 1);

    // The eye: one, the same for any eye number.
    float fov = 0;
    EXPECT_EQ(it.GetEyeCount(), 1u);
    EXPECT_TRUE(near(it.GetEyeCoordSystem(7, fov).Origin, {1, 2, 3}));
    EXPECT_EQ(fov, 0.8f);
    EXPECT_TRUE(it.AquireControl({}, s.camera));

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
        EXPECT_TRUE(s.it().ActualWayPointIndex == 0xFFFFFFFFu && s.it().ActualWayPointTime == 0u);
        EXPECT_EQ(s.fake().refits, 0);
        EXPECT_TRUE(s.host.runtime().requests().empty());
    }
    {  // GrabCamera false: activation and deactivation call nothing at all.
        Scene s(true);
        s.host.setBool(s.iterator, "GrabCamera", false);
        const auto queries = s.host.runtime().counters().queries;
        s.host.activate(s.iterator, 5000);
        s.host.deactivate(s.iterator, 6000);
        EXPECT_EQ(s.host.runtime().counters().queries, queries);
        EXPECT_FALSE(s.it().IsValid());
    }
    {  // No path: the camera is taken; every tick reports once and asks for deactivation.
        Scene s;
        s.host.setReference(s.iterator, "Path", {});
        s.host.activate(s.iterator, 100);
        EXPECT_TRUE(s.it().IsValid());
        s.run(200);
        s.run(300);
        ASSERT_EQ(s.host.messages().size(), 2u);
        const auto& m = s.host.messages()[1];
        EXPECT_TRUE(m.level == 2 && m.location == "SCOCameraSystemIterator::GetWayPointNo" &&
                    m.text == "Iterator has no Path");
        EXPECT_EQ(s.deactivations(), 2);
        EXPECT_TRUE(s.activated().empty());
    }
    {  // A switched-off waypoint right after W0 ends the flight there; GetWayPointNo(1) is W2.
        Scene s(true);
        s.waypoint("W0", {0, 0, 0});
        s.host.setBool(s.waypoint("W1", {1, 0, 0}), "IsOn", false);
        s.other("O");
        auto* w2 = static_cast<SCOCameraSystemWaypoint*>(s.host.object(s.waypoint("W2", {2, 0, 0})));
        s.host.activate(s.iterator, 0);
        s.run(1);
        EXPECT_EQ(s.deactivations(), 1);
        bool last = false;
        EXPECT_EQ(IteratorTestAccess::wayPointNo(s.it(), 1, last), static_cast<ISCO_CSWayPoint*>(w2));
        EXPECT_TRUE(last);
    }
    {  // One switched-on waypoint: the first tick activates the objects before 0 and 1, and ends.
        Scene s(true);
        s.other("O1");
        s.waypoint("W0", {0, 0, 0});
        s.other("O2");
        s.host.activate(s.iterator, 0);
        s.run(10);
        EXPECT_EQ(s.activated(), (Names{"O1", "O1", "O2"}));
        EXPECT_EQ(s.deactivations(), 1);
    }
}

TEST(Iterator, SegmentTimingPausesAndWrap) {
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
    const COrientation half = CInterfacePtr<ISCO_CSPath>(s.path)->CalcPosAtTimeSum(500);
    const struct {
        ULong time;
        Point3f at;
        ULong index;
    } ticks[] = {{a, p0, 0},        {a + 500, p0, 0},  {a + 1000, half.Position, 0},
                 {a + 1500, p1, 0}, {a + 1699, p1, 0}, {a + 1700, p1, 1},
                 {a + 1000, p2, 1}};  // the last before its segment: wraps
    for (const auto& [time, at, index] : ticks) {
        s.run(time);
        EXPECT_TRUE(near(s.eye().Origin, at, 1e-4) && it.ActualWayPointIndex == index) << time - a;
    }
    EXPECT_EQ(it.ActualWayPointTime, a + 1700);
    s.run(a + 3699);
    EXPECT_EQ(s.deactivations(), 0);
    const auto placed = s.eye();
    s.run(a + 3700);  // the end: deactivation asked, the camera not placed
    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == a + 3700);
    EXPECT_EQ(s.deactivations(), 1);
    const auto after = s.eye();
    EXPECT_EQ(std::memcmp(&placed, &after, sizeof after), 0);

    // One far step passes both segments; the start time advances by whole segments.
    s.host.activate(s.iterator, a);
    s.run(a + 900000);
    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == a + 3700);
    // Times compare unsigned as they stand: segment ends that pass 2^32 are over at once.
    s.host.activate(s.iterator, 0xFFFFFF00u);
    s.run(0xFFFFFF00u);
    EXPECT_TRUE(it.ActualWayPointIndex == 2u && it.ActualWayPointTime == 3700u - 0x100u);
}

TEST(Iterator, EasingLawsAndTheirSelection) {
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

TEST(Iterator, CameraFrameAndBadSamples) {
    Scene s(true);
    s.waypoint("W0", {0, 0, 0});
    s.waypoint("W1", {1, 0, 0});
    s.host.activate(s.iterator, 0);
    auto& sample = s.fake().sample;

    // Along (1, 1, 0), rolled by 90 degrees: up turns into -right and right into world up.
    const float r = 0.70710678f;
    sample.View = {3, 3, 0};
    sample.Roll = 1.57079633f;
    s.run(200);
    EXPECT_TRUE(near(s.axis(0), {0, 0, 1}, 1e-6) && near(s.axis(1), {r, r, 0}, 1e-6) &&
                near(s.axis(2), {-r, r, 0}, 1e-6));

    // Straight up leaves the right axis as it was; samples the frame formula has no answer for
    // still give frames.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    sample = {{0, 0, 0}, {0.6f, 0.8f, 0}, 0, 1, 0};
    s.run(300);
    const Point3f right = s.axis(0);
    sample.View = {0, 0, 5};
    s.run(310);
    EXPECT_TRUE(isEyeFrame(s.eye()));
    EXPECT_TRUE(near(s.axis(0), right, 1e-6));
    const COrientation broken[] = {{{0, 0, 0}, {nan, 1, 0}, 0, 1, 0},    {{0, 0, 0}, {inf, -inf, 0}, 0, 1, 0},
                                   {{0, 0, 0}, {0, 0, -1}, nan, 1, 0},   {{0, 0, 0}, {1, 0, 0}, inf, 1, 0},
                                   {{0, 0, 0}, {1, 0, 0}, -1e30f, 1, 0}, {{0, 0, 0}, {0, -2, 0}, 0, 1, 0}};
    for (const COrientation& b : broken) {
        sample = b;
        s.run(320);
        EXPECT_TRUE(isEyeFrame(s.eye())) << b.View.x << " " << b.Roll;
    }

    // A moving destination replaces the view vector; one at the eye leaves the forward axis.
    s.host.setReference(s.iterator, "MovingDestination", s.host.createPlain("target", {1, -5, 3}));
    sample.Position = {1, 2, 3};
    s.run(400);
    EXPECT_TRUE(near(s.axis(1), {0, -1, 0}, 1e-6));
    sample.Position = {1, -5, 3};
    s.run(500);
    EXPECT_TRUE(isEyeFrame(s.eye()));
    EXPECT_TRUE(near(s.axis(1), {0, -1, 0}, 1e-6));

    // A sample without a finite position or FOV leaves the last good eye.
    float fovBefore = 0, fovAfter = 0;
    const auto good = s.eye(&fovBefore);
    sample = {{nan, 0, 0}, {1, 0, 0}, 0, 1, 0};
    s.run(600);
    sample = {{0, 0, 0}, {1, 0, 0}, 0, inf, 0};
    s.run(700);
    const auto kept = s.eye(&fovAfter);
    EXPECT_EQ(std::memcmp(&good, &kept, sizeof good), 0);
    EXPECT_EQ(fovBefore, fovAfter);
}

TEST(Iterator, BrokenAttributesGiveFramesAndFlightsEnd) {
    Scene s;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
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
        frames += isEyeFrame(eye) && std::isfinite(fov);
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
        EXPECT_TRUE(isEyeFrame(eye));
        mix(&eye, sizeof eye);
        mix(&fov, sizeof fov);
    });
    EXPECT_EQ(flight.ticks, 87u);
    const std::uint64_t kExpected = 0xa235aff95992a82aull;
    if (hash != kExpected) std::printf("golden flight hash: 0x%016llxull\n", static_cast<unsigned long long>(hash));
    EXPECT_EQ(hash, kExpected);
}
