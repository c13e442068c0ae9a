// camsys lint: a scene's findings, one line each or as JSON; with --fix, the scene with the
// findings' fixes applied written to -o.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "flight/lint/Checks.h"
#include "flight/lint/Lint.h"
#include "flight/lint/LintFix.h"
#include "geometry/LevelGeometry.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneEditor.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct LintArguments {
    std::string scene;
    std::string iterator;
    LintOptions options;
    bool json = false;
    LevelArguments level;
    bool fix = false;
    std::string output;
} arguments;

/// The help footer: the checks (from the linter's own table), what they cover, the fixed limits,
/// the output and the exit status.
std::string lintFooter() {
    return lintCheckTableText() +
           "Path checks cover every path; flight checks fly --iterator, or every iterator. Speeds are per\n"
           "tick, as the studio's plots show them. The level's checks (through-geometry, inside-geometry,\n"
           "clearance, target-occluded) need a level: the scene's own or --level.\n"
           "Output: FILE: OBJECT: id: text, and under it \"  hint: \" with how to fix it; or with --json an\n"
           "array of {id, severity, object, time, distance, text, hint} (time: the tick's clock time;\n"
           "distance: on the path's DistanceSum scale; null where none).\n"
           "--fix -o OUT applies the fixes of the findings that have one (speed-jump: an ease flag; roll-long-way:\n"
           "whole turns; cut-with-ease: clear what it names; short-segment: merge the two waypoints), linting\n"
           "again after each, writes the scene to OUT (.sco for a name ending in .sco, else JSON), says on\n"
           "standard error what it fixed and prints the findings left as above.\n"
           "Exit status: 0 no finding (left) above info, 1 a warning or an error, 2 bad input (nothing written).";
}

/// A threshold option of one check: at least 0 (`positive`: above 0) and finite.
void addLimitOption(CLI::App& command, const std::string& name, double& limit, const std::string& help, bool positive) {
    command.add_option(name, limit, help)
        ->check(positive ? CLI::Validator(CLI::PositiveNumber) : CLI::Validator(CLI::NonNegativeNumber))
        ->check(kFiniteNumber)
        ->capture_default_str();
}

}  // namespace

void addLintOptions(CLI::App& command) {
    command.footer(lintFooter());
    addSceneArgument(command, arguments.scene);
    command.add_option("--iterator", arguments.iterator, "The iterator to fly (default: every one)");
    addClockOptions(command, arguments.options.start, arguments.options.step);
    command.add_flag("--json", arguments.json, "Write the findings as JSON");
    command.add_flag("--fix", arguments.fix, "Apply the findings' fixes and write the scene to -o");
    command.add_option("-o,--output", arguments.output,
                       "With --fix: the fixed scene (.sco for a name ending in .sco, else JSON)");
    LintOptions& limits = arguments.options;
    addLimitOption(command, "--overshoot", limits.overshoot,
                   "overshoot: largest excursion from a segment's box, in segment lengths", false);
    addLimitOption(command, "--speed-jump", limits.speedJump,
                   "speed-jump: largest ratio of the speeds either side of a waypoint", true);
    addLimitOption(command, "--acceleration", limits.acceleration, "acceleration: largest, in units/s^2", false);
    addLimitOption(command, "--jerk", limits.jerk, "jerk: largest, in units/s^3", false);
    command
        .add_option("--vertical", limits.viewVertical,
                    "view-vertical: least angle of the view from straight up or down (degrees)")
        ->check(CLI::Range(0.0, 90.0))
        ->capture_default_str();
    addLevelOptions(command, arguments.level);
    addLimitOption(command, "--clearance", limits.clearance,
                   "clearance: least distance from the eye to a surface of the level, in units", false);
    command
        .add_option("--occluded", limits.occluded,
                    "target-occluded: longest time the look-at target may be hidden (ms)")
        ->capture_default_str();
}

/// The scene's findings (flight/lint/Lint.h) on standard output. Exit status 1 when one of them
/// is a warning or an error, so that a build or a commit hook can stop on them.
int runLint(Host& host) {
    if (arguments.fix != !arguments.output.empty())
        throw UsageError(arguments.fix ? "--fix needs -o OUT, the file for the fixed scene"
                                       : "-o writes the fixed scene: it needs --fix");
    // Standard output carries the findings left.
    if (arguments.output == "-") throw UsageError("--fix writes the scene to a file, not to standard output");
    OptionalLevel own;
    const std::vector<Handle> scene = loadSceneReportingEvents(host, arguments.scene, &own);
    LintOptions options = arguments.options;
    if (!arguments.iterator.empty())
        options.iterator = chooseIterator(host, scene, arguments.scene, arguments.iterator, "with --iterator");
    std::optional<LevelMesh> mesh = levelFor(arguments.scene, arguments.level);
    std::optional<LevelGeometry> level;
    if (mesh) options.level = &level.emplace(std::move(*mesh));
    host.createCamera("", true);
    std::vector<LintFinding> findings;
    if (arguments.fix) {
        SceneEditor editor(host);
        LintFixRun run = fixLintFindings(editor, host, [&] { return lintScene(host, options); }, true);
        const OptionalLevel chosen = chosenLevel(own, arguments.level);
        if (arguments.output.ends_with(".sco"))
            writeScoFile(host, arguments.output, chosen);
        else
            writeOutput(arguments.output, sceneToJson(host, chosen));
        for (const LintFinding& f : run.fixed)
            std::fprintf(stderr, "%s: %s: %s: fixed: %s\n", arguments.scene.c_str(), f.object.c_str(), f.id.c_str(),
                         f.fix->label.c_str());
        findings = std::move(run.remaining);
    } else {
        findings = lintScene(host, options);
    }
    writeOutput("", arguments.json ? lintJson(findings) : lintText(arguments.scene, findings));
    return lintFails(findings) ? 1 : 0;
}

}  // namespace host
