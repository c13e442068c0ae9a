// The natural cubic spline fit of a refit's nine curves (eight channels over the distance knots,
// the distance over the time knots), against GSL's natural cubic spline fitting the same nine
// curves, with the minor page faults each fit takes; and the whole refit of a path of a million
// waypoints with its faults. Run with the allocator's default settings: the fit must not depend
// on how a host tunes its heap.
//
//   camsys_fit_bench [--benchmark_filter=...] [--benchmark_repetitions=7]
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_spline.h>
#include <sys/resource.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/Heap.h"
#include "bench/WavyPath.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "path/CubicSpline.h"
#include "path/SCOCameraSystemPath.h"

namespace {

constexpr int kCurves = 9;
constexpr int kChannels = 8;
constexpr int kRefitWayPoints = 1000000;

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

/// Minor page faults per iteration, measured from `before`.
void setFaultCounter(benchmark::State& state, long before) {
    state.counters["faults/fit"] =
        static_cast<double>(minorFaults() - before) / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}

/// A refit's inputs for n waypoints about 40 units apart along a wavy line: the distance knots
/// (float sums, as the path forms them), eight channel rows and the time knots (1 s a segment).
struct Curves {
    explicit Curves(int n) : distances(n), times(n), rows(kChannels, std::vector<double>(n)) {
        float sum = 0.1f;
        for (int k = 0; k < n; ++k) {
            distances[k] = sum;
            sum = sum + static_cast<float>(39.0 + 2.0 * std::sin(0.45 * k) + 0.1);
            times[k] = 1000.0 * k;
            for (int row = 0; row < kChannels; ++row) rows[row][k] = 18.0 * std::sin(0.45 * k + row) + 3.0 * row;
        }
    }
    const double* knots(int curve) const { return curve < kChannels ? distances.data() : times.data(); }
    const double* values(int curve) const { return curve < kChannels ? rows[curve].data() : distances.data(); }

    std::vector<double> distances, times;
    std::vector<std::vector<double>> rows;
};

/// The project's fit; `kept`: the nine splines outlive the fit (as GSL's below), else nine new
/// ones every fit (as a refit makes them).
void fitProject(benchmark::State& state, bool kept) {
    const int n = static_cast<int>(state.range(0));
    const Curves input(n);
    auto keptCurves = std::make_unique<CCubicSpline[]>(kCurves);
    for (int curve = 0; curve < kCurves; ++curve) keptCurves[curve].Fit(n, input.knots(curve), input.values(curve));
    const long before = minorFaults();
    for (auto _ : state) {
        if (kept) {
            for (int curve = 0; curve < kCurves; ++curve) keptCurves[curve].Fit(n, input.knots(curve), input.values(curve));
            benchmark::DoNotOptimize(keptCurves[kCurves - 1].secondDerivatives[n / 2]);
        } else {
            CCubicSpline curves[kCurves];
            for (int curve = 0; curve < kCurves; ++curve) curves[curve].Fit(n, input.knots(curve), input.values(curve));
            benchmark::DoNotOptimize(curves[kCurves - 1].secondDerivatives[n / 2]);
        }
    }
    setFaultCounter(state, before);
}

/// GSL's natural cubic spline (`gsl_interp_cspline`); `kept`: the nine `gsl_spline`s are
/// allocated once, else allocated and freed around every fit.
void fitGsl(benchmark::State& state, bool kept) {
    const int n = static_cast<int>(state.range(0));
    const Curves input(n);
    std::array<gsl_spline*, kCurves> splines{};
    auto allocate = [&] {
        for (auto& spline : splines) spline = gsl_spline_alloc(gsl_interp_cspline, static_cast<std::size_t>(n));
    };
    auto release = [&] {
        for (auto& spline : splines) gsl_spline_free(spline);
    };
    allocate();
    for (int curve = 0; curve < kCurves; ++curve) gsl_spline_init(splines[curve], input.knots(curve), input.values(curve), n);
    const long before = minorFaults();
    for (auto _ : state) {
        if (!kept) {
            release();
            allocate();
        }
        for (int curve = 0; curve < kCurves; ++curve)
            gsl_spline_init(splines[curve], input.knots(curve), input.values(curve), static_cast<std::size_t>(n));
        benchmark::DoNotOptimize(splines[kCurves - 1]->interp);
    }
    setFaultCounter(state, before);
    release();
}

/// A whole `RefreshCubicData` of a path of a million waypoints in the stand-in host (the walks,
/// the fit, the coefficients and the box); `keptHeap`: as the camsys programs run it, after
/// `host::keepFreedHeap()` (registered last: the setting holds for the rest of the process).
void refit(benchmark::State& state, bool keptHeap) {
    if (keptHeap) host::keepFreedHeap();
    static host::Host host{&SetIRTS, &GetObjectFactories};
    static const Handle path = makeWavyPath(host, kRefitWayPoints, "path", false, false);
    auto& object = *static_cast<SCOCameraSystemPath*>(host.object(path));
    object.RefreshCubicData();
    const long before = minorFaults();
    for (auto _ : state) object.RefreshCubicData();
    setFaultCounter(state, before);
}

}  // namespace

int main(int argc, char** argv) {
    gsl_set_error_handler_off();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const bool kept : {true, false}) {
        const std::string how = kept ? "Kept" : "Fresh";
        benchmark::RegisterBenchmark(("FitProject" + how).c_str(), fitProject, kept)
            ->RangeMultiplier(10)
            ->Range(100, 1000000)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("FitGsl" + how).c_str(), fitGsl, kept)
            ->RangeMultiplier(10)
            ->Range(100, 1000000)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Refit/1000000", refit, false)->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Refit/1000000/keptHeap", refit, true)->Iterations(3)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
