// Scenes of 10^3 to 10^6 waypoints through the stand-in host: loading from JSON and from .sco,
// saving as .sco and flying (the activation's refit and 1,000 ticks), each timed and with its
// heap high-water mark. Time and memory per waypoint should stay flat as n grows: what a level
// with a very long path costs the editor and the tool.
//
//   camsys_scale_bench [--benchmark_filter=...] [--max-n=N]
//
// The heap is counted here by replacing the global operator new and delete of this program (the
// plug-in is linked in, so its objects count too): live bytes and their peak, exact and
// independent of the allocator's page handling. Ends with a Markdown table.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/Heap.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"

namespace {

// -- Heap accounting ------------------------------------------------------------------------------

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* countedAllocate(std::size_t size) {
    // The size is kept in front of the block, so that delete knows what it frees; 16 bytes keep
    // the block aligned as new's result must be.
    auto* block = static_cast<unsigned char*>(std::malloc(size + 16));
    if (!block) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    const std::size_t live = liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return block + 16;
}

void countedFree(void* pointer) {
    if (!pointer) return;
    auto* block = static_cast<unsigned char*>(pointer) - 16;
    liveBytes.fetch_sub(*reinterpret_cast<std::size_t*>(block), std::memory_order_relaxed);
    std::free(block);
}

/// The heap's peak above what was live when it was made, while `work` runs.
template <class Work>
std::size_t peakAbove(Work&& work) {
    const std::size_t before = liveBytes.load();
    peakBytes.store(before);
    work();
    return peakBytes.load() - before;
}

// -- Scenes -----------------------------------------------------------------------------------------

constexpr ULong kTickStep = 16;
constexpr std::size_t kFlightTicks = 1000;

/// A path of n waypoints 40 units apart, zigzagging, and an iterator on it, as JSON and .sco
/// files in a temporary folder (made once per n).
struct SceneFiles {
    std::string json, sco;
    std::uintmax_t jsonBytes = 0, scoBytes = 0;
};

const SceneFiles& sceneFiles(int n) {
    static std::map<int, SceneFiles> made;
    if (auto found = made.find(n); found != made.end()) return found->second;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "camsys-scale-bench";
    std::filesystem::create_directories(folder);
    SceneFiles files{(folder / ("path" + std::to_string(n) + ".json")).string(),
                     (folder / ("path" + std::to_string(n) + ".sco")).string()};
    {
        std::ofstream out(files.json);
        out << R"({"objects":[{"name":"Path","class":"SCOCameraSystemPath","children":[)";
        for (int k = 0; k < n; ++k) {
            out << (k ? "," : "") << R"({"name":"W)" << k << R"(","class":"SCOCameraSystemWaypoint","position":[)"
                << 40 * k << ',' << 10 * (k % 2) << ",5]}";
        }
        out << R"(]},{"name":"Cam","class":"SCOCameraSystemIterator","attributes":{"Path":"Path"}}]})";
    }
    host::Host host(&SetIRTS, &GetObjectFactories);
    host::loadSceneFile(host, files.json);
    host::writeScoFile(host, files.sco);
    files.jsonBytes = std::filesystem::file_size(files.json);
    files.scoBytes = std::filesystem::file_size(files.sco);
    return made.emplace(n, files).first->second;
}

/// What the table shows for one n: seconds and peak heap bytes of each operation.
struct Row {
    double loadJsonSeconds = 0, loadScoSeconds = 0, saveSeconds = 0, flySeconds = 0;
    std::size_t loadJsonPeak = 0, loadScoPeak = 0, savePeak = 0, flyPeak = 0, sceneLive = 0;
    std::uintmax_t scoBytes = 0;
};
std::map<int, Row> rows;

void setCounters(benchmark::State& state, int n, std::size_t peak) {
    state.counters["ns/waypoint"] = benchmark::Counter(
        static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak B/waypoint"] = static_cast<double>(peak) / n;
}

/// Load of the whole file into a fresh host: reading, building, AfterLoad (the path's refit).
void load(benchmark::State& state, int n, bool sco) {
    const SceneFiles& files = sceneFiles(n);
    Row& row = rows[n];
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        peak = peakAbove([&] {
            host::Host host(&SetIRTS, &GetObjectFactories);
            host::loadSceneFile(host, sco ? files.sco : files.json);
        });
        (sco ? row.loadScoSeconds : row.loadJsonSeconds) =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    (sco ? row.loadScoPeak : row.loadJsonPeak) = peak;
    row.scoBytes = files.scoBytes;
    setCounters(state, n, peak);
}

/// A loaded scene, kept between the save and fly benchmarks of one n.
struct Loaded {
    int n = 0;
    std::unique_ptr<host::Host> host;
    std::size_t live = 0;  ///< heap bytes the loaded scene holds
};

Loaded& loaded(int n) {
    static Loaded scene;
    if (scene.n != n) {
        scene.host.reset();
        const std::size_t before = liveBytes.load();
        scene.host = std::make_unique<host::Host>(&SetIRTS, &GetObjectFactories);
        host::loadSceneFile(*scene.host, sceneFiles(n).sco);
        scene.host->createCamera("", true);
        scene.live = liveBytes.load() - before;
        scene.n = n;
        rows[n].sceneLive = scene.live;
    }
    return scene;
}

void save(benchmark::State& state, int n) {
    Loaded& scene = loaded(n);
    const std::string out = sceneFiles(n).sco + ".saved";
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        peak = peakAbove([&] { host::writeScoFile(*scene.host, out); });
        rows[n].saveSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    rows[n].savePeak = peak;
    setCounters(state, n, peak);
}

/// The activation (which refits the whole path) and kFlightTicks ticks with the camera reading
/// every eye; then the iterator is deactivated again for the next round.
void fly(benchmark::State& state, int n) {
    Loaded& scene = loaded(n);
    const Handle iterator = scene.host->find("Cam");
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        peak = peakAbove([&] {
            const host::FlightResult result = scene.host->fly(iterator, 0, kTickStep, kFlightTicks);
            benchmark::DoNotOptimize(result.ticks);
        });
        rows[n].flySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        scene.host->deactivate(iterator, 0);
        state.ResumeTiming();
    }
    rows[n].flyPeak = peak;
    setCounters(state, n, peak);
}

void printSummary() {
    std::printf(
        "\n| n | .sco B/wp | scene B/wp | load JSON us/wp | peak B/wp | load .sco us/wp | peak B/wp | save .sco us/wp "
        "| peak B/wp | fly us/wp | peak B/wp |\n|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& [n, r] : rows) {
        const double w = n;
        std::printf("| %d | %.0f | %.0f | %.2f | %.0f | %.2f | %.0f | %.2f | %.0f | %.2f | %.0f |\n", n, r.scoBytes / w,
                    r.sceneLive / w, r.loadJsonSeconds * 1e6 / w, r.loadJsonPeak / w, r.loadScoSeconds * 1e6 / w,
                    r.loadScoPeak / w, r.saveSeconds * 1e6 / w, r.savePeak / w, r.flySeconds * 1e6 / w, r.flyPeak / w);
    }
}

}  // namespace

