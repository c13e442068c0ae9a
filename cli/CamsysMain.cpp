// camsys: flies, checks, draws and keeps camera flights without a game engine. A thin main over
// the stand-in host (host/Host.h) and its scene files (host/SceneFile.h).
//
// Exit status: 0 done, 2 bad input (the message names file, object and attribute), 1 anything
// else (the plug-in cannot be loaded, an output cannot be written).
#include <pthread.h>
#include <spawn.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/AtomicFile.h"
#include "cli/CliSupport.h"
#include "base/Heap.h"
#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/PathFit.h"
#include "exchange/GltfExport.h"
#include "exchange/GltfImport.h"
#include "host/Host.h"
#include "flight/lint/Lint.h"
#include "pictures/Picture.h"
#include "pictures/Profile.h"
#include "scene/SceneFile.h"
#include "studio/server/StudioServer.h"

#ifndef CAMSYS_VERSION
#define CAMSYS_VERSION "unknown"
#endif

namespace {

using host::chooseIterator;
using host::EventPrinter;
using host::kExitBadInput;
using host::kExitFailure;
using host::UsageError;
using host::writeOutput;
using FlyOptions = host::FlightArguments;

const char* const kFormats = R"(Scene files (SCENE may be either; the content decides):
  JSON   { "objects": [ { "name": "Tower", "position": [40, 120, 15] },
                        { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
                            { "name": "W0", "class": "SCOCameraSystemWaypoint",
                              "position": [0, 0, 10], "attributes": { "PointsTo": "Tower" } },
                            ... ] },
                        { "name": "Cam", "class": "SCOCameraSystemIterator",
                          "attributes": { "Path": "Flight" } } ] }
         name: unique in the file; class: a plug-in class (absent: a plain host object);
         position [x, y, z]; orientation: nine floats row by row (default identity);
         children: the child list, in order; attributes by name, by type: a number (float),
         an integer 0..4294967295 (unsigned), true/false (bool), [x, y, z] (point), an
         object's name or null (reference). "NaN", "Infinity", "-Infinity" stand for
         those floats.
  .sco   binary: magic "CAMSCO" 1A 0A, format version 1, object count, then per object in
         depth-first pre-order: class GUID, GUID, parent GUID (16 bytes each), name and
         record (each a 4-byte length and the bytes); the record is what the object's own
         Serialize writes. Plain host objects have the class GUID
         {484F5354-0000-0000-504C-41494E4F424A}.

Every output file is written under a temporary name and renamed: a failure leaves no half
file. Exit status: 0 done, 2 bad input (camsys: FILE: OBJECT: ATTRIBUTE: what), 1 other
failures. The plug-in: --plugin, else $CAMSYS_PLUGIN, else the one installed beside camsys
(../lib/camerasystem/), else the one built with camsys.)";

int fly(host::Host& host, const FlyOptions& options) {
    EventPrinter events(host);
    const std::vector<Handle> scene = host::loadSceneFile(host, options.scene);
    events.flush();
    const Handle iterator = chooseIterator(host, scene, options.scene, options.iterator);
    host.createCamera("", true);

    const host::FlightRecording flight =
        host::recordFlight(host, iterator, {options.start, options.step, options.maxTicks});
    for (const host::FlightEvent& event : flight.events)
        std::fprintf(stderr, "%u,%s,%s\n", event.time, host::eventWord(event.kind), event.detail.c_str());
    if (flight.hitLimit)
        std::fprintf(stderr, "camsys: warning: %s still flies after %zu ticks (--max-ticks)\n",
                     host.nameOf(iterator).c_str(), flight.ticks.size());
    writeOutput(options.output, host::flightCsv(flight));
    return 0;
}

