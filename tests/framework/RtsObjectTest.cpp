// The object base and the value types: their persisted records byte for byte and their
// behaviour on short or failing streams; interface discovery and reference counts, calls by slot
// as an independent host makes them, rotating, and the attribute walk.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/CVar.h"
#include "framework/RtsObject.h"
#include "tests/support/Bytes.h"
#include "tests/support/InProcessHost.h"
#include "tests/support/Records.h"
#include "tests/support/Slots.h"

using namespace testing_support;

namespace {

const _GUID kSample{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};

using Records = InProcessHost;

class RtsObjectTest : public InProcessHost {
protected:
    host::Descriptor* descriptor = host.descriptor(host.createPlain("anchor"));
    PlainRtsObject object{CGUID{}, CGUID{}, descriptor};
    ISCO_Unknown* unknown = UnknownOf(static_cast<RtsObject*>(&object));
};

void expectMatrix(const _CMatrix3<float>& m, std::initializer_list<float> rows) {
    auto it = rows.begin();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j, ++it) EXPECT_NEAR(m.m[i][j], *it, 1e-6f) << i << "," << j;
}

}  // namespace

TEST_F(Records, ValueTypeRecords) {
    // CVar: the value's bytes (a float's are checked with the streams).
    CVar<std::uint32_t> u;
    EXPECT_EQ(loadRecord(u, {0xEF, 0xBE, 0xAD, 0xDE}), 1);
    EXPECT_EQ(u.Value, 0xDEADBEEFu);
    EXPECT_EQ(loadRecord(u, {1, 2, 3}), 0);
    EXPECT_EQ(u.Value, 0xDEADBEEFu) << "a short record leaves the value";

    // CGUID: the long 1, then the 16 GUID bytes; a wrong marker or a cut record reads nothing.
    CGUID guid(kSample);
    const ByteVector guidRecord = Bytes().guid(kSample);
    EXPECT_EQ(saveRecord(guid), guidRecord);
    CGUID loaded;
    EXPECT_EQ(loadRecord(loaded, guidRecord), 1);
    EXPECT_TRUE(loaded == guid);
    ByteVector badMarker = guidRecord;
    badMarker[0] = 2;
    for (const ByteVector& bad : {badMarker, ByteVector(guidRecord.begin(), guidRecord.end() - 1)}) {
        CGUID untouched;
        EXPECT_EQ(loadRecord(untouched, bad), 0);
        EXPECT_TRUE(untouched.IsNull());
    }

    // CPosition: version 1, x, y, z; a stored version other than 1 still loads.
    CPosition position(_Point3<float>{1.5f, -2.0f, 3.25f});
    ByteVector pos = Bytes().point(1.5f, -2.0f, 3.25f);
    EXPECT_EQ(saveRecord(position), pos);
    pos[0] = 9;
    CPosition back;
    EXPECT_EQ(loadRecord(back, pos), 1);
    EXPECT_EQ(back.y, -2.0f);

    // CObjectPos: version 1, the nine matrix floats row by row, then the origin.
    CObjectPos frame;
    float m[3][3];
    for (int i = 0; i < 9; ++i) frame.Orientation.m[i / 3][i % 3] = m[i / 3][i % 3] = float(i + 1);
    frame.Origin = {10, 11, 12};
    EXPECT_EQ(saveRecord(frame), Bytes().frame(m, 10, 11, 12).data);
}

TEST_F(Records, NullHandlesResolveToNothing) {
    // (That the runtime is not asked: the waypoint's aim without a target.)
    EXPECT_FALSE(Handle(_GUID{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}}).IsNull()) << "every byte counts";
    void* out = &out;
    EXPECT_FALSE(Handle().GetInterface(kIdRtsObject, &out));
    EXPECT_EQ(out, nullptr);
}

TEST_F(Records, BaseRecordVersionTwoEndsWithMarkAndVersionOneHasNone) {
    PlainRtsObject object{CGUID{kSample}, CGUID{kSample}, host.descriptor(host.createPlain("anchor"))};
    object.ObjectPos.Origin = {1, 2, 3};
    object.Container = Handle(kSample);
    object.Mark.Value = 1;
    const ByteVector record = saveRecord(object);
    ASSERT_EQ(record, Bytes().base(CGUID{kSample}, kIdentity, 1, 2, 3, CGUID{kSample}, 1).data);

    // A version-1 record: the same without Mark; Mark keeps its value.
    ByteVector versionOne(record.begin(), record.end() - 4);
    versionOne[0] = 1;
    PlainRtsObject reader(CGUID{}, CGUID{}, object.Descriptor);
    reader.Mark.Value = 0;
    EXPECT_EQ(loadRecord(reader, versionOne), 1);
    EXPECT_EQ(saveRecord(reader), Bytes().base(CGUID{kSample}, kIdentity, 1, 2, 3, CGUID{kSample}, 0).data);

    // Saving to a stream that fails after N bytes fails at every step. (Loading every truncation
    // is checked with the waypoint's record, which ends with this one.)
    for (std::size_t n = 0; n < record.size(); ++n) {
        host::MemoryStream failing;
        failing.failAfter(n);
        EXPECT_EQ(object.Serialize(&failing), 0) << "saving, failing after " << n;
    }
}

