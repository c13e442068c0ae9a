// The waypoint as an object: attributes, interfaces, parameters, the segment curve, and every
// slot where a host built from the slot tables calls it.
#include <climits>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "WaypointFixture.h"
#include "tests/support/Slots.h"

using testing_support::entryOf;
using testing_support::tableEntry;

namespace {

/// Calls entry `entry` of the table of `part` as a host would: the part is the first argument.
template <class R, class... A>
R callEntry(void* part, long entry, A... args) {
    return tableEntry<R (*)(void*, A...)>(part, entry)(part, args...);
}

/// A record whose channel i holds `base` + i.
COrientation channels(float base) {
    COrientation r{};
    for (int i = 0; i < 9; ++i) r[i] = base + static_cast<float>(i);
    return r;
}

}  // namespace

TEST_F(WaypointTest, DefaultsAttributeTableAndInterfaces) {
    const Handle name = host.create("SCOCameraSystemWaypoint", "wp");
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(name));

    EXPECT_EQ(host.getFloat(name, "Range"), 1.0f);
    EXPECT_EQ(host.getFloat(name, "Roll"), 0.0f);
    EXPECT_EQ(host.getFloat(name, "FOVFac"), 1.0f);
    EXPECT_EQ(host.getULong(name, "Time2Next"), 1000u);
    EXPECT_EQ(host.getBool(name, "EaseIn"), false);
    EXPECT_EQ(host.getBool(name, "EaseOut"), false);
    EXPECT_EQ(host.getBool(name, "IsOn"), true);
    EXPECT_EQ(host.getULong(name, "PauseTime"), 0u);
    EXPECT_TRUE(host.getReference(name, "PointsTo")->IsNull());

    // The table as the host walks it: nine own records, then RtsObject's.
    const std::vector<host::AttributeInfo> table = host.attributes(name);
    const char* names[] = {"PointsTo", "Range",   "Roll", "FOVFac",    "Time2Next",
                           "EaseIn",   "EaseOut", "IsOn", "PauseTime", "ObjectPos"};
    const ULong types[] = {32, 3, 3, 3, 12, 8, 8, 8, 12, 10};
    ASSERT_EQ(table.size(), 10u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_STREQ(table[i].record.Name, names[i]);
        EXPECT_EQ(table[i].record.Type, types[i]);
        EXPECT_EQ(table[i].record.Count, 1u);
        EXPECT_TRUE(table[i].record.Flags[0] && table[i].record.Flags[1] && table[i].record.Flags[2]);
        EXPECT_EQ(table[i].className, i < 9 ? "SCOCameraSystemWaypoint" : "RtsObject");
    }
    Attribute record;
    std::memset(&record, 0xAB, sizeof record);
    char className[32];
    EXPECT_FALSE(wp->GetAttributeInfo(9, &record, className, false));
    EXPECT_EQ(record.Type, 0xABABABABu);  // untouched
    EXPECT_FALSE(wp->GetAttributeInfo(10, &record, className, true));
    EXPECT_EQ(record.Type, 0u);
    EXPECT_EQ(record.Get, nullptr);
    EXPECT_STREQ(className, "");
    EXPECT_TRUE(wp->GetParentAttr(0, &record, className));
    EXPECT_STREQ(record.Name, "ObjectPos");
    EXPECT_STREQ(className, "RtsObject");
    std::memset(&record, 0xAB, sizeof record);
    EXPECT_FALSE(wp->GetParentAttr(1, &record, className));
    EXPECT_EQ(record.Type, 0u);
    EXPECT_STREQ(className, "");

    // Stored as given, no checks.
    EXPECT_TRUE(host.setFloat(name, "Range", -3.0f));
    EXPECT_TRUE(host.setFloat(name, "FOVFac", -4.0f));
    EXPECT_TRUE(host.setULong(name, "Time2Next", 0));
    EXPECT_TRUE(host.setULong(name, "PauseTime", 0xFFFFFFFFu));
    auto* cs = static_cast<ISCO_CSWayPoint*>(wp);
    EXPECT_EQ(wp->Range, -3.0f);
    EXPECT_EQ(wp->FOVFac, -4.0f);
    EXPECT_EQ(cs->GetTime2Next(), 0u);
    EXPECT_EQ(cs->GetPauseTime(), 0xFFFFFFFFu);

    // Interfaces: the part for each identifier; a null out-pointer only asks.
    const ULong before = wp->RefCount;
    EXPECT_TRUE(wp->QueryInterface(26, nullptr));
    EXPECT_EQ(wp->RefCount, before);
    void* part = nullptr;
    const std::pair<ULong, void*> parts[] = {{0, static_cast<RtsObject*>(wp)},
                                             {5, static_cast<ISCO_BoundingBox*>(wp)},
                                             {26, cs},
                                             {38, static_cast<ISCO_GCDrawSelf*>(wp)},
                                             {45, static_cast<ISCO_SCOContainer*>(wp)},
                                             {55, static_cast<ISCO_ScenewrightFeedback*>(wp)}};
    for (const auto& [id, expected] : parts) {
        EXPECT_TRUE(wp->QueryInterface(id, &part)) << id;
        EXPECT_EQ(part, expected) << id;
    }
    EXPECT_EQ(wp->RefCount, before + 6);
    EXPECT_FALSE(wp->QueryInterface(24, &part));
    EXPECT_EQ(part, nullptr);
    host.descriptor(name)->setRefusesInterfaces(true);
    part = cs;
    EXPECT_FALSE(wp->QueryInterface(26, &part));
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(wp->RefCount, before + 6);
}

