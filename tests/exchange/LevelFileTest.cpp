// Level files read as the world's triangles: the axes, node transforms down the hierarchy, every
// triangle mode, the scene chosen, and what is refused (and why).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "exchange/GltfExport.h"
#include "exchange/LevelFile.h"
#include "flight/Flight.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/SceneFile.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Point = std::array<double, 3>;
using Triangle = std::array<Point, 3>;

/// A .gltf written by hand with its buffer in a .bin beside it, in a folder of the test's own.
class LevelFile : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testing::TempDir() + "camsys-level-XXXXXX";
        ASSERT_NE(mkdtemp(dir_.data()), nullptr);
        fs::create_directory(dir_ + "/level");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/level/" + name; }

    /// Floats (then unsigned bytes of indices) appended to the buffer; returns an accessor.
    int floats(const std::vector<float>& values, int width = 3) {
        const std::size_t offset = bin_.size();
        bin_.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
        return accessor(offset, bin_.size() - offset, 5126, values.size() / width, width == 3 ? "VEC3" : "SCALAR");
    }
    int bytes(const std::vector<std::uint8_t>& values) {
        const std::size_t offset = bin_.size();
        bin_.append(values.begin(), values.end());
        while (bin_.size() % 4) bin_.push_back('\0');
        return accessor(offset, values.size(), 5121, values.size(), "SCALAR");
    }
    int accessor(std::size_t offset, std::size_t length, int type, std::size_t count, const char* shape) {
        gltf_["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", length}});
        gltf_["accessors"].push_back({{"bufferView", gltf_["bufferViews"].size() - 1},
                                      {"componentType", type},
                                      {"count", count},
                                      {"type", shape}});
        return int(gltf_["accessors"].size() - 1);
    }
    /// A mesh of one primitive of triangles; returns the mesh.
    int mesh(int positions) {
        gltf_["meshes"].push_back({{"primitives", {{{"attributes", {{"POSITION", positions}}}, {"mode", 4}}}}});
        return int(gltf_["meshes"].size() - 1);
    }
    int node(Json node) {
        gltf_["nodes"].push_back(std::move(node));
        return int(gltf_["nodes"].size() - 1);
    }
    /// Writes level/level.gltf and level/level.bin; returns the .gltf's path.
    std::string write(const std::string& uri = "level.bin") {
        gltf_["asset"] = {{"version", "2.0"}};
        gltf_["buffers"] = Json::array({{{"uri", uri}, {"byteLength", bin_.size()}}});
        std::ofstream(path("level.bin"), std::ios::binary) << bin_;
        std::ofstream(path("level.gltf")) << gltf_.dump();
        return path("level.gltf");
    }

    /// The level's triangles, corner by corner, in world axes.
    static std::vector<Triangle> triangles(const host::LevelMesh& mesh) {
        std::vector<Triangle> out;
        for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
            Triangle tri;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t v = mesh.indices[3 * t + k];
                tri[k] = {mesh.positions[3 * v], mesh.positions[3 * v + 1], mesh.positions[3 * v + 2]};
            }
            out.push_back(tri);
        }
        return out;
    }

    static void expectNear(const Point& a, const Point& b) {
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-5) << "component " << i;
    }

    std::string dir_;
    std::string bin_;
    Json gltf_ = Json::object();
};

/// The one file triangle the transform tests move around: corners in glTF's axes.
const std::vector<float> kTriangle = {0, 0, 0, 1, 0, 0, 0, 0, -1};

