// camsys save and camsys load: a scene built and written back, as binary .sco or as JSON.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

/// The arguments of this run, as CLI11 fills them.
struct SceneArguments {
    std::string scene;
    std::string output;
};
SceneArguments saveArguments;
SceneArguments loadArguments;

}  // namespace

void addSaveOptions(CLI::App& command) {
    addSceneArgument(command, saveArguments.scene);
    command.add_option("OUT", saveArguments.output, "The .sco file to write")->required();
}

int runSave(Host& host) {
    loadSceneReportingEvents(host, saveArguments.scene);
    writeScoFile(host, saveArguments.output);
    return 0;
}

void addLoadOptions(CLI::App& command) {
    command.add_option("SCENE", loadArguments.scene, "The scene file (.sco or JSON)")->required();
    command.add_option("-o,--output", loadArguments.output, "The JSON file (default: standard output)");
}

int runLoad(Host& host) {
    loadSceneReportingEvents(host, loadArguments.scene);
    writeOutput(loadArguments.output, sceneToJson(host));
    return 0;
}

}  // namespace host
