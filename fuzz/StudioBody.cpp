// The studio's edit requests as a fuzz body: the request bodies of PATCH, POST and DELETE (and
// undo, redo) sent through the handlers the server calls, without sockets. Every request either
// answers 4xx with a message and leaves the scene exactly as it was, or changes it into a scene
// whose JSON export is still a fixed point.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "fuzz/FuzzBodies.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"
#include "studio/server/StudioServer.h"

namespace fuzz {

namespace {

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "fuzz_studio: %s\n", what.c_str());
    std::abort();
}

const char* const kScene = R"({ "objects": [
  { "name": "Tower", "position": [40, 120, 15] },
  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
      { "name": "W0", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 10],
        "attributes": { "PointsTo": "Tower", "Time2Next": 900, "PauseTime": 100 } },
      { "name": "Gate", "position": [30, 10, 0] },
      { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [60, 20, 12],
        "attributes": { "Time2Next": 0, "EaseIn": true } },
      { "name": "W2", "class": "SCOCameraSystemWaypoint", "position": [90, -20, 14] } ] },
  { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Flight" } } ] })";

/// The names a request may address: the scene's, and one that is none of them.
constexpr std::array<const char*, 8> kNames = {"Tower", "Flight", "W0", "Gate", "W1", "W2", "Cam", "Nobody"};

/// The requests, by the first byte of each: method and target, `%` standing for a name.
constexpr std::array<std::pair<const char*, const char*>, 7> kRequests = {{
    {"PATCH", "/api/objects/%"},
    {"POST", "/api/objects"},
    {"DELETE", "/api/objects/%"},
    {"POST", "/api/objects/%/move"},
    {"POST", "/api/undo"},
    {"POST", "/api/redo"},
    {"GET", "/api/frame?t=%"},
}};

std::string exportOf(host::Host& host) {
    try {
        return host::sceneToJson(host);
    } catch (const std::exception& error) {
        broken(std::string("a scene the studio holds does not export: ") + error.what());
    }
}

}  // namespace

void fuzzStudio(std::span<const std::uint8_t> input) {
    host::Host host(SetIRTS, GetObjectFactories);
    host::loadJsonScene(host, kScene, "fuzz.json");
    host.createCamera("", true);
    studio::StudioServer server(host, {"fuzz.json", "", "127.0.0.1", 0, false});
    // request = kind (u8) name (u8) length (u16, little-endian) body[length]
    std::size_t at = 0;
    const auto byte = [&]() -> std::uint8_t { return at < input.size() ? input[at++] : 0; };
    for (int requests = 0; at < input.size() && requests < 16; ++requests) {
        const auto& [method, pattern] = kRequests[byte() % kRequests.size()];
        const std::string name = kNames[byte() % kNames.size()];
        const std::size_t length = byte() | std::size_t(byte()) << 8;
        const std::string body(reinterpret_cast<const char*>(input.data()) + at, std::min(length, input.size() - at));
        at += body.size();
        std::string target = pattern;
        if (const std::size_t hole = target.find('%'); hole != std::string::npos)
            target.replace(hole, 1, target.starts_with("/api/frame") ? std::to_string(length) : name);

        const std::vector<std::uint8_t> before = host::sceneToScoImage(host);
        std::pair<int, std::string> answer;
        try {
            answer = server.call(method, target, body);
        } catch (const std::exception& error) {
            broken(std::string(method) + " " + target + " threw: " + error.what() + "\nbody: " + body);
        }
        const auto& [status, text] = answer;
        if (status >= 500 || (status != 200 && text.find("\"error\"") == std::string::npos))
            broken(std::string(method) + " " + target + " answered " + std::to_string(status) + " " + text +
                   "\nbody: " + body);
        if (status != 200) {
            if (host::sceneToScoImage(host) != before)
                broken(std::string(method) + " " + target + " was refused (" + text +
                       ") but changed the scene\nbody: " + body);
            continue;
        }
        // A change: what the studio holds exports, loads and exports again to the same text.
        const std::string exported = exportOf(host);
        host::Host again(SetIRTS, GetObjectFactories);
        try {
            host::loadJsonScene(again, exported, "again.json");
        } catch (const std::exception& error) {
            broken(std::string("after ") + method + " " + target + " the export does not load: " + error.what() + "\n" +
                   exported);
        }
        if (host::sceneToJson(again) != exported)
            broken(std::string("after ") + method + " " + target + " the export is no fixed point\n" + exported);
    }
}

std::vector<std::vector<std::uint8_t>> studioSeeds() {
    const auto request = [](std::uint8_t kind, std::uint8_t name, const std::string& body) {
        std::vector<std::uint8_t> r = {kind, name, static_cast<std::uint8_t>(body.size() & 0xFF),
                                       static_cast<std::uint8_t>(body.size() >> 8)};
        r.insert(r.end(), body.begin(), body.end());
        return r;
    };
    const auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    return {
        join({request(0, 2, R"({"position": [5, 6, 7], "gesture": "g1"})"),
              request(0, 2, R"({"position": [6, 6, 7], "gesture": "g1"})"), request(4, 0, "")}),
        join({request(0, 4, R"({"attributes": {"Time2Next": 500, "Roll": 12.5, "PointsTo": "Gate"}})"),
              request(0, 5, R"({"name": "Last", "attributes": {"IsOn": false}})"), request(4, 0, ""),
              request(5, 0, "")}),
        join({request(1, 0, R"({"class": "SCOCameraSystemWaypoint", "parent": "Flight", "index": 2,
                                "position": [1, 2, 3], "attributes": {"FOVFac": "Infinity"}})"),
              request(1, 0, R"({"copyOf": "W1", "name": "Copy", "parent": "Flight", "index": 1})"),
              request(3, 3, R"({"parent": "Flight", "index": 0})"), request(2, 0, "")}),
        join({request(2, 1, ""), request(6, 0, ""), request(4, 0, "")}),
    };
}

}  // namespace fuzz
