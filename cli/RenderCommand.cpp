// camsys render: the camera's view of a flight as a clip, a PNG per frame or a contact sheet,
// drawn by the studio's own page in a headless Chromium that camsys starts and stops.
#include <pthread.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "base/InputError.h"
#include "browser/HeadlessChromium.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "studio/server/StudioServer.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

/// The arguments of this run, as CLI11 fills them.
struct RenderArguments {
    std::string scene;
    std::string output;
    std::string iterator;
    std::string size;
    double fps = 30;
    double vfov = 60;
    std::optional<ULong> from;
    std::optional<ULong> to;
    ULong start = 0;
    bool overlay = false;
    bool showPath = false;
    bool sheet = false;
    int crf = -1;
    std::string chromium;
    bool quiet = false;
    bool timings = false;
    LevelArguments level;
} arguments;

/// How long the page may go without a sign of progress before the render is given up.
constexpr auto kStallLimit = std::chrono::seconds(60);

/// The format and output the name `-o` gives (with --sheet), and for frames the folder and the
/// name of each frame; UsageError when the name says none.
void chooseOutput(studio::RenderSettings& settings, std::string& output) {
    const std::string& o = arguments.output;
    const auto endsWith = [&](const char* tail) {
        const std::string t = tail;
        return o.size() > t.size() && o.compare(o.size() - t.size(), t.size(), t) == 0;
    };
    output = o;
    if (arguments.sheet) {
        if (!endsWith(".png")) throw UsageError("--sheet writes one PNG: name it OUT.png");
        settings.format = studio::RenderFormat::Sheet;
    } else if (endsWith(".mp4")) {
        settings.format = studio::RenderFormat::Mp4;
    } else if (endsWith(".webm")) {
        settings.format = studio::RenderFormat::WebM;
    } else if (o.find('%') != std::string::npos) {
        const std::filesystem::path pattern(o);
        settings.format = studio::RenderFormat::Frames;
        settings.framePattern = pattern.filename().string();
        output = pattern.parent_path().string();
        if (output.empty()) throw UsageError("-o " + o + ": name the frames' folder too, as in frames/%05d.png");
    } else if (o.size() > 1 && o.back() == '/') {
        settings.format = studio::RenderFormat::Frames;
    } else {
        throw UsageError("-o " + o +
                         ": the name says what to write: OUT.mp4 (H.264), OUT.webm (VP9), OUT/ or "
                         "OUT/%05d.png (a PNG per frame), or OUT.png with --sheet");
    }
}

/// WIDTHxHEIGHT; the sheet's cells default to a smaller size than a video's frames.
void chooseSize(studio::RenderSettings& settings) {
    if (arguments.size.empty()) {
        if (settings.format == studio::RenderFormat::Sheet) settings.width = 480, settings.height = 270;
        return;
    }
    int width = 0, height = 0;
    char extra = 0;
    if (std::sscanf(arguments.size.c_str(), "%dx%d%c", &width, &height, &extra) != 2)
        throw UsageError("--size must be WIDTHxHEIGHT, as in 1280x720, not \"" + arguments.size + "\"");
    settings.width = width;
    settings.height = height;
}

studio::RenderSettings renderSettings(std::string& output) {
    studio::RenderSettings s;
    chooseOutput(s, output);
    chooseSize(s);
    s.fps = arguments.fps;
    s.vfov = arguments.vfov;
    s.from = arguments.from;
    s.to = arguments.to;
    s.overlay = arguments.overlay;
    s.showPath = arguments.showPath;
    s.crf = arguments.crf;
    s.iterator = arguments.iterator;
    s.start = arguments.start;
    s.timings = arguments.timings;
    if (const std::string problem = studio::renderSettingsProblem(s); !problem.empty()) throw UsageError(problem);
    return s;
}

/// The progress line on standard error: rewritten in place on a terminal, else a line now and
/// then for a log.
class ProgressLine {
public:
    ProgressLine() : terminal_(::isatty(STDERR_FILENO) == 1), began_(Clock::now()) {}