void* operator new(std::size_t size) { return countedAllocate(size); }
void* operator new[](std::size_t size) { return countedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return countedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return countedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* pointer) noexcept { countedFree(pointer); }
void operator delete[](void* pointer) noexcept { countedFree(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { countedFree(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { countedFree(pointer); }

int main(int argc, char** argv) {
    host::keepFreedHeap();
    int maxN = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--max-n=", 8) == 0) {
            maxN = std::atoi(argv[i] + 8);
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // (append, not operator+ on a literal: GCC 12 at -O3 warns falsely about the latter's copy)
    for (int n = 1000; n <= maxN; n *= 10) {
        const std::string suffix = std::string("/").append(std::to_string(n));
        // One round each at the large sizes: a load of a million waypoints takes seconds.
        const int rounds = n >= 100000 ? 1 : 0;
        auto limit = [&](benchmark::internal::Benchmark* b) {
            b->Unit(benchmark::kMillisecond)->UseRealTime();
            if (rounds) b->Iterations(rounds);
        };
        auto name = [&](const char* what) { return std::string(what).append(suffix); };
        limit(benchmark::RegisterBenchmark(name("LoadJson").c_str(), load, n, false));
        limit(benchmark::RegisterBenchmark(name("LoadSco").c_str(), load, n, true));
        limit(benchmark::RegisterBenchmark(name("SaveSco").c_str(), save, n));
        limit(benchmark::RegisterBenchmark(name("Fly").c_str(), fly, n));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
