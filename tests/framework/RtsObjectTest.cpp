// The object base: interface discovery and reference counts, calls by slot as an independent
// host makes them, rotating, and the attribute walk.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/RtsObject.h"
#include "tests/support/InProcessHost.h"
#include "tests/support/Slots.h"

namespace {

class RtsObjectTest : public testing_support::InProcessHost {
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
    using testing_support::tableEntry;
    RtsObject* primary = &object;
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, 17))(primary), 1000u);  // HostQuery17
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, testing_support::entryOf(32, 29)))(primary), 10000u);
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
    ASSERT_TRUE(unknown->GetAttributeInfo(0, &a, name, false));
    EXPECT_STREQ(a.Name, "ObjectPos");
    EXPECT_EQ(a.Type, kTypeObjectPos);
    EXPECT_EQ(a.Count, 1u);
    EXPECT_TRUE(a.Flags[0] && a.Flags[1] && a.Flags[2]);
    EXPECT_STREQ(name, "RtsObject");

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
