// `camsys export` in-process: the files written are read back with tinygltf and their camera
// animation, sampled as glTF defines it, is compared with the flight that `recordFlight` flies;
// the nodes with the scene file itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "exchange/GltfExport.h"
#include "flight/Flight.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/SceneFile.h"
#include "tests/exchange/GltfRead.h"

using testing_support::GltfFile;
using testing_support::keysOf;
using testing_support::nodeNamed;
using testing_support::readGltf;
using testing_support::sample;
using testing_support::turn;
using Vec = std::array<double, 3>;

namespace {

const std::string kFlythrough = CAMSYS_EXAMPLES "/flythrough.json";

/// World (x, y, z), z up, in glTF's axes, y up: (x, z, -y).
Vec gltfAxes(double x, double y, double z) { return {x, z, -y}; }

Vec unit(const Vec& v) {
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / n, v[1] / n, v[2] / n};
}

::testing::AssertionResult near(const Vec& actual, const Vec& expected, double tolerance, const std::string& what) {
    for (int c = 0; c < 3; ++c)
        if (!(std::abs(actual[c] - expected[c]) <= tolerance * std::max(1.0, std::abs(expected[c]))))
            return ::testing::AssertionFailure()
                   << what << ": (" << actual[0] << ", " << actual[1] << ", " << actual[2] << ") != (" << expected[0]
                   << ", " << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}

Vec toVec(const std::vector<double>& v) { return {v.at(0), v.at(1), v.at(2)}; }

/// A node's placement in glTF's world: its parents' translations and rotations composed.
struct World {
    Vec t{0, 0, 0};
    std::vector<double> q{0, 0, 0, 1};
};

World worldOf(const World& parent, const tinygltf::Node& node) {
    const Vec local = node.translation.empty() ? Vec{0, 0, 0} : toVec(node.translation);
    const std::vector<double> r = node.rotation.empty() ? std::vector<double>{0, 0, 0, 1} : node.rotation;
    const Vec turned = turn(parent.q, local);
    const auto& p = parent.q;
    // Hamilton product p r.
    return {
        {parent.t[0] + turned[0], parent.t[1] + turned[1], parent.t[2] + turned[2]},
        {p[3] * r[0] + p[0] * r[3] + p[1] * r[2] - p[2] * r[1], p[3] * r[1] - p[0] * r[2] + p[1] * r[3] + p[2] * r[0],
         p[3] * r[2] + p[0] * r[1] - p[1] * r[0] + p[2] * r[3], p[3] * r[3] - p[0] * r[0] - p[1] * r[1] - p[2] * r[2]}};
}

/// Every object of the scene file `scene` against the model's nodes: a node of its name below
/// its parent's (the scene's roots at the top), its children in order, its class in `extras`,
/// its world position the file's in glTF's axes, and its world axes the file's orientation
/// (x = right, -z = forward, y = up), or aimed at its "PointsTo" target, or the identity.
void checkSceneNodes(const tinygltf::Model& model, const nlohmann::json& scene) {
    std::map<std::string, Vec> positions;
    std::function<void(const nlohmann::json&)> collect = [&](const nlohmann::json& list) {
        for (const auto& o : list) {
            const std::vector<double> at = o.value("position", std::vector<double>{0, 0, 0});
            positions[o["name"]] = {at[0], at[1], at[2]};
            collect(o.value("children", nlohmann::json::array()));
        }
    };
    collect(scene["objects"]);
    using Check = std::function<void(const nlohmann::json&, const World&, const std::vector<int>&)>;
    Check check = [&](const nlohmann::json& object, const World& parent, const std::vector<int>& siblings) {
        const std::string name = object["name"];
        const int index = nodeNamed(model, name);
        ASSERT_GE(index, 0) << name;
        EXPECT_NE(std::find(siblings.begin(), siblings.end(), index), siblings.end()) << name << " below its parent";
        const tinygltf::Node& node = model.nodes[index];
        const World world = worldOf(parent, node);
        const Vec at = positions[name];
        EXPECT_TRUE(near(world.t, gltfAxes(at[0], at[1], at[2]), 1e-9, name));
        if (object.contains("class")) {
            EXPECT_EQ(node.extras.Get("class").Get<std::string>(), object["class"]) << name;
        }
        const Vec right = turn(world.q, {1, 0, 0}), up = turn(world.q, {0, 1, 0}), view = turn(world.q, {0, 0, -1});
        const auto attributes = object.value("attributes", nlohmann::json::object());
        if (attributes.contains("PointsTo")) {
            const Vec to = positions.at(attributes["PointsTo"]);
            const Vec aim = unit(gltfAxes(to[0] - at[0], to[1] - at[1], to[2] - at[2]));
            EXPECT_TRUE(near(view, aim, 1e-6, name + " looks at its target"));
        } else {
            const std::vector<double> m = object.value("orientation", std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1});
            EXPECT_TRUE(near(right, unit(gltfAxes(m[0], m[3], m[6])), 1e-6, name + " right"));
            EXPECT_TRUE(near(view, unit(gltfAxes(m[1], m[4], m[7])), 1e-6, name + " forward"));
            EXPECT_TRUE(near(up, unit(gltfAxes(m[2], m[5], m[8])), 1e-6, name + " up"));
        }
        std::vector<int> children;
        for (const auto& child : object.value("children", nlohmann::json::array()))
            children.push_back(nodeNamed(model, child["name"]));
        EXPECT_EQ(node.children, children) << name;
        for (const auto& child : object.value("children", nlohmann::json::array())) check(child, world, node.children);
    };
    for (const auto& object : scene["objects"]) check(object, {}, model.scenes.at(0).nodes);
}