    void show(const studio::RenderTask::Progress& p) {
        if (arguments.quiet || p.total == 0) return;
        const auto now = Clock::now();
        if (!started_) started_ = true, firstAt_ = now, firstDone_ = p.done;
        if (now - said_ < (terminal_ ? std::chrono::milliseconds(200) : std::chrono::seconds(5)) && p.done < p.total)
            return;
        said_ = now;
        const double seconds = std::chrono::duration<double>(now - firstAt_).count();
        const double rate = seconds > 0 ? double(p.done - firstDone_) / seconds : 0;
        char line[160];
        std::snprintf(line, sizeof line, "camsys render: %zu/%zu frames, %.1f frames/s", p.done, p.total, rate);
        std::string text = line;
        if (rate > 0 && p.done < p.total) text += ", " + std::to_string(int(double(p.total - p.done) / rate + 0.5)) + " s left";
        std::fprintf(stderr, terminal_ ? "\r%-72s" : "%s\n", text.c_str());
        shown_ = true;
    }

    /// Ends the line in place, so that what follows starts on its own.
    void end() {
        if (terminal_ && shown_) std::fputc('\n', stderr);
        shown_ = false;
    }

    double secondsSinceStart() const { return std::chrono::duration<double>(Clock::now() - began_).count(); }

private:
    bool terminal_;
    bool shown_ = false;
    Clock::time_point began_;
    Clock::time_point said_{};
    /// The first progress seen: the rate counts from there (start-up is not rendering).
    bool started_ = false;
    Clock::time_point firstAt_{};
    std::size_t firstDone_ = 0;
};

/// Says what was written, how fast, and with --timings where the page's time went.
void reportDone(const studio::RenderTask& task, double wall, double cpu) {
    if (arguments.quiet) return;
    const studio::RenderTask::Progress p = task.progress();
    const studio::RenderTimings& t = p.timings;
    std::fprintf(stderr, "camsys render: wrote %s: %zu frames in %.1f s (%.1f frames/s; Chromium's processor time %.1f s)\n",
                 task.output().c_str(), p.total, wall, wall > 0 ? double(p.total) / wall : 0.0, cpu);
    if (arguments.timings)
        std::fprintf(stderr,
                     "camsys render: on the page %.1f s: render %.1f s, read-back %.1f s, encode %.1f s, transfer %.1f s\n",
                     t.total / 1000, t.render / 1000, t.readback / 1000, t.encode / 1000, t.transfer / 1000);
}

/// The scene loaded into `host` with its camera, and the studio's options for the render.
studio::StudioOptions openScene(Host& host, const std::shared_ptr<studio::RenderTask>& task) {
    OptionalLevel level;
    const std::vector<Handle> scene = loadSceneReportingEvents(host, arguments.scene, &level);
    if (!arguments.iterator.empty()) chooseIterator(host, scene, arguments.scene, arguments.iterator, "with --iterator");
    host.createCamera("", true);
    studio::StudioOptions options;
    options.sceneFile = arguments.scene;
    options.iterator = arguments.iterator;
    options.address = "127.0.0.1";
    options.port = 0;
    options.render = task;
    addStudioLevel(options, arguments.scene, level, arguments.level, "render");
    return options;
}

/// Watches the render until it ends, the browser exits, the page stalls or a signal comes;
/// true when it finished.
bool watchRender(studio::RenderTask& task, HeadlessChromium& chromium, const std::atomic<bool>& interrupted) {
    ProgressLine line;
    auto lastChange = Clock::now();
    std::size_t lastDone = ~std::size_t(0);
    for (;;) {
        const studio::RenderTask::Progress p = task.waitForChange(std::chrono::milliseconds(250));
        if (p.state != studio::RenderTask::State::Running) {
            line.end();
            if (p.state == studio::RenderTask::State::Finished) {
                reportDone(task, line.secondsSinceStart(), chromium.cpuSeconds());
                return true;
            }
            if (interrupted)
                std::fprintf(stderr, "camsys render: interrupted; nothing was written\n");
            else
                std::fprintf(stderr, "camsys render: the render failed: %s\n", p.error.c_str());
            return false;
        }
        line.show(p);
        if (interrupted) {
            line.end();
            task.cancel();
            std::fprintf(stderr, "camsys render: interrupted; nothing was written\n");
            return false;
        }
        if (p.done != lastDone) lastDone = p.done, lastChange = Clock::now();
        if (!chromium.running()) {
            line.end();
            task.fail("Chromium " + chromium.exitDescription() + " before the render was complete");
            std::fprintf(stderr, "camsys render: Chromium %s before the render was complete; its last output:\n%s\n",
                         chromium.exitDescription().c_str(), chromium.lastOutput().c_str());
            return false;
        }
        if (Clock::now() - lastChange > kStallLimit) {
            line.end();
            task.fail("the page made no progress for a minute");
            std::fprintf(stderr, "camsys render: the page made no progress for %lld s; Chromium's last output:\n%s\n",
                         static_cast<long long>(kStallLimit.count()), chromium.lastOutput().c_str());
            return false;
        }
    }
}

}  // namespace

