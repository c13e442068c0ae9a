// The studio with a level: the level's name kept through saves and reloads, and the level's
// triangles in the analysis and the findings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "geometry/LevelGeometry.h"
#include "module/InProcessModule.h"
#include "scene/SceneFile.h"
#include "studio/server/StudioServer.h"
#include "tests/studio/StudioHarness.h"
#include "tests/support/TextFiles.h"
#include "tests/support/LevelMeshes.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using testing_support::readText;
using testing_support::writeText;

/// A scene file in a studio that knows `level`'s triangles.
struct Studio : studio_test::StudioHarness {
    Studio(const fs::path& file, std::shared_ptr<const host::LevelGeometry> level) {
        host::loadSceneFile(host, file.string());
        studio::StudioOptions options = optionsFor(file);
        options.levelGeometry = std::move(level);
        serve(options);
    }
};

class StudioLevelTest : public studio_test::ExampleCopyTest {};

}  // namespace

TEST_F(StudioLevelTest, SavesKeepTheLevelTheFileNamesAndAReloadTakesTheFilesOwn) {
    host::Host host(&SetIRTS, &GetObjectFactories);
    host::OptionalLevel level;
    host::loadSceneFile(host, file.string(), &level);
    ASSERT_TRUE(level);
    host.createCamera("", true);
    studio::StudioServer server(host, studio::StudioOptions{file.string(), "", "127.0.0.1", 0, false}, level);
    ASSERT_EQ(server.call("POST", "/api/save", R"({"as": "copy.sco"})").first, 200);
    ASSERT_EQ(server.call("POST", "/api/save", R"({"as": "copy.json"})").first, 200);
    EXPECT_TRUE(readText(folder / "copy.json").starts_with("{\n  \"level\": \"town.glb\",\n  \"objects\": ["));
    {
        host::Host fromSco(&SetIRTS, &GetObjectFactories);
        host::OptionalLevel kept;
        host::loadSceneFile(fromSco, (folder / "copy.sco").string(), &kept);
        EXPECT_EQ(kept, level);
    }
    writeText(folder / "copy.json", R"({"level": {"file": "other.glb", "scale": 2}, "objects": []})");
    ASSERT_EQ(server.call("POST", "/api/reload").first, 200);
    ASSERT_EQ(server.call("POST", "/api/save", R"({"overwrite": true})").first, 200);
    EXPECT_TRUE(readText(folder / "copy.json")
                    .starts_with(R"({
  "level": {"file": "other.glb", "scale": 2, "position": [0, 0, 0]},)"))
        << readText(folder / "copy.json");
}

TEST_F(StudioLevelTest, ALevelGivesTheAnalysisItsClearanceAndTheFindingsTheirGeometry) {
    // A wall across the first stretch of the example's flight (W0 at x = 0 to W1 at x = 60).
    host::LevelMesh mesh;
    testing_support::addWallX(mesh, 30, -50, 50, -10, 60, "Wall");
    Studio walled(file, std::make_shared<const host::LevelGeometry>(std::move(mesh)));
    const Json analysis = walled.call("GET", "/api/analysis").second;
    ASSERT_TRUE(analysis["data"].contains("clearance")) << analysis["columns"].dump();
    EXPECT_EQ(analysis["units"]["clearance"], "units");
    EXPECT_EQ(analysis["data"]["clearance"].size(), analysis["rows"].get<std::size_t>());
    EXPECT_TRUE(analysis["data"].contains("targetVisible"));
    const Json findings = walled.call("GET", "/api/lint?iterator=Cam").second;
    EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [](const Json& f) {
        return f["id"] == "through-geometry" && f["text"].get<std::string>().find("Wall") != std::string::npos;
    })) << findings.dump();
    // Without a level, neither.
    Studio open(file, nullptr);
    EXPECT_FALSE(open.call("GET", "/api/analysis").second["data"].contains("clearance"));
}