TEST_F(Records, FactoryRecordsAndVersionChecks) {
    RtsObjectFactory* path = host.factories()[0].factory;
    RtsObjectFactory* waypoint = host.factories()[2].factory;
    EXPECT_EQ(saveRecord(*path), (ByteVector{3, 0, 0, 0})) << "a factory record is the 4-byte version";
    EXPECT_EQ(saveRecord(*waypoint), (ByteVector{1, 0, 0, 0}));
    const std::tuple<RtsObjectFactory*, int, int> checks[] = {
        {path, 3, 1}, {path, 2, 0}, {path, 4, 0}, {waypoint, 1, 1}, {waypoint, 3, 0}};
    for (auto [factory, version, accepted] : checks)
        EXPECT_EQ(loadRecord(*factory, Bytes().u32(version)), accepted) << version;
    EXPECT_EQ(loadRecord(*path, {3, 0}), 0);

    // The base factory: version 2, then AngleStep and SecondStep; the stored version is not compared.
    RtsObjectFactory base;
    EXPECT_STREQ(base.GetSCOGroup(0), "*");
    ByteVector expected = Bytes().u32(2).f32(static_cast<float>(3.141592653589793 / 32)).f32(16.0f);
    EXPECT_EQ(saveRecord(base), expected);
    expected[0] = 5;
    EXPECT_EQ(loadRecord(base, expected), 1);
    EXPECT_EQ(loadRecord(base, ByteVector(expected.begin(), expected.end() - 1)), 0);
}

TEST_F(RtsObjectTest, QueryInterfaceCountsReferencesAndHostQueriesAnswerByPosition) {
    void* p = nullptr;
    EXPECT_TRUE(unknown->QueryInterface(kIdSCOContainer, nullptr));
    EXPECT_EQ(object.RefCount, 0u) << "asking without an out-pointer hands nothing out";
    EXPECT_TRUE(unknown->QueryInterface(kIdSCOContainer, &p));
    EXPECT_EQ(p, static_cast<ISCO_SCOContainer*>(&object));
    EXPECT_EQ(object.RefCount, 1u);
    p = &object;
    EXPECT_FALSE(unknown->QueryInterface(kIdBoundingBox, &p));
    EXPECT_EQ(p, nullptr);

    // The container part forwards to the object's own QueryInterface.
    auto* container = static_cast<ISCO_SCOContainer*>(&object);
    EXPECT_TRUE(container->QueryInterface(kIdRtsObject, &p));
    EXPECT_EQ(p, static_cast<RtsObject*>(&object));
    EXPECT_EQ(object.RefCount, 2u);

    // While the descriptor refuses, nothing is handed out; a bare question is still answered.
    descriptor->setRefusesInterfaces(true);
    p = &object;
    EXPECT_FALSE(unknown->QueryInterface(kIdRtsObject, &p));
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(unknown->QueryInterface(kIdRtsObject, nullptr));
    EXPECT_EQ(object.RefCount, 2u);
    descriptor->setRefusesInterfaces(false);

    // Host queries answer by position, as the host calls them.
    RtsObject* primary = &object;
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, 17))(primary), 1000u);  // HostQuery17
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, entryOf(32, 29)))(primary), 10000u);
}

TEST_F(RtsObjectTest, MovingAndRotating) {
    object.MoveBy(1, 2, 3);
    object.MoveBy(-0.5f, 0, 0);
    const _CCoordSystem<float> before = object.ObjectPos;
    object.RotateBy(0, 0, 0);
    EXPECT_EQ(std::memcmp(&before, &object.ObjectPos, sizeof before), 0);
    // 16 steps of pi/32 about z: a quarter turn; the origin stays.
    object.RotateBy(16, 0, 0);
    expectMatrix(object.ObjectPos.Orientation, {0, -1, 0, 1, 0, 0, 0, 0, 1});
    EXPECT_EQ(object.ObjectPos.Origin.x, 0.5f);
    EXPECT_EQ(object.ObjectPos.Origin.z, 3.0f);
    // Then b about the object's x axis (applied from the right): the quarter turn about x.
    object.RotateBy(0, 16, 0);
    expectMatrix(object.ObjectPos.Orientation, {0, 0, 1, 1, 0, 0, 0, 1, 0});
}

TEST_F(RtsObjectTest, AttributeWalkOfTheBase) {
    Attribute a{};
    char name[32] = "x";
    // The record itself, ObjectPos of RtsObject, is checked at the end of the waypoint's table.
    ASSERT_TRUE(unknown->GetAttributeInfo(0, &a, name, false));

    Attribute untouched = a;
    EXPECT_FALSE(unknown->GetAttributeInfo(1, &untouched, name, false));
    EXPECT_STREQ(untouched.Name, "ObjectPos") << "without parents the record is left as it was";
    EXPECT_FALSE(unknown->GetAttributeInfo(1, &a, name, true));
    const Attribute zero{};
    EXPECT_EQ(std::memcmp(&a, &zero, sizeof a), 0);
    EXPECT_STREQ(name, "");
    EXPECT_FALSE(object.GetParentAttr(0, &a, name));

    // GetPos puts the origin first; SetPos with the same buffer changes nothing.
    object.ObjectPos.Origin = {4, 5, 6};
    object.ObjectPos.Orientation.m[0][1] = 0.25f;
    float buffer[12];
    ASSERT_TRUE(unknown->GetAttributeInfo(0, &a, nullptr, false));
    ASSERT_TRUE(a.Get(&object, buffer));
    EXPECT_EQ(buffer[0], 4.0f);
    EXPECT_EQ(buffer[4], 0.25f);
    const _CCoordSystem<float> before = object.ObjectPos;
    ASSERT_TRUE(a.Set(&object, buffer));
    EXPECT_EQ(std::memcmp(&before, &object.ObjectPos, sizeof before), 0);
    EXPECT_FALSE(object.CopyAttributesTo(Handle())) << "a handle that names nothing";
}
