// The path's bounding box per sample against the floor of the same work: a bare loop that
// evaluates one segment's cubic on the three position channels, four samples a vector, and keeps
// the running minimum and maximum, with nothing else. Both run in the same process, so their
// ratio holds while other processes share the cores. Ends with a Markdown table of the medians.
//
//   camsys_box_bench [--benchmark_repetitions=7] [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "path/SCOCameraSystemPath.h"
#include "tests/support/LiteralBox.h"
#include "tests/support/PathTestAccess.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

namespace {

using Lanes = float __attribute__((vector_size(16)));

/// CPU time of the calling thread.
double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

/// The literal box resolves the children for every sample: beyond this it is left out.
constexpr int kLiteralLimit = 1000;

/// One host with fitted paths of every size along a wavy curve, eyes some 40 units apart.
class Paths {
public:
    static Paths& get() {
        static Paths paths;
        return paths;
    }
    SCOCameraSystemPath& path(int n) {
        auto found = paths_.find(n);
        if (found == paths_.end()) found = paths_.emplace(n, make(n)).first;
        return *static_cast<SCOCameraSystemPath*>(host_.object(found->second));
    }

private:
    Paths() { host_.createCamera(); }
    Handle make(int n) {
        const Handle path = host_.create("SCOCameraSystemPath", "path" + std::to_string(n));
        for (int k = 0; k < n; ++k) {
            const Handle w = host_.create("SCOCameraSystemWaypoint", "", path);
            host_.object(w)->ObjectPos.Origin = {39.0f * k, 18.0f * std::sin(0.45f * k), 12.0f + 6.0f * std::sin(0.17f * k)};
        }
        static_cast<SCOCameraSystemPath*>(host_.object(path))->RefreshCubicData();
        return path;
    }

