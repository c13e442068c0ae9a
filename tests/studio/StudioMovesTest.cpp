// POST /api/moves against `camsys add-move`: the same options make the same scene, byte for byte,
// with the example's level too (its lift); one undo removes the whole move; a refusal names the
// option and changes nothing.
#include "exchange/LevelFile.h"
#include "tests/studio/StudioHarness.h"

namespace {

using namespace studio_test;

/// The example and its level in a folder of their own.
class StudioMovesTest : public ExampleCopyTest {
protected:
    void SetUp() override {
        ExampleCopyTest::SetUp();
        fs::copy_file(CAMSYS_EXAMPLES "/town.glb", folder / "town.glb");
    }
    /// A studio on the example that keeps the level the file names, with its triangles, when
    /// `withLevel`.
    std::unique_ptr<Studio> open(bool withLevel) {
        const auto town = [&](studio::StudioOptions& options) {
            options.levelGeometry =
                std::make_shared<const host::LevelGeometry>(host::loadLevelFile((folder / "town.glb").string()));
        };
        return std::make_unique<Studio>(file, withLevel ? Studio::Adjust(town) : nullptr, withLevel);
    }
};

}  // namespace

TEST_F(StudioMovesTest, AMoveIsTheToolsMoveAndOneUndoTakesItAway) {
    struct Case {
        bool level;
        std::string body, options;
        std::size_t waypoints;
    };
    const Case cases[] = {
        {false, R"({"kind": "orbit", "target": "Tower", "radius": 30, "height": 10, "speed": 20, "direction": "cw"})",
         "orbit --target Tower --radius 30 --height 10 --speed 20 --direction cw --no-level", 9},
        // Sunk into the town: every waypoint lifted clear of the level the studio holds.
        {true, R"({"kind": "orbit", "target": "Tower", "radius": 30, "height": -15, "perTurn": 16, "turns": 0.5})",
         "orbit --target Tower --radius 30 --height -15 --per-turn 16 --turns 0.5", 9},
        {false, R"({"kind": "crane", "from": [0, 0, 2], "to": 30, "target": "Tower", "clearance": 1})",
         "crane --from 0,0,2 --to 30 --target Tower --clearance 1 --no-level", 2},
        {true, R"({"kind": "fly-through", "through": [[0, 0, 10], "Statue", "40,120,30"], "speed": 5})",
         "fly-through --through 0,0,10 Statue 40,120,30 --speed 5", 3},
        {false, R"({"kind": "follow", "path": "Flight", "offset": [0, 0, 5], "to": null})",
         "follow --path Flight --offset 0,0,5 --no-level", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const auto studio = open(c.level);
        const std::vector<std::uint8_t> before = studio->image();
        const auto [status, answer] = studio->call("POST", "/api/moves", c.body);
        ASSERT_EQ(status, 200) << answer.dump();

        const fs::path out = folder / "tool.json";
        const std::string said = commandOutput(
            std::string(CAMSYS_EXE) + " add-move " + file.string() + " " + c.options + " -o " + out.string(), "2>&1");
        // The tool's summary names what the answer names.
        const std::string path = answer["path"], iterator = answer["iterator"];
        EXPECT_TRUE(said.starts_with("path " + path + ": " + std::to_string(answer["waypoints"].size()) +
                                     " waypoints; iterator " + iterator))
            << said;
        EXPECT_TRUE(!c.waypoints || answer["waypoints"].size() == c.waypoints) << answer.dump();
        if (c.level) {
            EXPECT_GT(answer["lifted"].get<int>(), 0);
            EXPECT_NE(said.find("; " + std::to_string(answer["lifted"].get<int>()) + " lifted"), said.npos) << said;
        }
        EXPECT_EQ(host::sceneToJson(studio->host, studio->level), readText(out));

        // (How the new iterator flies, MovePresetsTest checks; on the page, moves.test.mjs.)
        EXPECT_EQ(studio->call("POST", "/api/undo").second.value("label", "").rfind("add ", 0), 0u);
        EXPECT_EQ(studio->image(), before) << "one undo takes the whole move away";
        fs::remove(out);
    }
}

TEST_F(StudioMovesTest, RefusalsNameTheOptionAndChangeNothing) {
    const auto studio = open(true);
    const std::vector<std::uint8_t> before = studio->image();
    const std::pair<std::string, std::string> refused[] = {
        {R"({"kind": "spiral", "target": "Tower"})", "kind"},
        {R"({"target": "Tower"})", "kind"},
        {R"({"kind": "orbit", "target": "Nowhere"})", "target"},
        {R"({"kind": "orbit"})", "target"},
        {R"({"kind": "orbit", "target": "Tower", "radius": 0})", "radius"},
        {R"({"kind": "orbit", "target": "Tower", "perTurn": 8.5})", "perTurn"},
        {R"({"kind": "orbit", "target": "Tower", "speed": "fast"})", "speed"},
        {R"({"kind": "orbit", "target": "Tower", "direction": "up"})", "direction"},
        {R"({"kind": "orbit", "target": "Tower", "from": [0, 0, 0]})", "from"},
        {R"({"kind": "dolly", "from": [0, 0], "to": [1, 1, 1]})", "from"},
        {R"({"kind": "dolly", "from": [0, 0, 0], "to": 5})", "to"},
        {R"({"kind": "dolly", "from": [0, 0, 0], "to": [0, 0, 0]})", "to"},
        {R"({"kind": "follow", "path": "Tower", "offset": [0, 0, 1]})", "path"},
        {R"({"kind": "follow", "path": "Flight"})", "offset"},
        {R"({"kind": "fly-through", "through": ["Tower"]})", "through"},
        {R"({"kind": "fly-through", "through": ["Tower", [40, 120, 15]]})", "through"},
        {R"({"kind": "orbit", "target": "Tower", "colour": "red"})", ""},
    };
    for (const auto& [body, option] : refused) {
        const auto [status, answer] = studio->call("POST", "/api/moves", body);
        EXPECT_EQ(status, 400) << body;
        EXPECT_EQ(answer.value("attribute", ""), option) << body << ": " << answer.dump();
        EXPECT_TRUE(option.empty() || answer["error"].get<std::string>().starts_with(option + ": ")) << answer.dump();
    }
    EXPECT_EQ(studio->image(), before);
    EXPECT_EQ(studio->call("GET", "/api/history").second["revision"], 0);
}
