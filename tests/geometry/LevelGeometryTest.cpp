// The level's queries against an oracle that asks every triangle in double, on random meshes,
// and the inside rule on boxes and ground sheets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

#include "geometry/LevelGeometry.h"
#include "tests/support/LevelMeshes.h"

namespace {

using host::LevelGeometry;
using host::LevelMesh;
using host::Vec3;
using namespace testing_support;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

Vec3 corner(const LevelMesh& mesh, std::size_t triangle, int k) {
    const std::uint32_t v = mesh.indices[3 * triangle + k];
    return {mesh.positions[3 * v], mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]};
}

/// The oracle's crossing of segment a->b with one triangle: the segment's point in the
/// triangle's plane (parameter s in [0, 1]) and its barycentric coordinates there. `margin` is
/// how far the case is from a tie: the least of the barycentric coordinates' and s's distances
/// to their limits; a float index may decide either way below a small margin.
struct Crossing {
    double s;
    double margin;
};

std::optional<Crossing> crossing(const Vec3& a, const Vec3& b, const Vec3& p0, const Vec3& p1, const Vec3& p2) {
    // Solved for a + s (b - a) = p0 + u (p1 - p0) + v (p2 - p0) by Cramer's rule.
    const Vec3 d = host::sub(b, a), e1 = host::sub(p1, p0), e2 = host::sub(p2, p0), q = host::cross(d, e2);
    const double det = host::dot(e1, q);
    if (det == 0) return std::nullopt;
    const Vec3 from = host::sub(a, p0), r = host::cross(from, e1);
    const double u = host::dot(from, q) / det, v = host::dot(d, r) / det, s = host::dot(e2, r) / det;
    const double margin = std::min({u, v, 1 - u - v, s, 1 - s});
    if (margin < -1e-3) return std::nullopt;
    return Crossing{s, margin};
}

/// Distance from p to segment a-b and to the triangle: the plane's foot when it falls inside,
/// else the nearest edge.
double segmentDistance(const Vec3& p, const Vec3& a, const Vec3& b) {
    const Vec3 d = host::sub(b, a);
    const double s = std::clamp(host::dot(host::sub(p, a), d) / host::dot(d, d), 0.0, 1.0);
    return host::norm(host::sub(p, {a[0] + s * d[0], a[1] + s * d[1], a[2] + s * d[2]}));
}

double oracleDistance(const Vec3& p, const Vec3& p0, const Vec3& p1, const Vec3& p2) {
    const Vec3 n = host::cross(host::sub(p1, p0), host::sub(p2, p0));
    const Vec3 unit = host::scale(n, 1 / host::norm(n));
    const double h = host::dot(unit, host::sub(p, p0));
    const Vec3 foot = host::sub(p, host::scale(unit, h));
    bool in = true;
    for (const auto& [e0, e1] : {std::pair(p0, p1), std::pair(p1, p2), std::pair(p2, p0)})
        in = in && host::dot(n, host::cross(host::sub(e1, e0), host::sub(foot, e0))) >= 0;
    if (in) return std::fabs(h);
    return std::min({segmentDistance(p, p0, p1), segmentDistance(p, p1, p2), segmentDistance(p, p2, p0)});
}

/// `count` random triangles of sides up to 3 in a box of 20, each its own surface.
LevelMesh randomMesh(std::mt19937& random, int count) {
    std::uniform_real_distribution<float> place(-10, 10), offset(-1.5f, 1.5f);
    LevelMesh mesh;
    for (int t = 0; t < count; ++t) {
        const float cx = place(random), cy = place(random), cz = place(random);
        for (int k = 0; k < 3; ++k)
            mesh.positions.insert(mesh.positions.end(),
                                  {cx + offset(random), cy + offset(random), cz + offset(random)});
        for (std::uint32_t k = 0; k < 3; ++k) mesh.indices.push_back(3 * t + k);
        mesh.surfaceOf.push_back(t);
        mesh.surfaces.push_back("T" + std::to_string(t));
    }
    return mesh;
}

Vec3 randomPoint(std::mt19937& random, double extent = 12) {
    std::uniform_real_distribution<double> place(-extent, extent);
    return {place(random), place(random), place(random)};
}

