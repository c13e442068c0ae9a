// The studio with a level: the level's name kept through saves and reloads, and the level's
// triangles in the analysis and the findings.
#include <algorithm>

#include "geometry/LevelGeometry.h"
#include "tests/studio/StudioHarness.h"
#include "tests/support/LevelMeshes.h"

namespace {

using namespace studio_test;

class StudioLevelTest : public ExampleCopyTest {};

}  // namespace

TEST_F(StudioLevelTest, SavesKeepTheLevelTheFileNamesAndAReloadTakesTheFilesOwn) {
    Studio studio(file, {}, true);
    ASSERT_EQ(studio.call("POST", "/api/save", R"({"as": "copy.sco"})").first, 200);
    ASSERT_EQ(studio.call("POST", "/api/save", R"({"as": "copy.json"})").first, 200);
    EXPECT_TRUE(readText(folder / "copy.json").starts_with("{\n  \"level\": \"town.glb\",\n  \"objects\": ["));
    EXPECT_EQ(Studio(folder / "copy.sco", {}, true).level, studio.level);
    writeText(folder / "copy.json", R"({"level": {"file": "other.glb", "scale": 2}, "objects": []})");
    ASSERT_EQ(studio.call("POST", "/api/reload").first, 200);
    ASSERT_EQ(studio.call("POST", "/api/save", R"({"overwrite": true})").first, 200);
    EXPECT_TRUE(readText(folder / "copy.json").starts_with(R"({
  "level": {"file": "other.glb", "scale": 2, "position": [0, 0, 0]},)"))
        << readText(folder / "copy.json");
}

TEST_F(StudioLevelTest, ALevelGivesTheAnalysisItsClearanceAndTheFindingsTheirGeometry) {
    // A wall across the first stretch of the example's flight (W0 at x = 0 to W1 at x = 60).
    host::LevelMesh mesh;
    testing_support::addWallX(mesh, 30, -50, 50, -10, 60, "Wall");
    const auto level = std::make_shared<const host::LevelGeometry>(std::move(mesh));
    Studio walled(file, [&](studio::StudioOptions& options) { options.levelGeometry = level; });
    const Json analysis = walled.call("GET", "/api/analysis").second;
    EXPECT_EQ(analysis["data"]["clearance"].size(), analysis["rows"].get<std::size_t>()) << analysis["columns"].dump();
    EXPECT_EQ(analysis["units"]["clearance"], "units");
    EXPECT_TRUE(analysis["data"].contains("targetVisible"));
    const Json findings = walled.call("GET", "/api/lint?iterator=Cam").second;
    EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [](const Json& f) {
        return f["id"] == "through-geometry" && f["text"].get<std::string>().find("Wall") != std::string::npos;
    })) << findings.dump();
    // Without a level, neither.
    Studio open(file);
    EXPECT_FALSE(open.call("GET", "/api/analysis").second["data"].contains("clearance"));
}
