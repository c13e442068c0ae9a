// The waypoint: attributes and parts, parameters and the segment curve, the accessor slots, its
// stored record, aiming, the refits its edits cause, drawing and bounds.
#include <climits>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "render/RecordingRenderer.h"
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
    /// The calls one Draw3D (or Draw2D) makes.
    std::vector<host::DrawCall> draw(SCOCameraSystemWaypoint* wp, bool flat = false) {
        host::defaultRecorder().clear();
        flat ? static_cast<ISCO_GCDrawSelf*>(wp)->Draw2D(nullptr) : static_cast<ISCO_GCDrawSelf*>(wp)->Draw3D(nullptr);
        return host::defaultRecorder().calls();
    }
};

}  // namespace

TEST_F(WaypointTest, AttributesAccessorSlotsAndParts) {
    SCOCameraSystemWaypoint* wp = make("wp");
    const Handle name = wp->Self;

    // The table as the host walks it: nine own records, then RtsObject's.
    const char* names[] = {"PointsTo", "Range",   "Roll", "FOVFac",    "Time2Next",
                           "EaseIn",   "EaseOut", "IsOn", "PauseTime", "ObjectPos"};
    const ULong types[] = {32, 3, 3, 3, 12, 8, 8, 8, 12, 10};
    const std::vector<host::AttributeInfo> table = host.attributes(name);
    ASSERT_EQ(table.size(), 10u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Attribute& r = table[i].record;
        EXPECT_TRUE(!std::strcmp(r.Name, names[i]) && r.Type == types[i] && r.Count == 1u && r.Flags[0] && r.Flags[1] &&
                    r.Flags[2] && table[i].className == (i < 9 ? "SCOCameraSystemWaypoint" : "RtsObject"))
            << i;
    }
    Attribute record{};
    char className[32];
    EXPECT_FALSE(wp->GetAttributeInfo(9, &record, className, false));
    EXPECT_TRUE(wp->GetParentAttr(0, &record, className) && !std::strcmp(record.Name, "ObjectPos"));
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
    for (const auto& [id, expectedPart] : parts)
        EXPECT_TRUE(wp->QueryInterface(id, &part) && part == expectedPart) << id;
    EXPECT_EQ(wp->RefCount, before + 6);
    EXPECT_TRUE(!wp->QueryInterface(24, &part) && part == nullptr);

    // Wherever the heap puts a waypoint, its ISCO_CSWayPoint part starts a cache line and
    // IsOnFlag lies in that line: a walk's IsOn reads one line of the object.
    std::vector<std::vector<char>> shiftTheHeap;
    for (int k = 0; k < 8; ++k) {
        shiftTheHeap.emplace_back(static_cast<std::size_t>(8 + 24 * k));
        auto* placed = make("placed" + std::to_string(k));
        const auto part = reinterpret_cast<std::uintptr_t>(static_cast<ISCO_CSWayPoint*>(placed));
        const auto flag = reinterpret_cast<std::uintptr_t>(&placed->IsOnFlag);
        EXPECT_TRUE(part % 64 == 0 && flag - part < 64) << k;
    }
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
        const float f = static_cast<float>(i);
        r3[i] = 0.5f * f - 1.0f, r2[i] = 2.0f - f, r1[i] = 0.25f * f, r0[i] = 10.0f + f;
    }
    COrientation c[] = {COrientation::FromChannels(r3), COrientation::FromChannels(r2), COrientation::FromChannels(r1),
                        COrientation::FromChannels(r0)};
    cs->SetData(c[0], c[1], c[2], c[3]);
    EXPECT_EQ(cs->GetDistanceSum(), 18.0f);
    for (float s : {0.0f, 3.0f, -1.5f, 12.0f}) {
        COrientation out;
        cs->CalcOrientationAtDistance(s, out);
        const COrientation::Channels got = out.ToChannels();
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(got[i], r3[i] * std::pow(s, 3.0) + r2[i] * double(s) * s + r1[i] * double(s) + r0[i]) << i << s;
        EXPECT_EQ(cs->CalcDistanceAtTime(s), got[8]);
    }
    EXPECT_TRUE(std::isinf(cs->CalcDistanceAtTime(1e30f)) && std::isnan(cs->CalcDistanceAtTime(nan)));
}

