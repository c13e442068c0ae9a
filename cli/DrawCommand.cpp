// camsys draw and camsys profile: the scene as the editor draws it, and a flight plotted for a
// report.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>

#include "base/AtomicFile.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "flight/FlightProfile.h"
#include "geometry/LevelGeometry.h"
#include "pictures/ProfilePlot.h"
#include "pictures/ScenePicture.h"
#include "render/RecordingRenderer.h"
#include "scene/SceneFile.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct DrawArguments {
    std::string scene;
    std::string output;
    LevelArguments level;
} drawArguments;

struct ProfileArguments {
    FlightArguments flight;
    std::string csv;
    LevelArguments level;
} profileArguments;

}  // namespace

void addDrawOptions(CLI::App& command) {
    addSceneArgument(command, drawArguments.scene);
    command.add_option("-o,--output", drawArguments.output, "The picture: FILE.png or FILE.svg")->required();
    addLevelOptions(command, drawArguments.level);
}

int runDraw(Host& host) {
    const std::string& output = drawArguments.output;
    if (!isPicturePath(output)) throw UsageError("the picture must be a .png or .svg file: " + output);
    // Drawing may add messages: they are printed with the scene's.
    EventPrinter events(host);
    loadSceneFile(host, drawArguments.scene);
    const SceneDrawing drawing = host.drawScene();
    events.flush();
    if (drawing.dropped)
        std::fprintf(stderr, "camsys: warning: %zu drawing calls beyond the first %zu were not drawn\n",
                     drawing.dropped, RecordingRenderer::kMaxCalls);
    writeScenePictureFile(output, drawing.calls, drawing.labels);
    return 0;
}

void addProfileOptions(CLI::App& command) {
    addFlightOptions(command, profileArguments.flight);
    command.add_option("-o,--output", profileArguments.flight.output, "The picture: FILE.png or FILE.svg")->required();
    command.add_option("--csv", profileArguments.csv, "Also write the measures per tick as CSV");
    addLevelOptions(command, profileArguments.level);
}

/// The flight's profile: a picture of the analysis's measures over time, their maxima on
/// standard output, and the table behind them (--csv).
int runProfile(Host& host) {
    const FlightArguments& arguments = profileArguments.flight;
    const std::string& output = arguments.output;
    if (!isPicturePath(output)) throw UsageError("the profile must be a .png or .svg file: " + output);
    const Handle iterator = prepareFlight(host, arguments);
    std::optional<LevelMesh> mesh = levelFor(arguments.scene, profileArguments.level);
    std::optional<LevelGeometry> level;
    if (mesh) level.emplace(std::move(*mesh));
    const FlightRecording flight = recordFlight(host, iterator, {arguments.start, arguments.step, arguments.maxTicks});
    warnIfStillFlying(host, iterator, flight);
    FlightAnalysisInput input = flightAnalysisInput(host, iterator, flight.ticks);
    if (level) input.level = &*level;
    const FlightAnalysis analysis = analyseFlight(input);
    const std::string title = host.nameOf(iterator) + " of " + arguments.scene + ": " +
                              std::to_string(flight.ticks.size()) + " ticks of " + std::to_string(arguments.step) +
                              " ms";
    // The table first: a table that cannot be written leaves the picture as it was too.
    if (!profileArguments.csv.empty()) writeFileAtomically(profileArguments.csv, profileToCsv(input, analysis));
    writeProfilePlotFile(output, title, input, analysis, flight.events);
    writeOutput("", profileSummary(input, analysis));
    return 0;
}

}  // namespace host
