// The camera path inside the stand-in host: its fit against GSL's natural cubic spline, an
// independent solver of the same system, and against small cases worked by hand; the fit's parts,
// evaluation by distance and by time, the box and the drawing, the persisted record, and refits
// around failing waypoints.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <vector>

#include "path/CubicSpline.h"
#include "path/SCOCameraSystemPath.h"
#include "render/RecordingRenderer.h"
#include "tests/support/Bytes.h"
#include "tests/support/InProcessHost.h"
#include "tests/support/LiteralBox.h"
#include "tests/support/PathTestAccess.h"
#include "tests/support/Points.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

using namespace testing_support;

namespace {

/// A waypoint that throws from the calls it is told to (std::bad_alloc from the evaluation by
/// distance, std::runtime_error from the others).
class ThrowingWayPoint final : public SCOCameraSystemWaypoint {
public:
    using Base = SCOCameraSystemWaypoint;
    using Base::Base;
    ULong GetTime2Next() override {
        failIf(++timeCalls == throwTimeOnCall);
        return Base::GetTime2Next();
    }
    float GetDistance2Next() override {
        failIf(throwDistance);
        return Base::GetDistance2Next();
    }
    void SetData(COrientation& c3, COrientation& c2, COrientation& c1, COrientation& c0) override {
        failIf(throwSetData);
        Base::SetData(c3, c2, c1, c0);
    }
    float GetPara(int i) override {
        failIf(throwPara);
        return Base::GetPara(i);
    }
    void CalcOrientationAtDistance(float s, COrientation& out) override {
        if (throwEvaluation) throw std::bad_alloc();
        Base::CalcOrientationAtDistance(s, out);
    }
    float CalcDistanceAtTime(float t) override {
        failIf(throwEvaluation);
        return Base::CalcDistanceAtTime(t);
    }
    static void failIf(bool now) {
        if (now) throw std::runtime_error("failing waypoint");
    }

