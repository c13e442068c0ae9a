// The path inside the stand-in host, timed: the bounding box (the one-walk sampler against the
// literal walk that resolves the children again for every sample), a whole refit, one tick of a
// flight and a whole flight of the example scene, and what the studio's server does for one frame
// and one flight. Ends with a Markdown table of the box, refit and frame numbers.
//
//   camsys_bench [--benchmark_filter=...]   (the usual Google Benchmark flags)
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Heap.h"
#include "bench/WavyPath.h"
#include "flight/Flight.h"
#include "geometry/LevelGeometry.h"
#include "host/Host.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "module/InProcessModule.h"
#include "path/SCOCameraSystemPath.h"
#include "scene/SceneFile.h"
#include "studio/server/Journal.h"
#include "studio/server/StudioJson.h"
#include "studio/server/StudioServer.h"
#include "tests/support/LiteralBox.h"
#include "tests/support/PathTestAccess.h"

using testing_support::BoxSampleCount;
using testing_support::LastDistanceSum;

namespace {

/// CPU time of the calling thread: the table stays meaningful while other processes share the
/// cores (wall-clock times are in Google Benchmark's own columns).
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
};

/// The literal walk costs about n^2 resolves per box: beyond this it is left out.
constexpr int kLiteralLimit = 1000;
/// Tick interval of the flights, in the clock unit of Time2Next (milliseconds at 60 Hz).
constexpr ULong kTickStep = 16;
/// Waypoints of the flown path of the tick benchmark.
constexpr int kTickWayPoints = 1000;

/// What the summary table shows for one path size.
struct Row {
    double samples = 0;
    double literalSeconds = NAN;  ///< one literal box
    double fastSeconds = NAN;     ///< one box with the sampler
    double refitSeconds = NAN;    ///< one whole RefreshCubicData
    double walkSeconds = NAN;     ///< one walk over the children
    double resolvesPerRefit = NAN;
    double frameSeconds = NAN;         ///< one studio frame flown from the activation (cold)
    double resumedFrameSeconds = NAN;  ///< one studio frame resumed by the frame sampler
    double dragSeconds = NAN;          ///< one drag step in the studio (PATCH and frame)
    bool identical = true;             ///< both boxes had the same bits
    _Point3<float> literalMin{}, literalMax{};
    bool haveLiteral = false;
};
std::map<int, Row> rows;

/// Seconds per iteration of a benchmark loop timed from `begin`.
double perIteration(const benchmark::State& state, Clock::time_point begin) {
    const double seconds = Clock::now() - begin;
    return state.iterations() > 0 ? seconds / static_cast<double>(state.iterations()) : NAN;
}

/// One host for the whole run (the module has one runtime pointer per process): a game camera,
/// the benchmark paths of every size, the iterator of the tick benchmark and the example scene,
/// each made the first time it is asked for.
class Scenes {
public:
    static Scenes& get() {
        static Scenes scenes;
        return scenes;
    }

    host::Host& host() { return host_; }

    /// A fitted path of `n` waypoints along a wavy curve (see `makeWavyPath`), made once.
    Handle path(int n) {
        auto found = paths_.find(n);
        if (found != paths_.end()) return found->second;
        const Handle path = makeWavyPath(host_, n, "path" + std::to_string(n), false);
        paths_.emplace(n, path);
        return path;
    }

    SCOCameraSystemPath& pathObject(const Handle& h) { return *static_cast<SCOCameraSystemPath*>(host_.object(h)); }

    /// An iterator on the path of kTickWayPoints waypoints that never takes the camera: the
    /// benchmark places it on the flight itself.
    SCOCameraSystemIterator& tickIterator() {
        if (tickIterator_.IsNull()) {
            tickIterator_ = host_.create("SCOCameraSystemIterator", "tickIterator");
            host_.setReference(tickIterator_, "Path", path(kTickWayPoints));
            host_.setBool(tickIterator_, "GrabCamera", false);
        }
        return *static_cast<SCOCameraSystemIterator*>(host_.object(tickIterator_));
    }

    /// An iterator that takes the camera, on the path of `n` waypoints: a studio's frame.
    Handle frameIterator(int n) {
        auto found = frameIterators_.find(n);
        if (found != frameIterators_.end()) return found->second;
        const Handle iterator = host_.create("SCOCameraSystemIterator", "frameIterator" + std::to_string(n));
        host_.setReference(iterator, "Path", path(n));
        host_.afterLoad(iterator);
        frameIterators_.emplace(n, iterator);
        return iterator;
    }

