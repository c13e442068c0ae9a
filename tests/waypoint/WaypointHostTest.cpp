// The waypoint with the host around it: its stored record, aiming at targets, the refits its
// edits cause, its drawing and its bounds.
#include <cstring>
#include <limits>
#include <vector>

#include "WaypointFixture.h"
#include "host/Streams.h"

namespace {

/// Builds an expected record, little-endian, independently of the stream's code.
struct Record {
    std::vector<std::uint8_t> bytes;
    Record& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Record& f32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    Record& u8(std::uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    Record& guid(const CGUID& g) {
        u32(1);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&g.Guid);
        bytes.insert(bytes.end(), p, p + 16);
        return *this;
    }
};

/// A path stand-in that counts its refits.
class CountingPath final : public RtsObject, public ISCO_CSPath {
public:
    using RtsObject::RtsObject;
    int refits = 0;
    void RefreshCubicData() override { ++refits; }
    COrientation CalcOrientationAtDistanceSum(float) override { return {}; }
    COrientation CalcPosAtTimeSum(float) override { return {}; }
    bool QueryInterface(ULong id, void** out) override {
        if (id != kIdCSPath) return BaseQueryInterface(id, out);
        return !DescriptorRefuses(out) && HandOut(static_cast<ISCO_CSPath*>(this), out);
    }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }
};

}  // namespace

TEST_F(WaypointTest, StoredRecordReloadAndRefusals) {
    const Handle target = host.createPlain("target");
    const Handle name = host.create("SCOCameraSystemWaypoint", "wp");
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(name));
    ASSERT_TRUE(host.setReference(name, "PointsTo", target));
    host.setFloat(name, "Range", 2.5f);
    host.setFloat(name, "Roll", -30.0f);
    host.setFloat(name, "FOVFac", 0.75f);
    host.setULong(name, "Time2Next", 1234);
    host.setBool(name, "EaseIn", true);
    host.setBool(name, "IsOn", true);
    host.setULong(name, "PauseTime", 0xDEADBEEFu);
    _CCoordSystem<float> frame;
    frame.Orientation = _CMatrix3<float>(0, -1, 0, 1, 0, 0, 0, 0, 1);
    frame.Origin = {5, 6, 7};
    host.setObjectPos(name, frame);
    wp->Container = target;
    wp->SetMark();

    Record expected;
    expected.u32(1).guid(host.object(target)->Self).f32(2.5f).f32(-30.0f).f32(0.75f).u32(1234);
    expected.u8(1).u8(0).u8(1).u32(0xDEADBEEFu);
    expected.u32(2).guid(wp->SecondGuid).u32(1);
    for (float v : {0.f, -1.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 5.f, 6.f, 7.f}) expected.f32(v);
    expected.guid(target).u32(1);
    const std::vector<std::uint8_t> saved = host.save(name).value();
    EXPECT_EQ(saved, expected.bytes);

    // Reloaded into another waypoint: the nine values come back, the fitted data stays.
    const Handle copyName = host.create("SCOCameraSystemWaypoint", "copy");
    auto* copy = static_cast<SCOCameraSystemWaypoint*>(host.object(copyName));
    COrientation r{};
    r.Distance = 9.0f;
    copy->SetData(r, r, r, r);
    copy->SetDistance2Next(3.0f);
    ASSERT_TRUE(host.load(copyName, saved));
    for (const char* attribute :
         {"PointsTo", "Range", "Roll", "FOVFac", "Time2Next", "EaseIn", "EaseOut", "IsOn", "PauseTime", "ObjectPos"})
        EXPECT_EQ(host.getAttribute(copyName, attribute), host.getAttribute(name, attribute)) << attribute;
    EXPECT_EQ(copy->GetDistance2Next(), 3.0f);
    EXPECT_EQ(copy->GetDistanceSum(), 9.0f);
    EXPECT_EQ(copy->CubicData[0].Distance, 9.0f);

    // A stored version 2 is refused after its four bytes; nothing changes.
    const Handle freshName = host.create("SCOCameraSystemWaypoint", "fresh");
    auto* fresh = static_cast<SCOCameraSystemWaypoint*>(host.object(freshName));
    std::vector<std::uint8_t> newer = saved;
    newer[0] = 2;
    host::MemoryStream newerStream(newer);
    EXPECT_EQ(fresh->Serialize(&newerStream), 0);
    EXPECT_EQ(newerStream.position(), 4u);
    EXPECT_EQ(fresh->Range, 1.0f);
    EXPECT_TRUE(fresh->PointsTo.IsNull());
    EXPECT_EQ(fresh->ObjectPos.Origin.x, 0.0f);

    // Every truncation fails without reading past its end; the whole record loads.
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

    WaypointTestAccess::aim(*wp, {0, 10, 0});
    EXPECT_EQ(wp->Range, 10.0f);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(m.m[i][j], i == j ? 1.0f : 0.0f);
    expectPoint({cs->GetPara(3), cs->GetPara(4), cs->GetPara(5)}, 0, 10, 0);
    expectPoint(wp->GetDestPoint(), 0, 10, 0);

    WaypointTestAccess::aim(*wp, {10, 0, 0});
    EXPECT_EQ(wp->Range, 10.0f);
    expectPoint(column(m, 0), 0, -1, 0);
    expectPoint(column(m, 1), 1, 0, 0);
    expectPoint(column(m, 2), 0, 0, 1);
    expectPoint({cs->GetPara(3), cs->GetPara(4), cs->GetPara(5)}, 10, 0, 0);
    expectPoint(wp->GetDestPoint(), 10, 0, 0);

    // Through the host: a target object in general position, against a frame built in double.
    const Handle name = host.find("wp");
    _CCoordSystem<float> at;
    at.Origin = {1, 2, 3};
    host.setObjectPos(name, at);
    host.setReference(name, "PointsTo", host.createPlain("target", {3, 4, 12}));
    const host::RuntimeCounters before = host.runtime().counters();
    cs->Refresh();
    const host::RuntimeCounters& after = host.runtime().counters();
    EXPECT_EQ(after.resolves - before.resolves, 1u);
    EXPECT_EQ(after.releases - before.releases, 1u);
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
    expectPoint(wp->GetDestPoint(), 3, 4, 12, 1e-5f);

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
    const _Point3<float> o{0, 0, 0};
    const _Point3<float> targets[] = {o,
                                      {0, 0, 5},
                                      {0, 0, -5},
                                      {1e-20f, 0, 0},
                                      {1e-19f, 0, 10},
                                      {1e-3f, 0, 10},
                                      {1e30f, 1e30f, 0},
                                      {inf, 0, 0},
                                      {nan, 1, 2},
                                      {-3e38f, 3e38f, 3e38f}};
    for (const _Point3<float>& p : targets) {
        WaypointTestAccess::aim(*wp, {4, 2, 3});
        WaypointTestAccess::aim(*wp, p);
        SCOPED_TRACE(testing::Message() << p.x << ", " << p.y << ", " << p.z);
        expectOrthonormal(m);
        EXPECT_TRUE(std::isfinite(wp->Range) && wp->Range >= 0.0f);
    }
    WaypointTestAccess::aim(*wp, o);
    EXPECT_EQ(wp->Range, 0.0f);
    expectPoint(wp->GetDestPoint(), o.x, o.y, o.z);
}

