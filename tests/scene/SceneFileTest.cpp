// Scene files in-process: JSON loading and export, the .sco image and its refusals, and the level
// a scene names: its key read and written back in both forms, carried through .sco (format
// version 2, and version 1 unchanged without a level), and its mistakes refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/ObjectEdit.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"
#include "tests/scene/Refusal.h"
#include "tests/support/Bytes.h"

using host::Host;
using host::InputError;
using host::OptionalLevel;
using testing_support::Bytes;

namespace {

const char* const kScene = R"({ "objects": [
  { "name": "Tower", "position": [40, 120, 15] },
  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
      { "name": "W0", "class": "SCOCameraSystemWaypoint", "position": [0, 0, 10],
        "attributes": { "PointsTo": "Tower", "Time2Next": 2000, "PauseTime": 500 } },
      { "name": "Gate", "position": [30, 10, 0] },
      { "name": "W1", "class": "SCOCameraSystemWaypoint", "position": [60, 20, 12],
        "orientation": [1, 0, 0, 0, 1, 0, 0, 0, 1],
        "attributes": { "Range": 0.1, "Roll": -0.0, "FOVFac": "NaN", "EaseIn": true,
                        "Time2Next": 4294967295 } } ] },
  { "name": "Cam", "class": "SCOCameraSystemIterator", "attributes": { "Path": "Flight" } } ] })";

std::unique_ptr<Host> makeHost() { return std::make_unique<Host>(SetIRTS, GetObjectFactories); }
/// The message loading JSON `text` (as "f.json") or a .sco `image` (as "f.sco") into a fresh host
/// is refused with.
std::string jsonRefusal(const std::string& text) {
    Host host(SetIRTS, GetObjectFactories);
    return refusal([&] { host::loadJsonScene(host, text, "f.json"); }).what();
}
std::string scoRefusal(const std::vector<std::uint8_t>& image) {
    Host host(SetIRTS, GetObjectFactories);
    return refusal([&] { host::loadScoScene(host, image, "f.sco"); }).what();
}
/// A host holding the scene of kScene.
std::unique_ptr<Host> sceneHost() {
    auto host = makeHost();
    host::loadJsonScene(*host, kScene, "scene.json");
    return host;
}

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

TEST(SceneFile, JsonBuildsTheSceneAndScoAndExportAreFixedPoints) {
    auto first = sceneHost();
    const Handle flight = first->find("Flight"), w0 = first->find("W0"), w1 = first->find("W1");
    EXPECT_EQ(first->descriptor(flight)->children(), (std::vector<Handle>{w0, first->find("Gate"), w1}));
    EXPECT_EQ(first->getReference(first->find("Cam"), "Path"), flight);
    EXPECT_EQ(first->getULong(w1, "Time2Next"), 4294967295u);
    // AfterLoad ran: the path refitted, so W0 was aimed at the tower, |(40, 120, 5)| away.
    EXPECT_NEAR(*first->getFloat(w0, "Range"), std::sqrt(40.0 * 40 + 120 * 120 + 5 * 5), 1e-4);

    // Magic, version 1, object count; per object the class, own and parent GUIDs, the name and
    // exactly the record the object's Serialize writes, each with its length.
    Bytes expected = Bytes().raw("CAMSCO\x1A\n", 8).u32(1).u32(6);
    const auto& factories = first->factories();  // path, iterator, waypoint; -1: a plain object
    const std::tuple<const char*, const char*, int> objects[] = {{"Tower", "", -1},   {"Flight", "", 0},
                                                                 {"W0", "Flight", 2}, {"Gate", "Flight", -1},
                                                                 {"W1", "Flight", 2}, {"Cam", "", 1}};
    for (const auto& [name, parentName, factory] : objects) {
        const Handle object = first->find(name), parent = *parentName ? first->find(parentName) : Handle();
        const _GUID classGuid = factory < 0 ? host::kPlainObjectClassGuid : factories[factory].classGuid;
        const std::vector<std::uint8_t> record = *first->save(object);
        expected.raw(&classGuid, 16).raw(&object.Guid, 16).raw(&parent.Guid, 16);
        expected.u32(std::strlen(name)).raw(name, std::strlen(name)).u32(record.size());
        expected.raw(record.data(), record.size());
    }
    const std::vector<std::uint8_t> image = host::sceneToScoImage(*first);
    EXPECT_EQ(image, expected.data);

    // Floats are the float the text denotes, without a detour through double rounding.
    const std::string text = host::sceneToJson(*first);
    for (const char* value : {"\"Roll\": -0.0,", "\"FOVFac\": \"NaN\",", "\"Range\": 0.1,"})
        EXPECT_NE(text.find(value), std::string::npos) << value;
    first.reset();
    auto fromText = makeHost();
    host::loadJsonScene(*fromText, text, "export.json");
    EXPECT_EQ(host::sceneToScoImage(*fromText), image);  // and so the JSON, written from the same records
    fromText.reset();
    auto fromImage = makeHost();
    host::loadScoScene(*fromImage, image, "scene.sco");
    EXPECT_EQ(host::sceneToScoImage(*fromImage), image) << "objects come back under their stored GUIDs";
}

