#include "scene/StarterScene.h"

#include <filesystem>
#include <system_error>

#include "base/AtomicFile.h"
#include "base/InputError.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

// Eight units apart at eye height, one second from one to the other, along the way an unturned
// waypoint looks (+y): a dolly forward, which the camera view sees along.
constexpr std::string_view kStarterScene = R"({
  "objects": [
    { "name": "Path", "class": "SCOCameraSystemPath", "children": [
        { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 2] },
        { "name": "W2", "class": "SCOCameraSystemWaypoint", "position": [0, 8, 2] } ] },
    { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Path" } }
  ]
}
)";

}  // namespace

std::string_view starterSceneJson() { return kStarterScene; }

std::vector<Handle> loadStarterScene(Host& host, const std::string& file) {
    return loadJsonScene(host, kStarterScene, file);
}

void requireFolderOf(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error))
        throw InputError(path, "", "", "the folder " + folder.string() + " does not exist");
}

void writeStarterSceneFile(Host& host, const std::string& path) {
    requireFolderOf(path);
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found)
        throw InputError(path, "", "", "the file exists; a new scene never replaces one");
    loadStarterScene(host, path);
    if (path.ends_with(".sco"))
        writeScoFile(host, path);
    else
        writeFileAtomically(path, sceneToJson(host));
}

}  // namespace host
