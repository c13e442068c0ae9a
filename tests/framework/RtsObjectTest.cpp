// The object base: interface discovery and reference counts, moving and rotating, the attribute
// walk, and calls by slot as an independent host makes them.
#include <gtest/gtest.h>

#include <cmath>

#include "framework/RtsObject.h"
#include "host/Host.h"
#include "host/InProcessModule.h"
#include "tests/support/Slots.h"

namespace {

class RtsObjectTest : public ::testing::Test {
protected:
    host::Host host{&SetIRTS, &GetObjectFactories};
    host::Descriptor* descriptor = host.descriptor(host.createPlain("anchor"));
    PlainRtsObject object{CGUID{}, CGUID{}, descriptor};
    ISCO_Unknown* unknown = UnknownOf(static_cast<RtsObject*>(&object));
};

void expectMatrix(const _CMatrix3<float>& m, std::initializer_list<float> rows, float tolerance) {
    auto it = rows.begin();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j, ++it) EXPECT_NEAR(m.m[i][j], *it, tolerance) << i << "," << j;
}

}  // namespace

TEST_F(RtsObjectTest, QueryInterfaceHandsOutPartsAndCountsReferences) {
    void* p = nullptr;
    EXPECT_TRUE(unknown->QueryInterface(kIdSCOContainer, nullptr));
    EXPECT_EQ(object.RefCount, 0u) << "asking without an out-pointer hands nothing out";
    EXPECT_TRUE(unknown->QueryInterface(kIdSCOContainer, &p));
    EXPECT_EQ(p, static_cast<ISCO_SCOContainer*>(&object));
    EXPECT_EQ(object.RefCount, 1u);
    EXPECT_TRUE(unknown->QueryInterface(kIdRtsObject, &p));
    EXPECT_EQ(p, static_cast<RtsObject*>(&object));
    EXPECT_EQ(object.RefCount, 2u);

    p = &object;
    EXPECT_FALSE(unknown->QueryInterface(kIdBoundingBox, &p));
    EXPECT_EQ(p, nullptr);

    // The container part forwards the three operations to the object's own.
    auto* container = static_cast<ISCO_SCOContainer*>(&object);
    EXPECT_TRUE(container->QueryInterface(kIdRtsObject, &p));
    EXPECT_EQ(p, static_cast<RtsObject*>(&object));
    EXPECT_EQ(object.RefCount, 3u);

    // While the descriptor refuses, nothing is handed out; a bare question is still answered.
    descriptor->setRefusesInterfaces(true);
    p = &object;
    EXPECT_FALSE(unknown->QueryInterface(kIdRtsObject, &p));
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(unknown->QueryInterface(kIdRtsObject, nullptr));
    EXPECT_EQ(object.RefCount, 3u);
    descriptor->setRefusesInterfaces(false);
}

TEST_F(RtsObjectTest, MovingAndRotating) {
    object.MoveBy(1, 2, 3);
    object.MoveBy(-0.5f, 0, 0);
    EXPECT_EQ(object.ObjectPos.Origin.x, 0.5f);
    EXPECT_EQ(object.ObjectPos.Origin.z, 3.0f);

    const _CCoordSystem<float> before = object.ObjectPos;
    object.RotateBy(0, 0, 0);
    EXPECT_EQ(std::memcmp(&before, &object.ObjectPos, sizeof before), 0);

    // 16 steps of pi/32 about z: a quarter turn; the origin stays.
    object.RotateBy(16, 0, 0);
    expectMatrix(object.ObjectPos.Orientation, {0, -1, 0, 1, 0, 0, 0, 0, 1}, 1e-6f);
    EXPECT_EQ(object.ObjectPos.Origin.x, 0.5f);

    // Then b about the object's x axis (applied from the right): the quarter turn about x.
    object.RotateBy(0, 16, 0);
    expectMatrix(object.ObjectPos.Orientation, {0, 0, 1, 1, 0, 0, 0, 1, 0}, 1e-6f);

    const auto z = _CMatrix3<float>::RotationZ(3.141592653589793 / 2);
    EXPECT_EQ(z.m[0][1], -1.0f);
    EXPECT_EQ(z.m[1][0], 1.0f);
    EXPECT_NE(z.m[0][0], 0.0f) << "cos(pi/2) stays a tiny non-zero float";
    EXPECT_LT(std::fabs(z.m[0][0]), 1e-7f);
    _CCoordSystem<float> cs;
    cs.RotateZ(0.3);
    const auto r = _CMatrix3<float>::RotationZ(0.3);
    EXPECT_EQ(std::memcmp(&cs.Orientation, &r, sizeof r), 0);
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
    EXPECT_EQ(buffer[2], 6.0f);
    EXPECT_EQ(buffer[4], 0.25f);
    const _CCoordSystem<float> before = object.ObjectPos;
    ASSERT_TRUE(a.Set(&object, buffer));
    EXPECT_EQ(std::memcmp(&before, &object.ObjectPos, sizeof before), 0);

    // CopyAttributesTo a handle that names nothing answers false.
    EXPECT_FALSE(object.CopyAttributesTo(Handle()));
}

TEST_F(RtsObjectTest, CallsBySlotReachTheNamedOperations) {
    using testing_support::entryOf;
    using testing_support::tableEntry;
    RtsObject* primary = &object;
    object.Mark.Value = 5;
    EXPECT_EQ((tableEntry<int (*)(RtsObject*)>(primary, 26))(primary), 5);                      // GetMark
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, entryOf(32, 29)))(primary), 10000u);  // HostQuery32
    EXPECT_EQ((tableEntry<ULong (*)(RtsObject*)>(primary, 17))(primary), 1000u);                // HostQuery17
    EXPECT_FALSE((tableEntry<bool (*)(const RtsObject*)>(primary, 13))(primary) == false);      // IsPosValid
    auto* container = static_cast<ISCO_SCOContainer*>(&object);
    EXPECT_TRUE((tableEntry<bool (*)(ISCO_SCOContainer*, Handle)>(container, 19))(container, Handle()));
    EXPECT_EQ((tableEntry<ChildPos (*)(ISCO_SCOContainer*)>(container, 3))(container), 0u);  // no children
}