TEST_F(LevelFile, NodeTransformsApplyDownTheHierarchyInWorldAxesFromTheDefaultScene) {
    const int m = mesh(floats(kTriangle));
    // The parent: translation (1, 2, 3), a quarter turn about +y, scale 2 (TRS); its child: a
    // matrix moving by (0, 0, 5) in the parent's frame; a third node, a root, mirrored in x.
    const double h = std::sqrt(0.5);
    const int child =
        node({{"name", "child"}, {"mesh", m}, {"matrix", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1}}});
    node({{"name", "parent"},
          {"mesh", m},
          {"children", {child}},
          {"translation", {1, 2, 3}},
          {"rotation", {0, h, 0, h}},
          {"scale", {2, 2, 2}}});
    node({{"mesh", m}, {"scale", {-1, 1, 1}}});
    const host::LevelMesh level = host::loadLevelFile(write(), {2, {10, 20, 30}});

    // Independently: the quarter turn about y takes (x, y, z) to (z, y, -x); the file's (X, Y, Z)
    // is the world's (X, -Z, Y); the placement scales by 2 and moves by (10, 20, 30).
    auto parent = [](Point p) { return Point{1 + 2 * p[2], 2 + 2 * p[1], 3 - 2 * p[0]}; };
    auto world = [](Point p) { return Point{10 + 2 * p[0], 20 - 2 * p[2], 30 + 2 * p[1]}; };
    const std::vector<Triangle> read = triangles(level);
    ASSERT_EQ(read.size(), 3u);
    ASSERT_EQ(level.surfaces, (std::vector<std::string>{"parent", "child", "node 2"}));
    EXPECT_EQ(level.surfaceOf, (std::vector<std::uint32_t>{0, 1, 2}));
    const Point corners[3] = {{0, 0, 0}, {1, 0, 0}, {0, 0, -1}};
    for (int k = 0; k < 3; ++k) {
        expectNear(read[0][k], world(parent(corners[k])));
        expectNear(read[1][k], world(parent({corners[k][0], corners[k][1], corners[k][2] + 5})));
    }
    // The triangle faces +y in the file: up in the world. Mirrored, its corners come in the other
    // order, so that it still faces up.
    for (const Triangle& t : {read[0], read[2]}) {
        const Point u = {t[1][0] - t[0][0], t[1][1] - t[0][1], t[1][2] - t[0][2]};
        const Point v = {t[2][0] - t[0][0], t[2][1] - t[0][1], t[2][2] - t[0][2]};
        EXPECT_GT(u[0] * v[1] - u[1] * v[0], 0) << "faces up";
    }

    // With scenes, the default scene's nodes; with none named the default, every root as above.
    gltf_["scenes"] = {{{"nodes", {1}}}, {{"nodes", {2}}}};
    gltf_["scene"] = 1;
    EXPECT_EQ(host::loadLevelFile(write()).surfaces, std::vector<std::string>{"node 2"});
    gltf_.erase("scene");
    EXPECT_EQ(host::loadLevelFile(write()).surfaces, level.surfaces);
}

TEST_F(LevelFile, StripsAndFansCountAndPointsAndLinesAreSkipped) {
    // Five vertices on a line of x, indexed backwards to check that indices are followed.
    const int positions = floats({0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0});
    const int backwards = bytes({4, 3, 2, 1, 0});
    gltf_["meshes"] = Json::array();
    Json primitives = Json::array();
    for (const int mode : {5, 6, 0, 1, 3})
        primitives.push_back({{"attributes", {{"POSITION", positions}}}, {"mode", mode}, {"indices", backwards}});
    gltf_["meshes"].push_back({{"name", "shapes"}, {"primitives", primitives}});
    node({{"mesh", 0}});
    const host::LevelMesh level = host::loadLevelFile(write());
    EXPECT_EQ(level.skippedPrimitives, 3u);
    EXPECT_EQ(level.surfaces, std::vector<std::string>{"shapes"});
    // As glTF defines them, over the drawing order v = 4 3 2 1 0: strip triangle i is
    // (v[i], v[i+1], v[i+2]) for even i and (v[i], v[i+2], v[i+1]) for odd i; fan triangle i is
    // (v[i+1], v[i+2], v[0]). The x of each corner is its vertex number.
    std::vector<std::array<double, 3>> xs;
    for (const Triangle& t : triangles(level)) xs.push_back({t[0][0], t[1][0], t[2][0]});
    EXPECT_EQ(xs,
              (std::vector<std::array<double, 3>>{{4, 3, 2}, {3, 1, 2}, {2, 1, 0}, {3, 2, 4}, {2, 1, 4}, {1, 0, 4}}));
}

