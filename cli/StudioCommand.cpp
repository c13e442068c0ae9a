// camsys studio: the scene served as a local web page until Ctrl+C.
#include <pthread.h>
#include <spawn.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "exchange/LevelGlb.h"
#include "scene/StarterScene.h"
#include "studio/server/StudioServer.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct StudioArguments {
    std::string scene;
    std::string iterator;
    std::string address = "127.0.0.1";
    int port = 8765;
    bool noToken = false;
    bool open = false;
    bool recover = false;
    bool discardRecovery = false;
    LevelArguments level;
} arguments;

/// Starts the desktop's browser on `url` when there is a desktop; says so when there is none.
void openBrowser(const std::string& url) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "camsys studio: no desktop to open a browser on; open the URL yourself\n");
        return;
    }
    pid_t child = 0;
    std::string program = "xdg-open";
    char* browserArguments[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, browserArguments, environ) != 0)
        std::fprintf(stderr, "camsys studio: cannot start xdg-open; open the URL yourself\n");
}

/// True when `file` names nothing yet (not even a broken link): the studio starts it.
bool startsNewFile(const std::string& file) {
    std::error_code error;
    return file != "-" &&
           std::filesystem::symlink_status(file, error).type() == std::filesystem::file_type::not_found;
}

}  // namespace

void addStudioLevel(studio::StudioOptions& options, const std::string& scene, const OptionalLevel& own,
                    const LevelArguments& level, const char* command) {
    const OptionalLevel chosen = chosenLevel(own, level);
    if (!chosen) return;
    const bool given = !level.file.empty();
    const std::string path = given ? chosen->file : levelPathFor(scene, chosen->file);
    const LevelPlacement placement{chosen->scale, {chosen->position[0], chosen->position[1], chosen->position[2]}};
    try {
        std::optional<LevelMesh> mesh = levelFor(scene, own, level);
        if (!mesh) return;
        options.levelGeometry = std::make_shared<const LevelGeometry>(std::move(*mesh));
        options.level = levelToGlb(path, placement);
    } catch (const InputError& error) {
        if (given) throw;
        std::fprintf(stderr, "camsys %s: warning: the scene's level cannot be read, so it opens without it: %s\n",
                     command, error.what());
        options.levelGeometry.reset();
        options.level.clear();
    }
}

namespace {

/// The scene loaded and the studio's server bound to its port, not yet serving.
std::unique_ptr<studio::StudioServer> openStudio(Host& host) {
    std::vector<Handle> scene;
    OptionalLevel level;
    if (startsNewFile(arguments.scene)) {
        requireFolderOf(arguments.scene);
        scene = loadStarterScene(host, arguments.scene);
        std::fprintf(stderr,
                     "camsys studio: %s does not exist yet: a starter scene opens, unsaved; the first save "
                     "creates the file\n",
                     arguments.scene.c_str());
    } else {
        scene = loadSceneReportingEvents(host, arguments.scene, &level);
    }
    if (!arguments.iterator.empty()) chooseIterator(host, scene, arguments.scene, arguments.iterator, "with --iterator");
    host.createCamera("", true);
    studio::StudioOptions options{arguments.scene, arguments.iterator, arguments.address, arguments.port,
                                  !arguments.noToken, true};
    addStudioLevel(options, arguments.scene, level, arguments.level, "studio");
    std::unique_ptr<studio::StudioServer> server;
    try {
        server = std::make_unique<studio::StudioServer>(host, options, chosenLevel(level, arguments.level));
    } catch (const std::invalid_argument& error) {
        throw InputError(arguments.scene, "", "", error.what());
    }
    server->bind();
    return server;
}

/// Recovers or discards the unsaved changes an earlier session left, as asked, and says so, or
/// what there is, in the first line.
void settleRecovery(studio::StudioServer& server) {
    const std::string note = server.foundJournalNote();
    std::string said = note;
    try {
        if (arguments.recover && note.empty())
            std::fprintf(stderr, "camsys studio: --recover: no unsaved changes of %s were found\n",
                         arguments.scene.c_str());
        else if (arguments.recover)
            said = server.recover();
        else if (arguments.discardRecovery && !note.empty())
            said = server.discardRecovery();
    } catch (const std::runtime_error& error) {
        throw InputError(arguments.scene, "", "",
                         std::string(error.what()) + "; without --recover the page offers them to download");
    }
    if (!said.empty()) std::printf("camsys studio: %s\n", said.c_str());
}

/// Says where the studio is, and warns where others can reach it.
void announceStudio(studio::StudioServer& server) {
    if (!studio::isLoopback(arguments.address))
        std::fprintf(stderr,
                     "camsys studio: warning: listening on %s, reachable from other machines; anyone who "
                     "learns the URL can use the studio\n",
                     arguments.address.c_str());
    if (arguments.noToken)
        std::fprintf(stderr, "camsys studio: --no-token: every program on this machine can use the studio\n");
    settleRecovery(server);
    std::printf("camsys studio: %s\n", server.url().c_str());
    std::fflush(stdout);
    if (arguments.open) openBrowser(server.url());
}

/// Serves until one of `stopSignals` (blocked in every thread) comes.
void serveUntilStopped(studio::StudioServer& server, const sigset_t& stopSignals) {
    std::atomic<bool> finished = false;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        // A stop that comes before the server listens is lost: repeat it until `run` returns.
        while (!finished) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    server.run();
    finished = true;
    pthread_kill(stopper.native_handle(), SIGTERM);  // wakes the stopper when no signal came
    stopper.join();
}

}  // namespace

void addStudioOptions(CLI::App& command) {
    command.footer(
        "Prints the URL to open (camsys studio: http://127.0.0.1:PORT/?token=...). The server answers only\n"
        "requests that carry the URL's token and name its own address (Host, Origin); Ctrl+C stops it.\n"
        "The page and scripts use the same JSON API: /api/scene, /api/draw, /api/flight, /api/frame,\n"
        "/api/analysis, /api/lint, /api/messages (see the README).\n"
        "While the scene has unsaved changes they are kept in .SCENE.camsys-recovery beside it; after a crash\n"
        "the next start says so, and the page offers to recover or discard them.");
    addSceneArgument(command, arguments.scene);
    command.add_option("--iterator", arguments.iterator, "The iterator shown first (default: the first)");
    addLevelOptions(command, arguments.level);
    command.add_option("--port", arguments.port, "The port; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    command
        .add_option("--host", arguments.address,
                    "The address to listen on; anything but the loopback address is reachable from "
                    "other machines")
        ->capture_default_str();
    command.add_flag("--no-token", arguments.noToken,
                     "Serve without a token (for scripts; any local program can then use it)");
    command.add_flag("--open", arguments.open, "Open the page in the desktop's browser");
    CLI::Option* recover = command.add_flag(
        "--recover", arguments.recover,
        "Apply the unsaved changes an earlier session left in .SCENE.camsys-recovery (as a change to undo)");
    command.add_flag("--discard-recovery", arguments.discardRecovery, "Remove the unsaved changes an earlier session left")
        ->excludes(recover);
}

int runStudio(Host& host) {
    // SIGINT and SIGTERM wait for one thread that stops the server; the server's own threads,
    // started later, inherit the blocked mask and never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::unique_ptr<studio::StudioServer> server = openStudio(host);
    announceStudio(*server);
    serveUntilStopped(*server, stopSignals);
    std::fprintf(stderr, "camsys studio: stopped\n");
    return 0;
}

}  // namespace host
