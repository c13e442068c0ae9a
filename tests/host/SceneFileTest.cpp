// Scene files in-process: JSON loading and export, the .sco image, and the runtime's restoring of
// objects under their stored GUIDs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/Host.h"
#include "host/InProcessModule.h"
#include "host/SceneFile.h"

using host::Host;
using host::SceneError;

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

std::vector<std::string> names(const Host& host, const std::vector<Handle>& handles) {
    std::vector<std::string> result;
    for (const Handle& h : handles) result.push_back(host.nameOf(h));
    return result;
}

/// The SceneError that `load` throws, or a failure.
template <class Load>
SceneError refusal(Load load) {
    try {
        load();
    } catch (const SceneError& error) {
        return error;
    }
    ADD_FAILURE() << "no SceneError";
    return SceneError("", "", "", "");
}

}  // namespace

TEST(SceneFile, RuntimeRestoresObjectsUnderTheirGuids) {
    auto host = makeHost();
    host::Runtime& runtime = host->runtime();
    auto plain = [](const CGUID& g, const CGUID& s, ISCODescriptor* d) { return new PlainRtsObject(g, s, d); };
    // {7-0000-0000-484F-535400000001} is our own form: the counter moves past 7.
    const _GUID seventh{7, 0, 0, {'H', 'O', 'S', 'T', 0, 0, 0, 1}};
    const _GUID foreign{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const Handle restored = runtime.addWithGuid(seventh, "seven", Handle(), host::ObjectKind::Plain, plain);
    const Handle child = runtime.addWithGuid(foreign, "foreign", restored, host::ObjectKind::Plain, plain);
    EXPECT_EQ(restored, Handle(seventh));
    EXPECT_EQ(host->object(restored)->Self, Handle(seventh));
    EXPECT_EQ(host->descriptor(restored)->children(), std::vector<Handle>{child});
    const Handle fresh = host->createPlain("fresh");
    EXPECT_EQ(fresh.Guid.Data1, 8u);
    EXPECT_THROW(runtime.addWithGuid(seventh, "again", Handle(), host::ObjectKind::Plain, plain),
                 std::invalid_argument);
    EXPECT_THROW(runtime.addWithGuid(_GUID{}, "null", Handle(), host::ObjectKind::Plain, plain), std::invalid_argument);
    EXPECT_THROW(runtime.addWithGuid(_GUID{99, 0, 0, {}}, "seven", Handle(), host::ObjectKind::Plain, plain),
                 std::invalid_argument);
}

TEST(SceneFile, JsonBuildsTheSceneThroughTheAttributeTables) {
    auto host = makeHost();
    const std::vector<Handle> made = host::loadJsonScene(*host, kScene, "scene.json");
    EXPECT_EQ(names(*host, made), (std::vector<std::string>{"Tower", "Flight", "W0", "Gate", "W1", "Cam"}));
    const Handle flight = host->find("Flight"), w0 = host->find("W0"), w1 = host->find("W1");
    EXPECT_EQ(host->descriptor(flight)->children(), (std::vector<Handle>{w0, host->find("Gate"), w1}));
    EXPECT_EQ(host->plainObject(host->find("Tower"))->ObjectPos.Origin.y, 120.0f);
    EXPECT_EQ(host->getReference(host->find("Cam"), "Path"), flight);
    EXPECT_EQ(host->getULong(w1, "Time2Next"), 4294967295u);
    // Floats are the float the text denotes, without a detour through double rounding.
    EXPECT_EQ(host->getFloat(w1, "Range"), 0.1f);
    EXPECT_TRUE(std::signbit(*host->getFloat(w1, "Roll")));
    EXPECT_TRUE(std::isnan(*host->getFloat(w1, "FOVFac")));
    // AfterLoad ran: the path refitted, so W0 was aimed at the tower, |(40, 120, 5)| away.
    EXPECT_NEAR(*host->getFloat(w0, "Range"), std::sqrt(40.0 * 40 + 120 * 120 + 5 * 5), 1e-4);
    EXPECT_FALSE(host->object(w0)->PendingAfterLoad);
}

TEST(SceneFile, ExportIsAFixedPointThroughJsonAndSco) {
    auto first = makeHost();
    host::loadJsonScene(*first, kScene, "scene.json");
    const std::string text = host::exportJson(*first);
    EXPECT_NE(text.find("\"Roll\": -0.0,"), std::string::npos);
    EXPECT_NE(text.find("\"FOVFac\": \"NaN\","), std::string::npos);
    EXPECT_NE(text.find("\"Range\": 0.1,"), std::string::npos);
    const std::vector<std::uint8_t> image = host::saveScoImage(*first);
    first.reset();

    auto fromText = makeHost();
    host::loadJsonScene(*fromText, text, "export.json");
    EXPECT_EQ(host::exportJson(*fromText), text);
    EXPECT_EQ(host::saveScoImage(*fromText), image);
    fromText.reset();

    auto fromImage = makeHost();
    host::loadScoScene(*fromImage, image, "scene.sco");
    EXPECT_EQ(host::exportJson(*fromImage), text);
}

TEST(SceneFile, ScoImageHasTheDocumentedLayout) {
    auto host = makeHost();
    host::loadJsonScene(*host, kScene, "scene.json");
    const std::vector<std::uint8_t> image = host::saveScoImage(*host);
    ASSERT_GE(image.size(), 16u);
    EXPECT_EQ(std::memcmp(image.data(), "CAMSCO\x1A\n", 8), 0);
    const std::uint8_t versionAndCount[8] = {1, 0, 0, 0, 6, 0, 0, 0};
    EXPECT_EQ(std::memcmp(image.data() + 8, versionAndCount, 8), 0);

    // Walk the objects: GUIDs, name, then exactly the record the object's Serialize writes.
    std::size_t at = 16;
    auto word = [&] {
        const ULong w =
            ULong{image[at]} | ULong{image[at + 1]} << 8 | ULong{image[at + 2]} << 16 | ULong{image[at + 3]} << 24;
        at += 4;
        return w;
    };
    const std::vector<std::string> order{"Tower", "Flight", "W0", "Gate", "W1", "Cam"};
    const std::vector<std::string> parents{"", "", "Flight", "Flight", "Flight", ""};
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(order[i]);
        const Handle object = host->find(order[i]);
        _GUID expectedClass = host::kPlainObjectClassGuid;
        for (const host::FactoryInfo& f : host->factories())
            if (host->runtime().kind(object) == host::ObjectKind::Module &&
                f.className == host->attributes(object).front().className)
                expectedClass = f.classGuid;
        EXPECT_EQ(std::memcmp(image.data() + at, &expectedClass, 16), 0);  // little-endian machine
        EXPECT_EQ(std::memcmp(image.data() + at + 16, &object.Guid, 16), 0);
        const Handle parent = parents[i].empty() ? Handle() : host->find(parents[i]);
        EXPECT_EQ(std::memcmp(image.data() + at + 32, &parent.Guid, 16), 0);
        at += 48;
        const ULong nameLength = word();
        EXPECT_EQ(std::string(image.begin() + at, image.begin() + at + nameLength), order[i]);
        at += nameLength;
        const ULong recordLength = word();
        EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + at, image.begin() + at + recordLength),
                  *host->save(object));
        at += recordLength;
    }
    EXPECT_EQ(at, image.size());
}