/// `iterator`'s flight of `options` exported as .gltf and read back with tinygltf, with the flight.
std::pair<GltfFile, host::FlightRecording> exported(host::Host& host, const Handle& iterator,
                                                    const host::FlightOptions& options) {
    host::FlightRecording flight = host::recordFlight(host, iterator, options);
    const std::string path = ::testing::TempDir() + "camsys-export.gltf";
    host::writeGltfFile(host, iterator, options, flight, path);
    GltfFile file = readGltf(path);
    std::remove(path.c_str());
    return {std::move(file), std::move(flight)};
}

/// The example flown by Cam, its recorded flight as the oracle, and the export. (The .glb holds
/// the same: GltfRoundTripTest reads both forms back to the tick, gltf-three.mjs plays both in
/// three.js.)
class GltfExport : public ::testing::Test {
protected:
    void SetUp() override {
        host::loadSceneFile(host, kFlythrough);
        host.createCamera();
        iterator = host.find("Cam");
        std::tie(file, flight) = exported(host, iterator, options);
        ASSERT_GT(flight.ticks.size(), 100u);
    }

    /// The eye of tick `i` in glTF's axes.
    Vec eyeAt(std::size_t i) const {
        const auto& o = flight.ticks[i].eye.Origin;
        return gltfAxes(o.x, o.y, o.z);
    }
    /// Seconds of tick `i` since the first tick, as a float key time.
    float seconds(std::size_t i) const { return float((flight.ticks[i].time - flight.ticks[0].time) / 1000.0); }

    /// Index of the first tick after the cut: the flight leaves W4 (index 4 of the switched-on
    /// waypoints, Time2Next 0) for W5.
    std::size_t cutTick() const {
        for (std::size_t i = 1; i < flight.ticks.size(); ++i)
            if (flight.ticks[i - 1].waypoint == 4 && flight.ticks[i].waypoint == 5) return i;
        ADD_FAILURE() << "the flight has no cut";
        return 0;
    }

    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle iterator;
    host::FlightOptions options;
    host::FlightRecording flight;
    GltfFile file;
};

