// The camera path inside the stand-in host: the fit and its parts, evaluation by distance and by
// time, the box and the drawing, the persisted record, and refits around failing waypoints.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/Host.h"
#include "host/InProcessModule.h"
#include "host/RecordingRenderer.h"
#include "path/SCOCameraSystemPath.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

/// The path's private operations.
struct PathTestAccess {
    static float distancePart(SCOCameraSystemPath& p, ChildPos& pos) { return p.GetDistanceSumPart(pos); }
    static float timePart(SCOCameraSystemPath& p, ChildPos& pos) { return p.GetTimeSumPart(pos); }
    static ULong sumTime(SCOCameraSystemPath& p) { return p.GetSumTime(); }
    static float sumDistance(SCOCameraSystemPath& p) { return p.GetSumDistance(); }
    static ULong count(SCOCameraSystemPath& p) { return p.GetWayPointCount(); }
    static void box(SCOCameraSystemPath& p) { p.RecalcBoundingBox(); }
    static void literalBox(SCOCameraSystemPath& p) { p.RecalcBoundingBoxLiteral(); }
};

namespace {

using Access = PathTestAccess;
constexpr const char* kRefit = "SCOCameraSystemPath::RefreshCubicData";

/// A waypoint of the test's own (identifier 26): position from `eye`, view (0, 1, 0), it
/// evaluates the records it is handed and throws from the calls it is told to.
class ScriptedWayPoint final : public RtsObject, public ISCO_CSWayPoint {
public:
    using RtsObject::RtsObject;
    bool QueryInterface(ULong id, void** out) override {
        if (id != kIdCSWayPoint) return BaseQueryInterface(id, out);
        return !DescriptorRefuses(out) && HandOut(static_cast<ISCO_CSWayPoint*>(this), out);
    }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* name, bool parents) override {
        return BaseGetAttributeInfo(index, attr, name, parents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    ULong GetTime2Next() override {
        if (++timeCalls == throwTimeOnCall) throw std::runtime_error("time");
        return time2Next;
    }
    float GetDistanceSum() override { return data[3].Distance; }
    float GetDistance2Next() override {
        if (throwDistance) throw std::runtime_error("distance");
        return distance2Next;
    }
    void SetDistance2Next(float d) override { distance2Next = d; }
    ULong GetPauseTime() override { return 0; }
    bool IsOn() override { return true; }
    void GetEaseInOut(bool& in, bool& out) override { in = out = false; }
    void CalcOrientationAtDistance(float s, COrientation& out) override {
        out = ((data[0] * s + data[1]) * s + data[2]) * s + data[3];
    }
    float CalcDistanceAtTime(float) override { return data[3].Distance; }
    void SetData(COrientation& c3, COrientation& c2, COrientation& c1, COrientation& c0) override {
        if (throwSetData) throw std::runtime_error("data");
        data[0] = c3, data[1] = c2, data[2] = c1, data[3] = c0;
    }
    float GetPara(int i) override {
        if (throwPara) throw std::runtime_error("para");
        return i < 3 ? (&eye.x)[i] : i == 4 || i == 7 ? 1.0f : 0.0f;
    }
    void Refresh() override {}

    _Point3<float> eye{0, 0, 0};
    ULong time2Next = 1000;
    float distance2Next = 0;
    COrientation data[4]{};
    int timeCalls = 0, throwTimeOnCall = -1;
    bool throwDistance = false, throwSetData = false, throwPara = false;
};

bool sameBits(const COrientation& a, const COrientation& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expectPoint(const _Point3<float>& p, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(p.x, x, tolerance);
    EXPECT_NEAR(p.y, y, tolerance);
    EXPECT_NEAR(p.z, z, tolerance);
}

class PathTest : public ::testing::Test {
protected:
    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle pathHandle = host.create("SCOCameraSystemPath", "path");

    SCOCameraSystemPath& path(const Handle& h) { return *static_cast<SCOCameraSystemPath*>(host.object(h)); }
    SCOCameraSystemPath& path() { return path(pathHandle); }
    SCOCameraSystemWaypoint& wp(const Handle& h) { return *static_cast<SCOCameraSystemWaypoint*>(host.object(h)); }
    ScriptedWayPoint& scripted(const Handle& h) { return *static_cast<ScriptedWayPoint*>(host.object(h)); }
    ChildPos firstChild(const Handle& h) { return static_cast<ISCO_SCOContainer&>(path(h)).GetFirstChild(); }

    Handle addWayPoint(_Point3<float> at, ULong time2Next = 1000, Handle parent = Handle()) {
        const Handle w = host.create("SCOCameraSystemWaypoint", "", parent.IsNull() ? pathHandle : parent);
        _CCoordSystem<float> frame;
        frame.Origin = at;
        host.setObjectPos(w, frame);
        host.setULong(w, "Time2Next", time2Next);
        return w;
    }
    Handle addScripted(_Point3<float> at) {
        const Handle w = host.add("", pathHandle, [](const CGUID& g, const CGUID& s, ISCODescriptor* d) {
            return new ScriptedWayPoint(g, s, d);
        });
        scripted(w).eye = at;
        return w;
    }
};

}  // namespace

TEST_F(PathTest, TwoWaypointsGiveStraightSegmentAndBox) {
    const Handle a = addWayPoint({0, 0, 0}), b = addWayPoint({3, 4, 0});
    path().RefreshCubicData();

    // Step 5 (eye) + 0 (view) + 0.1; D starts at 0.1.
    EXPECT_EQ(wp(a).GetDistanceSum(), 0.1f);
    EXPECT_FLOAT_EQ(wp(b).GetDistanceSum(), 5.2f);
    EXPECT_EQ(wp(a).Distance2Next, 5.1f);
    EXPECT_EQ(wp(b).Distance2Next, 5.1f);

    // A part of two: the straight line, S(u) = y0 + (y1 - y0) / h * u; the end holds.
    const COrientation own{{0, 0, 0}, {0, 1, 0}, 0, 1, 0.1f};
    EXPECT_TRUE(sameBits(wp(a).CubicData[3], own));
    const COrientation zero{};
    EXPECT_TRUE(sameBits(wp(a).CubicData[0], zero));
    EXPECT_TRUE(sameBits(wp(a).CubicData[1], zero));
    expectPoint(wp(a).CubicData[2].Position, 3 / 5.1f, 4 / 5.1f, 0);
    EXPECT_FLOAT_EQ(wp(a).CubicData[2].Distance, 5.1f / 1000);
    for (int r = 0; r < 3; ++r) EXPECT_TRUE(sameBits(wp(b).CubicData[r], zero));
    EXPECT_TRUE(sameBits(wp(b).CubicData[3], COrientation({3, 4, 0}, {0, 1, 0}, 0, 1, wp(b).GetDistanceSum())));

    // Samples at 0 ... 5.0 on the first segment, the last at u = 4.9; then the margin.
    _Point3<float> lo, hi;
    path().GetBBox(&lo, &hi);
    expectPoint(lo, -1, -1, -1);
    expectPoint(hi, 1 + 3 * 4.9f / 5.1f, 1 + 4 * 4.9f / 5.1f, 1);
}

TEST_F(PathTest, SegmentCoefficientsOfAThreeKnotPart) {
    // Steps of 1 (0.9 of travel + 0.1) and roll 0, 1, 0 radians: M = (0, -3, 0), so the segments
    // are 1.5u - 0.5u^3 and 1 - 1.5u^2 + 0.5u^3 (records: cubic, quadratic, linear, constant).
    const float oneRadian = static_cast<float>(180 / 3.141592653589793);
    const Handle w0 = addWayPoint({0, 0, 0}), w1 = addWayPoint({0.9f, 0, 0}), w2 = addWayPoint({1.8f, 0, 0});
    host.setFloat(w1, "Roll", oneRadian);
    path().RefreshCubicData();
    const float expected[2][4] = {{-0.5f, 0, 1.5f, 0}, {0.5f, -1.5f, 0, 1}};
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < 4; ++r) EXPECT_NEAR(wp(k ? w1 : w0).CubicData[r].Roll, expected[k][r], 1e-5) << k << r;
    EXPECT_EQ(wp(w0).CubicData[1].Position.x, 0.0f);
    EXPECT_EQ(wp(w2).Distance2Next, 1.0f);
}

TEST_F(PathTest, PartsSplitAtCutsAndSkipOtherChildren) {
    // Time2Next 1000, 0, 500 and D = (0.1, 5.2, 9.0): parts {0, 1} and {2}.
    const Handle w0 = addWayPoint({0, 0, 0}, 1000);
    host.createPlain("plain", {50, 50, 50}, pathHandle);
    const Handle off = addWayPoint({40, 0, 0});
    host.setBool(off, "IsOn", false);
    const Handle w1 = addWayPoint({3, 4, 0}, 0), w2 = addWayPoint({3, 7.7f, 0}, 500);
    path().RefreshCubicData();

    EXPECT_EQ(Access::count(path()), 3u);
    EXPECT_EQ(wp(off).Distance2Next, 0.0f);
    EXPECT_NEAR(wp(w2).GetDistanceSum(), 9.0f, 1e-5);
    ChildPos pos = firstChild(pathHandle);
    EXPECT_NEAR(Access::distancePart(path(), pos), 5.1f, 1e-5);
    EXPECT_EQ(Access::distancePart(path(), pos), 0.0f);
    EXPECT_EQ(pos, 0u);
    pos = firstChild(pathHandle);
    EXPECT_EQ(Access::timePart(path(), pos), 1000.0f);
    EXPECT_EQ(Access::timePart(path(), pos), 0.0f);
    EXPECT_EQ(Access::sumTime(path()), 1000u);
    EXPECT_EQ(Access::sumDistance(path()), wp(w2).GetDistanceSum());
    // Two-waypoint part: no cubic term even for distance over time; the cut and the lone
    // waypoint hold their own values.
    EXPECT_EQ(wp(w0).CubicData[0].Distance, 0.0f);
    EXPECT_EQ(wp(w1).CubicData[2].Distance, 0.0f);
    EXPECT_EQ(wp(w2).CubicData[2].Distance, 0.0f);
    EXPECT_EQ(wp(w2).CubicData[3].Position.y, 7.7f);

    // 1000, 500, 0: the last Time2Next never splits, so D over T bends at waypoint 1.
    host.setULong(w1, "Time2Next", 500);
    host.setULong(w2, "Time2Next", 0);
    path().RefreshCubicData();
    EXPECT_NE(wp(w0).CubicData[0].Distance, 0.0f);
    EXPECT_EQ(wp(w0).CubicData[1].Distance, 0.0f);  // natural end
    EXPECT_NE(wp(w1).CubicData[1].Distance, 0.0f);
    host.setULong(w2, "Time2Next", 250);
    EXPECT_EQ(Access::sumTime(path()), 1500u);

    // Nothing but a switched-off waypoint and a plain object: no waypoint, no fit.
    const Handle other = host.create("SCOCameraSystemPath", "other");
    host.setBool(addWayPoint({1, 1, 1}, 1000, other), "IsOn", false);
    host.createPlain("plain2", {0, 0, 0}, other);
    EXPECT_EQ(Access::count(path(other)), 0u);
    EXPECT_EQ(Access::sumTime(path(other)), 0u);
}

TEST_F(PathTest, EvaluationSelectsTheWaypoint) {
    const Handle w0 = addWayPoint({0, 0, 0}, 1000), w1 = addWayPoint({3, 4, 0}, 500);
    host.setBool(addWayPoint({-9, -9, -9}), "IsOn", false);
    const Handle w2 = addWayPoint({3, 7.7f, 0}, 250);
    path().RefreshCubicData();
    const float d1 = wp(w1).GetDistanceSum(), d2 = wp(w2).GetDistanceSum();
    auto at = [&](float d) { return path().CalcOrientationAtDistanceSum(d); };
    auto on = [&](const Handle& w, float u) {
        COrientation r{};
        wp(w).CalcOrientationAtDistance(u, r);
        return r;
    };
    // Below D[0] the first waypoint takes the distance itself; from D[k] on waypoint k the
    // distance since D[k]; beyond the end the last waypoint holds.
    EXPECT_TRUE(sameBits(at(0), on(w0, 0)));
    EXPECT_TRUE(sameBits(at(0.05f), on(w0, 0.05f)));
    EXPECT_TRUE(sameBits(at(-3), on(w0, -3)));
    EXPECT_TRUE(sameBits(at(0.1f), on(w0, 0)));
    EXPECT_TRUE(sameBits(at(7), on(w1, 7 - d1)));
    EXPECT_TRUE(sameBits(at(100), on(w2, 100 - d2)));
    expectPoint(at(d1).Position, 3, 4, 0, 0);
    expectPoint(at(100).Position, 3, 7.7f, 0, 0);

    // By time, T = (0, 1000, 1500): waypoint k from T[k] on, at the time since T[k].
    auto atTime = [&](float t) { return path().CalcPosAtTimeSum(t); };
    expectPoint(atTime(0).Position, 0, 0, 0, 0);
    expectPoint(atTime(1000).Position, 3, 4, 0, 0);
    expectPoint(atTime(1500).Position, 3, 7.7f, 0, 0);
    EXPECT_TRUE(sameBits(atTime(1200), at(wp(w1).CalcDistanceAtTime(200))));
    EXPECT_TRUE(sameBits(atTime(-5), at(wp(w0).CalcDistanceAtTime(-5))));

    // Without waypoints: an all-zero sample and zero sums.
    const Handle empty = host.create("SCOCameraSystemPath", "empty");
    EXPECT_TRUE(sameBits(path(empty).CalcOrientationAtDistanceSum(1), COrientation{}));
    EXPECT_TRUE(sameBits(path(empty).CalcPosAtTimeSum(1), COrientation{}));
    EXPECT_EQ(Access::sumDistance(path(empty)), 0.0f);
    ChildPos none = firstChild(empty);
    EXPECT_EQ(Access::distancePart(path(empty), none), 0.0f);
}

TEST_F(PathTest, FittedPathAgreesWithGsl) {
    gsl_set_error_handler_off();
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> coordinate(-40, 40);
    constexpr int kCount = 9;
    std::vector<Handle> w;
    for (int k = 0; k < kCount; ++k)
        w.push_back(addWayPoint({coordinate(random), coordinate(random), coordinate(random)}));
    path().RefreshCubicData();

    std::vector<double> knots;
    for (const Handle& h : w) knots.push_back(wp(h).GetDistanceSum());
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> values;
        for (const Handle& h : w) values.push_back((&host.getObjectPos(h)->Origin.x)[axis]);
        gsl_interp* spline = gsl_interp_alloc(gsl_interp_cspline, kCount);
        gsl_interp_init(spline, knots.data(), values.data(), kCount);
        // The coefficients are floats: agreement to some ten ulps of values around 40.
        for (double d = knots.front(); d < knots.back(); d += 0.37) {
            const float got = path().CalcOrientationAtDistanceSum(static_cast<float>(d))[axis];
            EXPECT_NEAR(got, gsl_interp_eval(spline, knots.data(), values.data(), d, nullptr), 5e-5) << d;
        }
        gsl_interp_free(spline);
    }
}