TEST(SceneFile, CorruptScoImagesAreRefusedNeverCrash) {
    std::vector<std::uint8_t> image;
    {
        auto host = makeHost();
        host::loadJsonScene(*host, kScene, "scene.json");
        image = host::saveScoImage(*host);
    }
    // Every truncation is refused, naming where it stopped.
    for (std::size_t length = 0; length < image.size(); ++length) {
        auto host = makeHost();
        const std::span<const std::uint8_t> prefix(image.data(), length);
        const SceneError error = refusal([&] { host::loadScoScene(*host, prefix, "cut.sco"); });
        EXPECT_EQ(error.file(), "cut.sco");
        EXPECT_FALSE(error.attribute().empty()) << error.what();
    }
    // A record its Serialize refuses (the waypoint's version 1 made 2) names the object.
    {
        auto host = makeHost();
        host::loadJsonScene(*host, kScene, "scene.json");
        const std::vector<std::uint8_t> record = *host->save(host->find("W0"));
        std::vector<std::uint8_t> bad = image;
        const auto where = std::search(bad.begin(), bad.end(), record.begin(), record.end());
        ASSERT_NE(where, bad.end());
        *where = 2;
        auto fresh = makeHost();
        const SceneError error = refusal([&] { host::loadScoScene(*fresh, bad, "bad.sco"); });
        EXPECT_EQ(error.object(), "W0");
        EXPECT_EQ(error.attribute(), "record");
    }
    // Random damage either loads or is refused; the seed is fixed so a failure repeats.
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 120; ++trial) {
        std::vector<std::uint8_t> damaged = image;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f)
            damaged[16 + random() % (damaged.size() - 16)] = static_cast<std::uint8_t>(random());
        auto host = makeHost();
        try {
            host::loadScoScene(*host, damaged, "damaged.sco");
        } catch (const SceneError&) {
        }
    }
}

TEST(SceneFile, JsonMistakesNameFileObjectAndAttribute) {
    struct Case {
        const char* text;
        const char* object;
        const char* attribute;
        const char* reason;  ///< a part of the reason
    };
    const Case cases[] = {
        {R"({"objects":[{"name":"A","class":"Crane"}]})", "A", "class", "SCOCameraSystemWaypoint"},
        {R"({"objects":[{"name":"P","class":"SCOCameraSystemPath","attributes":{"Shw":1}}]})", "P", "Shw",
         "MinBound, MaxBound, ShowPath"},
        {R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":{"IsOn":1}}]})", "W", "IsOn",
         "true or false"},
        {R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":{"PauseTime":1.5}}]})", "W",
         "PauseTime", "integer"},
        {R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":{"Roll":-1e39}}]})", "W", "Roll",
         "range"},
        {R"({"objects":[{"name":"I","class":"SCOCameraSystemIterator","attributes":{"Path":"Nowhere"}}]})", "I", "Path",
         "\"Nowhere\""},
        {R"({"objects":[{"name":"A"},{"name":"B","children":[{"name":"A"}]}]})", "A", "name", "used"},
        {R"({"objects":[{"name":"A","position":[1,2,3],"position":[4,5,6]}]})", "A", "position", "twice"},
        {R"({"objects":[{"class":"SCOCameraSystemPath"}]})", "objects[0]", "name", "name"},
        {"{\"objects\":[\n\n  {\"name\": nope}]}", "", "", "line 3, column"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto host = makeHost();
        const SceneError error = refusal([&] { host::loadJsonScene(*host, c.text, "broken.json"); });
        EXPECT_EQ(error.file(), "broken.json");
        EXPECT_EQ(error.object(), c.object);
        EXPECT_EQ(error.attribute(), c.attribute);
        EXPECT_NE(error.reason().find(c.reason), std::string::npos) << error.reason();
    }
}