int draw(host::Host& host, const std::string& scene, const std::string& output) {
    if (!host::isPicturePath(output)) throw UsageError("the picture must be a .png or .svg file: " + output);
    EventPrinter events(host);
    host::loadSceneFile(host, scene);
    const host::SceneDrawing drawing = host.drawScene();
    events.flush();
    if (drawing.dropped)
        std::fprintf(stderr, "camsys: warning: %zu drawing calls beyond the first %zu were not drawn\n",
                     drawing.dropped, host::RecordingRenderer::kMaxCalls);
    host::writePicture(drawing.calls, drawing.labels, output);
    return 0;
}

int save(host::Host& host, const std::string& scene, const std::string& output) {
    EventPrinter events(host);
    host::loadSceneFile(host, scene);
    events.flush();
    host::saveScoFile(host, output);
    return 0;
}

int load(host::Host& host, const std::string& scene, const std::string& output) {
    EventPrinter events(host);
    host::loadSceneFile(host, scene);
    events.flush();
    writeOutput(output, host::exportJson(host));
    return 0;
}

struct ProfileOptions {
    FlyOptions flight;
    std::string csv;
};

/// The flight's profile: a picture of the analysis's measures over time, their maxima on
/// standard output, and the table behind them (--csv).
int profile(host::Host& host, const ProfileOptions& options) {
    const std::string& output = options.flight.output;
    if (!host::isPicturePath(output)) throw UsageError("the profile must be a .png or .svg file: " + output);
    EventPrinter events(host);
    const std::vector<Handle> scene = host::loadSceneFile(host, options.flight.scene);
    events.flush();
    const Handle iterator = chooseIterator(host, scene, options.flight.scene, options.flight.iterator);
    host.createCamera("", true);
    const host::FlightRecording flight =
        host::recordFlight(host, iterator, {options.flight.start, options.flight.step, options.flight.maxTicks});
    if (flight.hitLimit)
        std::fprintf(stderr, "camsys: warning: %s still flies after %zu ticks (--max-ticks)\n",
                     host.nameOf(iterator).c_str(), flight.ticks.size());
    const host::FlightAnalysisInput input = host::flightAnalysisInput(host, iterator, flight.ticks);
    const host::FlightAnalysis analysis = host::analyseFlight(input);
    const std::string title = host.nameOf(iterator) + " of " + options.flight.scene + ": " +
                              std::to_string(flight.ticks.size()) + " ticks of " + std::to_string(options.flight.step) +
                              " ms";
    // The table first: a table that cannot be written leaves the picture as it was too.
    if (!options.csv.empty()) host::writeFileAtomically(options.csv, host::profileCsv(input, analysis));
    host::writeProfile(output, title, input, analysis, flight.events);
    writeOutput("", host::profileSummary(input, analysis));
    return 0;
}

/// The flight of `fly` (same options and defaults) and its scene as a glTF file (.gltf or .glb).
int exportFlight(host::Host& host, const FlyOptions& options) {
    if (!host::gltfContainerOf(options.output))
        throw UsageError("the export must be a .gltf or .glb file: " + options.output);
    EventPrinter events(host);
    const std::vector<Handle> scene = host::loadSceneFile(host, options.scene);
    events.flush();
    const Handle iterator = chooseIterator(host, scene, options.scene, options.iterator);
    host.createCamera("", true);
    host::FlightRecording flight;
    try {
        flight = host::exportGltf(host, iterator, {options.start, options.step, options.maxTicks}, options.output);
    } catch (const std::invalid_argument& error) {
        // A flight that cannot be animated (a step of 0, no tick) is a matter of the input.
        throw host::InputError(options.scene, host.nameOf(iterator), "", error.what());
    }
    for (const host::FlightEvent& event : flight.events)
        std::fprintf(stderr, "%u,%s,%s\n", event.time, host::eventWord(event.kind), event.detail.c_str());
    if (flight.hitLimit)
        std::fprintf(stderr, "camsys: warning: %s still flies after %zu ticks (--max-ticks)\n",
                     host.nameOf(iterator).c_str(), flight.ticks.size());
    return 0;
}

struct ImportCommand {
    std::string recording;
    std::string output;
    host::ImportOptions options;
};

