#pragma once
/// Scenes for the flight tests: a path of waypoints written as scene JSON, hosts holding a scene
/// with their camera made, ready to fly, and the linter's findings in short.

#include <memory>
#include <string>
#include <vector>

#include "flight/lint/Lint.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/SceneFile.h"

namespace flight_testing {

/// One waypoint of a scene's path: its name, position ("[x, y, z]"), the inside of its attributes
/// object and more keys of its entry (e.g. an orientation).
struct Wp {
    std::string name, position, attributes = "", extra = "";
};

/// Waypoints W0, W1, ... `spacing` apart along x at height `z`, with these attributes.
inline std::vector<Wp> alongX(const std::vector<std::string>& attributes, int spacing = 10, int z = 0) {
    std::vector<Wp> out;
    for (std::size_t k = 0; k < attributes.size(); ++k)
        out.push_back({"W" + std::to_string(k),
                       "[" + std::to_string(spacing * int(k)) + ", 0, " + std::to_string(z) + "]", attributes[k]});
    return out;
}

/// The path P of `waypoints` and the iterator Cam with `cam` as its attributes; with `towerAt`,
/// first a plain object Tower standing there.
inline std::string pathScene(const std::vector<Wp>& waypoints, const std::string& towerAt = "",
                             const std::string& cam = R"("Path": "P")") {
    std::string children;
    for (const Wp& w : waypoints)
        children += (children.empty() ? "" : ",\n") + std::string(R"({ "name": ")") + w.name +
                    R"(", "class": "SCOCameraSystemWaypoint", "position": )" + w.position + w.extra +
                    R"(, "attributes": { )" + w.attributes + " } }";
    const std::string tower = towerAt.empty() ? "" : R"({ "name": "Tower", "position": )" + towerAt + " },\n";
    return R"({ "objects": [ )" + tower + R"({ "name": "P", "class": "SCOCameraSystemPath", "children": [ )" +
           children + R"( ] }, { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { )" + cam +
           " } } ] }";
}

/// A host holding the scene `json`, its camera made.
inline std::unique_ptr<host::Host> loadedHost(const std::string& json) {
    auto host = std::make_unique<host::Host>(SetIRTS, GetObjectFactories);
    host::loadJsonScene(*host, json, "scene.json");
    host->createCamera();
    return host;
}

/// A host holding the bundled example, its camera made.
inline std::unique_ptr<host::Host> exampleHost() {
    auto host = std::make_unique<host::Host>(SetIRTS, GetObjectFactories);
    host::loadSceneFile(*host, CAMSYS_EXAMPLES "/flythrough.json");
    host->createCamera();
    return host;
}

using Found = std::vector<std::string>;

/// "object id" of each finding, in order.
inline Found found(const std::vector<host::LintFinding>& findings) {
    Found out;
    for (const host::LintFinding& f : findings) out.push_back(f.object + " " + f.id);
    return out;
}

}  // namespace flight_testing
