// The iterator's record, and its contract with the game camera and the host's activation.

#include "IteratorScene.h"
#include "host/Streams.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

using namespace iterator_tests;

namespace {

/// A record written by hand in the host's byte form (little-endian words).
struct Bytes {
    std::vector<std::uint8_t> v;
    Bytes& u32(std::uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
        return *this;
    }
    Bytes& raw(const void* p, std::size_t n) {
        v.insert(v.end(), static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + n);
        return *this;
    }
    Bytes& guid(const CGUID& g) { return u32(1).raw(&g.Guid, 16); }
    /// Base record: version 2, second GUID, position (version 1, matrix, origin), container, Mark.
    Bytes& base(const RtsObject& o) { return u32(2).guid(o.SecondGuid).u32(1).raw(&o.ObjectPos, 48).guid({}).u32(0); }
};

/// Serialize from `bytes`; `position` receives the bytes consumed.
int load(RtsObject& object, const Bytes& bytes, std::size_t& position) {
    host::MemoryStream stream(bytes.v);
    const int result = static_cast<ISCO_RtsObject&>(object).Serialize(&stream);
    position = stream.position();
    return result;
}

}  // namespace

TEST(IteratorObject, RecordVersions) {
    Scene s;
    auto& it = s.it();
    // Version 3, byte for byte.
    const Handle relative = s.host.createPlain("relative");
    it.ActualWayPointIndex = 2;
    it.ActualWayPointTime = 0x12345678;
    it.RelativeTo = relative;
    it.MovingDestination = s.camera;
    it.GrabCamera = false;
    it.ObjectPos.Origin = {1.5f, -2, 3};
    Bytes v3;
    v3.u32(3).u32(2).u32(0x12345678).guid(s.path).guid(relative).guid({}).guid(s.camera).raw("", 1).base(it);
    EXPECT_EQ(s.host.save(s.iterator), v3.v);

    // Loading restores the fields; EyeFOV is no part of the record.
    auto& other = *static_cast<SCOCameraSystemIterator*>(s.host.object(s.host.create("SCOCameraSystemIterator", "b")));
    other.EyeFOV = 0.5f;
    std::size_t position = 0;
    EXPECT_EQ(load(other, v3, position), 1);
    EXPECT_EQ(position, v3.v.size());
    EXPECT_TRUE(other.Path == s.path && other.RelativeTo == relative && other.MovingDestination == s.camera);
    EXPECT_EQ(other.ActualWayPointTime, 0x12345678u);
    EXPECT_FALSE(other.GrabCamera);
    EXPECT_EQ(other.ObjectPos.Origin.x, 1.5f);
    EXPECT_EQ(other.EyeFOV, 0.5f);

    // Version 1 carries a 20-byte block after the handles and no GrabCamera; version 2 neither.
    Bytes v1, v2, v1Short;
    v1.u32(1).u32(5).u32(6).guid({}).guid({}).guid({}).guid({});
    v1Short.v.assign(v1.v.begin(), v1.v.end());
    v1.raw("twenty bytes, unread", 20).base(it);
    v1Short.raw("ten bytes.", 10);
    v2.u32(2).u32(7).u32(8).guid({}).guid({}).guid({}).guid({}).base(it);
    for (const bool grab : {true, false}) {
        other.GrabCamera = grab;
        EXPECT_EQ(load(other, v1, position), 1);
        EXPECT_EQ(position, v1.v.size());
        EXPECT_EQ(other.ActualWayPointIndex, 5u);
        EXPECT_EQ(load(other, v2, position), 1);
        EXPECT_EQ(position, v2.v.size());
        EXPECT_EQ(other.ActualWayPointIndex, 7u);
        EXPECT_EQ(other.GrabCamera, grab);
    }
    EXPECT_EQ(load(other, v1Short, position), 0);

    // Version 4 and above: refused after the version record.
    Bytes v4;
    v4.u32(4).u32(9).u32(9);
    EXPECT_EQ(load(other, v4, position), 0);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(other.ActualWayPointIndex, 5u);
}

TEST(IteratorActivation, CameraPathAndObjectsBetweenWaypoints) {
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
    EXPECT_EQ(it.ActualWayPointIndex, 0u);
    EXPECT_EQ(it.ActualWayPointTime, 5000u);
    EXPECT_FALSE(it.ObjectsActivated);
    EXPECT_EQ(s.fake().refits, 1);
    EXPECT_EQ(s.activated(), std::vector<std::string>{"O1"});

    // Leaving W0 activates the gap behind it, once; the end at W1 activates O2 again and O3.
    s.run(5000);  // still at W0
    EXPECT_EQ(s.activated().size(), 1u);
    s.run(5001);
    s.run(5500);
    EXPECT_EQ(s.activated(), (std::vector<std::string>{"O1", "O2"}));
    EXPECT_EQ(s.deactivations(), 0);
    s.run(6000);
    EXPECT_EQ(s.activated(), (std::vector<std::string>{"O1", "O2", "O2", "O3"}));
    EXPECT_EQ(s.deactivations(), 1);

    // The eye: one, the same for any eye number.
    float fov = 0;
    EXPECT_EQ(it.GetEyeCount(), 1u);
    EXPECT_TRUE(near(it.GetEyeCoordSystem(7, fov).Origin, {1, 2, 3}, 0));
    EXPECT_EQ(fov, 0.8f);
    EXPECT_TRUE(it.AquireControl({}, s.camera));

    s.host.deactivate(s.iterator, 7000);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[1].op == host::GameCamera::Op::RemoveMaster && calls[1].master == s.iterator);
    EXPECT_EQ(it.ActualWayPointIndex, 1u);
}

TEST(IteratorActivation, RefusalsAndIncompletePaths) {
    {  // The camera refuses: nothing starts, and Run then touches nothing.
        Scene s(true);
        s.other("O1");
        s.host.camera()->setAccepts(false);
        s.host.activate(s.iterator, 5000);
        s.run(6000);
        EXPECT_EQ(s.it().ActualWayPointIndex, 0xFFFFFFFFu);
        EXPECT_EQ(s.it().ActualWayPointTime, 0u);
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
        EXPECT_EQ(s.host.messages()[0].level, 2);
        EXPECT_EQ(s.host.messages()[0].location, "SCOCameraSystemIterator::GetWayPointNo");
        EXPECT_EQ(s.host.messages()[0].text, "Iterator has no Path");
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
        EXPECT_EQ(s.activated(), (std::vector<std::string>{"O1", "O1", "O2"}));
        EXPECT_EQ(s.deactivations(), 1);
    }
}
