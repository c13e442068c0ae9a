// The waypoint: attributes and parts, parameters and the segment curve, the accessor slots, its
// stored record, aiming, the refits its edits cause, drawing and bounds.
#include <climits>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "host/RecordingRenderer.h"
#include "host/Streams.h"
#include "tests/support/Bytes.h"
#include "tests/support/FakePath.h"
#include "tests/support/InProcessHost.h"
#include "tests/support/Points.h"
#include "tests/support/Slots.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

using namespace testing_support;

/// Reaches the waypoint's private aiming operation.
struct WaypointTestAccess {
    static void aim(SCOCameraSystemWaypoint& waypoint, const _Point3<float>& target) { waypoint._SetDestPoint(target); }
};

namespace {

class WaypointTest : public InProcessHost {
protected:
    /// A new waypoint named `name`, a child of `parent` when given.
    SCOCameraSystemWaypoint* make(const std::string& name, const Handle& parent = Handle()) {
        return static_cast<SCOCameraSystemWaypoint*>(host.object(host.create("SCOCameraSystemWaypoint", name, parent)));
    }
    /// The calls one Draw3D makes.
    std::vector<host::DrawCall> draw(SCOCameraSystemWaypoint* wp) {
        host::defaultRecorder().clear();
        static_cast<ISCO_GCDrawSelf*>(wp)->Draw3D(nullptr);
        return host::defaultRecorder().calls();
    }
};

}  // namespace

TEST_F(WaypointTest, AttributesAccessorSlotsAndParts) {
    const Handle name = host.create("SCOCameraSystemWaypoint", "wp");
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(name));

    // The table as the host walks it: nine own records, then RtsObject's.
    const char* names[] = {"PointsTo", "Range",   "Roll", "FOVFac",    "Time2Next",
                           "EaseIn",   "EaseOut", "IsOn", "PauseTime", "ObjectPos"};
    const ULong types[] = {32, 3, 3, 3, 12, 8, 8, 8, 12, 10};
    const std::vector<host::AttributeInfo> table = host.attributes(name);
    ASSERT_EQ(table.size(), 10u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_STREQ(table[i].record.Name, names[i]);
        EXPECT_EQ(table[i].record.Type, types[i]);
        EXPECT_EQ(table[i].record.Count, 1u);
        EXPECT_TRUE(table[i].record.Flags[0] && table[i].record.Flags[1] && table[i].record.Flags[2]);
        EXPECT_EQ(table[i].className, i < 9 ? "SCOCameraSystemWaypoint" : "RtsObject");
    }
    Attribute record{};
    char className[32];
    EXPECT_FALSE(wp->GetAttributeInfo(9, &record, className, false));
    EXPECT_TRUE(wp->GetParentAttr(0, &record, className));
    EXPECT_STREQ(record.Name, "ObjectPos");
    EXPECT_STREQ(className, "RtsObject");
    EXPECT_FALSE(wp->GetParentAttr(1, &record, className));

    // The defaults; then primary slots 34 to 51 called by position, Get/Set pairs in attribute
    // order: each setter stores its bytes unchecked in its own attribute only, its getter reads
    // them back. The sign bit in the high byte makes negative floats and huge times.
    std::vector<ByteVector> expected = {
        ByteVector(16), Bytes().f32(1), Bytes().f32(0), Bytes().f32(1), Bytes().u32(1000), {0}, {0}, {1},
        Bytes().u32(0)};
    auto values = [&] {
        std::vector<ByteVector> all;
        for (int i = 0; i < 9; ++i) all.push_back(host.getAttribute(name, names[i]).value_or(ByteVector{}));
        return all;
    };
    EXPECT_EQ(values(), expected);
    void* primary = static_cast<RtsObject*>(wp);
    auto call = [&](long slot, void* value) {
        return tableEntry<bool (*)(void*, void*)>(primary, entryOf(slot, 29))(primary, value);
    };
    for (int k = 0; k < 9; ++k) {
        ByteVector& value = expected[k];
        for (std::size_t b = 0; b < value.size(); ++b)
            value[b] = static_cast<std::uint8_t>(value.size() == 1 ? !value[0] : 0x80 + 16 * k + b);
        EXPECT_TRUE(call(35 + 2 * k, value.data())) << "setter " << k;
        EXPECT_EQ(values(), expected) << "setter " << k;
        ByteVector read(value.size());
        EXPECT_TRUE(call(34 + 2 * k, read.data())) << "getter " << k;
        EXPECT_EQ(read, value) << "getter " << k;
    }

    // The part for each identifier; ISCO_CSPath is not offered.
    const ULong before = wp->RefCount;
    void* part = nullptr;
    const std::pair<ULong, void*> parts[] = {
        {0, static_cast<RtsObject*>(wp)},          {5, static_cast<ISCO_BoundingBox*>(wp)},
        {26, static_cast<ISCO_CSWayPoint*>(wp)},   {38, static_cast<ISCO_GCDrawSelf*>(wp)},
        {45, static_cast<ISCO_SCOContainer*>(wp)}, {55, static_cast<ISCO_ScenewrightFeedback*>(wp)}};
    for (const auto& [id, expectedPart] : parts) {
        EXPECT_TRUE(wp->QueryInterface(id, &part)) << id;
        EXPECT_EQ(part, expectedPart) << id;
    }
    EXPECT_EQ(wp->RefCount, before + 6);
    EXPECT_FALSE(wp->QueryInterface(24, &part));
    EXPECT_EQ(part, nullptr);
}

