#include "cli/CliSupport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "base/AtomicFile.h"
#include "base/InputError.h"
#include "exchange/LevelFile.h"
#include "scene/SceneFile.h"

#ifndef CAMSYS_PLUGIN_BUILT
#define CAMSYS_PLUGIN_BUILT "../module/libcamerasystem.so"
#endif

namespace host {

void EventPrinter::flush() {
    std::vector<FlightEvent> events;
    takeEvents(host_, cursor_, events);
    for (const FlightEvent& e : events) std::fprintf(stderr, "%u,%s,%s\n", e.time, eventWord(e.kind), e.detail.c_str());
}

WriteError::WriteError() : std::runtime_error(std::string("write error: ") + std::strerror(errno)) {}

const CLI::Validator kFiniteNumber(
    [](std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        return std::isfinite(value) ? std::string() : std::string("must be a finite number: " + text);
    },
    "FINITE");

std::string pluginPath(const std::string& option) {
    if (!option.empty()) return option;
    const char* fromEnvironment = std::getenv("CAMSYS_PLUGIN");
    if (fromEnvironment && *fromEnvironment) return fromEnvironment;
    return defaultPluginPath(CAMSYS_PLUGIN_BUILT);
}

namespace {

/// The level references of the scenes this run loaded, by file: a command loads its scene once.
std::map<std::string, OptionalLevel>& loadedLevels() {
    static std::map<std::string, OptionalLevel> levels;
    return levels;
}

}  // namespace

std::vector<Handle> loadSceneReportingEvents(Host& host, const std::string& file, OptionalLevel* level) {
    EventPrinter events(host);
    OptionalLevel own;
    std::vector<Handle> scene = loadSceneFile(host, file, &own);
    events.flush();
    loadedLevels()[file] = own;
    if (level) *level = std::move(own);
    return scene;
}

void addSceneArgument(CLI::App& command, std::string& scene) {
    command.add_option("SCENE", scene, "The scene file (JSON or .sco)")->required();
}

void addClockOptions(CLI::App& command, ULong& start, ULong& step) {
    command.add_option("--start", start, "Time of the activation and the first tick")->capture_default_str();
    command.add_option("--step", step, "Time between ticks (at least 1: time must move)")
        ->check(CLI::Range(1u, 4294967295u))
        ->capture_default_str();
}

void addFlightOptions(CLI::App& command, FlightArguments& arguments) {
    addSceneArgument(command, arguments.scene);
    command.add_option("--iterator", arguments.iterator, "The iterator to fly (default: the only one)");
    addClockOptions(command, arguments.start, arguments.step);
    command.add_option("--max-ticks", arguments.maxTicks, "Most ticks to run")->capture_default_str();
}

Handle prepareFlight(Host& host, const FlightArguments& arguments) {
    const std::vector<Handle> scene = loadSceneReportingEvents(host, arguments.scene);
    const Handle iterator = chooseIterator(host, scene, arguments.scene, arguments.iterator, "with --iterator");
    host.createCamera("", true);
    return iterator;
}

void printFlightEvents(const FlightRecording& flight) {
    for (const FlightEvent& event : flight.events)
        std::fprintf(stderr, "%u,%s,%s\n", event.time, eventWord(event.kind), event.detail.c_str());
}

void warnIfStillFlying(const Host& host, const Handle& iterator, const FlightRecording& flight) {
    if (flight.hitLimit)
        std::fprintf(stderr, "camsys: warning: %s still flies after %zu ticks (--max-ticks)\n",
                     host.nameOf(iterator).c_str(), flight.ticks.size());
}

void addLevelOptions(CLI::App& command, LevelArguments& arguments) {
    command.add_option("--level", arguments.file, "A level (glTF 2.0, .gltf or .glb; from the working folder) in place of the scene's own");
    command.add_flag("--no-level", arguments.none, "No level, not even the scene's own");
}

OptionalLevel chosenLevel(const OptionalLevel& own, const LevelArguments& arguments) {
    if (arguments.none) return std::nullopt;
    if (!arguments.file.empty()) return SceneLevel{arguments.file};
    return own;
}

std::string levelPathFor(const std::string& scene, const std::string& file) {
    const std::filesystem::path path(file);
    if (path.is_absolute() || scene == "-") return file;
    return (std::filesystem::path(scene).parent_path() / path).string();
}

std::optional<LevelMesh> levelFor(const std::string& scene, const OptionalLevel& own, const LevelArguments& arguments) {
    if (arguments.none) return std::nullopt;
    if (!arguments.file.empty()) return loadLevelFile(arguments.file);
    if (!own) return std::nullopt;
    const LevelPlacement placement{own->scale, {own->position[0], own->position[1], own->position[2]}};
    return loadLevelFile(levelPathFor(scene, own->file), placement);
}

std::optional<LevelMesh> levelFor(const std::string& scene, const LevelArguments& arguments) {
    const auto found = loadedLevels().find(scene);
    if (found == loadedLevels().end() && !arguments.none && arguments.file.empty())
        throw std::logic_error("levelFor: the scene " + scene + " was not loaded by loadSceneReportingEvents");
    return levelFor(scene, found == loadedLevels().end() ? OptionalLevel() : found->second, arguments);
}

void writeOutput(const std::string& path, const std::string& text) {
    if (!path.empty() && path != "-") {
        writeFileAtomically(path, text);
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) throw WriteError();
}

void reportError(const std::exception& error) { std::fprintf(stderr, "camsys: %s\n", error.what()); }

}  // namespace host