/// A recorded camera move as an editable path: the fewest waypoints whose flight stays within
/// the tolerances of the recording (see host/FlightImport.h); reports the fit.
int importCommand(host::Host& host, const ImportCommand& command) {
    const std::string& file = command.recording;
    std::vector<host::RecordedEye> samples;
    if (host::gltfContainerOf(file)) {
        samples = host::readRecordingGltf(file);
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw host::InputError(file, "", "", "cannot read the recording");
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        samples = host::readRecordingCsv(text, file);
    }
    const host::ImportResult result = host::importRecording(host, samples, command.options);
    writeOutput(command.output, result.sceneJson);
    std::fprintf(stderr,
                 "camsys import: %zu samples -> %zu waypoints (%.1f samples a waypoint) in %zu part(s), %zu fits; "
                 "largest deviation %.4g units, %.4g degrees%s\n",
                 samples.size(), result.waypoints, static_cast<double>(samples.size()) / result.waypoints, result.parts,
                 result.rounds, result.worstDistance, result.worstAngle,
                 result.withinTolerance ? "" : " (outside the tolerance: see --tolerance and --angle)");
    return 0;
}

struct LintCommand {
    std::string scene;
    std::string iterator;
    host::LintOptions options;
    bool json = false;
};

/// The scene's findings (host/Lint.h) on standard output. Exit status 1 when one of them is a
/// warning or an error, so that a build or a commit hook can stop on them.
int lint(host::Host& host, const LintCommand& command) {
    EventPrinter events(host);
    const std::vector<Handle> scene = host::loadSceneFile(host, command.scene);
    events.flush();
    host::LintOptions options = command.options;
    if (!command.iterator.empty()) options.iterator = chooseIterator(host, scene, command.scene, command.iterator);
    host.createCamera("", true);
    const std::vector<host::LintFinding> findings = host::lintScene(host, options);
    writeOutput("", command.json ? host::lintJson(findings) : host::lintText(command.scene, findings));
    return host::lintFails(findings) ? 1 : 0;
}

struct StudioCommand {
    std::string scene;
    std::string iterator;
    std::string address = "127.0.0.1";
    int port = 8765;
    bool noToken = false;
    bool open = false;
};

/// Starts the desktop's browser on `url` when there is a desktop; says so when there is none.
void openBrowser(const std::string& url) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "camsys studio: no desktop to open a browser on; open the URL yourself\n");
        return;
    }
    pid_t child = 0;
    std::string program = "xdg-open";
    char* arguments[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, arguments, environ) != 0)
        std::fprintf(stderr, "camsys studio: cannot start xdg-open; open the URL yourself\n");
}

int studioCommand(host::Host& host, const StudioCommand& options) {
    // SIGINT and SIGTERM wait for one thread that stops the server; the server's own threads,
    // started later, inherit the blocked mask and never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    EventPrinter events(host);
    const std::vector<Handle> scene = host::loadSceneFile(host, options.scene);
    events.flush();
    if (!options.iterator.empty()) chooseIterator(host, scene, options.scene, options.iterator);
    host.createCamera("", true);
    studio::StudioOptions studioOptions{options.scene, options.iterator, options.address, options.port,
                                        !options.noToken};
    std::unique_ptr<studio::StudioServer> server;
    try {
        server = std::make_unique<studio::StudioServer>(host, studioOptions);
    } catch (const std::invalid_argument& error) {
        throw host::InputError(options.scene, "", "", error.what());
    }
    server->bind();
    if (!studio::isLoopback(options.address))
        std::fprintf(stderr,
                     "camsys studio: warning: listening on %s, reachable from other machines; anyone who "
                     "learns the URL can use the studio\n",
                     options.address.c_str());
    if (options.noToken)
        std::fprintf(stderr, "camsys studio: --no-token: every program on this machine can use the studio\n");
    std::printf("camsys studio: %s\n", server->url().c_str());
    std::fflush(stdout);
    if (options.open) openBrowser(server->url());

    std::atomic<bool> finished = false;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // A stop that comes before the server listens is lost: repeat it until `run` returns.
        while (!finished) {
            server->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    server->run();
    finished = true;
    pthread_kill(stopper.native_handle(), SIGTERM);  // wakes the stopper when no signal came
    stopper.join();
    std::fprintf(stderr, "camsys studio: stopped\n");
    return 0;
}

}  // namespace

