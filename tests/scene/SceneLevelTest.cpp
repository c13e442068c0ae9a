// The level a scene names: its key read and written back in both forms, carried through .sco
// (format version 2, and version 1 unchanged without a level), and its mistakes refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ScoFile.h"

using host::Host;
using host::InputError;
using host::OptionalLevel;

namespace {

const std::string kObjects = R"("objects": [{"name": "T", "position": [1, 2, 3]}])";

/// The scene `text` loaded: the level it names and its JSON and .sco as written with that level.
struct Loaded {
    OptionalLevel level;
    std::string json;
    std::vector<std::uint8_t> sco;
};
Loaded load(const std::string& text) {
    Host host(SetIRTS, GetObjectFactories);
    Loaded loaded;
    host::loadJsonScene(host, text, "scene.json", &loaded.level);
    loaded.json = host::sceneToJson(host, loaded.level);
    loaded.sco = host::sceneToScoImage(host, loaded.level);
    return loaded;
}
Loaded loadSco(const std::vector<std::uint8_t>& image) {
    Host host(SetIRTS, GetObjectFactories);
    Loaded loaded;
    host::loadScoScene(host, image, "scene.sco", &loaded.level);
    loaded.json = host::sceneToJson(host, loaded.level);
    loaded.sco = host::sceneToScoImage(host, loaded.level);
    return loaded;
}

std::uint32_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

}  // namespace

TEST(SceneLevel, KeptThroughJsonAndScoInBothForms) {
    const Loaded plain = load("{" + kObjects + "}");
    EXPECT_FALSE(plain.level);
    EXPECT_EQ(plain.json.find("level"), std::string::npos);
    EXPECT_EQ(wordAt(plain.sco, 8), 1u) << "a scene without a level stays a version-1 file";

    const Loaded named = load(R"({"level": "levels/town.glb", )" + kObjects + "}");
    ASSERT_TRUE(named.level);
    EXPECT_EQ(named.level->file, "levels/town.glb");
    EXPECT_EQ(named.json.rfind("{\n  \"level\": \"levels/town.glb\",\n  \"objects\": [", 0), 0u) << named.json;
    // The image is the version-1 image with the version 2 and the level section after the objects.
    ASSERT_EQ(named.sco.size(), plain.sco.size() + 4 + 15 + 16);
    EXPECT_EQ(wordAt(named.sco, 8), 2u);
    EXPECT_TRUE(std::equal(plain.sco.begin() + 12, plain.sco.end(), named.sco.begin() + 12));
    const std::size_t tail = plain.sco.size();
    EXPECT_EQ(wordAt(named.sco, tail), 15u);
    EXPECT_EQ(std::string(named.sco.begin() + tail + 4, named.sco.begin() + tail + 19), "levels/town.glb");
    const float one = 1;
    EXPECT_EQ(std::memcmp(named.sco.data() + tail + 19, &one, 4), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(named.sco.end() - 12, named.sco.end()), std::vector<std::uint8_t>(12, 0));

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
    for (const Loaded& again : {load(placed.json), loadSco(placed.sco)}) {
        EXPECT_EQ(again.level, placed.level);
        EXPECT_EQ(again.json, placed.json);
        EXPECT_EQ(again.sco, placed.sco);
    }
}

TEST(SceneLevel, MistakesAreRefusedNamingTheKey) {
    // The level's value, the key named, a part of the reason.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"3", "", "file name or"},
        {R"("")", "", "empty"},
        {R"({"scale": 2})", "file", "needs a file"},
        {R"({"file": 7})", "file", "non-empty string"},
        {R"({"file": "a", "scale": 0})", "scale", "above 0"},
        {R"({"file": "a", "scale": -1})", "scale", "above 0"},
        {R"({"file": "a", "scale": "NaN"})", "scale", "finite"},
        {R"({"file": "a", "position": [1, 2]})", "position", "three finite"},
        {R"({"file": "a", "position": [1, 2, 1e39]})", "position", "three finite"},
        {R"({"file": "a", "colour": 1})", "colour", "unknown key"},
        {R"({"file": "a", "file": "b"})", "file", "twice"},
    };
    for (auto [value, key, reason] : cases) {
        Host host(SetIRTS, GetObjectFactories);
        try {
            host::loadJsonScene(host, std::string(R"({"level": )") + value + ", " + kObjects + "}", "bad.json");
            ADD_FAILURE() << "read " << value;
        } catch (const InputError& error) {
            EXPECT_EQ(error.file(), "bad.json");
            EXPECT_EQ(error.object(), "level") << value;
            EXPECT_EQ(error.attribute(), key) << value;
            EXPECT_NE(error.reason().find(reason), std::string::npos) << error.reason();
        }
    }
    for (const std::string& text :
         {R"({"level": "a", "level": "b", )" + kObjects + "}", R"({"levels": "a", )" + kObjects + "}"}) {
        Host host(SetIRTS, GetObjectFactories);
        try {
            host::loadJsonScene(host, text, "bad.json");
            ADD_FAILURE() << "read " << text;
        } catch (const InputError& error) {
            EXPECT_TRUE(error.reason() == "the key is given twice" ||
                        error.reason() == "unknown key; a scene file has the keys level, objects")
                << error.reason();
        }
    }
}

TEST(SceneLevel, CorruptScoLevelSectionsAreRefused) {
    const std::vector<std::uint8_t> image = load(R"({"level": "t.glb", )" + kObjects + "}").sco;
    auto refused = [](std::vector<std::uint8_t> bytes, const char* reason) {
        Host host(SetIRTS, GetObjectFactories);
        try {
            host::loadScoScene(host, bytes, "bad.sco");
            ADD_FAILURE() << "read the image";
        } catch (const InputError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    };
    std::vector<std::uint8_t> bytes = image;
    std::memset(bytes.data() + bytes.size() - 16, 0, 4);  // scale 0
    refused(bytes, "level: scale: the scale must be a finite number above 0");
    refused(std::vector<std::uint8_t>(image.begin(), image.end() - 4), "truncated");
    bytes = image;
    bytes[8] = 1;  // version 1 with a section after the objects
    refused(bytes, "bytes follow the last object");
    bytes[8] = 3;
    refused(bytes, "format version 3 is not supported (this reads 1 and 2)");
}
