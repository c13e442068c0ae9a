// The host's side of the plug-in's child-list walks, timed: one resolve (a step of the path's walk:
// the next child, `QueryObjectInterface` for the waypoint interface, `IsOn`, the release) at
// n = 10^3 to 10^6 waypoints, one tick of a flight at n = 1,000, and beside the resolves the
// least a walk must read: the waypoints' lines alone.
//
//   camsys_resolve_bench [--benchmark_filter=...] [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/Heap.h"
#include "bench/WavyPath.h"
#include "host/Host.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "module/InProcessModule.h"
#include "path/SCOCameraSystemPath.h"
#include "tests/support/PathTestAccess.h"

namespace {

constexpr int kTickWayPoints = 1000;
constexpr ULong kTickStep = 16;
constexpr ULong kFlightEnd = (kTickWayPoints - 1) * 1000;  // Time2Next 1000 everywhere
constexpr ULong kFlightTicks = kFlightEnd / kTickStep;

/// One host for the run (the module has one runtime pointer per process) and the paths made so
/// far (see `makeWavyPath`).
class Paths {
public:
    static Paths& get() {
        static Paths paths;
        return paths;
    }

    host::Host& host() { return host_; }

    /// A path of `n` waypoints, made once; fitted when `fitted` (a flown path), else left as made.
    Handle path(int n, bool fitted) {
        const auto found = paths_.find(n);
        if (found != paths_.end()) return found->second;
        const Handle path = makeWavyPath(host_, n, "path" + std::to_string(n), false, fitted);
        paths_.emplace(n, path);
        return path;
    }

    SCOCameraSystemPath& object(const Handle& h) { return *static_cast<SCOCameraSystemPath*>(host_.object(h)); }

private:
    Paths() { host_.createCamera(); }

    host::Host host_{&SetIRTS, &GetObjectFactories};
    std::map<int, Handle> paths_;
};

/// One walk over a path's children, each resolved, asked `IsOn` and released: n resolves.
void resolve(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Paths& paths = Paths::get();
    SCOCameraSystemPath& path = paths.object(paths.path(n, false));
    for (auto _ : state) benchmark::DoNotOptimize(PathTestAccess::count(path));
    state.counters["ns/resolve"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/// The floor under a long walk's resolves: one read of the line every step of the walk must read
/// whatever the host does, the waypoint part's first line (its table pointer, which `IsOn` reads,
/// and `IsOnFlag`), for every waypoint in list order, with nothing else in the loop. The parts
/// are the ones the runtime hands out, collected once before the timing.
void partLines(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Paths& paths = Paths::get();
    host::Runtime& runtime = paths.host().runtime();
    host::Descriptor& children = *runtime.descriptor(paths.path(n, false));
    std::vector<const void*> parts;
    parts.reserve(static_cast<std::size_t>(n));
    for (ChildPos pos = children.GetFirstChild(); pos != 0;) {
        void* part = nullptr;
        if (runtime.QueryObjectInterface(children.GetNextChild(&pos), kInterfaceId<ISCO_CSWayPoint>, &part) && part) {
            parts.push_back(part);
            static_cast<ISCO_CSWayPoint*>(part)->ReleaseInterface();
        }
    }
    for (auto _ : state) {
        std::uintptr_t sum = 0;
        for (const void* part : parts) sum += *static_cast<const std::uintptr_t*>(part);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["ns/line"] =
        benchmark::Counter(static_cast<double>(parts.size()) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/// One `Run` of an iterator flying a path of kTickWayPoints waypoints, the ticks moving on by
/// kTickStep along the whole flight. A tick costs more the further along the path it is, so every
/// run is one whole flight (kFlightTicks iterations): the mean is the same in every run.
void tick(benchmark::State& state) {
    Paths& paths = Paths::get();
    host::Host& host = paths.host();
    const Handle iteratorHandle = host.create("SCOCameraSystemIterator", "tickIterator");
    host.setReference(iteratorHandle, "Path", paths.path(kTickWayPoints, true));
    host.setBool(iteratorHandle, "GrabCamera", false);
    auto& iterator = *static_cast<SCOCameraSystemIterator*>(host.object(iteratorHandle));
    ULong time = 0;
    iterator.ActualWayPointIndex = 0;
    iterator.ActualWayPointTime = 0;
    const std::uint64_t resolvesBefore = host.runtime().counters().resolves;
    for (auto _ : state) {
        iterator.Run(time);
        time += kTickStep;
        if (time >= kFlightEnd) {  // start over before the iterator asks to be deactivated
            time = 0;
            iterator.ActualWayPointIndex = 0;
            iterator.ActualWayPointTime = 0;
        }
    }
    state.counters["resolves/tick"] = static_cast<double>(host.runtime().counters().resolves - resolvesBefore) /
                                      static_cast<double>(state.iterations());
    host.runtime().remove({iteratorHandle});
}

}  // namespace

int main(int argc, char** argv) {
    host::keepFreedHeap();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RegisterBenchmark("Resolve", resolve)
        ->Arg(1000)
        ->Arg(10000)
        ->Arg(100000)
        ->Arg(1000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("PartLines", partLines)->Arg(1000000)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Tick/" + std::to_string(kTickWayPoints)).c_str(), tick)
        ->Iterations(kFlightTicks)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