TEST_F(WaypointTest, StoredRecordReloadAndRefusals) {
    const Handle target = host.createPlain("target");
    SCOCameraSystemWaypoint* wp = make("wp");
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
    const ByteVector saved = host.save(wp->Self).value();
    EXPECT_EQ(saved, expected.data);

    // Reloaded into another waypoint: it saves the same record; the fitted data stays.
    SCOCameraSystemWaypoint* copy = make("copy");
    COrientation r{};
    r.Distance = 9.0f;
    copy->SetData(r, r, r, r);
    copy->SetDistance2Next(3.0f);
    std::size_t unread = 1;
    ASSERT_TRUE(host.load(copy->Self, saved, &unread));
    EXPECT_EQ(unread, 0u);
    EXPECT_EQ(host.save(copy->Self), saved);
    EXPECT_TRUE(copy->GetDistance2Next() == 3.0f && copy->CubicData[0].Distance == 9.0f);

    // A stored version 2 is refused after its four bytes and changes nothing; so is every
    // truncation.
    const Handle fresh = host.create("SCOCameraSystemWaypoint", "fresh");
    ByteVector newer = saved;
    newer[0] = 2;
    EXPECT_FALSE(host.load(fresh, newer, &unread));
    EXPECT_EQ(unread, newer.size() - 4);
    EXPECT_EQ(host.getAttribute(fresh, "Range"), Bytes().f32(1).data);
    EXPECT_EQ(host.getAttribute(fresh, "PointsTo"), ByteVector(16));
    for (std::size_t n = 0; n < saved.size(); ++n) EXPECT_FALSE(host.load(fresh, std::span(saved.data(), n))) << n;
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
    wp->ObjectPos.Origin = {1, 2, 3};
    host.setReference(wp->Self, "PointsTo", host.createPlain("target", {3, 4, 12}));
    const host::RuntimeCounters before = host.runtime().counters();
    cs->Refresh();
    EXPECT_EQ(host.runtime().counters().resolves - before.resolves, 1u);
    EXPECT_EQ(host.runtime().counters().releases - before.releases, 1u);
    EXPECT_FLOAT_EQ(wp->Range, std::sqrt(89.0f));
    // Forward (2, 2, 9) / n, right level (h, -h, 0), up = right x forward.
    const double n = std::sqrt(89.0), h = std::sqrt(0.5);
    const double columns[3][3] = {{h, -h, 0}, {2 / n, 2 / n, 9 / n}, {-9 * h / n, -9 * h / n, 4 * h / n}};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(m.m[i][c], columns[c][i], 1e-6) << i << c;
    EXPECT_TRUE(near(wp->GetDestPoint(), {3, 4, 12}, 1e-5));

    // A PointsTo naming no object, or none at all, leaves the aim alone.
    const _CCoordSystem<float> aimed = wp->ObjectPos;
    host.setReference(wp->Self, "PointsTo", Handle(_GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
    wp->Range = 6.0f;
    cs->Refresh();
    host.setReference(wp->Self, "PointsTo", Handle());
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
    first->ObjectPos.Origin = {0, 30, 0};
    host.notifyPositionChanged(host.find("first"));
    EXPECT_TRUE(near(first->CubicData[3].Position, {0, 30, 0}) && host.messages().empty());

    // Outside a path (alone, or inside an object that is not a path): one message each time.
    const Handle alone = host.create("SCOCameraSystemWaypoint", "alone");
    host.notifyPositionChanged(alone);
    host.notifyAttributeChanged(host.create("SCOCameraSystemWaypoint", "in plain", host.createPlain("plain")), "Roll");
    ASSERT_EQ(host.messages().size(), 2u);
    for (const auto& m : host.messages()) EXPECT_TRUE(m.level == 2 && m.text == "Waypoint not in Path Container");
    EXPECT_EQ(host.messages()[0].location, "SCOCameraSystemWaypoint::OnPositionChanged");
    EXPECT_EQ(host.messages()[1].location, "SCOCameraSystemWaypoint::OnAttributChanged");

    // Drawing at (10, 20, 30): the view marker, the forward arrow, the up arrow; no 2D drawing.
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(alone));
    wp->ObjectPos.Origin = {10, 20, 30};
    std::vector<host::DrawCall> calls = draw(wp);
    const std::array<float, 4> grey{0.5f, 0.5f, 0.5f, 0.6f}, green{0, 0.4f, 0, 0.8f}, blue{0, 0, 0.4f, 0.8f};
    const host::DrawCall expected[] = {
        {host::DrawKind::Line, {10, 20, 30}, {10, 36, 30}, 0, 16, {}, grey, {}, 1},
        {host::DrawKind::Arrow, {10, 20, 30}, {10, 52, 30}, 0, 0, {3.2f, 1.6f, 0.4f}, green, green, 1},
        {host::DrawKind::Arrow, {10, 20, 30}, {10, 20, 62}, 0, 0, {3.2f, 1.6f, 0.4f}, blue, blue, 1}};
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(std::memcmp(calls.data(), expected, sizeof expected), 0);
    EXPECT_TRUE(draw(wp, true).empty());

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
    EXPECT_TRUE(!*feedback->GetDefaultScriptCode(0, buffer) && !*feedback->GetDefaultScriptName(3, buffer));
    EXPECT_STREQ(buffer, "keep");
}
