// The level a scene names: its key read and written back in both forms, carried through .sco
// (format version 2, and version 1 unchanged without a level), and its mistakes refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"
#include "tests/scene/Refusal.h"
#include "tests/support/Bytes.h"

using host::Host;
using host::OptionalLevel;
using testing_support::Bytes;

namespace {

const std::string kObjects = R"("objects": [{"name": "T", "position": [1, 2, 3]}])";

/// The scene loaded from JSON `text`, or from the .sco `image` when given: the level it names and
/// its JSON and .sco as written with that level.
struct Loaded {
    OptionalLevel level;
    std::string json;
    std::vector<std::uint8_t> sco;
};
Loaded load(const std::string& text, const std::vector<std::uint8_t>* image = nullptr) {
    Host host(SetIRTS, GetObjectFactories);
    Loaded loaded;
    if (image)
        host::loadScoScene(host, *image, "scene.sco", &loaded.level);
    else
        host::loadJsonScene(host, text, "scene.json", &loaded.level);
    loaded.json = host::sceneToJson(host, loaded.level);
    loaded.sco = host::sceneToScoImage(host, loaded.level);
    return loaded;
}

}  // namespace

TEST(SceneLevel, KeptThroughJsonAndScoInBothForms) {
    const Loaded plain = load("{" + kObjects + "}");
    EXPECT_FALSE(plain.level);
    EXPECT_EQ(plain.json.find("level"), std::string::npos);
    EXPECT_EQ(plain.sco[8], 1u) << "a scene without a level stays a version-1 file";

    const Loaded named = load(R"({"level": "levels/town.glb", )" + kObjects + "}");
    ASSERT_TRUE(named.level);
    EXPECT_EQ(named.level->file, "levels/town.glb");
    EXPECT_EQ(named.json.rfind("{\n  \"level\": \"levels/town.glb\",\n  \"objects\": [", 0), 0u) << named.json;
    // The image is the version-1 image as version 2, with the level section after the objects:
    // the file name with its length, the scale, the position.
    Bytes image = Bytes().raw(plain.sco.data(), 8).u32(2).raw(plain.sco.data() + 12, plain.sco.size() - 12);
    image.u32(15).raw("levels/town.glb", 15).f32(1).f32(0).f32(0).f32(0);
    EXPECT_EQ(named.sco, image.data);

    // Placed: the object form, floats as the shortest decimals (negative zero too), a fixed point
    // through JSON and through .sco.
    const Loaded placed =
        load(R"({"level": {"position": [0.1, -0.0, -250], "file": "t.glb", "scale": 2.5}, )" + kObjects + "}");
    ASSERT_TRUE(placed.level);
    EXPECT_EQ(placed.level->scale, 2.5f);
    EXPECT_EQ(placed.level->position, (std::array<float, 3>{0.1f, -0.0f, -250.0f}));
    EXPECT_NE(placed.json.find(R"("level": {"file": "t.glb", "scale": 2.5, "position": [0.1, -0.0, -250]},)"),
              std::string::npos)
        << placed.json;
    for (const Loaded& again : {load(placed.json), load("", &placed.sco)}) {
        EXPECT_EQ(again.level, placed.level);
        EXPECT_EQ(again.json, placed.json);
        EXPECT_EQ(again.sco, placed.sco);
    }
}

TEST(SceneLevel, MistakesAreRefusedNamingTheKey) {
    // The level's value, and the message after "bad.json: level: ".
    const std::pair<const char*, const char*> cases[] = {
        {"3", R"(the level is a file name or {"file": ..., "scale": s, "position": [x, y, z]})"},
        {R"("")", "the level's file name is empty"},
        {R"({"scale": 2})", "file: the level needs a file"},
        {R"({"file": 7})", "file: the file must be a non-empty string"},
        {R"({"file": "a", "scale": 0})", "scale: the scale must be a finite number above 0"},
        {R"({"file": "a", "scale": -1})", "scale: the scale must be a finite number above 0"},
        {R"({"file": "a", "scale": "NaN"})", "scale: the scale must be a finite number above 0"},
        {R"({"file": "a", "position": [1, 2]})", "position: the position must be three finite numbers [x, y, z]"},
        {R"({"file": "a", "position": [1, 2, 1e39]})", "position: the position must be three finite numbers [x, y, z]"},
        {R"({"file": "a", "colour": 1})", "colour: unknown key; a level has the keys file, position, scale"},
        {R"({"file": "a", "file": "b"})", "file: the key is given twice"},
        {R"("a", "level": "b")", "the key is given twice"},  // the scene's key repeated
    };
    for (auto [value, message] : cases) {
        Host host(SetIRTS, GetObjectFactories);
        const std::string text = std::string(R"({"level": )") + value + ", " + kObjects + "}";
        EXPECT_EQ(refusal([&] { host::loadJsonScene(host, text, "bad.json"); }).what(),
                  "bad.json: level: " + std::string(message));
    }
    Host host(SetIRTS, GetObjectFactories);
    EXPECT_EQ(refusal([&] { host::loadJsonScene(host, R"({"levels": "a", )" + kObjects + "}", "bad.json"); }).what(),
              std::string("bad.json: levels: unknown key; a scene file has the keys level, objects"));
}

TEST(SceneLevel, CorruptScoLevelSectionsAreRefused) {
    const std::vector<std::uint8_t> image = load(R"({"level": "t.glb", )" + kObjects + "}").sco;
    auto refused = [](const std::vector<std::uint8_t>& bytes) {
        Host host(SetIRTS, GetObjectFactories);
        return std::string(refusal([&] { host::loadScoScene(host, bytes, "bad.sco"); }).what());
    };
    std::vector<std::uint8_t> bytes = image;
    std::fill_n(bytes.end() - 16, 4, 0);  // scale 0
    EXPECT_EQ(refused(bytes), "bad.sco: level: scale: the scale must be a finite number above 0");
    EXPECT_EQ(refused(std::vector<std::uint8_t>(image.begin(), image.end() - 4)),
              "bad.sco: level: position: only 0 of the 4 bytes it needs remain (truncated)");
    bytes = image;
    bytes[8] = 1;  // version 1 with a section after the objects
    EXPECT_EQ(refused(bytes), "bad.sco: 25 bytes follow the last object (corrupt)");
    bytes[8] = 3;
    EXPECT_EQ(refused(bytes), "bad.sco: format version: format version 3 is not supported (this reads 1 and 2)");
}
