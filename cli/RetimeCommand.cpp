// camsys retime: a path's flight times made proportional to its distance steps, at a given
// speed or keeping each path's total time, and the scene written back.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "flight/Retime.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

struct RetimeArguments {
    std::string scene;
    std::string path;
    std::optional<double> speed;
    bool even = false;
    std::string output;
    LevelArguments level;
} retimeArguments;

/// The paths to retime: the one named, else every path of the scene.
std::vector<Handle> chosenPaths(Host& host, const std::vector<Handle>& scene, const RetimeArguments& arguments) {
    const std::vector<Handle> paths = scenePaths(scene);
    if (arguments.path.empty()) return paths;
    for (const Handle& path : paths)
        if (host.nameOf(path) == arguments.path) return {path};
    throw InputError(arguments.scene, arguments.path, "", "no camera path has this name");
}

}  // namespace

void addRetimeOptions(CLI::App& command) {
    addSceneArgument(command, retimeArguments.scene);
    command.add_option("--path", retimeArguments.path, "The path to retime (default: every path)");
    CLI::Option* speed = command.add_option("--speed", retimeArguments.speed,
                                            "Fly at V units of the path's distance per second")
                             ->type_name("V")
                             ->check(kFiniteNumber);
    CLI::Option* even = command.add_flag("--even", retimeArguments.even, "Keep each path's total flight time");
    speed->excludes(even);
    command.add_option("-o,--output", retimeArguments.output,
                       "The scene to write (.sco for a name ending in .sco, else JSON; - for standard output)")
        ->required();
    addLevelOptions(command, retimeArguments.level);
    command.footer(
        "Each segment's Time2Next becomes proportional to its step of the path's distance measure (eye travel\n"
        "plus the view vector's change plus 0.1), so the distance runs evenly in time. Cuts (Time2Next 0),\n"
        "pauses, eases and the last waypoint's Time2Next stay. One line per path on standard error.");
}

int runRetime(Host& host) {
    const RetimeArguments& arguments = retimeArguments;
    if (arguments.speed.has_value() == arguments.even) throw UsageError("retime needs one of --speed V and --even");
    if (arguments.speed && !(*arguments.speed > 0)) throw UsageError("--speed must be above 0");
    OptionalLevel level;
    const std::vector<Handle> scene = loadSceneReportingEvents(host, arguments.scene, &level);
    SceneEditor editor(host);
    RetimeOptions options;
    options.speed = arguments.speed;
    // Every plan first: a refusal leaves nothing written.
    std::vector<RetimePlan> plans;
    try {
        for (const Handle& path : chosenPaths(host, scene, arguments)) plans.push_back(planRetime(host, path, options));
    } catch (const InputError& error) {
        if (!error.file().empty()) throw;
        throw InputError(arguments.scene, error.object(), error.attribute(), error.reason());
    }
    for (const RetimePlan& plan : plans) {
        applyRetime(editor, plan);
        std::size_t timed = 0;
        for (const RetimeSegment& s : plan.segments) timed += s.after != 0;
        std::fprintf(stderr, "camsys retime: %s: %zu waypoint%s retimed, flight time %llu ms -> %llu ms\n",
                     plan.pathName.c_str(), timed, timed == 1 ? "" : "s", static_cast<unsigned long long>(plan.totalBefore),
                     static_cast<unsigned long long>(plan.totalAfter));
    }
    const OptionalLevel chosen = chosenLevel(level, arguments.level);
    if (arguments.output.ends_with(".sco"))
        writeScoFile(host, arguments.output, chosen);
    else
        writeOutput(arguments.output, sceneToJson(host, chosen));
    return 0;
}

}  // namespace host