TEST_F(GltfExport, CameraAnimationAndPathAreTheFlownEyesBrokenAtTheCut) {
    const std::size_t cut = cutTick();
    // (The rotation keys: GltfRoundTripTest reads them back as the eye's axes at every tick, and
    // gltf-three.mjs plays them in three.js.)
    const auto position = keysOf(file, "translation"), yfov = keysOf(file, "pointer");
    // One key per tick, and one more at the cut: the eye before it, held until the float just
    // below the cut's key. That key is the largest float not above the cut's decimal time, so
    // that a player asked for that time finds the cut's eye, not a blend with the held one.
    ASSERT_EQ(position.times.size(), flight.ticks.size() + 1);
    const float cutKey = position.times[cut + 1];
    const double exact = (flight.ticks[cut].time - flight.ticks[0].time) / 1000.0;
    EXPECT_LE(double(cutKey), exact);
    EXPECT_GT(double(std::nextafter(cutKey, std::numeric_limits<float>::infinity())), exact);
    EXPECT_EQ(position.times[cut], std::nextafter(cutKey, -std::numeric_limits<float>::infinity()));
    EXPECT_EQ(position.times[cut - 1], seconds(cut - 1));

    for (std::size_t i = 0; i < flight.ticks.size(); ++i) {
        const host::FlightTick& tick = flight.ticks[i];
        const double t = seconds(i);
        const std::string at = "tick " + std::to_string(tick.time);
        const Vec eye = eyeAt(i);
        ASSERT_TRUE(near(toVec(sample(position, t)), eye, 1e-5, at));
        const double expectedYfov = 2 * std::atan(std::tan(M_PI / 6) / tick.fov);
        ASSERT_NEAR(sample(yfov, t)[0], expectedYfov, 1e-6 * expectedYfov) << at;

        // Between two ticks the camera moves in a straight line from one eye to the next,
        // except into the cut's tick: there it holds the eye before and jumps at the tick.
        if (i + 1 < flight.ticks.size()) {
            const Vec after = eyeAt(i + 1);
            const Vec middle =
                i + 1 == cut ? eye : Vec{(eye[0] + after[0]) / 2, (eye[1] + after[1]) / 2, (eye[2] + after[2]) / 2};
            ASSERT_TRUE(near(toVec(sample(position, (t + seconds(i + 1)) / 2)), middle, 1e-5,
                             "between " + at + " and the next"));
        }
    }

    // The path: two LINE_STRIPs, up to the cut and from it, through every eye.
    ASSERT_EQ(file.model.meshes.size(), 1u);
    const auto& pieces = file.model.meshes[0].primitives;
    ASSERT_EQ(pieces.size(), 2u);
    std::vector<float> vertices;
    for (const tinygltf::Primitive& piece : pieces) {
        EXPECT_EQ(piece.mode, 3);
        const std::vector<float> v = testing_support::floats(file.model, piece.attributes.at("POSITION"));
        vertices.insert(vertices.end(), v.begin(), v.end());
    }
    EXPECT_EQ(file.model.accessors.at(pieces[0].attributes.at("POSITION")).count, cut);
    ASSERT_EQ(vertices.size(), 3 * flight.ticks.size());
    for (std::size_t i = 0; i < flight.ticks.size(); ++i)
        ASSERT_TRUE(near({vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]}, eyeAt(i), 1e-6,
                         "path vertex " + std::to_string(i)));
}

TEST_F(GltfExport, NodesAreTheSceneFileInGltfAxes) {
    // The camera node, the pointer channel's form and the animation's extras (the flight's events
    // and cuts) of this same export are pinned byte for byte by check-outputs.sh.
    std::ifstream in(kFlythrough);
    const nlohmann::json scene = nlohmann::json::parse(in);
    checkSceneNodes(file.model, scene);
    // The camera's own yfov: the first tick's, as the pointer animates it.
    ASSERT_EQ(file.model.cameras.size(), 1u);
    EXPECT_NEAR(file.model.cameras[0].perspective.yfov, 2 * std::atan(std::tan(M_PI / 6) / flight.ticks[0].fov), 1e-12);
}

TEST(GltfExportNodes, NestedTurnedObjectsKeepTheirWorldPlacement) {
    // A turned parent (90 degrees about z, then tilted) with children of their own orientation.
    const char* const text = R"({ "objects": [
      { "name": "Base", "position": [10, 20, 30], "orientation": [0, -1, 0, 0.8, 0, -0.6, 0.6, 0, 0.8],
        "children": [
          { "name": "Arm", "position": [13, 21, 28], "children": [
              { "name": "Hand", "position": [-4, 5, 6], "orientation": [0, 0, 1, 0, 1, 0, -1, 0, 0] } ] },
          { "name": "Path", "class": "SCOCameraSystemPath", "children": [
              { "name": "A", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 5] },
              { "name": "B", "class": "SCOCameraSystemWaypoint", "position": [40, 30, 5] } ] } ] },
      { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Path" } } ] })";
    host::Host host(&SetIRTS, &GetObjectFactories);
    host::loadJsonScene(host, text, "nested.json");
    host.createCamera();
    checkSceneNodes(exported(host, host.find("Cam"), {}).first.model, nlohmann::json::parse(text));
}

TEST_F(GltfExport, RefusesFlightsThatCannotBeAnimatedAndOtherExtensions) {
    const auto bytesOf = [&](const host::FlightOptions& options) {
        return host::flightToGltf(host, iterator, options, host::recordFlight(host, iterator, options),
                                  host::GltfContainer::Json);
    };
    EXPECT_THROW(bytesOf({0, 0, 100}), std::invalid_argument) << "every tick at one time";
    EXPECT_THROW(bytesOf({0, 16, 0}), std::invalid_argument) << "no tick";
    // Which names are glTF files (any other is refused, nothing written: the export CLI test).
    EXPECT_EQ(host::gltfContainerOf("a/b.GLTF"), host::GltfContainer::Json);
    EXPECT_EQ(host::gltfContainerOf("b.glb"), host::GltfContainer::Binary);
    EXPECT_EQ(host::gltfContainerOf("b.gltf.bak"), std::nullopt);
    EXPECT_EQ(host::gltfContainerOf("dir.glb/file"), std::nullopt);
    EXPECT_EQ(host::gltfContainerOf("glb"), std::nullopt);
}

}  // namespace
