// The level's queries at scale: generated towns of 10^4 to 10^6 triangles (a rolling terrain and
// boxes for houses), the BVH's build time and bytes per triangle, and every geometry check of a
// 10,000-tick flight over them; at 10^4 also the same checks asked of every triangle in turn.
//   build-bench/bench/camsys_level_bench [--benchmark_filter=Checks]
#include <benchmark/benchmark.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "geometry/LevelGeometry.h"

namespace {

using host::LevelGeometry;
using host::LevelMesh;
using host::Vec3;

constexpr double kSide = 1000;  ///< the town's extent in x and y
constexpr std::size_t kTicks = 10000;

double terrain(double x, double y) { return 5 * std::sin(x / 40) * std::cos(y / 50); }

/// A house's face as a grid of n x n quads: corner `o`, edges `u` and `v`.
void addFace(LevelMesh& mesh, const Vec3& o, const Vec3& u, const Vec3& v, int n, std::uint32_t surface) {
    const auto first = static_cast<std::uint32_t>(mesh.vertexCount());
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            for (int a = 0; a < 3; ++a) mesh.positions.push_back(float(o[a] + u[a] * i / n + v[a] * j / n));
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const std::uint32_t a = first + j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
            mesh.surfaceOf.insert(mesh.surfaceOf.end(), {surface, surface});
        }
}

/// About `triangles` triangles: up to 1,000 houses (boxes whose faces are finer grids the more
/// triangles there are) with about half of them, and a terrain grid with the rest.
LevelMesh town(std::size_t triangles) {
    LevelMesh mesh;
    mesh.surfaces = {"Terrain"};
    const std::size_t houses = std::min<std::size_t>(1000, triangles / 24);
    const int n = std::max(1, static_cast<int>(std::sqrt(triangles / 2.0 / houses / 12)));
    // The terrain takes what the houses leave.
    const auto cells = static_cast<std::size_t>(std::sqrt((triangles - houses * 12.0 * n * n) / 2));
    const double cell = kSide / cells;
    for (std::size_t j = 0; j <= cells; ++j)
        for (std::size_t i = 0; i <= cells; ++i) {
            const double x = i * cell, y = j * cell;
            mesh.positions.insert(mesh.positions.end(), {float(x), float(y), float(terrain(x, y))});
        }
    for (std::uint32_t j = 0; j < cells; ++j)
        for (std::uint32_t i = 0; i < cells; ++i) {
            const std::uint32_t a = j * (cells + 1) + i, b = a + 1, c = a + cells + 1, d = c + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
            mesh.surfaceOf.insert(mesh.surfaceOf.end(), {0, 0});
        }
    std::mt19937 random(1);
    std::uniform_real_distribution<double> place(0, kSide), size(4, 20), height(5, 40);
    for (std::size_t house = 0; house < houses; ++house) {
        const double x = place(random), y = place(random), w = size(random), h = height(random);
        const double z = terrain(x, y) - 1;
        const auto surface = static_cast<std::uint32_t>(mesh.surfaces.size());
        mesh.surfaces.push_back("House " + std::to_string(house));
        const Vec3 o{x, y, z}, top{x, y, z + h};
        const Vec3 ex{w, 0, 0}, ey{0, w, 0}, ez{0, 0, h};
        addFace(mesh, o, ey, ex, n, surface);              // floor, facing down
        addFace(mesh, top, ex, ey, n, surface);            // roof
        addFace(mesh, o, ex, ez, n, surface);              // y = y0
        addFace(mesh, {x, y + w, z}, ez, ex, n, surface);  // y = y1
        addFace(mesh, o, ez, ey, n, surface);              // x = x0
        addFace(mesh, {x + w, y, z}, ey, ez, n, surface);  // x = x1
    }
    return mesh;
}

/// A 10,000-tick flight: a loop over the town some 8 to 16 units above the terrain (through a
/// house now and then), 0.25 units a tick, looking at a tower in the middle.
std::vector<Vec3> flight() {
    std::vector<Vec3> eyes;
    for (std::size_t i = 0; i < kTicks; ++i) {
        const double u = 2 * host::kPi * i / kTicks;
        const double x = 500 + 400 * std::cos(u), y = 500 + 300 * std::sin(2 * u);
        eyes.push_back({x, y, terrain(x, y) + 12 + 4 * std::sin(7 * u)});
    }
    return eyes;
}

constexpr Vec3 kTarget{500, 500, 30};

std::map<std::size_t, std::unique_ptr<LevelGeometry>>& levels() {
    static std::map<std::size_t, std::unique_ptr<LevelGeometry>> built;
    return built;
}

const LevelGeometry& levelOf(std::size_t triangles) {
    std::unique_ptr<LevelGeometry>& level = levels()[triangles];
    if (!level) level = std::make_unique<LevelGeometry>(town(triangles));
    return *level;
}

/// What the lint asks of a flight: each step's crossing, each tick's inside test, clearance
/// (along the flight, bounded by the threshold) and the target's visibility. Returns a count so
/// nothing is optimised away.
std::size_t checkFlight(const LevelGeometry& level, const std::vector<Vec3>& eyes) {
    std::size_t found = 0;
    for (std::size_t i = 1; i < eyes.size(); ++i) found += level.firstHit(eyes[i - 1], eyes[i]).has_value();
    for (const Vec3& eye : eyes) found += level.inside(eye);
    for (const host::NearestSurface& near : level.nearestAlong(eyes, 0.5)) found += near.distance < 0.5;
    for (const Vec3& eye : eyes) found += level.visible(eye, kTarget);
    return found;
}