TEST_F(WaypointTest, ParametersAndSegmentCurve) {
    SCOCameraSystemWaypoint* wp = make("wp");
    auto* cs = static_cast<ISCO_CSWayPoint*>(wp);
    wp->ObjectPos.Origin = {1.5f, -2.0f, 7.0f};
    const float expected[] = {1.5f, -2.0f, 7.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(cs->GetPara(i), expected[i]) << i;
    for (int index : {8, -1, INT_MIN, INT_MAX}) EXPECT_EQ(cs->GetPara(index), 0.0f) << index;

    wp->Roll = 180.0f;
    EXPECT_FLOAT_EQ(cs->GetPara(6), std::numbers::pi_v<float>);
    wp->Roll = -90.0f;
    EXPECT_FLOAT_EQ(cs->GetPara(6), -std::numbers::pi_v<float> / 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, float> fov[] = {
        {0.0f, 100.0f}, {-0.0f, 100.0f}, {nan, 100.0f}, {2.0f, 0.5f}, {-4.0f, -0.25f}};
    for (const auto& [factor, value] : fov) {
        wp->FOVFac = factor;
        EXPECT_EQ(cs->GetPara(7), value) << factor;
    }
    wp->FOVFac = std::numeric_limits<float>::denorm_min();
    EXPECT_TRUE(std::isinf(cs->GetPara(7)));

    // Channel i of the cubic a*s^3 + b*s^2 + c*s + d, coefficients exact in float, checked
    // against the power form in double at the start, inside and outside the piece.
    COrientation r3{}, r2{}, r1{}, r0{};
    for (int i = 0; i < 9; ++i) {
        r3[i] = 0.5f * static_cast<float>(i) - 1.0f;
        r2[i] = 2.0f - static_cast<float>(i);
        r1[i] = 0.25f * static_cast<float>(i);
        r0[i] = 10.0f + static_cast<float>(i);
    }
    cs->SetData(r3, r2, r1, r0);
    EXPECT_EQ(cs->GetDistanceSum(), 18.0f);
    EXPECT_EQ(cs->CalcDistanceAtTime(0.0f), 18.0f);
    for (float s : {0.0f, 3.0f, -1.5f, 12.0f}) {
        COrientation out;
        cs->CalcOrientationAtDistance(s, out);
        for (int i = 0; i < 9; ++i) {
            const double oracle = r3[i] * std::pow(s, 3.0) + r2[i] * double(s) * s + r1[i] * double(s) + r0[i];
            EXPECT_EQ(out[i], oracle) << "channel " << i << " at " << s;
        }
        EXPECT_EQ(cs->CalcDistanceAtTime(s), out[8]);
    }
    COrientation zero{}, two = channels(0.0f), ten{};
    two.Distance = 2.0f;
    ten.Distance = 10.0f;
    cs->SetData(zero, zero, two, ten);
    EXPECT_EQ(cs->CalcDistanceAtTime(5.0f), 20.0f);

    // A copy answers like the fitted original; an assigned waypoint too.
    cs->SetDistance2Next(7.5f);
    SCOCameraSystemWaypoint copy(*wp);
    SCOCameraSystemWaypoint* assigned = make("assigned");
    *assigned = *wp;
    for (SCOCameraSystemWaypoint* other : {&copy, assigned}) {
        EXPECT_EQ(other->GetDistance2Next(), 7.5f);
        EXPECT_EQ(other->GetDistanceSum(), 10.0f);
        EXPECT_EQ(other->CalcDistanceAtTime(-3.0f), 4.0f);
        EXPECT_EQ(other->GetPara(0), 1.5f);
    }

    // Out-of-range arguments evaluate without trapping.
    cs->SetData(r3, r2, r1, r0);
    EXPECT_TRUE(std::isinf(cs->CalcDistanceAtTime(1e30f)));
    EXPECT_TRUE(std::isnan(cs->CalcDistanceAtTime(nan)));
    COrientation out;
    cs->CalcOrientationAtDistance(std::numeric_limits<float>::infinity(), out);
}

TEST_F(WaypointTest, EverySlotWhereTheTablesPutIt) {
    SCOCameraSystemWaypoint* wp = make("wp");
    void* primary = static_cast<RtsObject*>(wp);
    auto slot = [](long s) { return entryOf(s, 29); };

    // Primary slots 34 to 51: Get/Set pairs in attribute order. Each setter changes its own
    // member only; each getter reads it back.
    struct Member {
        void* bytes;
        std::size_t size;
    };
    const Member members[] = {{&wp->PointsTo.Guid, 16}, {&wp->Range, 4},     {&wp->Roll, 4},
                              {&wp->FOVFac, 4},         {&wp->Time2Next, 4}, {&wp->EaseIn, 1},
                              {&wp->EaseOut, 1},        {&wp->IsOnFlag, 1},  {&wp->PauseTime, 4}};
    auto snapshot = [&] {
        std::vector<std::vector<unsigned char>> all;
        for (const Member& m : members) {
            auto* p = static_cast<unsigned char*>(m.bytes);
            all.emplace_back(p, p + m.size);
        }
        return all;
    };
    for (int k = 0; k < 9; ++k) {
        auto expected = snapshot();
        std::vector<unsigned char> value(members[k].size);
        for (std::size_t b = 0; b < value.size(); ++b) value[b] = static_cast<unsigned char>(0x40 + 16 * k + b);
        if (value.size() == 1) value[0] = expected[k][0] ? 0 : 1;
        expected[k] = value;
        EXPECT_TRUE((callEntry<bool, void*>(primary, slot(35 + 2 * k), value.data()))) << "setter " << k;
        EXPECT_EQ(snapshot(), expected) << "setter " << k;
        std::vector<unsigned char> read(value.size());
        EXPECT_TRUE((callEntry<bool, void*>(primary, slot(34 + 2 * k), read.data()))) << "getter " << k;
        EXPECT_EQ(read, value) << "getter " << k;
    }
    EXPECT_TRUE((callEntry<bool>(primary, 13)));  // IsPosValid
    char className[32];
    Attribute record{};
    EXPECT_TRUE((callEntry<bool, ULong, Attribute*, char*>(primary, slot(33), 0, &record, className)));
    EXPECT_STREQ(record.Name, "ObjectPos");

    // ISCO_CSWayPoint.
    wp->Time2Next = 1234;
    wp->PauseTime = 55;
    wp->IsOnFlag = true;
    wp->EaseIn = true;
    wp->EaseOut = false;
    wp->Range = 1.0f;
    wp->FOVFac = 4.0f;
    wp->ObjectPos = _CCoordSystem<float>{};
    void* cs = static_cast<ISCO_CSWayPoint*>(wp);
    void* found = nullptr;
    EXPECT_TRUE((callEntry<bool, ULong, void**>(cs, 0, 26, &found)));
    EXPECT_EQ(found, cs);
    EXPECT_EQ((callEntry<ULong>(cs, 3)), 1234u);
    COrientation r3 = channels(1), r2 = channels(2), r1 = channels(3), r0 = channels(4);
    callEntry<void, COrientation&, COrientation&, COrientation&, COrientation&>(cs, 12, r3, r2, r1, r0);
    EXPECT_EQ((callEntry<float>(cs, 4)), 12.0f);  // channel 8 of the constant record
    callEntry<void, float>(cs, 6, 2.5f);
    EXPECT_EQ((callEntry<float>(cs, 5)), 2.5f);
    EXPECT_EQ((callEntry<ULong>(cs, 7)), 55u);
    EXPECT_TRUE((callEntry<bool>(cs, 8)));
    bool easeIn = false, easeOut = true;
    callEntry<void, bool&, bool&>(cs, 9, easeIn, easeOut);
    EXPECT_TRUE(easeIn);
    EXPECT_FALSE(easeOut);
    COrientation sample{};
    callEntry<void, float, COrientation&>(cs, 10, 1.0f, sample);
    EXPECT_EQ(sample[0], 1.0f + 2.0f + 3.0f + 4.0f);
    EXPECT_EQ((callEntry<float, float>(cs, 11, 1.0f)), 9.0f + 10.0f + 11.0f + 12.0f);
    EXPECT_EQ((callEntry<float, int>(cs, 13, 7)), 0.25f);
    const Handle target = host.createPlain("target", {0, 0, 5});
    wp->PointsTo = target;
    callEntry<void>(cs, 14);  // Refresh
    EXPECT_EQ(wp->Range, 5.0f);

    // ISCO_BoundingBox, ISCO_GCDrawSelf, ISCO_ScenewrightFeedback.
    void* box = static_cast<ISCO_BoundingBox*>(wp);
    _Point3<float> low{}, high{}, centre{};
    float radius = 0;
    callEntry<void, _Point3<float>*, _Point3<float>*>(box, 3, &low, &high);
    callEntry<void, _Point3<float>*, float*>(box, 4, &centre, &radius);
    expectPoint(low, -4, -4, -4);
    EXPECT_FLOAT_EQ(radius, 4.0f * std::sqrt(3.0f));
    void* draw = static_cast<ISCO_GCDrawSelf*>(wp);
    host::defaultRecorder().clear();
    callEntry<void, void*>(draw, 4, nullptr);  // Draw2D
    EXPECT_TRUE(host::defaultRecorder().calls().empty());
    callEntry<void, void*>(draw, 3, nullptr);  // Draw3D
    EXPECT_EQ(host::defaultRecorder().calls().size(), 3u);
    void* feedback = static_cast<ISCO_ScenewrightFeedback*>(wp);
    char script[4] = "abc";
    EXPECT_STREQ((callEntry<char*, int, char*>(feedback, 9, 0, script)), "");
    EXPECT_STREQ((callEntry<char*, int, char*>(feedback, 10, 0, script)), "");
    EXPECT_STREQ(script, "abc");
    callEntry<void, char*>(feedback, 7, script);
    callEntry<void>(feedback, 8);
    ASSERT_EQ(host.messages().size(), 2u);
    EXPECT_EQ(host.messages()[0].location, "SCOCameraSystemWaypoint::OnAttributChanged");
    EXPECT_EQ(host.messages()[1].location, "SCOCameraSystemWaypoint::OnPositionChanged");
}
