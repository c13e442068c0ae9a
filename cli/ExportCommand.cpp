// camsys export and camsys import: a flight out as glTF, and a recorded camera move in as an
// editable path.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "exchange/FlightCsv.h"
#include "exchange/GltfExport.h"
#include "exchange/GltfImport.h"
#include "flight/Flight.h"
#include "flight/PathFit.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
FlightArguments exportArguments;
LevelArguments exportLevel;
bool exportWithLevel = false;

struct ImportArguments {
    std::string recording;
    std::string output;
    PathFitOptions options;
} importArguments;

/// The samples of a recording: a glTF camera animation, else a CSV in fly's columns.
std::vector<RecordedEye> readRecording(const std::string& file) {
    return gltfContainerOf(file) ? loadGltfRecordingFile(file) : loadFlightCsvFile(file);
}

}  // namespace

void addExportOptions(CLI::App& command) {
    command.footer(
        "The same flight as fly (same options and defaults). The file holds every object of the scene as a\n"
        "node (its position and orientation, nested as in the scene), the flown eye positions as LINE_STRIP\n"
        "pieces broken at cuts, and a perspective camera animated per tick in seconds since the first tick:\n"
        "translation and rotation (LINEAR; a cut jumps at its tick), and yfov through KHR_animation_pointer,\n"
        "yfov = 2 atan(tan(30 degrees) / fov). Activations, deactivations and messages are in the animation's\n"
        "extras. Axes: glTF has +y up and cameras look along -z; a world point (x, y, z) is (x, z, -y).\n"
        ".gltf embeds the buffer as a data URI; .glb is the binary container. --with-level adds the level's\n"
        "surfaces as TRIANGLES meshes under a node \"level\", in world positions.");
    addFlightOptions(command, exportArguments);
    command.add_option("-o,--output", exportArguments.output, "The glTF file: FILE.gltf or FILE.glb")->required();
    addLevelOptions(command, exportLevel);
    command.add_flag("--with-level", exportWithLevel, "Write the level's triangles into the file too");
}

/// The flight of `fly` (same options and defaults) and its scene as a glTF file (.gltf or .glb).
int runExport(Host& host) {
    const FlightArguments& arguments = exportArguments;
    if (!gltfContainerOf(arguments.output))
        throw UsageError("the export must be a .gltf or .glb file: " + arguments.output);
    const Handle iterator = prepareFlight(host, arguments);
    // Read only to be written: a flight needs no level.
    const std::optional<LevelMesh> level = exportWithLevel ? levelFor(arguments.scene, exportLevel) : std::nullopt;
    if (exportWithLevel && !level)
        throw InputError(arguments.scene, "", "", "--with-level: there is no level (the scene names none; give --level FILE)");
    FlightRecording flight;
    try {
        const FlightOptions options{arguments.start, arguments.step, arguments.maxTicks};
        flight = recordFlight(host, iterator, options);
        writeGltfFile(host, iterator, options, flight, arguments.output,
                      exportWithLevel && level ? &*level : nullptr);
    } catch (const std::invalid_argument& error) {
        // A flight that cannot be animated (a step of 0, no tick) is a matter of the input.
        throw InputError(arguments.scene, host.nameOf(iterator), "", error.what());
    }
    printFlightEvents(flight);
    warnIfStillFlying(host, iterator, flight);
    return 0;
}

void addImportOptions(CLI::App& command) {
    command.add_option("RECORDING", importArguments.recording, "The recording: FILE.gltf, FILE.glb or FILE.csv")
        ->required();
    command.add_option("-o,--output", importArguments.output, "The scene (JSON; default: standard output)");
    command
        .add_option("--tolerance", importArguments.options.tolerance,
                    "Largest distance of the path's eye from the recorded one")
        ->check(CLI::PositiveNumber)
        ->check(kFiniteNumber)
        ->capture_default_str();
    command
        .add_option("--angle", importArguments.options.angle,
                    "Largest angle between the path's view direction and the recorded one (degrees)")
        ->check(CLI::PositiveNumber)
        ->check(kFiniteNumber)
        ->capture_default_str();
}

/// A recorded camera move as an editable path: the fewest waypoints whose flight stays within
/// the tolerances of the recording (see flight/PathFit.h); reports the fit.
int runImport(Host& host) {
    const std::vector<RecordedEye> samples = readRecording(importArguments.recording);
    const PathFitResult result = fitPathToRecording(host, samples, importArguments.options);
    writeOutput(importArguments.output, result.sceneJson);
    std::fprintf(stderr,
                 "camsys import: %zu samples -> %zu waypoints (%.1f samples a waypoint) in %zu part(s), %zu fits; "
                 "largest deviation %.4g units, %.4g degrees%s\n",
                 samples.size(), result.waypoints, static_cast<double>(samples.size()) / result.waypoints, result.parts,
                 result.rounds, result.worstDistance, result.worstAngle,
                 result.withinTolerance ? "" : " (outside the tolerance: see --tolerance and --angle)");
    return 0;
}

}  // namespace host
