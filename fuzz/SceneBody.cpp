// The scene-file body: arbitrary bytes as a scene file, JSON or .sco by content, as every
// command reads one. A load either fails with the scene error or gives a scene whose JSON
// export is a fixed point (export, load, export: the same text) and whose .sco round trip gives
// the same JSON; the level the file names goes along.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "fuzz/FuzzBodies.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"

namespace fuzz {

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz_scene: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

/// The scene in a host of its own, by content as `loadSceneFile` decides.
void load(host::Host& host, std::span<const std::uint8_t> bytes, host::OptionalLevel& level) {
    if (host::isScoImage(bytes))
        host::loadScoScene(host, bytes, "fuzz.sco", &level);
    else
        host::loadJsonScene(host, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                            "fuzz.json", &level);
}

}  // namespace

void fuzzScene(std::span<const std::uint8_t> input) {
    std::string exported;
    std::vector<std::uint8_t> image;
    host::OptionalLevel level;
    {
        host::Host host(SetIRTS, GetObjectFactories);
        try {
            load(host, input, level);
        } catch (const host::InputError&) {
            return;  // refused, with the scene error: fine
        } catch (const std::exception& error) {
            broken("the loader threw something else than a scene error", error.what());
        }
        try {
            exported = host::sceneToJson(host, level);
            image = host::sceneToScoImage(host, level);
        } catch (const std::exception& error) {
            broken("a loaded scene does not save", error.what());
        }
    }
    for (const bool sco : {false, true}) {
        host::Host again(SetIRTS, GetObjectFactories);
        host::OptionalLevel levelAgain;
        try {
            if (sco)
                host::loadScoScene(again, image, "again.sco", &levelAgain);
            else
                host::loadJsonScene(again, exported, "again.json", &levelAgain);
        } catch (const std::exception& error) {
            broken(sco ? "the saved .sco does not load" : "the exported JSON does not load", error.what());
        }
        const std::string twice = host::sceneToJson(again, levelAgain);
        if (twice != exported)
            broken(sco ? "the .sco round trip changes the scene" : "the JSON export is no fixed point",
                   exported + "\n----\n" + twice);
    }
}

std::vector<std::vector<std::uint8_t>> sceneSeeds() {
    const std::string scene = R"({ "objects": [
  { "name": "Tower", "position": [40, 120, 15] },
  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
      { "name": "Intro", "position": [1, 2, 3] },
      { "name": "W0", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 10],
        "attributes": { "PointsTo": "Tower", "Time2Next": 2000, "PauseTime": 500 } },
      { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [60, 20, 12],
        "orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1],
        "attributes": { "Time2Next": 0, "EaseIn": true, "Roll": 15, "FOVFac": "Infinity" } },
      { "name": "W2", "class": "SCOCameraSystemWaypoint", "position": [90, -20, 14],
        "attributes": { "Range": 30, "IsOn": false } } ] },
  { "name": "Cam", "class": "SCOCameraSystemIterator",
    "attributes": { "Path": "Flight", "MovingDestination": "Tower", "GrabCamera": false } } ] })";
    std::vector<std::vector<std::uint8_t>> seeds;
    seeds.emplace_back(scene.begin(), scene.end());
    const std::string minimal = R"({"level":{"file":"t.glb","scale":0.5,"position":[1,-0.0,3]},"objects":[{"name":"P","class":"SCOCameraSystemPath","children":[
      {"name":"A","class":"SCOCameraSystemWaypoint","position":[0,0,0]}]}]})";
    seeds.emplace_back(minimal.begin(), minimal.end());
    for (const std::string* text : {&scene, &minimal}) {
        host::Host host(SetIRTS, GetObjectFactories);
        host::OptionalLevel level;
        host::loadJsonScene(host, *text, "seed.json", &level);
        seeds.push_back(host::sceneToScoImage(host, level));
    }
    return seeds;
}

}  // namespace fuzz