TEST_F(LevelFile, RefusesWhatItCannotReadNamingFileAndReason) {
    auto refusal = [&](const std::string& file) {
        try {
            host::loadLevelFile(file);
        } catch (const host::InputError& error) {
            EXPECT_EQ(error.file(), file);
            return std::string(error.what());
        }
        ADD_FAILURE() << "read " << file;
        return std::string();
    };
    const int m = mesh(floats(kTriangle));
    node({{"mesh", m}});
    const std::string file = write();
    ASSERT_EQ(host::loadLevelFile(file).triangleCount(), 1u);

    // (A level file that is not there: CamsysExportTest.)
    EXPECT_NE(refusal(dir_).find("the level is no regular file"), std::string::npos);
    EXPECT_NE(refusal(write("../outside.bin")).find("leaves the level's folder"), std::string::npos);
    EXPECT_NE(refusal(write(dir_ + "/level/level.bin")).find("leaves the level's folder"), std::string::npos);
    EXPECT_NE(refusal(write("gone.bin")).find("\"gone.bin\" it names is missing"), std::string::npos);
    fs::copy_file(path("level.bin"), dir_ + "/outside.bin");
    fs::create_symlink(dir_ + "/outside.bin", path("link.bin"));
    EXPECT_NE(refusal(write("link.bin")).find("through a symbolic link"), std::string::npos);
    // tinygltf would look in the working folder too when the level's folder has no such file.
    const fs::path here = fs::current_path();
    fs::current_path(dir_);
    EXPECT_NE(refusal(write("outside.bin")).find("missing"), std::string::npos);
    fs::current_path(here);

    gltf_["extensionsRequired"] = {"KHR_draco_mesh_compression"};
    EXPECT_NE(refusal(write()).find("compressed (KHR_draco_mesh_compression)"), std::string::npos);
    gltf_["extensionsRequired"] = {"EXT_meshopt_compression"};
    EXPECT_NE(refusal(write()).find("gltf-transform"), std::string::npos);
    gltf_.erase("extensionsRequired");

    gltf_["meshes"][0]["primitives"][0]["indices"] = bytes({0, 1, 3});
    EXPECT_NE(refusal(write()).find("index 3 is out of range (3 vertices)"), std::string::npos);
    gltf_["meshes"][0]["primitives"][0].erase("indices");
    gltf_["accessors"][0]["count"] = 100;
    EXPECT_NE(refusal(write()).find("reaches beyond"), std::string::npos);
    gltf_["accessors"][0]["count"] = 3;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(bin_.data() + 4, &nan, sizeof nan);
    EXPECT_NE(refusal(write()).find("not finite"), std::string::npos);
}

/// A level exported beside a flight (its world triangles in glTF's axes) reads back as the same
/// world triangles; the example's tower stands upright, as the script that made it put it.
TEST(LevelExport, ReadsBackAsTheSameWorldTriangles) {
    const host::LevelMesh town = host::loadLevelFile(CAMSYS_EXAMPLES "/town.glb");
    ASSERT_GT(town.triangleCount(), 1000u);
    const auto tower = std::find(town.surfaces.begin(), town.surfaces.end(), "Tower roof") - town.surfaces.begin();
    float top = -1e9f;
    for (std::size_t t = 0; t < town.triangleCount(); ++t)
        if (town.surfaceOf[t] == std::uint32_t(tower))
            for (int k = 0; k < 3; ++k) top = std::max(top, town.positions[3 * town.indices[3 * t + k] + 2]);
    EXPECT_EQ(top, 38.0f) << "the tower's spire, 38 units up";

    host::Host host(&SetIRTS, &GetObjectFactories);
    host::loadSceneFile(host, CAMSYS_EXAMPLES "/flythrough.json");
    host.createCamera("", true);
    const Handle cam = host.find("Cam");
    const host::FlightOptions options{0, 16, 100000};
    const host::FlightRecording flight = host::recordFlight(host, cam, options);
    for (const char* name : {"with-level.gltf", "with-level.glb"}) {
        const std::string file = testing::TempDir() + name;
        host::writeGltfFile(host, cam, options, flight, file, &town);
        const host::LevelMesh back = host::loadLevelFile(file);
        fs::remove(file);
        EXPECT_EQ(back.skippedPrimitives, 2u) << "the flown path's two pieces";
        ASSERT_EQ(back.triangleCount(), town.triangleCount());
        // Surface by surface, triangle by triangle, corner by corner: the same floats.
        std::map<std::string, std::vector<float>> before, after;
        for (const auto* mesh : {&town, &back})
            for (std::size_t t = 0; t < mesh->triangleCount(); ++t)
                for (int k = 0; k < 3; ++k)
                    for (int c = 0; c < 3; ++c)
                        (mesh == &town ? before : after)[mesh->surfaces[mesh->surfaceOf[t]]].push_back(
                            mesh->positions[3 * mesh->indices[3 * t + k] + c]);
        EXPECT_TRUE(before == after) << name;
    }
}

}  // namespace