TEST_F(PathTest, FailingWaypointCallsAreReportedAndTheRefitGoesOn) {
    const Handle a = addWayPoint({0, 0, 0});
    const Handle s = addScripted({3, 4, 0});
    const Handle c = addWayPoint({6, 8, 0});
    scripted(s).throwDistance = scripted(s).throwSetData = true;
    scripted(s).throwTimeOnCall = 2;  // the first call fills the time knots
    host.setPoint(pathHandle, "MinBound", {7, 7, 7});
    path().RefreshCubicData();
    ASSERT_EQ(host.messages().size(), 3u);
    const char* texts[] = {"1", "2", "4"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.messages()[i].level, 2);
        EXPECT_EQ(host.messages()[i].location, kRefit);
        EXPECT_EQ(host.messages()[i].text, texts[i]);
    }
    EXPECT_NE(wp(a).CubicData[2].Position.x, 0.0f);
    EXPECT_FLOAT_EQ(wp(c).GetDistanceSum(), 10.3f);
    EXPECT_EQ(path().MinBound.x, -1.0f);  // the box was recomputed

    // A failed step keeps the last one: before any waypoint the default 1000. A failed
    // Time2Next makes the time step 1000 too, whatever the time knots said (500).
    const Handle other = host.create("SCOCameraSystemPath", "other");
    pathHandle = other;
    const Handle first = addScripted({3, 0, 0});
    addWayPoint({6, 0, 0});
    scripted(first).throwDistance = true;
    scripted(first).time2Next = 500;
    path().RefreshCubicData();
    EXPECT_FLOAT_EQ(scripted(first).data[2].Position.x, 3.0f / 1000);
    EXPECT_FLOAT_EQ(scripted(first).data[2].Distance, 3.1f / 500);
    scripted(first).throwDistance = false;
    scripted(first).throwTimeOnCall = scripted(first).timeCalls + 2;
    path().RefreshCubicData();
    EXPECT_FLOAT_EQ(scripted(first).data[2].Position.x, 3.0f / 3.1f);
    EXPECT_FLOAT_EQ(scripted(first).data[2].Distance, 3.1f / 1000);

    // Anything else ends the refit with one report; the box keeps its values.
    scripted(first).throwPara = true;
    host.setPoint(other, "MinBound", {7, 7, 7});
    const std::size_t before = host.messages().size();
    path().RefreshCubicData();
    ASSERT_EQ(host.messages().size(), before + 1);
    EXPECT_EQ(host.messages().back().location, "SCOCameraSystemPath");
    EXPECT_EQ(host.messages().back().text, "Exception in RefreshCubicData");
    EXPECT_EQ(host.getPoint(other, "MinBound")->x, 7.0f);
}