static int runCamsys(int argc, char** argv) {
    CLI::App app(
        "camsys: fly, check, draw and keep camera flights of the camera-system plug-in, without "
        "a game engine.",
        "camsys");
    app.footer(kFormats);
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", "camsys " CAMSYS_VERSION);
    std::string pluginOption;
    app.add_option("--plugin", pluginOption,
                   "The camera-system plug-in to load (else $CAMSYS_PLUGIN, else the one "
                   "installed beside camsys, else the one built with it)");

    FlyOptions flyOptions;
    CLI::App* flyCommand =
        app.add_subcommand("fly", "Fly an iterator through its path and write the camera's eye, one CSV row per tick.");
    flyCommand->footer(
        "Activates the iterator at --start, then runs ticks at start, start + step, start + 2 step, ... (modulo\n"
        "2^32) until the tick after which the iterator was deactivated (that row included) or --max-ticks ticks\n"
        "have run (then a warning).\n"
        "After each tick and the activations it asked for, the game camera reads the eye through ISCO_HasEye:\n"
        "  time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov\n"
        "time: the tick; waypoint: the iterator's ActualWayPointIndex; x,y,z: the eye's position; m..: its\n"
        "orientation row by row (columns right, forward, up); fov: its field-of-view value. Floats are the\n"
        "shortest decimals that read back to the same float. Activations, deactivations and messages go to\n"
        "standard error as lines time,event,detail (event: activate, deactivate or message).");
    host::addFlightOptions(*flyCommand, flyOptions);
    flyCommand->add_option("-o,--output", flyOptions.output, "The CSV file (default: standard output)");

    std::string drawScene, drawOutput;
    CLI::App* drawCommand = app.add_subcommand(
        "draw",
        "Draw the scene as the editor does (every path and waypoint through its Draw3D): a top view (x, y) "
        "and a side view (x, z).");
    drawCommand->add_option("SCENE", drawScene, "The scene file (JSON or .sco)")->required();
    drawCommand->add_option("-o,--output", drawOutput, "The picture: FILE.png or FILE.svg")->required();

    ProfileOptions profileOptions;
    CLI::App* profileCommand = app.add_subcommand(
        "profile",
        "Fly an iterator and plot its flight for a report: speed, acceleration, jerk, angular rate, roll rate, "
        "field of view and distance to the look-at target over time, with waypoints, pauses, cuts and "
        "activations marked; prints each quantity's maximum and where it occurs.");
    host::addFlightOptions(*profileCommand, profileOptions.flight);
    profileCommand->add_option("-o,--output", profileOptions.flight.output, "The picture: FILE.png or FILE.svg")
        ->required();
    profileCommand->add_option("--csv", profileOptions.csv, "Also write the measures per tick as CSV");

    FlyOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand(
        "export",
        "Fly an iterator as fly does and write the flight and its scene as glTF 2.0 (.gltf or .glb): the "
        "objects as nodes, the flown path as lines, the camera animated per tick.");
    exportCommand->footer(
        "The same flight as fly (same options and defaults). The file holds every object of the scene as a\n"
        "node (its position and orientation, nested as in the scene), the flown eye positions as LINE_STRIP\n"
        "pieces broken at cuts, and a perspective camera animated per tick in seconds since the first tick:\n"
        "translation and rotation (LINEAR; a cut jumps at its tick), and yfov through KHR_animation_pointer,\n"
        "yfov = 2 atan(tan(30 degrees) / fov). Activations, deactivations and messages are in the animation's\n"
        "extras. Axes: glTF has +y up and cameras look along -z; a world point (x, y, z) is (x, z, -y).\n"
        ".gltf embeds the buffer as a data URI; .glb is the binary container.");
    host::addFlightOptions(*exportCommand, exportOptions);
    exportCommand->add_option("-o,--output", exportOptions.output, "The glTF file: FILE.gltf or FILE.glb")->required();

    ImportCommand importOptions;
    CLI::App* importCommandLine = app.add_subcommand(
        "import",
        "Turn a recorded camera move (a glTF camera animation, or a CSV in fly's columns) into an editable "
        "path: waypoints chosen among "
        "the samples until the path's own flight stays within the tolerances of the recording.");
    importCommandLine
        ->add_option("RECORDING", importOptions.recording, "The recording: FILE.gltf, FILE.glb or FILE.csv")
        ->required();
    importCommandLine->add_option("-o,--output", importOptions.output, "The scene (JSON; default: standard output)");
    importCommandLine
        ->add_option("--tolerance", importOptions.options.tolerance,
                     "Largest distance of the path's eye from the recorded one")
        ->check(CLI::PositiveNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();
    importCommandLine
        ->add_option("--angle", importOptions.options.angle,
                     "Largest angle between the path's view direction and the recorded one (degrees)")
        ->check(CLI::PositiveNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();

    std::string saveScene, saveOutput;
    CLI::App* saveCommand = app.add_subcommand(
        "save", "Build the scene and save it as a binary .sco file (each object's record through its own Serialize).");
    saveCommand->add_option("SCENE", saveScene, "The scene file (JSON or .sco)")->required();
    saveCommand->add_option("OUT", saveOutput, "The .sco file to write")->required();

    std::string loadScene, loadOutput;
    CLI::App* loadCommand =
        app.add_subcommand("load",
                           "Load a scene (.sco or JSON), run AfterLoad as after loading, and print it back as JSON; "
                           "JSON -> .sco -> JSON is a fixed point.");
    loadCommand->add_option("SCENE", loadScene, "The scene file (.sco or JSON)")->required();
    loadCommand->add_option("-o,--output", loadOutput, "The JSON file (default: standard output)");

    LintCommand lintOptions;
    CLI::App* lintCommand = app.add_subcommand(
        "lint", "Check a scene's paths and flights for what a player would notice: one line per finding.");
    lintCommand->footer(
        "Checks (id, severity): time-backward, overshoot, speed-jump, acceleration, jerk, roll-long-way,\n"
        "view-vertical, short-segment, cut-with-ease, single-waypoint-part, clock-wrap (warnings);\n"
        "dangling-reference, bad-fov, bad-range (errors); switched-off (info; a warning where it ends the\n"
        "flight early). Path checks cover every path; flight checks fly --iterator, or every iterator.\n"
        "Fixed limits: a segment is short below 0.01 units of eye and view movement together; an overshoot\n"
        "counts from 0.01 units. Speeds are per tick, as the studio's plots show them.\n"
        "Output: FILE: OBJECT: id: text, or with --json an array of {id, severity, object, time, distance,\n"
        "text} (time: the tick's clock time; distance: on the path's DistanceSum scale; null where none).\n"
        "Exit status: 0 no finding above info, 1 a warning or an error, 2 bad input.");
    lintCommand->add_option("SCENE", lintOptions.scene, "The scene file (JSON or .sco)")->required();
    lintCommand->add_option("--iterator", lintOptions.iterator, "The iterator to fly (default: every one)");
    lintCommand->add_option("--start", lintOptions.options.start, "Time of the activation and the first tick")
        ->capture_default_str();
    lintCommand->add_option("--step", lintOptions.options.step, "Time between ticks (at least 1: time must move)")
        ->check(CLI::Range(1u, 4294967295u))
        ->capture_default_str();
    lintCommand->add_flag("--json", lintOptions.json, "Write the findings as JSON");
    lintCommand
        ->add_option("--overshoot", lintOptions.options.overshoot,
                     "overshoot: largest excursion from a segment's box, in segment lengths")
        ->check(CLI::NonNegativeNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();
    lintCommand
        ->add_option("--speed-jump", lintOptions.options.speedJump,
                     "speed-jump: largest ratio of the speeds either side of a waypoint")
        ->check(CLI::PositiveNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();
    lintCommand->add_option("--acceleration", lintOptions.options.acceleration, "acceleration: largest, in units/s^2")
        ->check(CLI::NonNegativeNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();
    lintCommand->add_option("--jerk", lintOptions.options.jerk, "jerk: largest, in units/s^3")
        ->check(CLI::NonNegativeNumber)
        ->check(host::kFiniteNumber)
        ->capture_default_str();
    lintCommand
        ->add_option("--vertical", lintOptions.options.viewVertical,
                     "view-vertical: least angle of the view from straight up or down (degrees)")
        ->check(CLI::Range(0.0, 90.0))
        ->capture_default_str();

    StudioCommand studioOptions;
    CLI::App* studioCommandLine = app.add_subcommand(
        "studio",
        "Open the scene in the studio: a local web page that shows the flight in 3D and through the camera, "
        "with its timeline, plots and the objects' attributes.");
    studioCommandLine->footer(
        "Prints the URL to open (camsys studio: http://127.0.0.1:PORT/?token=...). The server answers only\n"
        "requests that carry the URL's token and name its own address (Host, Origin); Ctrl+C stops it.\n"
        "The page and scripts use the same JSON API: /api/scene, /api/draw, /api/flight, /api/frame,\n"
        "/api/analysis, /api/lint, /api/messages (see the README).");
    studioCommandLine->add_option("SCENE", studioOptions.scene, "The scene file (JSON or .sco)")->required();
    studioCommandLine->add_option("--iterator", studioOptions.iterator,
                                  "The iterator shown first (default: the first)");
    studioCommandLine->add_option("--port", studioOptions.port, "The port; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    studioCommandLine
        ->add_option("--host", studioOptions.address,
                     "The address to listen on; anything but the loopback address is reachable from "
                     "other machines")
        ->capture_default_str();
    studioCommandLine->add_flag("--no-token", studioOptions.noToken,
                                "Serve without a token (for scripts; any local program can then use it)");
    studioCommandLine->add_flag("--open", studioOptions.open, "Open the page in the desktop's browser");

    host::keepFreedHeap();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kExitBadInput;
    }

    try {
        host::Host host(host::pluginPath(pluginOption));
        if (flyCommand->parsed()) return fly(host, flyOptions);
        if (drawCommand->parsed()) return draw(host, drawScene, drawOutput);
        if (exportCommand->parsed()) return exportFlight(host, exportOptions);
        if (profileCommand->parsed()) return profile(host, profileOptions);
        if (importCommandLine->parsed()) return importCommand(host, importOptions);
        if (lintCommand->parsed()) return lint(host, lintOptions);
        if (saveCommand->parsed()) return save(host, saveScene, saveOutput);
        if (studioCommandLine->parsed()) return studioCommand(host, studioOptions);
        return load(host, loadScene, loadOutput);
    } catch (const host::InputError& error) {
        std::fprintf(stderr, "camsys: %s\n", error.what());
        return kExitBadInput;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "camsys: %s\n", error.what());
        return kExitBadInput;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "camsys: %s\n", error.what());
        return kExitFailure;
    }
}

/// What main returns, unless standard output could not take what was written to it: a full disk
/// or a closed pipe shows only when the buffered rest is flushed and the stream closed.
int finish(int status) {
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout);
    const int reason = errno;
    if (std::fclose(stdout) != 0 || failed) {
        // A failure already reported (its status not 0) is not reported twice.
        if (status == 0)
            std::fprintf(stderr, "camsys: write error: %s\n", std::strerror(reason ? reason : errno ? errno : EIO));
        return status == 0 ? kExitFailure : status;
    }
    return status;
}

int main(int argc, char** argv) { return finish(runCamsys(argc, argv)); }