void addRenderOptions(CLI::App& command) {
    command.footer(
        "The name given to -o says what is written: OUT.mp4 (H.264), OUT.webm (VP9), OUT/ or OUT/%05d.png\n"
        "(a PNG per frame, numbered from 0), OUT.png with --sheet (a frame at the start, at every waypoint\n"
        "reached, on both sides of every cut and at the end, each labelled). Frame k shows the camera at\n"
        "START + round(k * 1000 / FPS) ms, flown with one Run at its own time, up to the tick that ends the\n"
        "flight. The page renders in Chromium: --chromium, else $CAMSYS_CHROMIUM, else chromium or\n"
        "chromium-browser on PATH (Debian: apt-get install chromium). The output appears only when\n"
        "complete; Ctrl+C stops the render and leaves nothing.");
    addSceneArgument(command, arguments.scene);
    command.add_option("-o,--output", arguments.output, "Where to write (see below)")->required();
    command.add_option("--iterator", arguments.iterator, "The iterator to fly (default: the first)");
    addLevelOptions(command, arguments.level);
    command.add_option("--size", arguments.size, "Frame size WIDTHxHEIGHT (default 1280x720; a sheet's cells 480x270)");
    command.add_option("--fps", arguments.fps, "Frames a second")->check(kFiniteNumber)->capture_default_str();
    command.add_option("--vfov", arguments.vfov, "The base vertical field of view at fov 1, degrees (as the studio's)")
        ->check(kFiniteNumber)
        ->capture_default_str();
    command.add_option("--from", arguments.from, "The first frame's time, ms after the activation");
    command.add_option("--to", arguments.to, "The last frame's time, ms after the activation");
    command.add_option("--start", arguments.start, "The activation time on the game's clock, ms")->capture_default_str();
    command.add_flag("--overlay", arguments.overlay, "Burn in the time code, tick, waypoint and active findings");
    command.add_flag("--show-path", arguments.showPath, "Draw the path's lines as the editor does");
    command.add_flag("--sheet", arguments.sheet, "Write a contact sheet (one PNG) instead of every frame");
    command.add_option("--crf", arguments.crf, "Quality: 0 best, to 63 for VP9 (a quantizer) or 51 for H.264 (a bit rate on x264's CRF scale); default: a bit rate for the size");
    command.add_option("--chromium", arguments.chromium, "The Chromium program to render with");
    command.add_flag("--quiet", arguments.quiet, "No progress line and no summary");
    command.add_flag("--timings", arguments.timings,
                     "Say where the page's time went: render, read-back, encode, transfer (each stage waits for the "
                     "one before, so the render is slower)");
}

int runRender(Host& host) {
    std::string output;
    const studio::RenderSettings settings = renderSettings(output);
    const std::string program = findChromium(arguments.chromium);

    // SIGINT and SIGTERM go to one thread that says so; the server's threads and the watch loop
    // never see them, and Chromium starts with them unblocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::shared_ptr<studio::RenderTask> task;
    try {
        task = std::make_shared<studio::RenderTask>(settings, output);
    } catch (const std::runtime_error& error) {
        throw UsageError(error.what());
    }
    std::unique_ptr<studio::StudioServer> server;
    try {
        server = std::make_unique<studio::StudioServer>(host, openScene(host, task));
    } catch (const std::invalid_argument& error) {
        throw InputError(arguments.scene, "", "", error.what());
    }
    if (server->iterator().empty())
        throw InputError(arguments.scene, "", "", "the scene has no iterator (an object with an eye) to fly");
    server->bind();
    std::atomic<bool> served = false;
    std::thread serving([&] {
        server->run();
        served = true;
    });

    std::atomic<bool> interrupted = false;
    std::atomic<bool> finished = false;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!finished) interrupted = true;
        task->cancel();
    });

    bool done = false;
    {
        HeadlessChromium chromium(program, server->renderUrl(), {settings.width, settings.height});
        done = watchRender(*task, chromium, interrupted);
        chromium.stop(0);
    }
    task->cancel();  // no-op once finished; otherwise nothing of the output stays
    finished = true;
    pthread_kill(stopper.native_handle(), SIGTERM);  // wakes the stopper when no signal came
    stopper.join();
    // A stop that comes before the server listens is lost: repeat it until `run` returns.
    while (!served) {
        server->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    serving.join();
    return done ? 0 : kExitFailure;
}

}  // namespace host