TEST_F(PathTest, FastBoxEqualsLiteralBoxAndSamplingEnds) {
    std::mt19937 random(11u);
    std::uniform_real_distribution<float> coordinate(-100, 100), angle(-3, 3), range(0.1f, 20);
    const ULong times[] = {0, 300, 1000, 2500};
    for (int trial = 0; trial < 6; ++trial) {
        pathHandle = host.create("SCOCameraSystemPath", "random" + std::to_string(trial));
        for (int k = 0, n = 2 + trial; k < n; ++k) {
            const Handle w =
                addWayPoint({coordinate(random), coordinate(random), coordinate(random)}, times[random() % 4]);
            _CCoordSystem<float> frame = *host.getObjectPos(w);
            frame.Orientation = Matrix3f::RotationZ(angle(random)) * Matrix3f::RotationX(angle(random));
            host.setObjectPos(w, frame);
            host.setFloat(w, "Range", range(random));
            host.setFloat(w, "Roll", coordinate(random));
            if (k == 1) host.setBool(w, "IsOn", trial % 2 == 0);
        }
        path().RefreshCubicData();
        const CPosition fastMin = path().MinBound, fastMax = path().MaxBound;
        Access::literalBox(path());
        EXPECT_EQ(std::memcmp(&fastMin.x, &path().MinBound.x, 12), 0) << trial;
        EXPECT_EQ(std::memcmp(&fastMax.x, &path().MaxBound.x, 12), 0) << trial;
    }

    // Samples that land exactly on a DistanceSum belong to the waypoint that starts there.
    pathHandle = host.create("SCOCameraSystemPath", "grid");
    const Handle g0 = addScripted({0, 0, 0}), g1 = addScripted({0, 0, 0}), g2 = addScripted({0, 0, 0});
    scripted(g0).data[3].Distance = 0.1f;
    scripted(g0).data[2].Position.x = 1;
    scripted(g1).data[3].Distance = 1.0f;
    scripted(g1).data[3].Position.x = 5;
    scripted(g1).data[2].Position.x = -10;
    scripted(g2).data[3].Distance = 2.0f;
    Access::box(path());
    EXPECT_EQ(path().MaxBound.x, 6.0f);
    const CPosition gridMax = path().MaxBound;
    Access::literalBox(path());
    EXPECT_EQ(std::memcmp(&gridMax.x, &path().MaxBound.x, 12), 0);

    // Totals the 0.25 steps cannot reach: NaN and infinity sample nothing (the box stays
    // inverted); 1e30 stops where d + 0.25 == d, at 2^22, with every sample inside the box.
    pathHandle = host.create("SCOCameraSystemPath", "huge");
    const Handle s0 = addScripted({0, 0, 0}), s1 = addScripted({0, 0, 0});
    scripted(s0).data[3].Distance = 0.1f;
    scripted(s0).data[2].Position.x = 1;
    for (float total : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        scripted(s1).data[3].Distance = total;
        Access::box(path());
        EXPECT_GT(path().MinBound.x, path().MaxBound.x);
        Access::literalBox(path());
        EXPECT_GT(path().MinBound.x, path().MaxBound.x);
        host::defaultRecorder().clear();
        path().Draw3D(nullptr);  // no 32-unit steps towards such an end
        EXPECT_LE(host::defaultRecorder().calls().size(), 1u);
    }
    scripted(s1).data[3].Distance = 1e30f;
    Access::box(path());
    EXPECT_EQ(path().MinBound.x, -1.0f);
    EXPECT_NEAR(path().MaxBound.x, 4194304.0f - 0.25f - 0.1f + 1, 0.5f);
}