TEST(SceneFile, KeyOrderAndReadingFromAFileChangeNothing) {
    // The loader reads a file twice without holding it; objects whose values come after their
    // children (the path's "attributes" after every waypoint), and names and classes after
    // everything else, must build the same scene as the canonical text.
    std::function<void(nlohmann::ordered_json&)> reverse = [&](nlohmann::ordered_json& value) {
        if (!value.is_structured()) return;
        for (auto& element : value) reverse(element);
        if (!value.is_object()) return;
        nlohmann::ordered_json keys = nlohmann::ordered_json::object();
        for (auto it = value.rbegin(); it != value.rend(); ++it) keys[it.key()] = *it;
        value = keys;
    };
    auto withPathAttributes = nlohmann::ordered_json::parse(kScene);
    withPathAttributes["objects"][1]["attributes"] = {{"ShowPath", false}};
    auto canonical = makeHost();
    host::loadJsonScene(*canonical, withPathAttributes.dump(), "scene.json");
    const std::string expected = host::sceneToJson(*canonical);

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("camsys-reversed-" + std::to_string(::getpid()) + ".json");
    reverse(withPathAttributes);
    std::ofstream(file) << withPathAttributes.dump(2);
    auto fromFile = makeHost();
    const std::vector<Handle> loaded = host::loadSceneFile(*fromFile, file.string());
    std::filesystem::remove(file);
    EXPECT_EQ(loaded.size(), 6u);
    EXPECT_EQ(host::sceneToJson(*fromFile), expected);

    // The first mistake in a DOM walk's order wins: an unknown key before a repeat, the repeat
    // before a later unknown key, an object before its children.
    const std::pair<const char*, const char*> firstMistakes[] = {
        {R"({"objects":[{"name":"A","bogus":1,"name":"B"}]})",
         "bogus: unknown key; an object has the keys name, class, "},
        {R"({"objects":[{"name":"A","name":"B","bogus":1}]})", "name: the key is given twice"},
        {R"({"objects":[{"children":[{"name":"B","bogus":1}],"name":"A","also":2}]})", "also: unknown key; an "},
    };
    for (const auto& [text, message] : firstMistakes)
        EXPECT_EQ(jsonRefusal(text).find(std::string("f.json: A: ") + message), 0u) << text;
}

TEST(SceneFile, TruncatedAndOverlongScoImagesAreRefused) {
    const std::vector<std::uint8_t> image = host::sceneToScoImage(*sceneHost());
    // Every truncation is refused, naming where it stopped.
    for (std::size_t length = 0; length < image.size(); ++length) {
        auto host = makeHost();
        const InputError error = refusal([&] { host::loadScoScene(*host, {image.data(), length}, "cut.sco"); });
        EXPECT_EQ(error.file(), "cut.sco");
        EXPECT_FALSE(error.attribute().empty()) << error.what();
    }
    // Bytes beyond what the image describes: one after the last object, and one more in the
    // first object's record (its length grown to hold it), which its Serialize leaves unread.
    std::vector<std::uint8_t> appended = image;
    appended.push_back(0);
    const std::size_t nameLength = image[16 + 48] | image[16 + 49] << 8;
    const std::size_t lengthAt = 16 + 48 + 4 + nameLength;  // Tower's record length, then its record
    std::vector<std::uint8_t> grown = image;
    grown[lengthAt] += 1;
    grown.insert(grown.begin() + static_cast<std::ptrdiff_t>(lengthAt + 4 + image[lengthAt]), 0);
    EXPECT_EQ(scoRefusal(appended), "f.sco: 1 bytes follow the last object (corrupt)");
    EXPECT_EQ(scoRefusal(grown), "f.sco: Tower: record: 1 bytes of the record were left unread (corrupt)");
}

TEST(SceneFile, JsonMistakesNameFileObjectAndAttribute) {
    // The command-line tests check the other mistakes.
    const std::pair<const char*, const char*> cases[] = {
        {R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":{"PauseTime":1.5}}]})",
         "f.json: W: PauseTime: expects an integer from 0 to 4294967295"},
        {R"({"objects":[{"name":"A"},{"name":"B","children":[{"name":"A"}]}]})",
         "f.json: A: name: the name is used by another object of the file"},
        {R"({"objects":[{"class":"SCOCameraSystemPath"}]})",
         "f.json: objects[0]: name: every object needs a name (a non-empty string)"},
    };
    for (auto [text, message] : cases) EXPECT_EQ(jsonRefusal(text), message) << text;

    // A key repeated thousands of times (about 150 KB) is refused as one repeat is, and as
    // quickly: the parse stays linear in the repeats. A cubic parse took tens of seconds here.
    for (const char* holder : {"object", "attributes"}) {
        const bool inAttributes = std::string(holder) == "attributes";
        std::string text = inAttributes ? R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":{)"
                                        : R"({"objects":[{"name":"A",)";
        for (int i = 0; i < 8000; ++i) text += inAttributes ? R"("Roll":1.5,)" : R"("position":[1,2,3],)";
        text += inAttributes ? R"("Roll":1.5}}]})" : R"("position":[1,2,3]}]})";
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(jsonRefusal(text), inAttributes ? "f.json: W: Roll: the attribute is given twice"
                                                  : "f.json: A: position: the key is given twice");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        EXPECT_LT(took.count(), 2.0) << holder;
    }
}

