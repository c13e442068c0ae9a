// camsys add-move: a standard camera move added to a scene as a new path and an iterator.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
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

/// The options each kind takes beyond --speed, --clearance, -o and the level's.
struct KindOptions {
    MoveKind kind;
    std::vector<std::string> options;
};
const KindOptions kKindOptions[] = {
    {MoveKind::Orbit, {"--target", "--radius", "--height", "--turns", "--per-turn", "--direction"}},
    {MoveKind::Dolly, {"--from", "--to", "--target"}},
    {MoveKind::Crane, {"--from", "--to", "--target"}},
    {MoveKind::FlyThrough, {"--through"}},
    {MoveKind::Follow, {"--path", "--offset"}},
};
const char* const kKindSpecific[] = {"--target", "--radius", "--height", "--turns", "--per-turn", "--direction",
                                     "--from",   "--to",     "--through", "--path", "--offset"};

/// "X,Y,Z" as a point; none when `text` is not three numbers.
std::optional<Vec3> pointFromText(const std::string& text) {
    Vec3 point;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t k = 0; k < 3; ++k) {
        if (k > 0) {
            if (at == end || *at != ',') return std::nullopt;
            ++at;
        }
        const auto [next, error] = std::from_chars(at, end, point[k]);
        if (error != std::errc() || !std::isfinite(point[k])) return std::nullopt;
        at = next;
    }
    if (at != end) return std::nullopt;
    return point;
}

Vec3 requirePoint(const std::string& text, const char* option) {
    const std::optional<Vec3> point = pointFromText(text);
    if (!point) throw UsageError(std::string(option) + ": \"" + text + "\" is not X,Y,Z");
    return *point;
}

/// A point when `text` is X,Y,Z, else an object's name.
MovePlace placeFromText(const std::string& text) {
    if (const std::optional<Vec3> point = pointFromText(text)) return {"", *point};
    return {text, {0, 0, 0}};
}

bool given(const char* option) { return arguments.command->get_option(option)->count() > 0; }

/// The options of the command line as the kind takes them; UsageError for one it does not take.
MoveOptions moveOptions(MoveKind kind) {
    const auto row = std::find_if(std::begin(kKindOptions), std::end(kKindOptions),
                                  [&](const KindOptions& k) { return k.kind == kind; });
    const std::vector<std::string>& taken = row->options;
    for (const char* option : kKindSpecific)
        if (given(option) && std::find(taken.begin(), taken.end(), option) == taken.end())
            throw UsageError(std::string(option) + " does not belong to " + moveKindWord(kind));
    MoveOptions o;
    o.kind = kind;
    if (given("--target")) o.target = placeFromText(arguments.target);
    o.radius = arguments.radius;
    o.height = arguments.height;
    o.turns = arguments.turns;
    o.perTurn = arguments.perTurn;
    o.clockwise = arguments.direction == "cw";
    if (given("--from")) o.from = requirePoint(arguments.from, "--from");
    if (given("--to")) {
        // A crane may name only the height it rises to.
        double height = 0;
        const auto [end, error] =
            std::from_chars(arguments.to.data(), arguments.to.data() + arguments.to.size(), height);
        if (kind == MoveKind::Crane && error == std::errc() && end == arguments.to.data() + arguments.to.size())
            o.toHeight = height;
        else
            o.to = requirePoint(arguments.to, "--to");
    }
    for (const std::string& place : arguments.through) o.through.push_back(placeFromText(place));
    o.path = arguments.path;
    if (kind == MoveKind::Follow && !given("--path")) throw UsageError("follow needs --path");
    if (kind == MoveKind::Follow) {
        if (!given("--offset")) throw UsageError("follow needs --offset");
        o.offset = requirePoint(arguments.offset, "--offset");
    }
    if (given("--speed") || kind != MoveKind::Follow) o.speed = arguments.speed;
    o.clearance = arguments.clearance;
    return o;
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
    const MoveOptions options = moveOptions(*kind);
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