TEST_F(PathTest, Draw3DSamplesEvery32UnitsPerPart) {
    host::RecordingRenderer& recorder = host::defaultRecorder();
    auto linesOf = [&](const Handle& h) {
        recorder.clear();
        path(h).Draw3D(nullptr);
        return recorder.calls();
    };
    // Span 10: one line from the first sample to the one at 10 - 1e-6 (u = 9.9 on the segment).
    addWayPoint({0, 0, 0});
    addWayPoint({9.9f, 0, 0});
    path().RefreshCubicData();
    auto calls = linesOf(pathHandle);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, host::DrawKind::Line);
    expectPoint(calls[0].from, 0, 0, 0, 0);
    expectPoint(calls[0].to, 9.9f * 0.99f, 0, 0, 1e-4f);
    EXPECT_EQ(calls[0].widthFrom, 2.0f);
    EXPECT_EQ(calls[0].widthTo, 2.0f);
    EXPECT_EQ(calls[0].colour, (std::array<float, 4>{0.4f, 0.4f, 0.4f, 0.8f}));
    EXPECT_EQ(calls[0].flag, 0);
    host.setBool(pathHandle, "ShowPath", false);
    EXPECT_TRUE(linesOf(pathHandle).empty());

    // Span 100: samples at 0, 32, 64 and 100 - 1e-6; x = 0.999 * (d - 0.1).
    pathHandle = host.create("SCOCameraSystemPath", "long");
    addWayPoint({0, 0, 0});
    addWayPoint({99.9f, 0, 0});
    path().RefreshCubicData();
    calls = linesOf(pathHandle);
    ASSERT_EQ(calls.size(), 3u);
    const float xs[] = {0, 31.9f * 0.999f, 63.9f * 0.999f, 99.9f * 0.999f};
    for (int i = 0; i < 3; ++i) {
        expectPoint(calls[i].from, xs[i], 0, 0, 1e-4f);
        expectPoint(calls[i].to, xs[i + 1], 0, 0, 1e-4f);
    }

    // After a cut the part starts at its first waypoint; the jump itself is not drawn.
    pathHandle = host.create("SCOCameraSystemPath", "cut");
    addWayPoint({0, 0, 0});
    addWayPoint({10, 0, 0}, 0);
    addWayPoint({0, 50, 0});
    addWayPoint({0, 60, 0});
    path().RefreshCubicData();
    calls = linesOf(pathHandle);
    ASSERT_EQ(calls.size(), 2u);
    expectPoint(calls[1].from, 0, 50, 0, 0);
    expectPoint(calls[1].to, 0, 60, 0, 1e-4f);

    // The sphere around a box.
    host.setPoint(pathHandle, "MinBound", {-1, -1, -1});
    host.setPoint(pathHandle, "MaxBound", {1, 1, 1});
    _Point3<float> centre;
    float radius;
    path().GetBSphere(&centre, &radius);
    expectPoint(centre, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(radius, std::sqrt(3.0f));
}

