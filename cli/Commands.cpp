#include "cli/Commands.h"

#include "scene/SceneFile.h"

namespace host {

namespace {

const CliCommand kCommands[] = {
    {"fly", "Fly an iterator through its path and write the camera's eye, one CSV row per tick.", addFlyOptions,
     runFly},
    {"draw",
     "Draw the scene as the editor does (every path and waypoint through its Draw3D): a top view (x, y) "
     "and a side view (x, z).",
     addDrawOptions, runDraw},
    {"profile",
     "Fly an iterator and plot its flight for a report: speed, acceleration, jerk, angular rate, roll rate, "
     "field of view and distance to the look-at target over time, with waypoints, pauses, cuts and "
     "activations marked; prints each quantity's maximum and where it occurs.",
     addProfileOptions, runProfile},
    {"export",
     "Fly an iterator as fly does and write the flight and its scene as glTF 2.0 (.gltf or .glb): the "
     "objects as nodes, the flown path as lines, the camera animated per tick.",
     addExportOptions, runExport},
    {"import",
     "Turn a recorded camera move (a glTF camera animation, or a CSV in fly's columns) into an editable "
     "path: waypoints chosen among the samples until the path's own flight stays within the tolerances of "
     "the recording.",
     addImportOptions, runImport},
    {"save", "Build the scene and save it as a binary .sco file (each object's record through its own Serialize).",
     addSaveOptions, runSave},
    {"load",
     "Load a scene (.sco or JSON), run AfterLoad as after loading, and print it back as JSON; "
     "JSON -> .sco -> JSON is a fixed point.",
     addLoadOptions, runLoad},
    {"new", "Write a starter scene to a new file: a path with two waypoints and an iterator that flies it.",
     addNewOptions, runNew},
    {"add-move",
     "Add a standard camera move (orbit, dolly, crane, fly-through, follow) as a new path of waypoints and an "
     "iterator that flies it.",
     addAddMoveOptions, runAddMove},
    {"retime",
     "Retime paths for an even speed: each segment's Time2Next proportional to its step of the path's distance, "
     "at --speed V or keeping each path's total time (--even).",
     addRetimeOptions, runRetime},
    {"lint", "Check a scene's paths and flights for what a player would notice: one line per finding.", addLintOptions,
     runLint},
    {"studio",
     "Open the scene in the studio: a local web page that shows the flight in 3D and through the camera, "
     "with its timeline, plots and the objects' attributes.",
     addStudioOptions, runStudio},
    {"render",
     "Render what the camera sees to a clip (MP4 or WebM), a PNG per frame or a contact sheet, with the "
     "studio's own renderer in a headless Chromium.",
     addRenderOptions, runRender},
};

/// The scene files camsys reads, as `camsys --help` describes them.
const char* const kOutputsAndStatus =
    R"(Every output file is written under a temporary name and renamed: a failure leaves no half
file. Exit status: 0 done, 2 bad input (camsys: FILE: OBJECT: ATTRIBUTE: what), 1 other
failures. The plug-in: --plugin, else $CAMSYS_PLUGIN, else the one installed beside camsys
(../lib/camerasystem/), else the one built with camsys.)";

}  // namespace

std::span<const CliCommand> cliCommands() { return kCommands; }

const char* const kCamsysDescription =
    "camsys: fly, check, draw and keep camera flights of the camera-system plug-in, without "
    "a game engine.";

std::string camsysFooter() { return std::string(sceneFormatsSummary()) + "\n\n" + kOutputsAndStatus; }

}  // namespace host