    /// The iterator "Cam" of examples/flythrough.json, loaded once.
    Handle exampleIterator() {
        if (exampleIterator_.IsNull()) {
            host::loadSceneFile(host_, CAMSYS_EXAMPLES_DIR "/flythrough.json");
            exampleIterator_ = host_.find("Cam");
        }
        return exampleIterator_;
    }

private:
    Scenes() { host_.createCamera(); }

    host::Host host_{&SetIRTS, &GetObjectFactories};
    std::map<int, Handle> paths_;
    std::map<int, Handle> frameIterators_;
    Handle tickIterator_;
    Handle exampleIterator_;
};

void setSampleCounters(benchmark::State& state, double samples, double seconds) {
    state.counters["samples"] = samples;
    state.counters["ns/sample"] = seconds * 1e9 / samples;
}

void boxLiteral(benchmark::State& state, int n) {
    Scenes& scenes = Scenes::get();
    SCOCameraSystemPath& path = scenes.pathObject(scenes.path(n));
    testing_support::Box box{};
    const auto begin = Clock::now();
    for (auto _ : state) {
        box = testing_support::LiteralBox(path);
        benchmark::DoNotOptimize(box);
    }
    Row& row = rows[n];
    row.literalSeconds = perIteration(state, begin);
    row.samples = BoxSampleCount(LastDistanceSum(path));
    row.literalMin = box.min;
    row.literalMax = box.max;
    row.haveLiteral = true;
    setSampleCounters(state, row.samples, row.literalSeconds);
}

void boxFast(benchmark::State& state, int n) {
    Scenes& scenes = Scenes::get();
    SCOCameraSystemPath& path = scenes.pathObject(scenes.path(n));
    const auto begin = Clock::now();
    for (auto _ : state) {
        PathTestAccess::box(path);
        benchmark::ClobberMemory();
    }
    Row& row = rows[n];
    row.fastSeconds = perIteration(state, begin);
    row.samples = BoxSampleCount(LastDistanceSum(path));
    setSampleCounters(state, row.samples, row.fastSeconds);
    if (row.haveLiteral) {
        const _Point3<float> lo = path.MinBound, hi = path.MaxBound;
        row.identical =
            std::memcmp(&lo, &row.literalMin, sizeof lo) == 0 && std::memcmp(&hi, &row.literalMax, sizeof hi) == 0;
        state.counters["literal/fast"] = row.literalSeconds / row.fastSeconds;
        state.counters["identical"] = row.identical ? 1 : 0;
        if (!row.identical) state.SkipWithError("the box differs from the literal walk's");
    } else {
        state.counters["literal_skipped"] = 1;
    }
}

/// One walk over the children, each resolved, asked `IsOn` and released: the price of a resolve.
void walk(benchmark::State& state, int n) {
    Scenes& scenes = Scenes::get();
    SCOCameraSystemPath& path = scenes.pathObject(scenes.path(n));
    const auto begin = Clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(PathTestAccess::count(path));
    const double seconds = perIteration(state, begin);
    rows[n].walkSeconds = seconds;
    state.counters["ns/resolve"] = seconds * 1e9 / n;
}

void refit(benchmark::State& state, int n) {
    Scenes& scenes = Scenes::get();
    const Handle path = scenes.path(n);
    const host::Runtime& runtime = scenes.host().runtime();
    const std::uint64_t resolvesBefore = runtime.counters().resolves;
    const auto begin = Clock::now();
    for (auto _ : state) {
        // As a waypoint or an iterator asks for it: resolve the path, refit, release.
        CInterfacePtr<ISCO_CSPath> fit(path);
        fit->RefreshCubicData();
    }
    Row& row = rows[n];
    row.refitSeconds = perIteration(state, begin);
    // One of these per iteration resolves the path itself.
    row.resolvesPerRefit =
        static_cast<double>(runtime.counters().resolves - resolvesBefore) / static_cast<double>(state.iterations());
    state.counters["resolves/refit"] = row.resolvesPerRefit;
    state.counters["ns/resolve(upper)"] = row.refitSeconds * 1e9 / row.resolvesPerRefit;
}