TEST(LevelGeometry, SegmentsAndNearestSurfacesMatchEveryTriangleAskedInDouble) {
    std::mt19937 random(7);
    const LevelMesh mesh = randomMesh(random, 300);
    const LevelGeometry level(mesh);
    int hits = 0, checked = 0;
    for (int q = 0; q < 2000; ++q) {
        const Vec3 a = randomPoint(random), b = randomPoint(random);
        std::optional<Crossing> best;
        std::size_t bestTriangle = 0;
        double leastMargin = kInfinity;
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            const std::optional<Crossing> c =
                crossing(a, b, corner(mesh, t, 0), corner(mesh, t, 1), corner(mesh, t, 2));
            if (!c) continue;
            leastMargin = std::min(leastMargin, std::fabs(c->margin));
            if (c->margin >= 0 && (!best || c->s < best->s)) best = c, bestTriangle = t;
        }
        if (leastMargin < 1e-4) continue;  // a tie a float index may break either way
        ++checked;
        const std::optional<host::SurfaceHit> hit = level.firstHit(a, b);
        ASSERT_EQ(hit.has_value(), best.has_value()) << "query " << q;
        if (!hit) continue;
        ++hits;
        EXPECT_NEAR(hit->distance, best->s * host::norm(host::sub(b, a)), 1e-4) << "query " << q;
        EXPECT_EQ(hit->triangle, bestTriangle) << "query " << q;
        // Visible is the segment without a hit (away from the far end).
        EXPECT_FALSE(level.visible(a, b, 0)) << "query " << q;
    }
    EXPECT_GT(checked, 1900);
    EXPECT_GT(hits, 300);

    for (int q = 0; q < 1000; ++q) {
        const Vec3 p = randomPoint(random);
        double oracle = kInfinity;
        std::size_t nearest = 0;
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            const double d = oracleDistance(p, corner(mesh, t, 0), corner(mesh, t, 1), corner(mesh, t, 2));
            if (d < oracle) oracle = d, nearest = t;
        }
        const host::NearestSurface found = level.nearest(p);
        EXPECT_NEAR(found.distance, oracle, 1e-9 * (1 + oracle)) << "point " << q;
        EXPECT_EQ(found.surface, mesh.surfaceOf[nearest]) << "point " << q;
        const double bounded = level.nearest(p, 1.0).distance;
        // With a bound: found within it, nothing beyond (either, too near the bound to tell).
        EXPECT_TRUE(std::fabs(oracle - 1) < 1e-3 ||
                    (oracle < 1 ? std::fabs(bounded - oracle) < 1e-9 : bounded == kInfinity))
            << "point " << q;
    }
}

TEST(LevelGeometry, NearestAlongAFlightAndFromSeveralThreadsAnswersAsOneByOne) {
    std::mt19937 random(11);
    const LevelGeometry level(randomMesh(random, 400));
    std::vector<Vec3> walk{randomPoint(random)};
    std::normal_distribution<double> step(0, 0.3);
    for (int i = 0; i < 2000; ++i)
        walk.push_back({walk.back()[0] + step(random), walk.back()[1] + step(random), walk.back()[2] + step(random)});
    walk[500] = {std::nan(""), 0, 0};  // a point that is nowhere: nothing near it, nothing known past it
    for (const double limit : {kInfinity, 0.8}) {
        const std::vector<host::NearestSurface> along = level.nearestAlong(walk, limit);
        ASSERT_EQ(along.size(), walk.size());
        for (std::size_t i = 0; i < walk.size(); ++i)
            EXPECT_EQ(along[i].distance, i == 500 ? kInfinity : level.nearest(walk[i], limit).distance) << i;
    }
    // Queries are const and safe from several threads: two threads see the answers of one.
    std::vector<int> serial, parallel[2];
    walk[500] = walk[499];
    auto ask = [&](std::vector<int>& out) {
        for (std::size_t i = 1; i < walk.size(); ++i)
            out.push_back(level.inside(walk[i]) * 4 + level.visible(walk[i - 1], walk[i]) * 2 +
                          level.firstHit(walk[0], walk[i]).has_value());
    };
    ask(serial);
    { const std::jthread first(ask, std::ref(parallel[0])), second(ask, std::ref(parallel[1])); }  // both joined
    for (const std::vector<int>& answers : parallel) EXPECT_EQ(answers, serial);
}