void BM_BuildBvh(benchmark::State& state) {
    const auto triangles = static_cast<std::size_t>(state.range(0));
    const LevelMesh mesh = town(triangles);
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        LevelMesh copy = mesh;
        state.ResumeTiming();
        const LevelGeometry level(std::move(copy));
        bytes = level.indexBytes();
        benchmark::DoNotOptimize(bytes);
    }
    const double meshBytes = mesh.positions.size() * 4.0 + mesh.indices.size() * 4.0 + mesh.surfaceOf.size() * 4.0;
    state.counters["triangles"] = static_cast<double>(mesh.triangleCount());
    state.counters["index_bytes_per_triangle"] = double(bytes) / mesh.triangleCount();
    state.counters["mesh_bytes_per_triangle"] = meshBytes / mesh.triangleCount();
}
BENCHMARK(BM_BuildBvh)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FlightChecks(benchmark::State& state) {
    const LevelGeometry& level = levelOf(static_cast<std::size_t>(state.range(0)));
    const std::vector<Vec3> eyes = flight();
    std::size_t found = 0;
    for (auto _ : state) found = checkFlight(level, eyes);
    state.counters["findings_ticks"] = static_cast<double>(found);
}
BENCHMARK(BM_FlightChecks)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

/// Each query over the flight alone, at 10^6 triangles: 0 crossings, 1 inside, 2 clearance one
/// point at a time, 3 clearance along the flight (as the profile asks), 4 visibility, 5 clearance
/// bounded by the lint's threshold of 0.5.
void BM_FlightQuery(benchmark::State& state) {
    const LevelGeometry& level = levelOf(1000000);
    const std::vector<Vec3> eyes = flight();
    for (auto _ : state) {
        std::size_t found = 0;
        switch (state.range(0)) {
            case 0:
                for (std::size_t i = 1; i < eyes.size(); ++i) found += level.firstHit(eyes[i - 1], eyes[i]).has_value();
                break;
            case 1:
                for (const Vec3& eye : eyes) found += level.inside(eye);
                break;
            case 2:
                for (const Vec3& eye : eyes) found += level.nearest(eye).distance < 0.5;
                break;
            case 3:
                for (const host::NearestSurface& near : level.nearestAlong(eyes)) found += near.distance < 0.5;
                break;
            case 4:
                for (const Vec3& eye : eyes) found += level.visible(eye, kTarget);
                break;
            case 5:
                for (const host::NearestSurface& near : level.nearestAlong(eyes, 0.5)) found += near.distance < 0.5;
                break;
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_FlightQuery)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

/// The same checks asked of every triangle in turn, in double: what the BVH saves.
struct Brute {
    const LevelMesh& mesh;

    Vec3 corner(std::size_t t, int k) const {
        const std::uint32_t v = mesh.indices[3 * t + k];
        return {mesh.positions[3 * v], mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]};
    }
    /// The first t in [0, tfar] at which org + t dir meets a triangle (Moller-Trumbore).
    double first(const Vec3& org, const Vec3& dir, double tfar, std::size_t* count = nullptr) const {
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            const Vec3 a = corner(t, 0), e1 = host::sub(corner(t, 1), a), e2 = host::sub(corner(t, 2), a);
            const Vec3 p = host::cross(dir, e2);
            const double det = host::dot(e1, p);
            if (det == 0) continue;
            const Vec3 s = host::sub(org, a);
            const double u = host::dot(s, p) / det;
            if (u < 0 || u > 1) continue;
            const Vec3 q = host::cross(s, e1);
            const double v = host::dot(dir, q) / det;
            if (v < 0 || u + v > 1) continue;
            const double hit = host::dot(e2, q) / det;
            if (hit >= 0 && hit <= tfar) {
                best = std::min(best, hit);
                if (count) ++*count;
            }
        }
        return best;
    }
    double nearest(const Vec3& p) const {
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            // The nearest point of the plane clamped to the triangle by its edges: enough for the
            // cost, which is the point.
            const Vec3 a = corner(t, 0), b = corner(t, 1), c = corner(t, 2);
            const Vec3 n = host::cross(host::sub(b, a), host::sub(c, a));
            const double h = host::dot(n, host::sub(p, a)) / host::norm(n);
            best = std::min({best, std::fabs(h), host::norm(host::sub(p, a))});
        }
        return best;
    }
};

void BM_FlightChecksBruteForce(benchmark::State& state) {
    const LevelMesh mesh = town(10000);
    const Brute brute{mesh};
    const std::vector<Vec3> eyes = flight();
    for (auto _ : state) {
        std::size_t found = 0;
        for (std::size_t i = 1; i < eyes.size(); ++i)
            found += brute.first(eyes[i - 1], host::sub(eyes[i], eyes[i - 1]), 1) < 2;
        for (const Vec3& eye : eyes) {
            int votes = 0;
            for (const double offset : {0.7e-3, -0.4e-3, -0.2e-3}) {  // three rays, as the index asks
                std::size_t crossings = 0;
                brute.first({eye[0] + offset, eye[1] - offset, eye[2]}, {0, 0, 1},
                            std::numeric_limits<double>::infinity(), &crossings);
                votes += crossings % 2;
            }
            found += votes >= 2;
            found += brute.nearest(eye) < 0.5;
            found += brute.first(eye, host::sub(kTarget, eye), 1) < 2;
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_FlightChecksBruteForce)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