/// One `Run` of an iterator flying the path of kTickWayPoints waypoints, the ticks moving on by
/// kTickStep along the whole flight (the cost of a tick grows with the waypoint it is at).
void tick(benchmark::State& state) {
    Scenes& scenes = Scenes::get();
    SCOCameraSystemIterator& iterator = scenes.tickIterator();
    const host::Runtime& runtime = scenes.host().runtime();
    // Time2Next 1000 everywhere, no pauses: the flight ends at (n - 1) * 1000.
    const ULong flightEnd = (kTickWayPoints - 1) * 1000;
    iterator.ActualWayPointIndex = 0;
    iterator.ActualWayPointTime = 0;
    ULong time = 0;
    const std::uint64_t resolvesBefore = runtime.counters().resolves;
    for (auto _ : state) {
        iterator.Run(time);
        time += kTickStep;
        if (time >= flightEnd) {  // start over before the iterator asks to be deactivated
            time = 0;
            iterator.ActualWayPointIndex = 0;
            iterator.ActualWayPointTime = 0;
        }
    }
    state.counters["resolves/tick"] =
        static_cast<double>(runtime.counters().resolves - resolvesBefore) / static_cast<double>(state.iterations());
}

/// A whole flight of examples/flythrough.json through the host: activation (with its refit),
/// a tick every kTickStep until the iterator is deactivated, the camera reading every eye.
void exampleFlight(benchmark::State& state) {
    Scenes& scenes = Scenes::get();
    const Handle iterator = scenes.exampleIterator();
    std::size_t ticks = 0;
    for (auto _ : state) {
        const host::FlightResult result = scenes.host().fly(iterator, 0, kTickStep, 1000000);
        ticks = result.ticks;
        if (result.hitLimit) state.SkipWithError("the flight did not end");
    }
    state.counters["ticks"] = static_cast<double>(ticks);
    state.counters["messages"] = static_cast<double>(scenes.host().messages().size());
}

/// What the studio's server does for `/api/frame` halfway through the flight of a path of `n`
/// waypoints, the answer written included.
///
/// Cold: flown from the activation, as the first frame after a change of the scene: the
/// iterator activated (which refits the path), two Runs (the tick before and the one asked
/// for; the first walks every segment before it, each walk of the child list from the start),
/// the camera's reads, the iterator restored. Resumed: the frame sampler primed by one frame at
/// the middle, then frames at the following ticks, as playing or scrubbing forward asks for
/// them; each starts from the state the one before left.
void frame(benchmark::State& state, int n, bool resumed) {
    Scenes& scenes = Scenes::get();
    const Handle iterator = scenes.frameIterator(n);
    const ULong middle = static_cast<ULong>(n - 1) * 1000 / 2 + 7;
    host::FrameSampler sampler;
    if (resumed) sampler.sample(scenes.host(), iterator, 0, kTickStep, middle);
    ULong offset = 0;
    std::size_t resumedFrames = 0, frames = 0;
    const auto begin = Clock::now();
    for (auto _ : state) {
        if (resumed) {
            offset = (offset + kTickStep) % (64 * kTickStep);
            benchmark::DoNotOptimize(
                studio::frameJson(sampler.sample(scenes.host(), iterator, 0, kTickStep, middle + offset)));
            resumedFrames += sampler.lastSampleResumed();
        } else {
            benchmark::DoNotOptimize(
                studio::frameJson(host::sampleFlight(scenes.host(), iterator, 0, kTickStep, middle)));
        }
        ++frames;
    }
    (resumed ? rows[n].resumedFrameSeconds : rows[n].frameSeconds) = perIteration(state, begin);
    if (resumed) state.counters["resumed"] = static_cast<double>(resumedFrames) / static_cast<double>(frames);
}

/// A rolling terrain of about `triangles` triangles, 4,000 units square, 20 units under the paths.
host::LevelMesh terrain(std::size_t triangles) {
    const std::size_t cells = static_cast<std::size_t>(std::sqrt(double(triangles) / 2));
    const std::size_t n = cells + 1;
    host::LevelMesh mesh;
    mesh.surfaces = {"Terrain"};
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) {
            const float x = -2000 + 4000.0f * float(i) / float(cells), y = -2000 + 4000.0f * float(j) / float(cells);
            mesh.positions.insert(mesh.positions.end(), {x, y, -20 + 5 * std::sin(x * 0.01f) * std::cos(y * 0.013f)});
        }
    for (std::size_t j = 0; j < cells; ++j)
        for (std::size_t i = 0; i < cells; ++i) {
            const auto a = std::uint32_t(j * n + i), b = a + 1, c = a + std::uint32_t(n), d = c + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
            mesh.surfaceOf.insert(mesh.surfaceOf.end(), {0, 0});
        }
    return mesh;
}