namespace {

/// Little-endian record bytes.
struct Bytes {
    std::vector<std::uint8_t> data;
    Bytes& raw(const void* p, std::size_t n) {
        auto* b = static_cast<const std::uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    Bytes& u32(std::uint32_t v) { return raw(&v, 4); }
    Bytes& f32(float v) { return raw(&v, 4); }
    Bytes& point(float x, float y, float z) { return u32(1).f32(x).f32(y).f32(z); }
    Bytes& guid(const CGUID& g) { return u32(1).raw(&g.Guid, 16); }
};

/// A path record of `version`: bounds, ShowPath, the extra of version 2, then the base record
/// (identity frame at the origin, no container, Mark).
std::vector<std::uint8_t> pathRecord(int version, const CGUID& second, bool showPath, std::int32_t mark) {
    Bytes b;
    b.u32(version).point(1, 2, 3).point(4, 5, 6).raw(&showPath, 1);
    if (version == 2) b.u32(0xDEADBEEF);
    b.u32(2).guid(second).u32(1);
    for (float f : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f}) b.f32(f);
    return b.guid(CGUID()).u32(mark).data;
}

}  // namespace

TEST_F(PathTest, RecordVersionsAndAfterLoad) {
    const CGUID second = path().SecondGuid;
    path().MinBound = _Point3<float>{1, 2, 3};
    path().MaxBound = _Point3<float>{4, 5, 6};
    EXPECT_EQ(*host.save(pathHandle), pathRecord(3, second, true, 0));

    // Version 2 carries an unsigned long after ShowPath that is dropped; 0, 1, 3 do not.
    for (int version : {0, 1, 2, 3}) {
        const Handle h = host.create("SCOCameraSystemPath", "v" + std::to_string(version));
        ASSERT_TRUE(host.load(h, pathRecord(version, second, false, 1))) << version;
        EXPECT_FALSE(path(h).ShowPath);
        EXPECT_EQ(path(h).MaxBound.z, 6.0f);
        EXPECT_EQ(path(h).GetMark(), 1);
    }
    const Handle refused = host.create("SCOCameraSystemPath", "v4");
    EXPECT_FALSE(host.load(refused, pathRecord(4, second, false, 1)));
    EXPECT_TRUE(path(refused).ShowPath);
    EXPECT_EQ(path(refused).MaxBound.z, 0.0f);

    // AfterLoad refits: with fewer than two waypoints the loaded bounds stay.
    const Handle w = addWayPoint({0, 0, 0});
    host.afterLoadAll();
    EXPECT_EQ(path().MaxBound.z, 6.0f);
    addWayPoint({3, 4, 0});
    path().AfterLoad();
    EXPECT_EQ(wp(w).Distance2Next, 5.1f);
    EXPECT_EQ(path().MaxBound.z, 1.0f);
}