TEST_F(WaypointTest, ParametersAndSegmentCurve) {
    SCOCameraSystemWaypoint* wp = make("wp");
    auto* cs = static_cast<ISCO_CSWayPoint*>(wp);
    wp->ObjectPos.Origin = {1.5f, -2.0f, 7.0f};
    const float expected[] = {1.5f, -2.0f, 7.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(cs->GetPara(i), expected[i]) << i;
    for (int index : {8, -1, INT_MIN, INT_MAX}) EXPECT_EQ(cs->GetPara(index), 0.0f) << index;

    // Roll in degrees gives radians; FOVFac gives 1 / FOVFac, 100 for a zero or NaN factor.
    wp->Roll = -90.0f;
    EXPECT_FLOAT_EQ(cs->GetPara(6), -std::numbers::pi_v<float> / 2);
    const float nan = std::numeric_limits<float>::quiet_NaN(), tiny = std::numeric_limits<float>::denorm_min();
    const std::pair<float, float> fov[] = {{0.0f, 100.0f}, {-0.0f, 100.0f}, {nan, 100.0f},
                                           {2.0f, 0.5f},   {-4.0f, -0.25f}, {tiny, INFINITY}};
    for (const auto& [factor, value] : fov) {
        wp->FOVFac = factor;
        EXPECT_EQ(cs->GetPara(7), value) << factor;
    }

    // Channel i of a*s^3 + b*s^2 + c*s + d, coefficients exact in float, against the power form
    // in double at the start, inside and outside the piece; CalcDistanceAtTime is channel 8.
    COrientation::Channels r3{}, r2{}, r1{}, r0{};
    for (int i = 0; i < 9; ++i) {
        r3[i] = 0.5f * static_cast<float>(i) - 1.0f;
        r2[i] = 2.0f - static_cast<float>(i);
        r1[i] = 0.25f * static_cast<float>(i);
        r0[i] = 10.0f + static_cast<float>(i);
    }
    COrientation c3 = COrientation::FromChannels(r3), c2 = COrientation::FromChannels(r2);
    COrientation c1 = COrientation::FromChannels(r1), c0 = COrientation::FromChannels(r0);
    cs->SetData(c3, c2, c1, c0);
    EXPECT_EQ(cs->GetDistanceSum(), 18.0f);
    for (float s : {0.0f, 3.0f, -1.5f, 12.0f}) {
        COrientation out;
        cs->CalcOrientationAtDistance(s, out);
        const COrientation::Channels got = out.ToChannels();
        for (int i = 0; i < 9; ++i) {
            const double oracle = r3[i] * std::pow(s, 3.0) + r2[i] * double(s) * s + r1[i] * double(s) + r0[i];
            EXPECT_EQ(got[i], oracle) << "channel " << i << " at " << s;
        }
        EXPECT_EQ(cs->CalcDistanceAtTime(s), got[8]);
    }
    EXPECT_TRUE(std::isinf(cs->CalcDistanceAtTime(1e30f)));
    EXPECT_TRUE(std::isnan(cs->CalcDistanceAtTime(nan)));
}

TEST_F(WaypointTest, StoredRecordReloadAndRefusals) {
    const Handle target = host.createPlain("target");
    const Handle name = host.create("SCOCameraSystemWaypoint", "wp");
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(name));
    wp->PointsTo = target;
    wp->Range = 2.5f;
    wp->Roll = -30.0f;
    wp->FOVFac = 0.75f;
    wp->Time2Next = 1234;
    wp->EaseIn = true;
    wp->PauseTime = 0xDEADBEEFu;
    wp->ObjectPos.Orientation = _CMatrix3<float>(0, -1, 0, 1, 0, 0, 0, 0, 1);
    wp->ObjectPos.Origin = {5, 6, 7};
    wp->Container = target;
    wp->SetMark();

    const float turned[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
    Bytes expected;
    expected.u32(1).guid(host.object(target)->Self).f32(2.5f).f32(-30.0f).f32(0.75f).u32(1234);
    expected.u8(1).u8(0).u8(1).u32(0xDEADBEEFu).base(wp->SecondGuid, turned, 5, 6, 7, target, 1);
    const ByteVector saved = host.save(name).value();
    EXPECT_EQ(saved, expected.data);

    // Reloaded into another waypoint: the nine values come back, the fitted data stays.
    const Handle copyName = host.create("SCOCameraSystemWaypoint", "copy");
    auto* copy = static_cast<SCOCameraSystemWaypoint*>(host.object(copyName));
    COrientation r{};
    r.Distance = 9.0f;
    copy->SetData(r, r, r, r);
    copy->SetDistance2Next(3.0f);
    ASSERT_TRUE(host.load(copyName, saved));
    for (const host::AttributeInfo& a : host.attributes(name))
        EXPECT_EQ(host.getAttribute(copyName, a.record.Name), host.getAttribute(name, a.record.Name)) << a.record.Name;
    EXPECT_EQ(copy->GetDistance2Next(), 3.0f);
    EXPECT_EQ(copy->CubicData[0].Distance, 9.0f);

    // A stored version 2 is refused after its four bytes and changes nothing; every truncation
    // fails without reading past its end; the whole record loads.
    auto* fresh = make("fresh");
    ByteVector newer = saved;
    newer[0] = 2;
    host::MemoryStream newerStream(newer);
    EXPECT_EQ(fresh->Serialize(&newerStream), 0);
    EXPECT_EQ(newerStream.position(), 4u);
    EXPECT_EQ(fresh->Range, 1.0f);
    EXPECT_TRUE(fresh->PointsTo.IsNull());
    for (std::size_t n = 0; n < saved.size(); ++n) {
        host::MemoryStream cut(std::span(saved.data(), n));
        EXPECT_EQ(fresh->Serialize(&cut), 0) << n;
        EXPECT_LE(cut.position(), n);
    }
    host::MemoryStream whole(saved);
    EXPECT_EQ(fresh->Serialize(&whole), 1);
    EXPECT_EQ(whole.remaining(), 0u);
}

TEST_F(WaypointTest, AimingAtTargets) {
    SCOCameraSystemWaypoint* wp = make("wp");
    auto* cs = static_cast<ISCO_CSWayPoint*>(wp);
    const _CMatrix3<float>& m = wp->ObjectPos.Orientation;

    // Exact frames (columns right, forward, up); GetPara(3..5) and GetDestPoint give the target.
    const Point3f aims[2][4] = {{{0, 10, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                {{10, 0, 0}, {0, -1, 0}, {1, 0, 0}, {0, 0, 1}}};
    for (const auto& [target, right, forward, up] : aims) {
        WaypointTestAccess::aim(*wp, target);
        EXPECT_EQ(wp->Range, 10.0f);
        EXPECT_TRUE(near(column(m, 0), right) && near(column(m, 1), forward) && near(column(m, 2), up));
        EXPECT_TRUE(near({cs->GetPara(3), cs->GetPara(4), cs->GetPara(5)}, target));
        EXPECT_TRUE(near(wp->GetDestPoint(), target));
    }

    // Refresh with a host object in general position, against a frame built in double.
    const Handle name = host.find("wp");
    _CCoordSystem<float> at;
    at.Origin = {1, 2, 3};
    host.setObjectPos(name, at);
    host.setReference(name, "PointsTo", host.createPlain("target", {3, 4, 12}));
    const host::RuntimeCounters before = host.runtime().counters();
    cs->Refresh();
    EXPECT_EQ(host.runtime().counters().resolves - before.resolves, 1u);
    EXPECT_EQ(host.runtime().counters().releases - before.releases, 1u);
    EXPECT_FLOAT_EQ(wp->Range, std::sqrt(89.0f));
    const double f[3] = {2 / std::sqrt(89.0), 2 / std::sqrt(89.0), 9 / std::sqrt(89.0)};
    const double rl = std::hypot(f[0], f[1]);
    const double right[3] = {f[1] / rl, -f[0] / rl, 0};
    const double up[3] = {right[1] * f[2], -right[0] * f[2], right[0] * f[1] - right[1] * f[0]};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(m.m[i][0], right[i], 1e-6);
        EXPECT_NEAR(m.m[i][1], f[i], 1e-6);
        EXPECT_NEAR(m.m[i][2], up[i], 1e-6);
    }
    EXPECT_TRUE(near(wp->GetDestPoint(), {3, 4, 12}, 1e-5));

    // A PointsTo naming no object, or none at all, leaves the aim alone.
    const _CCoordSystem<float> aimed = wp->ObjectPos;
    host.setReference(name, "PointsTo", Handle(_GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
    wp->Range = 6.0f;
    cs->Refresh();
    host.setReference(name, "PointsTo", Handle());
    const std::uint64_t queries = host.runtime().counters().queries;
    cs->Refresh();
    EXPECT_EQ(host.runtime().counters().queries, queries);
    EXPECT_EQ(wp->Range, 6.0f);
    EXPECT_EQ(std::memcmp(&wp->ObjectPos, &aimed, sizeof aimed), 0);

    // Degenerate and hostile targets: the frame stays a finite rotation, Range finite and >= 0.
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    wp->ObjectPos.Origin = {0, 0, 0};
    const _Point3<float> targets[] = {
        {0, 0, 5},         {0, 0, -5},  {1e-20f, 0, 0}, {1e-19f, 0, 10},        {1e-3f, 0, 10},
        {1e30f, 1e30f, 0}, {inf, 0, 0}, {nan, 1, 2},    {-3e38f, 3e38f, 3e38f}, {0, 0, 0}};
    for (const _Point3<float>& p : targets) {
        WaypointTestAccess::aim(*wp, {4, 2, 3});
        WaypointTestAccess::aim(*wp, p);
        EXPECT_TRUE(isOrthonormal(m)) << p.x << ", " << p.y << ", " << p.z;
        EXPECT_TRUE(std::isfinite(wp->Range) && wp->Range >= 0.0f);
    }
    EXPECT_EQ(wp->Range, 0.0f);  // aimed at its own origin
    EXPECT_TRUE(near(wp->GetDestPoint(), {0, 0, 0}));
}

TEST_F(WaypointTest, EditsRefitThePathDrawingAndBounds) {
    // In a path: one refit per notification, whatever the attribute.
    const Handle fakePath = host.add("fake path", Handle(), makeFakePath);
    auto* counting = static_cast<FakePath*>(host.object(fakePath));
    const Handle inFake = host.create("SCOCameraSystemWaypoint", "in fake", fakePath);
    host.notifyAttributeChanged(inFake, "Range");
    host.notifyAttributeChanged(inFake, "NoSuchAttribute");
    host.notifyPositionChanged(inFake);
    EXPECT_EQ(counting->refits, 3);

    // With the real path the refit is complete when the notification returns.
    const Handle path = host.create("SCOCameraSystemPath", "path");
    SCOCameraSystemWaypoint* first = make("first", path);
    make("second", path)->ObjectPos.Origin = {100, 0, 0};
    _CCoordSystem<float> moved;
    moved.Origin = {0, 30, 0};
    host.setObjectPos(host.find("first"), moved);
    host.notifyPositionChanged(host.find("first"));
    EXPECT_TRUE(near(first->CubicData[3].Position, {0, 30, 0}));
    EXPECT_TRUE(host.messages().empty());

    // Outside a path (alone, or inside an object that is not a path): one message each time.
    const Handle alone = host.create("SCOCameraSystemWaypoint", "alone");
    host.notifyPositionChanged(alone);
    host.notifyAttributeChanged(host.create("SCOCameraSystemWaypoint", "in plain", host.createPlain("plain")), "Roll");
    ASSERT_EQ(host.messages().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(host.messages()[i].level, 2);
        EXPECT_EQ(host.messages()[i].text, "Waypoint not in Path Container");
    }
    EXPECT_EQ(host.messages()[0].location, "SCOCameraSystemWaypoint::OnPositionChanged");
    EXPECT_EQ(host.messages()[1].location, "SCOCameraSystemWaypoint::OnAttributChanged");

    // Drawing at (10, 20, 30): the view marker, the forward arrow, the up arrow; no 2D drawing.
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(alone));
    wp->ObjectPos.Origin = {10, 20, 30};
    std::vector<host::DrawCall> calls = draw(wp);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, host::DrawKind::Line);
    EXPECT_TRUE(near(calls[0].from, {10, 20, 30}) && near(calls[0].to, {10, 36, 30}));
    EXPECT_TRUE(calls[0].widthFrom == 0.0f && calls[0].widthTo == 16.0f);
    EXPECT_EQ(calls[0].colour, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.6f}));
    const std::array<float, 4> colours[] = {{0.0f, 0.4f, 0.0f, 0.8f}, {0.0f, 0.0f, 0.4f, 0.8f}};
    const _Point3<float> tips[] = {{10, 52, 30}, {10, 20, 62}};
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(calls[i].kind, host::DrawKind::Arrow);
        EXPECT_TRUE(near(calls[i].from, {10, 20, 30}) && near(calls[i].to, tips[i - 1]));
        EXPECT_EQ(calls[i].sizes, (std::array<float, 3>{3.2f, 1.6f, 0.4f}));
        EXPECT_EQ(calls[i].colour, colours[i - 1]);
        EXPECT_EQ(calls[i].colour2, colours[i - 1]);
    }
    for (const host::DrawCall& call : calls) EXPECT_EQ(call.flag, 1);
    host::defaultRecorder().clear();
    static_cast<ISCO_GCDrawSelf*>(wp)->Draw2D(nullptr);
    EXPECT_TRUE(host::defaultRecorder().calls().empty());

    // The markers turn with the waypoint; a switched-off waypoint draws nothing.
    WaypointTestAccess::aim(*wp, {20, 20, 30});
    calls = draw(wp);
    EXPECT_TRUE(near(calls.at(0).to, {26, 20, 30}) && near(calls.at(1).to, {42, 20, 30}) &&
                near(calls.at(2).to, {10, 20, 62}));
    wp->IsOnFlag = false;
    EXPECT_TRUE(draw(wp).empty());

    // A fixed cube of half edge 4 around the position, whatever the settings.
    _Point3<float> low{}, high{}, centre{};
    float radius = 0;
    wp->Range = 50.0f;
    static_cast<ISCO_BoundingBox*>(wp)->GetBBox(&low, &high);
    static_cast<ISCO_BoundingBox*>(wp)->GetBSphere(&centre, &radius);
    EXPECT_TRUE(near(low, {6, 16, 26}) && near(high, {14, 24, 34}) && near(centre, {10, 20, 30}));
    EXPECT_EQ(radius, static_cast<float>(0.5 * std::sqrt(192.0)));

    // No default scripts; the buffer is left alone.
    auto* feedback = static_cast<ISCO_ScenewrightFeedback*>(wp);
    char buffer[8] = "keep";
    EXPECT_STREQ(feedback->GetDefaultScriptCode(0, buffer), "");
    EXPECT_STREQ(feedback->GetDefaultScriptName(3, buffer), "");
    EXPECT_STREQ(buffer, "keep");
}
