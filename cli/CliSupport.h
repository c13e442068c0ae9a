// What camsys's commands share: the exit statuses, the plug-in to open, a scene loaded with its
// messages reported, the iterator to fly and the options that say how to fly it, and output
// written whole or not at all.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "geometry/LevelMesh.h"
#include "host/Host.h"
#include "scene/SceneLevel.h"

namespace host {

/// Exit status 2: bad input (the message names file, object and attribute, or the mistake on the
/// command line); 1: anything else (the plug-in cannot be loaded, an output cannot be written).
constexpr int kExitBadInput = 2;
constexpr int kExitFailure = 1;

/// Thrown for a mistake on the command line that the parser cannot see.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A write to standard output failed (a full disk, a closed pipe): the reason as errno has it.
struct WriteError : std::runtime_error {
    WriteError();
};

/// A number option that must be finite: CLI11's range checks let NaN through (every comparison
/// with it is false), which would turn a threshold or a tolerance off without a word.
extern const CLI::Validator kFiniteNumber;

/// The plug-in to load: the option, else $CAMSYS_PLUGIN, else the one installed beside camsys,
/// else the one built with the tool.
std::string pluginPath(const std::string& option);

/// Prints the runtime's activations, deactivations and messages on standard error as
/// "time,event,detail" lines, in the order they happened, each once.
class EventPrinter {
public:
    explicit EventPrinter(const Host& host) : host_(host) {}
    /// Prints what happened since the last flush.
    void flush();

private:
    const Host& host_;
    EventCursor cursor_;
};

/// Loads the scene file into `host` and prints the activations, deactivations and messages that
/// loading caused on standard error, as "time,event,detail" lines in the order they happened.
/// The level the file names goes to `level` when given, and is kept for `levelFor`.
std::vector<Handle> loadSceneReportingEvents(Host& host, const std::string& file, OptionalLevel* level = nullptr);

/// How a command that flies is told what to fly: the scene, the iterator and the clock, with
/// fly's defaults; and where its result goes.
struct FlightArguments {
    std::string scene;
    std::string iterator;
    ULong start = 0;
    ULong step = 16;
    std::size_t maxTicks = 100000;
    std::string output;
};

/// SCENE as most commands take it: the scene file, required.
void addSceneArgument(CLI::App& command, std::string& scene);
/// --start and --step: when the flight is activated and how far apart its ticks are.
void addClockOptions(CLI::App& command, ULong& start, ULong& step);
/// SCENE, --iterator, --start, --step and --max-ticks (not -o: each command words its own).
void addFlightOptions(CLI::App& command, FlightArguments& arguments);

/// The level a command sees: --level FILE (over the scene's own), --no-level (none at all). Every
/// command that takes a scene takes them; only those that use the level read it.
struct LevelArguments {
    std::string file;
    bool none = false;
};
void addLevelOptions(CLI::App& command, LevelArguments& arguments);
/// The level reference as `arguments` choose it: none for --no-level, --level's file as given
/// (relative to the working folder, standing as made), else the scene's own `own`.
OptionalLevel chosenLevel(const OptionalLevel& own, const LevelArguments& arguments);
/// Where the scene file `scene` finds a level file it names: relative to the scene's folder (to
/// the working folder for standard input), an absolute name as it is.
std::string levelPathFor(const std::string& scene, const std::string& file);
/// The level of the scene file `scene`, whose own reference is `own`, as `arguments` choose it,
/// read (exchange/LevelFile.h); none when there is none. Throws InputError for a level that
/// cannot be read.
std::optional<LevelMesh> levelFor(const std::string& scene, const OptionalLevel& own, const LevelArguments& arguments);
/// The same for a scene loaded by `loadSceneReportingEvents` (which kept its reference).
std::optional<LevelMesh> levelFor(const std::string& scene, const LevelArguments& arguments);

/// Loads the scene, chooses its iterator and gives the host its game camera: a flight ready to fly.
Handle prepareFlight(Host& host, const FlightArguments& arguments);
/// The flight's activations, deactivations and messages on standard error, as fly prints them.
void printFlightEvents(const FlightRecording& flight);
/// Warns on standard error when the flight ended at --max-ticks rather than at its deactivation.
void warnIfStillFlying(const Host& host, const Handle& iterator, const FlightRecording& flight);

/// Writes `text` to `path` under a temporary name renamed at the end, or to standard output
/// (checked: a failed write throws WriteError) when `path` is empty or "-".
void writeOutput(const std::string& path, const std::string& text);

/// Reports a failure on standard error as "camsys: what".
void reportError(const std::exception& error);

}  // namespace host