TEST_F(WaypointTest, EditsRefitThePathDrawingAndBounds) {
    // In a path: one refit per notification, whatever the attribute.
    const Handle fakePath = host.add("fake path", Handle(), [](const CGUID& g, const CGUID& s, ISCODescriptor* d) {
        return new CountingPath(g, s, d);
    });
    auto* counting = static_cast<CountingPath*>(host.object(fakePath));
    const Handle inFake = host.create("SCOCameraSystemWaypoint", "in fake", fakePath);
    host.notifyAttributeChanged(inFake, "Range");
    EXPECT_EQ(counting->refits, 1);
    host.notifyAttributeChanged(inFake, "NoSuchAttribute");
    EXPECT_EQ(counting->refits, 2);
    host.notifyPositionChanged(inFake);
    EXPECT_EQ(counting->refits, 3);
    EXPECT_TRUE(host.messages().empty());

    // With the real path the refit is complete when the notification returns.
    const Handle path = host.create("SCOCameraSystemPath", "path");
    SCOCameraSystemWaypoint* first = make("first", path);
    make("second", path)->ObjectPos.Origin = {100, 0, 0};
    _CCoordSystem<float> moved;
    moved.Origin = {0, 30, 0};
    host.setObjectPos(host.find("first"), moved);
    host.notifyPositionChanged(host.find("first"));
    expectPoint(first->CubicData[3].Position, 0, 30, 0);
    EXPECT_TRUE(host.messages().empty());

    // Outside a path (alone, or inside an object that is not a path): one message each time.
    const Handle alone = host.create("SCOCameraSystemWaypoint", "alone");
    const Handle inPlain = host.create("SCOCameraSystemWaypoint", "in plain", host.createPlain("plain"));
    host.notifyPositionChanged(alone);
    host.notifyAttributeChanged(inPlain, "Roll");
    ASSERT_EQ(host.messages().size(), 2u);
    EXPECT_EQ(host.messages()[0].level, 2);
    EXPECT_EQ(host.messages()[0].location, "SCOCameraSystemWaypoint::OnPositionChanged");
    EXPECT_EQ(host.messages()[0].text, "Waypoint not in Path Container");
    EXPECT_EQ(host.messages()[1].location, "SCOCameraSystemWaypoint::OnAttributChanged");
    EXPECT_EQ(host.messages()[1].text, "Waypoint not in Path Container");

    // Drawing at (10, 20, 30): the view marker, the forward arrow, the up arrow.
    auto* wp = static_cast<SCOCameraSystemWaypoint*>(host.object(alone));
    wp->ObjectPos.Origin = {10, 20, 30};
    host::RecordingRenderer& recorder = host::defaultRecorder();
    recorder.clear();
    static_cast<ISCO_GCDrawSelf*>(wp)->Draw3D(nullptr);
    const std::vector<host::DrawCall>& calls = recorder.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, host::DrawKind::Line);
    expectPoint(calls[0].from, 10, 20, 30);
    expectPoint(calls[0].to, 10, 36, 30);
    EXPECT_EQ(calls[0].widthFrom, 0.0f);
    EXPECT_EQ(calls[0].widthTo, 16.0f);
    EXPECT_EQ(calls[0].colour, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.6f}));
    const std::array<float, 4> green{0.0f, 0.4f, 0.0f, 0.8f}, blue{0.0f, 0.0f, 0.4f, 0.8f};
    const _Point3<float> tips[] = {{10, 52, 30}, {10, 20, 62}};
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(calls[i].kind, host::DrawKind::Arrow);
        expectPoint(calls[i].from, 10, 20, 30);
        expectPoint(calls[i].to, tips[i - 1].x, tips[i - 1].y, tips[i - 1].z);
        EXPECT_EQ(calls[i].sizes, (std::array<float, 3>{3.2f, 1.6f, 0.4f}));
        EXPECT_EQ(calls[i].colour, i == 1 ? green : blue);
        EXPECT_EQ(calls[i].colour2, i == 1 ? green : blue);
    }
    for (const host::DrawCall& call : calls) EXPECT_EQ(call.flag, 1);

    // The markers turn with the waypoint.
    WaypointTestAccess::aim(*wp, {20, 20, 30});
    recorder.clear();
    static_cast<ISCO_GCDrawSelf*>(wp)->Draw3D(nullptr);
    expectPoint(recorder.calls().at(0).to, 26, 20, 30);
    expectPoint(recorder.calls().at(1).to, 42, 20, 30);
    expectPoint(recorder.calls().at(2).to, 10, 20, 62);
    wp->IsOnFlag = false;
    recorder.clear();
    static_cast<ISCO_GCDrawSelf*>(wp)->Draw3D(nullptr);
    EXPECT_TRUE(recorder.calls().empty());

    // A fixed cube of half edge 4, whatever the settings.
    _Point3<float> low{}, high{}, centre{};
    float radius = 0;
    auto* box = static_cast<ISCO_BoundingBox*>(wp);
    box->GetBBox(&low, &high);
    box->GetBSphere(&centre, &radius);
    expectPoint(low, 6, 16, 26);
    expectPoint(high, 14, 24, 34);
    expectPoint(centre, 10, 20, 30);
    EXPECT_EQ(radius, static_cast<float>(0.5 * std::sqrt(192.0)));

    auto* feedback = static_cast<ISCO_ScenewrightFeedback*>(wp);
    char buffer[8] = "keep";
    const char* code = feedback->GetDefaultScriptCode(0, buffer);
    const char* scriptName = feedback->GetDefaultScriptName(3, buffer);
    EXPECT_STREQ(code, "");
    EXPECT_STREQ(scriptName, "");
    EXPECT_STREQ(buffer, "keep");
}
