// camsys save, camsys load and camsys new: a scene built and written back, as binary .sco or as
// JSON, and the scene a new file starts from.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"
#include "scene/StarterScene.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct SceneArguments {
    std::string scene;
    std::string output;
    LevelArguments level;
};
SceneArguments saveArguments;
SceneArguments loadArguments;
SceneArguments newArguments;

/// What save and load do with the scene's level.
const char* const kLevelReferenceFooter =
    "The level reference is kept as the scene gives it (relative to the scene's folder); --level FILE\n"
    "writes FILE as given instead, --no-level writes none. The level itself is not read.";

}  // namespace

void addSaveOptions(CLI::App& command) {
    addSceneArgument(command, saveArguments.scene);
    command.add_option("OUT", saveArguments.output, "The .sco file to write")->required();
    addLevelOptions(command, saveArguments.level);
    command.footer(kLevelReferenceFooter);
}

int runSave(Host& host) {
    OptionalLevel level;
    loadSceneReportingEvents(host, saveArguments.scene, &level);
    writeScoFile(host, saveArguments.output, chosenLevel(level, saveArguments.level));
    return 0;
}

void addLoadOptions(CLI::App& command) {
    command.add_option("SCENE", loadArguments.scene, "The scene file (.sco or JSON)")->required();
    command.add_option("-o,--output", loadArguments.output, "The JSON file (default: standard output)");
    addLevelOptions(command, loadArguments.level);
    command.footer(kLevelReferenceFooter);
}

int runLoad(Host& host) {
    OptionalLevel level;
    loadSceneReportingEvents(host, loadArguments.scene, &level);
    writeOutput(loadArguments.output, sceneToJson(host, chosenLevel(level, loadArguments.level)));
    return 0;
}

void addNewOptions(CLI::App& command) {
    command.add_option("SCENE", newArguments.scene, "The new scene file (.sco for a name ending in .sco, else JSON; - for standard output)")
        ->required();
    command.footer(
        "The starter scene: a path \"Path\" with two waypoints, W1 at (0, 0, 2) and W2 eight units on along y (where both look),\n"
        "and an iterator \"Cam\" that flies it. An existing file is never replaced.");
}

int runNew(Host& host) {
    if (newArguments.scene == "-") {
        loadStarterScene(host, "-");
        writeOutput("-", sceneToJson(host));
        return 0;
    }
    writeStarterSceneFile(host, newArguments.scene);
    std::fprintf(stderr, "camsys: wrote %s; open it with camsys studio %s\n", newArguments.scene.c_str(),
                 newArguments.scene.c_str());
    return 0;
}

}  // namespace host