/// One step of dragging a waypoint in the studio at n waypoints, as the page asks for it: the
/// PATCH of its position (the host sets "ObjectPos", the waypoint's `OnPositionChanged` refits
/// the path, the answer carries the new draw lines of the whole scene), then `/api/frame` at the
/// playhead halfway through the flight (resumed, since moving a waypoint changes no times).
/// Through `StudioServer::call`: the server's work without the socket.
/// `levelTriangles`: the studio knows a level of about that many triangles (a terrain under the
/// path), which a drag's steps must not pay for: its checks run when the page asks after the drag.
void dragStep(benchmark::State& state, int n, std::size_t levelTriangles = 0) {
    host::Host host{&SetIRTS, &GetObjectFactories};
    host.createCamera();
    makeWavyPath(host, n, "Long", true);
    const Handle iterator = host.create("SCOCameraSystemIterator", "Cam");
    host.setReference(iterator, "Path", host.find("Long"));
    host.afterLoad(iterator);
    studio::StudioOptions options{"bench.json", "", "127.0.0.1", 0, false};
    if (levelTriangles) options.levelGeometry = std::make_shared<const host::LevelGeometry>(terrain(levelTriangles));
    studio::StudioServer server(host, options);
    const std::string frame = "/api/frame?t=" + std::to_string(static_cast<ULong>(n - 1) * 1000 / 2 + 7);
    if (server.call("GET", frame).first != 200) state.SkipWithError("no frame");
    const std::string target = "/api/objects/W" + std::to_string(n / 2);
    const _CCoordSystem<float> at = *host.getObjectPos(host.find("W" + std::to_string(n / 2)));
    std::size_t bytes = 0, step = 0;
    const auto begin = Clock::now();
    for (auto _ : state) {
        const float dx = static_cast<float>(step++ % 32);
        const std::string body = "{\"position\":[" + std::to_string(at.Origin.x + dx) + "," +
                                 std::to_string(at.Origin.y) + "," + std::to_string(at.Origin.z) +
                                 "],\"gesture\":\"drag\"}";
        const auto [status, answer] = server.call("PATCH", target, body);
        const auto [frameStatus, eye] = server.call("GET", frame);
        if (status != 200 || frameStatus != 200) state.SkipWithError(answer.c_str());
        bytes = answer.size();
        benchmark::DoNotOptimize(eye);
    }
    rows[n].dragSeconds = perIteration(state, begin);
    state.counters["answer bytes"] = static_cast<double>(bytes);
}

/// The recovery journal written after a change (the scene as JSON, written atomically to a file
/// in the temporary folder) for the path of n waypoints, or the example (n = 0).
void studioJournal(benchmark::State& state, int n) {
    host::Host host{&SetIRTS, &GetObjectFactories};
    if (n == 0)
        host::loadSceneFile(host, CAMSYS_EXAMPLES_DIR "/flythrough.json");
    else
        makeWavyPath(host, n, "Long", true);
    studio::Journal journal(host, true);
    journal.follow((std::filesystem::temp_directory_path() / "camsys-bench-journal.json").string(), "none");
    std::uint64_t revision = 0;
    for (auto _ : state) journal.keep(++revision, true, false);
    if (!journal.error().empty()) state.SkipWithError(journal.error().c_str());
    journal.keep(++revision, false, false);  // removes it
}