TEST(SceneFile, EveryNumberBeyondAFloatIsRefusedInOneWayAndObjectsStandSomewhere) {
    // Beyond a float, within a double or not, as a file's value and as an edit's.
    auto edited = makeHost();
    const Handle w =
        host::loadJsonScene(*edited, R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint"}]})", "w.json")[0];
    const std::string huge = "1" + std::string(400000, '0');
    for (const std::string& number :
         {std::string("1e39"), std::string("-1e39"), std::string("1e400"), std::string("-1e309"), huge}) {
        for (const bool asAttribute : {false, true}) {
            const std::string value = asAttribute ? R"("attributes":{"Range":2,"Roll":)" + number + "}"
                                                  : R"("position":[0,)" + number + ",0]";
            const std::string text = R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint",)" + value + "}]}";
            const std::string message =
                std::string("W: ") + (asAttribute ? "Roll" : "position") + ": the value is out of the range of a float";
            EXPECT_EQ(jsonRefusal(text), "f.json: " + message) << number.substr(0, 12);
            EXPECT_EQ(refusal([&] { host::readObjectEdit(*edited, w, "{" + value + "}", {}, "edit"); }).what(),
                      "edit: " + message)
                << number.substr(0, 12);
        }
    }
    // The largest float is a float. A plug-in value is taken raw (the plug-in stores what it is
    // given); where an object stands is not: NaN and infinities are refused in files and in .sco
    // images.
    const char* const taken = R"({"objects":[{"name":"Max","position":[3.4028235e38,0,0]},
        {"name":"W","class":"SCOCameraSystemWaypoint","attributes":{"Roll":"Infinity"}}]})";
    auto host = makeHost();
    EXPECT_NO_THROW(host::loadJsonScene(*host, taken, "taken.json"));
    const std::pair<const char*, const char*> places[] = {
        {R"("position":["NaN",0,0])", "position: the position"},
        {R"("position":[0,"-Infinity",0])", "position: the position"},
        {R"("orientation":[1,0,0,0,"Infinity",0,0,0,1])", "orientation: the orientation"}};
    for (const auto& [place, what] : places)
        EXPECT_EQ(jsonRefusal(std::string(R"({"objects":[{"name":"T",)") + place + "}]}"),
                  std::string("f.json: T: ") + what + " must be finite numbers (no NaN or infinity)");
    const Handle target = host::loadJsonScene(*host, R"({"objects":[{"name":"T","position":[1,2,3]}]})", "t.json")[0];
    _CCoordSystem<float> nowhere;
    nowhere.Origin.y = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(host->setObjectPos(target, nowhere));
    EXPECT_EQ(scoRefusal(host::sceneToScoImage(*host)),
              "f.sco: T: position: the position must be finite numbers (no NaN or infinity)");
}

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
        EXPECT_EQ(again.json, placed.json);
        EXPECT_EQ(again.sco, placed.sco);  // the level section too
    }
}

TEST(SceneLevel, MistakesAreRefusedNamingTheKey) {
    // The level's value, and the message after "f.json: level: ".
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
    for (auto [value, message] : cases)
        EXPECT_EQ(jsonRefusal(std::string(R"({"level": )") + value + ", " + kObjects + "}"),
                  "f.json: level: " + std::string(message));
    EXPECT_EQ(jsonRefusal(R"({"levels": "a", )" + kObjects + "}"),
              "f.json: levels: unknown key; a scene file has the keys level, objects");
}

TEST(SceneLevel, CorruptScoLevelSectionsAreRefused) {
    const std::vector<std::uint8_t> image = load(R"({"level": "t.glb", )" + kObjects + "}").sco;
    std::vector<std::uint8_t> bytes = image;
    std::fill_n(bytes.end() - 16, 4, 0);  // scale 0
    EXPECT_EQ(scoRefusal(bytes), "f.sco: level: scale: the scale must be a finite number above 0");
    EXPECT_EQ(scoRefusal(std::vector<std::uint8_t>(image.begin(), image.end() - 4)),
              "f.sco: level: position: only 0 of the 4 bytes it needs remain (truncated)");
    bytes = image;
    bytes[8] = 1;  // version 1 with a section after the objects
    EXPECT_EQ(scoRefusal(bytes), "f.sco: 25 bytes follow the last object (corrupt)");
    bytes[8] = 3;
    EXPECT_EQ(scoRefusal(bytes), "f.sco: format version: format version 3 is not supported (this reads 1 and 2)");
}