    int timeCalls = 0, throwTimeOnCall = -1;
    bool throwDistance = false, throwSetData = false, throwPara = false, throwEvaluation = false;
};

bool sameBits(const COrientation& a, const COrientation& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(CubicSpline, RepeatedKnotsAndTooFew) {
    // Of two equal knots the earlier is dropped: 0, 1, 2 -> 0, 1, 0, where the inner equation
    // 2*M1 = 6*(-1 - 1)/2 gives M1 = -3. The scan moves on after a removal: of three equal knots
    // two stay. Each fit replaces the one before.
    CCubicSpline spline;
    const double xr[] = {0, 1, 1, 2}, yr[] = {0, 5, 1, 0};
    spline.Fit(4, xr, yr);
    ASSERT_EQ(spline.count, 3);
    EXPECT_EQ(spline.values[1], 1.0);
    EXPECT_DOUBLE_EQ(spline.secondDerivatives[1], -3.0);
    const double xt[] = {0, 1, 1, 1, 2}, yt[] = {0, 1, 2, 3, 0};
    spline.Fit(5, xt, yt);
    EXPECT_EQ(spline.count, 4);
    EXPECT_EQ(spline.values[1], 2.0);

    // Fewer than two distinct knots: copies, but no second derivatives.
    const double x[] = {0, 1, 2}, y[] = {0, 1, 0}, same[] = {4, 4};
    const std::pair<int, const double*> few[] = {{1, x}, {2, same}, {-3, nullptr}};
    for (const auto& [n, knots] : few) {
        spline.Fit(n, knots, knots ? y : nullptr);
        EXPECT_EQ(spline.count, std::max(0, std::min(n, 1))) << n;
        EXPECT_FALSE(spline.secondDerivatives) << n;
    }
}

/// The fixture: a host with a current path, and the path's private operations on it.
struct PathTest : InProcessHost {
    Handle pathHandle = host.create("SCOCameraSystemPath", "path");

    SCOCameraSystemPath& path() { return *static_cast<SCOCameraSystemPath*>(host.object(pathHandle)); }
    SCOCameraSystemWaypoint& wp(const Handle& h) { return *static_cast<SCOCameraSystemWaypoint*>(host.object(h)); }
    /// A new path, the one the next waypoints go into.
    void newPath(const std::string& name) { pathHandle = host.create("SCOCameraSystemPath", name); }
    /// A waypoint at `at` in the current path.
    Handle addWayPoint(_Point3<float> at, ULong time2Next = 1000, const host::ObjectMaker& make = {}) {
        const Handle w = make ? host.add("", pathHandle, make) : host.create("SCOCameraSystemWaypoint", "", pathHandle);
        host.object(w)->ObjectPos.Origin = at;
        host.setULong(w, "Time2Next", time2Next);
        return w;
    }
    ThrowingWayPoint& addThrowing(_Point3<float> at) {
        auto make = [](const CGUID& g, const CGUID& s, ISCODescriptor* d) { return new ThrowingWayPoint(g, s, d); };
        return static_cast<ThrowingWayPoint&>(wp(addWayPoint(at, 1000, make)));
    }
    /// The calls one Draw3D of the current path makes.
    std::vector<host::DrawCall> draw() {
        host::defaultRecorder().clear();
        path().Draw3D(nullptr);
        return host::defaultRecorder().calls();
    }
    void box() { PathTestAccess::box(path()); }
};

TEST_F(PathTest, TwoWaypointsGiveStraightSegmentAndBox) {
    const Handle a = addWayPoint({0, 0, 0}), b = addWayPoint({3, 4, 0});
    path().RefreshCubicData();

    // Step 5 (eye) + 0 (view) + 0.1; D starts at 0.1 (the first record's constant term below).
    EXPECT_FLOAT_EQ(wp(b).GetDistanceSum(), 5.2f);
    EXPECT_TRUE(wp(a).Distance2Next == 5.1f && wp(b).Distance2Next == 5.1f);

    // A part of two: the straight line, S(u) = y0 + (y1 - y0) / h * u; the end holds.
    const COrientation zero{};
    EXPECT_TRUE(sameBits(wp(a).CubicData[3], COrientation({0, 0, 0}, {0, 1, 0}, 0, 1, 0.1f)));
    EXPECT_TRUE(sameBits(wp(a).CubicData[0], zero) && sameBits(wp(a).CubicData[1], zero));
    EXPECT_TRUE(near(wp(a).CubicData[2].Position, {3 / 5.1f, 4 / 5.1f, 0}, 1e-5));
    EXPECT_FLOAT_EQ(wp(a).CubicData[2].Distance, 5.1f / 1000);
    for (int r = 0; r < 3; ++r) EXPECT_TRUE(sameBits(wp(b).CubicData[r], zero));
    EXPECT_TRUE(sameBits(wp(b).CubicData[3], COrientation({3, 4, 0}, {0, 1, 0}, 0, 1, wp(b).GetDistanceSum())));

    // Samples at 0 ... 5.0 on the first segment, the last at u = 4.9; then the margin. The
    // sphere: the box's centre, half its diagonal.
    _Point3<float> lo, hi, centre;
    float radius;
    path().GetBBox(&lo, &hi);
    path().GetBSphere(&centre, &radius);
    EXPECT_TRUE(near(lo, {-1, -1, -1}, 1e-5) && near(hi, {1 + 3 * 4.9f / 5.1f, 1 + 4 * 4.9f / 5.1f, 1}, 1e-5));
    EXPECT_TRUE(near(centre, (lo + hi) * 0.5f));
    EXPECT_FLOAT_EQ(radius, 0.5 * std::hypot(hi.x - lo.x, hi.y - lo.y, hi.z - lo.z));
}

TEST_F(PathTest, SegmentCoefficientsOfAThreeKnotPart) {
    // Steps of 1 (0.9 of travel + 0.1) and roll 0, 1, 0 radians: M = (0, -3, 0), so the segments
    // are 1.5u - 0.5u^3 and 1 - 1.5u^2 + 0.5u^3 (records: cubic, quadratic, linear, constant).
    const Handle w0 = addWayPoint({0, 0, 0}), w1 = addWayPoint({0.9f, 0, 0}), w2 = addWayPoint({1.8f, 0, 0});
    host.setFloat(w1, "Roll", static_cast<float>(180 / 3.141592653589793));
    path().RefreshCubicData();
    const float expected[2][4] = {{-0.5f, 0, 1.5f, 0}, {0.5f, -1.5f, 0, 1}};
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < 4; ++r) EXPECT_NEAR(wp(k ? w1 : w0).CubicData[r].Roll, expected[k][r], 1e-5) << k << r;
    EXPECT_TRUE(wp(w0).CubicData[1].Position.x == 0.0f && wp(w2).Distance2Next == 1.0f);
}

TEST_F(PathTest, PartsSplitAtCutsAndSkipOtherChildren) {
    // Time2Next 1000, 0, 500 and D = (0.1, 5.2, 9.0): parts {0, 1} and {2}.
    const Handle w0 = addWayPoint({0, 0, 0}, 1000);
    host.createPlain("plain", {50, 50, 50}, pathHandle);
    const Handle off = addWayPoint({40, 0, 0});
    host.setBool(off, "IsOn", false);
    const Handle w1 = addWayPoint({3, 4, 0}, 0), w2 = addWayPoint({3, 7.7f, 0}, 500);
    path().RefreshCubicData();

    EXPECT_TRUE(PathTestAccess::count(path()) == 3u && wp(off).Distance2Next == 0.0f);
    EXPECT_NEAR(wp(w2).GetDistanceSum(), 9.0f, 1e-5);
    ChildPos pos = static_cast<ISCO_SCOContainer&>(path()).GetFirstChild();
    EXPECT_NEAR(PathTestAccess::distancePart(path(), pos), 5.1f, 1e-5);
    EXPECT_TRUE(PathTestAccess::distancePart(path(), pos) == 0.0f && pos == 0u);
    EXPECT_TRUE(PathTestAccess::sumTime(path()) == 1000u &&
                PathTestAccess::sumDistance(path()) == wp(w2).GetDistanceSum());
    // Two-waypoint part: no cubic term even for distance over time; the cut and the lone
    // waypoint hold their own values.
    EXPECT_TRUE(wp(w0).CubicData[0].Distance == 0.0f && wp(w1).CubicData[2].Distance == 0.0f &&
                wp(w2).CubicData[2].Distance == 0.0f);
    EXPECT_EQ(wp(w2).CubicData[3].Position.y, 7.7f);

    // 1000, 500, 0: the last Time2Next never splits, so D over T bends at waypoint 1.
    host.setULong(w1, "Time2Next", 500);
    host.setULong(w2, "Time2Next", 0);
    path().RefreshCubicData();
    EXPECT_TRUE(wp(w0).CubicData[0].Distance != 0.0f && wp(w1).CubicData[1].Distance != 0.0f);
    EXPECT_EQ(wp(w0).CubicData[1].Distance, 0.0f);  // natural end
}

TEST_F(PathTest, EvaluationSelectsTheWaypoint) {
    const Handle w0 = addWayPoint({0, 0, 0}, 1000), w1 = addWayPoint({3, 4, 0}, 500);
    host.setBool(addWayPoint({-9, -9, -9}), "IsOn", false);
    const Handle w2 = addWayPoint({3, 7.7f, 0}, 250);
    path().RefreshCubicData();
    const float d1 = wp(w1).GetDistanceSum(), d2 = wp(w2).GetDistanceSum();
    auto at = [&](float d) { return path().CalcOrientationAtDistanceSum(d); };
    auto atTime = [&](float t) { return path().CalcPosAtTimeSum(t); };
    auto on = [&](const Handle& w, float u) {
        COrientation r{};
        wp(w).CalcOrientationAtDistance(u, r);
        return r;
    };
    // Below D[0] the first waypoint takes the distance itself; from D[k] on waypoint k the
    // distance since D[k]; beyond the end the last waypoint holds.
    const std::pair<float, COrientation> cases[] = {{0, on(w0, 0)},    {0.05f, on(w0, 0.05f)}, {-3, on(w0, -3)},
                                                    {0.1f, on(w0, 0)}, {7, on(w1, 7 - d1)},    {100, on(w2, 100 - d2)},
                                                    {d1, on(w1, 0)}};
    for (const auto& [d, expected] : cases) EXPECT_TRUE(sameBits(at(d), expected)) << d;

    // By time, T = (0, 1000, 1500): waypoint k from T[k] on, at the time since T[k].
    EXPECT_TRUE(near(atTime(0).Position, {0, 0, 0}) && near(atTime(1000).Position, {3, 4, 0}));
    EXPECT_TRUE(near(atTime(1500).Position, {3, 7.7f, 0}));
    EXPECT_TRUE(sameBits(atTime(1200), at(wp(w1).CalcDistanceAtTime(200))));
    EXPECT_TRUE(sameBits(atTime(-5), at(wp(w0).CalcDistanceAtTime(-5))));

    // Nothing but a switched-off waypoint and a plain object: no waypoint, zero sums and an
    // all-zero sample.
    newPath("empty");
    host.setBool(addWayPoint({1, 1, 1}), "IsOn", false);
    host.createPlain("plain", {0, 0, 0}, pathHandle);
    EXPECT_TRUE(PathTestAccess::count(path()) == 0u && PathTestAccess::sumTime(path()) == 0u &&
                PathTestAccess::sumDistance(path()) == 0.0f);
    EXPECT_TRUE(sameBits(at(1), COrientation{}) && sameBits(atTime(1), COrientation{}));
}

TEST_F(PathTest, FittedPathAgreesWithGsl) {
    // Two parts, the cut after waypoint 5: each part fits its own spline, the second (four knots)
    // in the arrays of the first (six).
    gsl_set_error_handler_off();
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> coordinate(-40, 40);
    constexpr int kCount = 10, kCut = 5;
    std::vector<Handle> w;
    std::vector<double> channels[3];
    for (int k = 0; k < kCount; ++k) {
        const Point3f p{coordinate(random), coordinate(random), coordinate(random)};
        w.push_back(addWayPoint(p, k == kCut ? 0 : 1000));
        channels[0].push_back(p.x), channels[1].push_back(p.y), channels[2].push_back(p.z);
    }
    path().RefreshCubicData();
    for (const auto& [first, end] : {std::pair{0, kCut + 1}, std::pair{kCut + 1, kCount}}) {
        std::vector<double> knots;
        for (int k = first; k < end; ++k) knots.push_back(wp(w[k]).GetDistanceSum());
        for (int axis = 0; axis < 3; ++axis) {
            const double* values = channels[axis].data() + first;
            gsl_interp* spline = gsl_interp_alloc(gsl_interp_cspline, knots.size());
            gsl_interp_init(spline, knots.data(), values, knots.size());
            // The coefficients are floats: agreement to some ten ulps of values around 40.
            for (double d = knots.front(); d < knots.back(); d += 0.37) {
                const float got = path().CalcOrientationAtDistanceSum(static_cast<float>(d)).ToChannels()[axis];
                EXPECT_NEAR(got, gsl_interp_eval(spline, knots.data(), values, d, nullptr), 5e-5) << d;
            }
            gsl_interp_free(spline);
        }
    }
}

TEST_F(PathTest, FailingWaypointCallsAreReportedAndTheRefitGoesOn) {
    const Handle a = addWayPoint({0, 0, 0});
    ThrowingWayPoint& s = addThrowing({3, 4, 0});
    const Handle c = addWayPoint({6, 8, 0});
    s.throwDistance = s.throwSetData = true;
    s.throwTimeOnCall = 2;  // the first call fills the time knots
    host.setPoint(pathHandle, "MinBound", {7, 7, 7});
    path().RefreshCubicData();
    std::vector<std::string> reports;
    for (const auto& m : host.messages()) reports.push_back(std::to_string(m.level) + " " + m.location + ": " + m.text);
    const std::string where = "2 SCOCameraSystemPath::RefreshCubicData: ";
    EXPECT_EQ(reports, (std::vector<std::string>{where + "1", where + "2", where + "4"}));
    EXPECT_NE(wp(a).CubicData[2].Position.x, 0.0f);
    EXPECT_FLOAT_EQ(wp(c).GetDistanceSum(), 10.3f);
    EXPECT_EQ(path().MinBound.x, -1.0f);  // the box was recomputed

    // A failed step keeps the last one: before any waypoint the default 1000. A failed
    // Time2Next makes the time step 1000 too, whatever the time knots said (500).
    newPath("other");
    ThrowingWayPoint& first = addThrowing({3, 0, 0});
    addWayPoint({6, 0, 0});
    first.throwDistance = true;
    first.Time2Next = 500;
    path().RefreshCubicData();
    EXPECT_FLOAT_EQ(first.CubicData[2].Position.x, 3.0f / 1000);
    EXPECT_FLOAT_EQ(first.CubicData[2].Distance, 3.1f / 500);
    first.throwDistance = false;
    first.throwTimeOnCall = first.timeCalls + 2;
    path().RefreshCubicData();
    EXPECT_FLOAT_EQ(first.CubicData[2].Position.x, 3.0f / 3.1f);
    EXPECT_FLOAT_EQ(first.CubicData[2].Distance, 3.1f / 1000);

    // Anything else ends the refit with one report; the box keeps its values.
    first.throwPara = true;
    host.setPoint(pathHandle, "MinBound", {7, 7, 7});
    const std::size_t before = host.messages().size();
    path().RefreshCubicData();
    ASSERT_EQ(host.messages().size(), before + 1);
    EXPECT_TRUE(host.messages().back().location == "SCOCameraSystemPath" &&
                host.messages().back().text == "Exception in RefreshCubicData");
    EXPECT_EQ(path().MinBound.x, 7.0f);

    // Evaluation and drawing let nothing through to the host and report nothing: a failing
    // waypoint gives the all-zero sample, and the drawing stops at the first sample it owns
    // (D = 0.1, 100.2, 200.3: lines 0-32, 32-64, 64-96, then the sample at 128 fails).
    newPath("evaluation");
    addWayPoint({0, 0, 0});
    ThrowingWayPoint& middle = addThrowing({100, 0, 0});
    addWayPoint({200, 0, 0});
    path().RefreshCubicData();
    middle.throwEvaluation = true;
    const std::size_t reported = host.messages().size();
    EXPECT_TRUE(sameBits(path().CalcOrientationAtDistanceSum(150), {}) && sameBits(path().CalcPosAtTimeSum(1500), {}));
    EXPECT_TRUE(near(path().CalcOrientationAtDistanceSum(50).Position, {49.9f * 100 / 100.1f, 0, 0}, 1e-3));
    EXPECT_TRUE(near(path().CalcPosAtTimeSum(2500).Position, {200, 0, 0}, 1e-3));
    EXPECT_EQ(draw().size(), 3u);
    EXPECT_EQ(host.messages().size(), reported);
}

TEST_F(PathTest, FastBoxEqualsLiteralBoxAndSamplingEnds) {
    auto sameBox = [&] {
        const _Point3<float> fastMin = path().MinBound, fastMax = path().MaxBound;
        const Box literal = LiteralBox(path());
        return !std::memcmp(&fastMin, &literal.min, 12) && !std::memcmp(&fastMax, &literal.max, 12);
    };
    // A hand-set segment x = start + slope * u from DistanceSum d on, in the current path.
    auto segment = [&](float d, float start, float slope) {
        COrientation* c = wp(addWayPoint({0, 0, 0})).CubicData;
        c[3].Distance = d, c[3].Position.x = start, c[2].Position.x = slope;
        return c;
    };
    // Samples that land exactly on a DistanceSum belong to the waypoint that starts there.
    newPath("grid");
    segment(0.1f, 0, 1);
    segment(1.0f, 5, -10);
    segment(2.0f, 0, 0);
    box();
    EXPECT_TRUE(path().MaxBound.x == 6.0f && sameBox());

    // Own waypoints, whose distance sums the box reads some waypoints after resolving them, and
    // another implementation, asked at once, mixed along a path longer than that lag.
    newPath("mixed");
    for (int i = 0; i < 30; ++i) {
        const _Point3<float> at{10.0f * static_cast<float>(i), static_cast<float>(i % 4), static_cast<float>(i % 3)};
        if (i % 7 == 3)
            addThrowing(at);
        else
            addWayPoint(at);
    }
    path().RefreshCubicData();
    EXPECT_TRUE(path().MaxBound.x > 290.0f && sameBox());

    // The box is swept while the children are walked, taking the total for at least each run's
    // end; sums that fall back at the end, or end in NaN, make it start over.
    newPath("falling");
    std::vector<COrientation*> falling;
    for (int i = 0; i < 20; ++i)
        falling.push_back(segment(0.1f + static_cast<float>(i), 10.0f * static_cast<float>(i), 1));
    COrientation* end = segment(0, 0, 0);
    for (float total : {25.0f, 7.5f, std::numeric_limits<float>::quiet_NaN()}) {
        end[3].Distance = total;
        box();
        EXPECT_TRUE(sameBox()) << total;
    }
    // An infinite sum halfway: the walk's sweep stops there and the rest waits for the total.
    end[3].Distance = 25.0f;
    falling[4][3].Distance = std::numeric_limits<float>::infinity();
    box();
    EXPECT_TRUE(sameBox());

    // Totals the sampling cannot reach: NaN and infinity sample nothing (the box stays inverted)
    // nor draw. Past 2^22, where d + 0.25 == d, every float is a sample: on x = u - 0.1 the last
    // one below 2^23 + 2^20 is 2^23 + 2^20 - 1.
    newPath("huge");
    segment(0.1f, 0, 1);
    COrientation* last = segment(0, 0, 0);
    for (float total : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        last[3].Distance = total;
        box();
        EXPECT_TRUE(path().MinBound.x > path().MaxBound.x && sameBox());
        EXPECT_LE(draw().size(), 1u);
    }
    last[3].Distance = 9437184.0f;
    box();
    EXPECT_TRUE(path().MinBound.x == -1.0f && path().MaxBound.x == 9437184.0f && sameBox());
    // From 2^26 on, 2^16 samples a doubling: the last below 1e30 is within 2^-16 of it.
    last[3].Distance = 1e30f;
    box();
    EXPECT_TRUE(path().MaxBound.x >= 1e30f * (1 - 0x1p-16f) && path().MaxBound.x < 1e30f && sameBox());
    // The 32-unit steps stop advancing at 2^29: some 2^24 lines, of which the recorder keeps 2^20.
    EXPECT_TRUE(draw().size() == host::RecordingRenderer::kMaxCalls && host::defaultRecorder().dropped() > 0u);
}

TEST_F(PathTest, BoxHoldsTheWholeEyeCurveOfAMillionWayPoints) {
    // Eyes 40 units apart on a wavy line: the distance scale ends near 4e7, far past 2^22.
    constexpr int kCount = 1000000;
    std::vector<Handle> wayPoints;
    wayPoints.reserve(kCount);
    for (int k = 0; k < kCount; ++k)
        wayPoints.push_back(addWayPoint({40.0f * k, 30.0f * std::sin(0.3f * k), 10.0f * std::cos(0.2f * k)}));
    path().RefreshCubicData();
    ASSERT_GT(LastDistanceSum(path()), 3.9e7f);

    // The independent bound: every segment's cubic in double, densely over the local distances it
    // is evaluated at (the last waypoint's lies past the total), within float rounding of the box.
    const _Point3<float> lo = path().MinBound, hi = path().MaxBound;
    const float minimum[3] = {lo.x, lo.y, lo.z}, maximum[3] = {hi.x, hi.y, hi.z};
    int outside = 0;
    for (int k = 0; k + 1 < kCount; ++k) {
        const COrientation* c = wp(wayPoints[k]).CubicData;
        const COrientation::Channels p[4] = {c[0].ToChannels(), c[1].ToChannels(), c[2].ToChannels(),
                                             c[3].ToChannels()};
        const double span = wp(wayPoints[k + 1]).GetDistanceSum() - wp(wayPoints[k]).GetDistanceSum();
        for (int i = 0; i < 64; ++i) {
            const double s = span * i / 64;
            for (int axis = 0; axis < 3; ++axis) {
                const double v = ((double(p[0][axis]) * s + p[1][axis]) * s + p[2][axis]) * s + p[3][axis];
                const double slack = 1e-6 * std::max(1.0, std::fabs(v));
                outside += v < minimum[axis] - slack || v > maximum[axis] + slack;
            }
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GE(hi.x, 40.0f * (kCount - 1) - 41.0f);
}

TEST_F(PathTest, Draw3DSamplesEvery32UnitsPerPart) {
    // Span 100: samples at 0, 32, 64 and the last at 100 - 1e-6; x = 0.999 * (d - 0.1).
    addWayPoint({0, 0, 0});
    addWayPoint({99.9f, 0, 0});
    path().RefreshCubicData();
    auto calls = draw();
    ASSERT_EQ(calls.size(), 3u);
    const float xs[] = {0, 31.9f * 0.999f, 63.9f * 0.999f, 99.9f * 0.999f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(near(calls[i].from, {xs[i], 0, 0}, 1e-4) && near(calls[i].to, {xs[i + 1], 0, 0}, 1e-4)) << i;
        EXPECT_TRUE(calls[i].kind == host::DrawKind::Line && calls[i].widthFrom == 2.0f && calls[i].widthTo == 2.0f &&
                    calls[i].flag == 0 && calls[i].colour == (std::array<float, 4>{0.4f, 0.4f, 0.4f, 0.8f}));
    }
    host.setBool(pathHandle, "ShowPath", false);
    EXPECT_TRUE(draw().empty());

    // After a cut the part starts at its first waypoint; the jump itself is not drawn.
    newPath("cut");
    for (const Point3f& p : {Point3f{0, 0, 0}, Point3f{10, 0, 0}, Point3f{0, 50, 0}, Point3f{0, 60, 0}})
        addWayPoint(p, p.x == 10 ? 0 : 1000);
    path().RefreshCubicData();
    calls = draw();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(near(calls[1].from, {0, 50, 0}) && near(calls[1].to, {0, 60, 0}, 1e-4));
}

TEST_F(PathTest, RecordVersionsAndAfterLoad) {
    // Bounds, ShowPath, the extra unsigned long of version 2 (dropped on load), then the base
    // record: identity frame at the origin, no container, Mark. Versions above 3 are refused.
    const CGUID second = path().SecondGuid;
    auto record = [&](int version, bool showPath, std::int32_t mark) {
        Bytes b;
        b.u32(version).point(1, 2, 3).point(4, 5, 6).u8(showPath);
        if (version == 2) b.u32(0xDEADBEEF);
        return b.base(second, kIdentity, 0, 0, 0, CGUID(), mark).data;
    };
    path().MinBound = _Point3<float>{1, 2, 3};
    path().MaxBound = _Point3<float>{4, 5, 6};
    EXPECT_EQ(*host.save(pathHandle), record(3, true, 0));
    for (int version : {4, 0, 1, 2, 3}) {
        newPath("v" + std::to_string(version));
        EXPECT_EQ(host.load(pathHandle, record(version, false, 1)), version < 4) << version;
        EXPECT_TRUE(path().ShowPath == (version == 4) && path().MaxBound.z == (version < 4 ? 6.0f : 0.0f) &&
                    path().GetMark() == (version < 4 ? 1 : 0))
            << version;
    }

    // AfterLoad refits: with fewer than two waypoints the loaded bounds stay.
    const Handle w = addWayPoint({0, 0, 0});
    host.afterLoadAll();
    EXPECT_EQ(path().MaxBound.z, 6.0f);
    addWayPoint({3, 4, 0});
    path().AfterLoad();
    EXPECT_EQ(wp(w).Distance2Next, 5.1f);
    EXPECT_EQ(path().MaxBound.z, 1.0f);
}