    host::Host host_{&SetIRTS, &GetObjectFactories};
    std::map<int, Handle> paths_;
};

/// Nanoseconds per sample of every repetition, by benchmark and path size.
std::map<int, std::vector<double>> boxTimes, walkTimes, floorTimes;
std::map<int, bool> identical;

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void box(benchmark::State& state, int n) {
    SCOCameraSystemPath& path = Paths::get().path(n);
    const double samples = testing_support::BoxSampleCount(testing_support::LastDistanceSum(path));
    const double begin = cpuNow();
    for (auto _ : state) {
        PathTestAccess::box(path);
        benchmark::ClobberMemory();
    }
    const double ns = (cpuNow() - begin) * 1e9 / (static_cast<double>(state.iterations()) * samples);
    boxTimes[n].push_back(ns);
    state.counters["ns/sample"] = ns;
    if (n <= kLiteralLimit && !identical.count(n)) {
        const testing_support::Box literal = testing_support::LiteralBox(path);
        const _Point3<float> lo = path.MinBound, hi = path.MaxBound;
        identical[n] = !std::memcmp(&lo, &literal.min, sizeof lo) && !std::memcmp(&hi, &literal.max, sizeof hi);
        if (!identical[n]) state.SkipWithError("the box differs from the literal walk's");
    }
}

/// One walk over the children, as the box makes to resolve its waypoints once (the host's share).
void walk(benchmark::State& state, int n) {
    SCOCameraSystemPath& path = Paths::get().path(n);
    const double samples = testing_support::BoxSampleCount(testing_support::LastDistanceSum(path));
    const double begin = cpuNow();
    for (auto _ : state) benchmark::DoNotOptimize(PathTestAccess::count(path));
    const double ns = (cpuNow() - begin) * 1e9 / (static_cast<double>(state.iterations()) * samples);
    walkTimes[n].push_back(ns);
    state.counters["ns/sample"] = ns;
}

/// The floor: the middle segment's coefficients, the same number of samples at local distances
/// 0, 0.25, ... four a vector, Horner on x, y and z, and the running bounds; no segment lookup,
/// no stretches, no tail.
void boxFloor(benchmark::State& state, int n) {
    SCOCameraSystemPath& path = Paths::get().path(n);
    const double samples = testing_support::BoxSampleCount(testing_support::LastDistanceSum(path));
    const auto vectors = static_cast<long>(samples / 4);
    ISCO_SCOContainer& children = path;
    ChildPos pos = children.GetFirstChild();
    for (int k = 0; k < n / 2 && pos != 0; ++k) children.GetNextChild(&pos);
    CInterfacePtr<ISCO_CSWayPoint> middle(children.GetNextChild(&pos));
    const COrientation* c = static_cast<SCOCameraSystemWaypoint*>(middle.get())->CubicData;
    auto splat = [](float v) { return Lanes{v, v, v, v}; };
    const Lanes x3 = splat(c[0].Position.x), x2 = splat(c[1].Position.x), x1 = splat(c[2].Position.x),
                x0 = splat(c[3].Position.x);
    const Lanes y3 = splat(c[0].Position.y), y2 = splat(c[1].Position.y), y1 = splat(c[2].Position.y),
                y0 = splat(c[3].Position.y);
    const Lanes z3 = splat(c[0].Position.z), z2 = splat(c[1].Position.z), z1 = splat(c[2].Position.z),
                z0 = splat(c[3].Position.z);
    const double begin = cpuNow();
    for (auto _ : state) {
        constexpr float kBig = std::numeric_limits<float>::max();
        Lanes loX = splat(kBig), loY = loX, loZ = loX, hiX = -loX, hiY = hiX, hiZ = hiX;
        Lanes u = {0.0f, 0.25f, 0.5f, 0.75f};
        for (long i = 0; i < vectors; ++i) {
            const Lanes x = ((x3 * u + x2) * u + x1) * u + x0;
            const Lanes y = ((y3 * u + y2) * u + y1) * u + y0;
            const Lanes z = ((z3 * u + z2) * u + z1) * u + z0;
            hiX = x > hiX ? x : hiX, hiY = y > hiY ? y : hiY, hiZ = z > hiZ ? z : hiZ;
            loX = x < loX ? x : loX, loY = y < loY ? y : loY, loZ = z < loZ ? z : loZ;
            u += 1.0f;
        }
        benchmark::DoNotOptimize(loX), benchmark::DoNotOptimize(loY), benchmark::DoNotOptimize(loZ);
        benchmark::DoNotOptimize(hiX), benchmark::DoNotOptimize(hiY), benchmark::DoNotOptimize(hiZ);
    }
    const double ns = (cpuNow() - begin) * 1e9 / (static_cast<double>(state.iterations()) * samples);
    floorTimes[n].push_back(ns);
    state.counters["ns/sample"] = ns;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const int sizes[] = {100, 1000, 10000, 100000, 1000000};
    for (int n : sizes) {
        const std::string suffix = "/n=" + std::to_string(n);
        benchmark::RegisterBenchmark(("Box" + suffix).c_str(), box, n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BoxWalk" + suffix).c_str(), walk, n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BoxFloor" + suffix).c_str(), boxFloor, n)->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n| waypoints | samples | box ns/sample | floor ns/sample | box / floor | child walk ns/sample |"
                " (box - walk) / floor | same bits as literal |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---|\n");
    for (int n : sizes) {
        if (!boxTimes.count(n) || !floorTimes.count(n)) continue;
        const double b = median(boxTimes[n]), f = median(floorTimes[n]), w = median(walkTimes[n]);
        const auto same = identical.find(n);
        std::printf("| %d | %.0f | %.2f | %.2f | %.2f | %.2f | %.2f | %s |\n", n,
                    testing_support::BoxSampleCount(testing_support::LastDistanceSum(Paths::get().path(n))), b, f, b / f, w, (b - w) / f,
                    same == identical.end() ? "not run" : same->second ? "yes" : "NO");
    }
    return 0;
}