/// What the page asks for after an edit that changes the flight, through `StudioServer::call`:
/// the change (an attribute of a waypoint, which refits the path), then the first part of the
/// flight anew (FLIGHT_PART_TICKS = 2048 ticks: the whole example, the first third of a path of
/// 1,000 waypoints) and, for the example, whose flight that part completes, its analysis.
void studioReflight(benchmark::State& state, int n) {
    host::Host host{&SetIRTS, &GetObjectFactories};
    if (n == 0) {
        host::loadSceneFile(host, CAMSYS_EXAMPLES_DIR "/flythrough.json");
    } else {
        makeWavyPath(host, n, "Long", true);
        const Handle iterator = host.create("SCOCameraSystemIterator", "Cam");
        host.setReference(iterator, "Path", host.find("Long"));
        host.afterLoad(iterator);
    }
    host.createCamera();
    studio::StudioServer server(host, {"bench.json", "", "127.0.0.1", 0, false});
    const std::string target = n == 0 ? "/api/objects/W1" : "/api/objects/W" + std::to_string(n / 2);
    std::size_t bytes = 0, step = 0;
    for (auto _ : state) {
        const std::string body = "{\"attributes\":{\"Roll\":" + std::to_string(step++ % 7) + "}}";
        const auto [status, answer] = server.call("PATCH", target, body);
        const auto [flightStatus, flight] =
            server.call("GET", "/api/flight?iterator=Cam&fromTick=0&ticks=2048&encoding=f32");
        if (status != 200 || flightStatus != 200) state.SkipWithError(flight.c_str());
        bytes = flight.size();
        if (n == 0 && server.call("GET", "/api/analysis?iterator=Cam").first != 200) state.SkipWithError("analysis");
    }
    state.counters["flight bytes"] = static_cast<double>(bytes);
}

/// The studio's `/api/flight` of the example: the flight recorded, then written as JSON text or
/// as base64 float32 columns.
void studioFlight(benchmark::State& state, bool f32) {
    Scenes& scenes = Scenes::get();
    const Handle iterator = scenes.exampleIterator();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const host::FlightRecording flight = host::recordFlight(scenes.host(), iterator, {0, kTickStep, 1000000});
        bytes = studio::flightJson(flight, "Cam", f32).size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void printSummary() {
    std::printf(
        "\n| n | literal box ms | fast box ms | literal/fast | ns/sample | whole refit ms | resolves/refit "
        "| ns/resolve | frame cold ms | frame resumed ms | drag step ms |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const auto& [n, row] : rows) {
        char literal[32] = "skipped", ratio[32] = "-";
        if (row.haveLiteral) {
            std::snprintf(literal, sizeof literal, "%.3f", row.literalSeconds * 1e3);
            std::snprintf(ratio, sizeof ratio, "%.0f", row.literalSeconds / row.fastSeconds);
        }
        std::printf("| %d | %s | %.3f | %s | %.1f | %.3f | %.0f | %.1f | %.3f | %.4f | %.3f |\n", n, literal,
                    row.fastSeconds * 1e3, ratio, row.fastSeconds * 1e9 / row.samples, row.refitSeconds * 1e3,
                    row.resolvesPerRefit, row.walkSeconds * 1e9 / n, row.frameSeconds * 1e3,
                    row.resumedFrameSeconds * 1e3, row.dragSeconds * 1e3);
    }
    for (const auto& [n, row] : rows)
        if (row.haveLiteral && !row.identical) std::printf("n = %d: the fast box differs from the literal one!\n", n);
}

}  // namespace

int main(int argc, char** argv) {
    // As an editor would: the refits below should not hand their heap back after every call.
    host::keepFreedHeap();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    for (int n : {10, 100, 1000, 10000}) {
        const std::string suffix = "/" + std::to_string(n);
        if (n <= kLiteralLimit)
            benchmark::RegisterBenchmark(("BoxLiteral" + suffix).c_str(), boxLiteral, n)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BoxFast" + suffix).c_str(), boxFast, n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Walk" + suffix).c_str(), walk, n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Refit" + suffix).c_str(), refit, n)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("StudioFrameCold" + suffix).c_str(), frame, n, false)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("StudioFrameResumed" + suffix).c_str(), frame, n, true)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("StudioDragStep" + suffix).c_str(), dragStep, n, 0)->Unit(benchmark::kMicrosecond);
        if (n == 1000)
            benchmark::RegisterBenchmark(("StudioDragStep" + suffix + "/level1e6").c_str(), dragStep, n, 1000000)
                ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark(("Tick/" + std::to_string(kTickWayPoints)).c_str(), tick)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ExampleFlight", exampleFlight)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("StudioFlightJson", studioFlight, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("StudioFlightF32", studioFlight, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("StudioEditReflight/example", studioReflight, 0)->Unit(benchmark::kMillisecond);
    for (int n : {0, 1000, 10000})
        benchmark::RegisterBenchmark(("StudioJournal/" + (n ? std::to_string(n) : std::string("example"))).c_str(),
                                     studioJournal, n)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("StudioEditReflight/1000", studioReflight, 1000)->Unit(benchmark::kMillisecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