TEST(LevelGeometry, InsideIsAClosedMeshsInsideAndBelowTheGround) {
    LevelMesh mesh;
    addGround(mesh, 0, 50);
    addBox(mesh, {0, 0, 0}, {4, 4, 4}, "House");  // stands on the ground: shares its floor's height
    addBox(mesh, {10, 10, 5}, {12, 12, 7}, "Floating");
    addWallX(mesh, -20, -5, 5, 0, 6);  // a sheet: no solid, nothing beside it is inside
    const LevelGeometry level(mesh);
    std::mt19937 random(3);
    std::uniform_real_distribution<double> x(-60, 60), z(-5, 10);
    for (int q = 0; q < 3000; ++q) {
        const Vec3 p{x(random), x(random), z(random)};
        auto in = [&](double lo, double hi, double zlo, double zhi) {
            return p[0] > lo && p[0] < hi && p[1] > lo && p[1] < hi && p[2] > zlo && p[2] < zhi;
        };
        const bool expected = in(-50, 50, -kInfinity, 0) || in(0, 4, 0, 4) || in(10, 12, 5, 7);
        // Within a hair of a face the point is on the surface; either answer is right there.
        if (level.nearest(p).distance < 0.05) continue;
        EXPECT_EQ(level.inside(p), expected) << p[0] << " " << p[1] << " " << p[2];
    }
    // Straight under the box's corners and edges the tilted rays still agree; beside a box or a sheet, outside.
    for (const Vec3& under : {Vec3{0, 0, -1}, Vec3{4, 2, -1}}) EXPECT_TRUE(level.inside(under));
    for (const Vec3& beside : {Vec3{4.1, 2, 1}, Vec3{-20.001, 0, 2}, Vec3{-19.999, 0, 2}})
        EXPECT_FALSE(level.inside(beside)) << beside[0];
}

TEST(LevelGeometry, VisibilityIgnoresTheSurfaceTheTargetStandsOn) {
    LevelMesh mesh;
    addGround(mesh, 0, 50);
    addWallX(mesh, 5, -5, 5, 0, 6);
    const LevelGeometry level(mesh);
    EXPECT_FALSE(level.visible({0, 0, 2}, {10, 0, 2}));  // the wall between
    EXPECT_TRUE(level.visible({0, 0, 2}, {5, 0, 2}));    // a target on the wall's face
    EXPECT_TRUE(level.visible({0, 0, 2}, {-20, 3, 0}));  // a target on the ground
    EXPECT_TRUE(level.visible({0, 0, 12}, {10, 0, 2}));  // over the wall
    const std::optional<host::SurfaceHit> hit = level.firstHit({0, 0, 2}, {10, 0, 2});
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->distance, 5, 1e-5);
    EXPECT_EQ(level.surfaceName(hit->surface), "Wall");
    EXPECT_FALSE(level.firstHit({1, 1, 1}, {1, 1, 1}));  // no length: no move

    // A target inside its own model (a tower around the point looked at) is in sight through
    // that model's walls, not through another solid's.
    LevelMesh town;
    addGround(town, 0, 100);
    addBox(town, {20, -3, 0}, {26, 3, 30}, "Tower");
    addBox(town, {10, -4, 0}, {12, 4, 20}, "House");
    const LevelGeometry streets(town);
    EXPECT_FALSE(streets.visible({0, 20, 10}, {23, 0, 15})) << "the tower's own wall is in the way";
    EXPECT_TRUE(streets.targetInSight({0, 20, 10}, {23, 0, 15}));
    EXPECT_FALSE(streets.targetInSight({0, 0, 10}, {23, 0, 15})) << "the house is in the way";
    EXPECT_FALSE(streets.targetInSight({0, 0, 2}, {30, 0, 2})) << "behind the tower, not in it";
}

TEST(LevelGeometry, RefusesTrianglesThatNameNoVertexOrSurface) {
    LevelMesh mesh;
    addGround(mesh, 0, 1);
    LevelMesh badVertex = mesh, badSurface = mesh, noSurface = mesh;
    badVertex.indices[4] = 4;
    badSurface.surfaceOf[1] = 1;
    noSurface.surfaceOf.pop_back();
    for (const LevelMesh& bad : {badVertex, badSurface, noSurface})
        EXPECT_THROW(LevelGeometry{bad}, std::invalid_argument);
    // An empty level: no hit, nothing near, nothing inside.
    const LevelGeometry empty{LevelMesh{}};
    EXPECT_TRUE(!empty.firstHit({0, 0, 0}, {1, 1, 1}) && empty.nearest({0, 0, 0}).distance == kInfinity &&
                !empty.inside({0, 0, 0}));
}

}  // namespace
