// camsys add-move: a standard camera move added to a scene as a new path and an iterator.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "flight/MoveArguments.h"
#include "flight/MovePresets.h"
#include "flight/lint/Lint.h"
#include "geometry/LevelGeometry.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct AddMoveArguments {
    std::string scene;
    std::string kind;
    std::string target;
    double radius = 10;
    double height = 0;
    double turns = 1;
    int perTurn = 8;
    std::string direction = "ccw";
    std::string from;
    std::string to;
    std::vector<std::string> through;
    std::string path;
    std::string offset;
    double speed = kDefaultMoveSpeed;
    double clearance = LintOptions().clearance;
    std::string output;
    LevelArguments level;
    CLI::App* command = nullptr;
} arguments;

Vec3 requirePoint(const std::string& text, const char* option) {
    const std::optional<Vec3> point = pointFromText(text);
    if (!point) throw UsageError(std::string(option) + ": \"" + text + "\" is not X,Y,Z");
    return *point;
}

bool given(const char* option) { return arguments.command->get_option(option)->count() > 0; }

/// The options given on the command line, as flight/MoveArguments checks them for the kind.
MoveArguments givenArguments(MoveKind kind) {
    MoveArguments a;
    if (given("--target")) a.target = placeFromText(arguments.target);
    if (given("--radius")) a.radius = arguments.radius;
    if (given("--height")) a.height = arguments.height;
    if (given("--turns")) a.turns = arguments.turns;
    if (given("--per-turn")) a.perTurn = arguments.perTurn;
    if (given("--direction")) a.clockwise = arguments.direction == "cw";
    if (given("--from")) a.from = requirePoint(arguments.from, "--from");
    if (given("--to")) {
        // A crane may name only the height it rises to.
        double height = 0;
        const char* end = arguments.to.data() + arguments.to.size();
        const auto [at, error] = std::from_chars(arguments.to.data(), end, height);
        if (kind == MoveKind::Crane && error == std::errc() && at == end)
            a.toHeight = height;
        else
            a.to = requirePoint(arguments.to, "--to");
    }
    if (given("--through")) {
        a.through.emplace();
        for (const std::string& place : arguments.through) a.through->push_back(placeFromText(place));
    }
    if (given("--path")) a.path = arguments.path;
    if (given("--offset")) a.offset = requirePoint(arguments.offset, "--offset");
    if (given("--speed")) a.speed = arguments.speed;
    a.clearance = arguments.clearance;
    return a;
}

}  // namespace

void addAddMoveOptions(CLI::App& command) {
    arguments.command = &command;
    addSceneArgument(command, arguments.scene);
    command.add_option("KIND", arguments.kind, "orbit, dolly, crane, fly-through or follow")->required();
    command.add_option("--target", arguments.target,
                       "orbit, dolly, crane: the object (by name) or point (X,Y,Z) looked at");
    command.add_option("--radius", arguments.radius, "orbit: units from the target")->capture_default_str();
    command.add_option("--height", arguments.height, "orbit: the eye above the target")->capture_default_str();
    command.add_option("--turns", arguments.turns, "orbit: turns around the target")->capture_default_str();
    command.add_option("--per-turn", arguments.perTurn, "orbit: waypoints a turn (3 or more)")->capture_default_str();
    command.add_option("--direction", arguments.direction, "orbit: cw or ccw, seen from above")
        ->check(CLI::IsMember({"cw", "ccw"}))
        ->capture_default_str();
    command.add_option("--from", arguments.from, "dolly, crane: where the move starts (X,Y,Z)");
    command.add_option("--to", arguments.to, "dolly: where it ends (X,Y,Z); crane: that, or the height reached");
    command.add_option("--through", arguments.through, "fly-through: the points (X,Y,Z) or objects flown through")
        ->expected(1, -1);
    command.add_option("--path", arguments.path, "follow: the path followed");
    command.add_option("--offset", arguments.offset, "follow: X,Y,Z added to every waypoint");
    command.add_option("--speed", arguments.speed, "units/s (default for follow: the path's own times)")
        ->check(kFiniteNumber)
        ->capture_default_str();
    command.add_option("--clearance", arguments.clearance, "least distance from the level's surfaces")
        ->check(CLI::NonNegativeNumber)
        ->check(kFiniteNumber)
        ->capture_default_str();
    command.add_option("-o,--output", arguments.output, "The scene to write (.sco by the name, else JSON)")
        ->required();
    addLevelOptions(command, arguments.level);
    command.footer(
        "Adds a path of ordinary waypoints (named after the kind: Orbit1, Orbit1_W1, ...) and an iterator\n"
        "(Orbit1Cam) that flies it. Each segment takes its length / --speed. With a level (the scene's own or\n"
        "--level) waypoints inside it or nearer than --clearance to a surface are lifted straight up.\n"
        "Prints the new path, the iterator and the flight's duration.");
}

int runAddMove(Host& host) {
    const std::optional<MoveKind> kind = moveKindFromWord(arguments.kind);
    if (!kind) throw UsageError("unknown kind \"" + arguments.kind + "\" (orbit, dolly, crane, fly-through, follow)");
    const MoveOptions options = moveOptionsFromArguments(*kind, givenArguments(*kind), arguments.scene);
    OptionalLevel own;
    loadSceneReportingEvents(host, arguments.scene, &own);
    std::optional<LevelMesh> mesh = levelFor(arguments.scene, arguments.level);
    std::optional<LevelGeometry> level;
    if (mesh) level.emplace(std::move(*mesh));
    const MovePlan plan = planMove(host, options, level ? &*level : nullptr, arguments.scene);
    SceneEditor editor(host);
    const AddedMove added = addMove(host, editor, *kind, plan);
    const OptionalLevel reference = chosenLevel(own, arguments.level);
    if (arguments.output.ends_with(".sco"))
        writeScoFile(host, arguments.output, reference);
    else
        writeOutput(arguments.output, sceneToJson(host, reference));
    // The scene on standard output leaves the summary to standard error.
    std::FILE* summary = arguments.output == "-" ? stderr : stdout;
    std::fprintf(summary, "path %s: %zu waypoints; iterator %s; %.3f s", added.path.c_str(), added.waypoints.size(),
                 added.iterator.c_str(), plan.duration / 1000.0);
    if (level) std::fprintf(summary, "; %zu lifted clear of the level", plan.lifted);
    std::fprintf(summary, "\n");
    return 0;
}

}  // namespace host
