// Editing through the studio's API (without sockets, through StudioServer::call) on a copy of the
// bundled example: every change equals a fresh load of the edited scene, undo gives back every
// record byte for byte, refused changes change nothing, and saving writes what the studio flies
// without overwriting what changed on disk.
#include <set>

#include "tests/studio/StudioHarness.h"

namespace {

using namespace studio_test;

/// Equal texts, or where they part (long answers would flood the log).
::testing::AssertionResult sameText(const std::string& a, const std::string& b) {
    if (a == b) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const std::size_t from = at < 60 ? 0 : at - 60;
    return ::testing::AssertionFailure() << "the texts (" << a.size() << " and " << b.size() << " bytes) part at " << at
                                         << ":\n  " << a.substr(from, 160) << "\n  " << b.substr(from, 160);
}

class StudioEditTest : public ExampleStudioTest {
protected:
    static constexpr const char* kViews[] = {"the scene", "the drawing", "the flight", "frames"};

    /// What the studio at `file` answers for the scene, the drawing and the flight. Without
    /// what depends on the order objects were made in, which a file does not keep: GUIDs, and
    /// the order of the drawing's groups and labels.
    static std::vector<std::string> views(Studio& at) {
        // Frames first: the studio's resume from where the flight before the change left the
        // iterator (moving a waypoint changes no times), the fresh one's fly from the activation.
        std::string frames;
        for (const char* t : {"600", "3001", "7777", "20000"}) frames += at.text(std::string("/api/frame?t=") + t);
        Json scene = Json::parse(at.text("/api/scene"));
        scene.erase("file");
        for (Json& object : scene["objects"]) object.erase("guid");
        Json draw = Json::parse(at.text("/api/draw"));
        for (const char* list : {"groups", "labels"}) {
            Json::array_t& items = draw[list].get_ref<Json::array_t&>();
            std::sort(items.begin(), items.end(), [](const Json& a, const Json& b) { return a.dump() < b.dump(); });
        }
        return {scene.dump(), draw.dump(), at.text("/api/flight"), frames};
    }

    /// The scene, drawing and flight equal those of a fresh host loading what the studio holds.
    /// (The fresh host is made after the studio's answers: hosts of one plug-in nest.)
    void expectAsFreshlyLoaded(const std::string& what) {
        const fs::path exported = folder / "exported.json";
        writeText(exported, host::sceneToJson(studio->host));
        const std::vector<std::string> live = views(*studio);
        std::vector<std::string> loaded;
        {
            Studio fresh(exported);
            loaded = views(fresh);
        }
        for (std::size_t i = 0; i < live.size(); ++i)
            EXPECT_TRUE(sameText(live[i], loaded[i])) << what << ": " << kViews[i];
        fs::remove(exported);
    }
};

/// Changes of every kind, with what each must show.
const std::vector<std::tuple<std::string, std::string, std::string>> kChanges = {
    {"PATCH", "/api/objects/W2", R"({"position": [12, -30, 9.5]})"},
    {"PATCH", "/api/objects/W1", R"({"attributes": {"Time2Next": 900, "EaseIn": true, "Roll": 0.25}})"},
    {"PATCH", "/api/objects/W3", R"({"attributes": {"PointsTo": "Balloon", "FOVFac": "Infinity"}})"},
    {"POST", "/api/paths/Flight/retime", R"({"even": true})"},
    {"POST", "/api/paths/Flight/retime", R"({"speed": 12.5, "from": "W1", "to": "W5"})"},
    // Several edits of several kinds, later ones naming what earlier ones made: one change.
    {"POST", "/api/batch", R"({"label": "several", "edits": [
        {"op": "patch", "name": "W1", "position": [3, 4, 5], "attributes": {"IsOn": false}},
        {"op": "create", "class": "SCOCameraSystemWaypoint", "name": "Wb", "parent": "Flight", "index": 2,
         "position": [2, 2, 8]},
        {"op": "patch", "name": "Wb", "rename": "Wc", "attributes": {"Time2Next": 400}},
        {"op": "retime", "name": "Flight", "even": true},
        {"op": "move", "name": "Wc", "parent": "Flight", "index": 0},
        {"op": "create", "copyOf": "W1", "parent": "Flight"},
        {"op": "delete", "name": "Wc"}]})"},
    {"PATCH", "/api/objects/Tower", R"({"position": [1, 2, 3], "orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1]})"},
    {"POST", "/api/objects", R"({"class": "SCOCameraSystemWaypoint", "name": "W7", "parent": "Flight", "index": 5,
                                 "position": [20, 40, 12], "attributes": {"Time2Next": 700}})"},
    {"POST", "/api/objects", R"({"copyOf": "W3", "name": "W3b", "parent": "Flight", "index": 9})"},
    {"POST", "/api/objects", R"({"name": "Lamp", "position": [5, 5, 5]})"},
    {"POST", "/api/objects/W5/move", R"({"parent": "Flight", "index": 1})"},
    {"PATCH", "/api/objects/W6", R"({"name": "Last", "attributes": {"IsOn": false}})"},
    {"DELETE", "/api/objects/W4", ""},
    {"DELETE", "/api/objects/Tower", ""},  // W0 looked at it: then at nothing
};

}  // namespace

TEST_F(StudioEditTest, EveryChangeEqualsAFreshLoadOfTheEditedSceneAndUndoGivesBackEveryRecord) {
    const std::vector<std::uint8_t> original = studio->image();
    const std::string originalFlight = studio->text("/api/flight");  // as the page does first
    std::vector<std::vector<std::uint8_t>> after;
    for (const auto& [method, target, body] : kChanges) {
        SCOPED_TRACE(method + " " + target + " " + body);
        const auto [status, answer] = studio->call(method, target, body);
        ASSERT_EQ(status, 200) << answer.dump();
        EXPECT_EQ(answer["revision"], after.size() + 1);
        EXPECT_TRUE(answer["draw"].contains("groups") && answer["messages"].is_array());
        EXPECT_NE(studio->image(), after.empty() ? original : after.back()) << "the change did not take";
        after.push_back(studio->image());
        expectAsFreshlyLoaded(method + " " + target);
    }
    // The steps of one drag are one step of the history.
    for (const int x : {1, 2, 3}) {
        const Json step = {{"position", {x, 0, 10}}, {"gesture", "drag-1"}};
        ASSERT_EQ(studio->call("PATCH", "/api/objects/W0", step.dump()).first, 200);
    }
    after.push_back(studio->image());
    EXPECT_EQ(studio->call("GET", "/api/history").second["undo"].back(), "move W0");

    for (std::size_t i = after.size(); i-- > 0;) {
        ASSERT_EQ(studio->call("POST", "/api/undo").first, 200);
        ASSERT_EQ(studio->image(), i == 0 ? original : after[i - 1]) << "undo down to step " << i;
    }
    EXPECT_TRUE(sameText(studio->text("/api/flight"), originalFlight));
    EXPECT_EQ(studio->call("POST", "/api/undo").first, 409) << "nothing is left to undo";
    for (std::size_t i = 0; i < after.size(); ++i) {
        ASSERT_EQ(studio->call("POST", "/api/redo").first, 200);
        ASSERT_EQ(studio->image(), after[i]) << "redo of step " << i;
    }
}

TEST_F(StudioEditTest, RefusedChangesChangeNothing) {
    const std::vector<std::uint8_t> before = studio->image();
    const std::string flight = studio->text("/api/flight");
    struct Refusal {
        std::string method, target, body;
        int status;
        std::string object, attribute;
    };
    const std::vector<Refusal> refusals = {
        {"PATCH", "/api/objects/Nobody", R"({"position": [0, 0, 0]})", 400, "Nobody", ""},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Time2Next": -1}})", 400, "W1", "Time2Next"},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 1, "Time2Next": "soon"}})", 400, "W1", "Time2Next"},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Colour": 1}})", 400, "W1", "Colour"},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"PointsTo": "Nowhere"}})", 400, "W1", "PointsTo"},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"IsOn": 1}})", 400, "W1", "IsOn"},
        {"PATCH", "/api/objects/W1", R"({"position": [0, 0]})", 400, "W1", "position"},
        {"PATCH", "/api/objects/W1", R"({"position": ["NaN", 0, 0]})", 400, "W1", "position"},
        {"PATCH", "/api/objects/W1", R"({"position": [0, 1e400, 0]})", 400, "W1", "position"},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Roll": -1e309}})", 400, "W1", "Roll"},
        {"PATCH", "/api/objects/W1", R"({"position": [0, 0, 0], "name": "W2"})", 400, "W1", "name"},
        {"PATCH", "/api/objects/W1", R"({"name": ""})", 400, "W1", "name"},
        {"PATCH", "/api/objects/W1", Json{{"name", std::string(129, 'n')}}.dump(), 400, "W1", "name"},
        // W2 looks at Statue: a refit would turn it back at once.
        {"PATCH", "/api/objects/W2", R"({"orientation": [0, 1, 0, -1, 0, 0, 0, 0, 1]})", 400, "W2", ""},
        {"PATCH", "/api/objects/W1", R"({"speed": 2})", 400, "", ""},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 1, "Roll": 2}})", 400, "W1", "Roll"},
        {"PATCH", "/api/objects/W1", R"([1, 2])", 400, "", ""},
        {"PATCH", "/api/objects/W1", R"({"position": )", 400, "", ""},
        {"PATCH", "/api/objects/W1", R"({"position": [0, 0, 0], "revision": 7})", 409, "", ""},
        {"POST", "/api/objects", R"({"class": "Teapot", "name": "T"})", 400, "", "class"},
        {"POST", "/api/objects", R"({"name": "Tower"})", 400, "", "name"},
        {"POST", "/api/objects", R"({"name": "X", "parent": "Nowhere"})", 400, "Nowhere", ""},
        {"POST", "/api/objects", R"({"name": "X", "attributes": {"Time2Next": 5}})", 400, "X", "Time2Next"},
        {"POST", "/api/objects", R"({"name": "X", "index": -1})", 400, "", ""},
        {"POST", "/api/objects/Flight/move", R"({"parent": "W1", "index": 0})", 400, "Flight", "parent"},
        {"POST", "/api/objects/W1/move", R"({"parent": "Flight"})", 400, "", ""},
        {"POST", "/api/objects/Chase/move", R"({"parent": null, "index": 0})", 400, "Chase", "parent"},
        {"DELETE", "/api/objects/Nobody", "", 400, "Nobody", ""},
        {"POST", "/api/paths/Nowhere/retime", R"({"even": true})", 400, "Nowhere", ""},
        {"POST", "/api/paths/Cam/retime", R"({"even": true})", 400, "Cam", ""},
        {"POST", "/api/paths/Flight/retime", R"({"speed": 0})", 400, "Flight", "speed"},
        {"POST", "/api/paths/Flight/retime", R"({"speed": 2, "even": true})", 400, "", ""},
        {"POST", "/api/paths/Flight/retime", R"({"even": true, "from": "W4", "to": "W1"})", 400, "Flight", "to"},
        // A batch is all or nothing: the failing edit is named, the ones before it are undone.
        {"POST", "/api/batch",
         R"({"label": "x", "edits": [{"op": "delete", "name": "W2"}, {"op": "patch", "name": "W2", "position": [0, 0, 0]}]})",
         400, "W2", ""},
        {"POST", "/api/batch",
         R"({"label": "x", "edits": [{"op": "patch", "name": "W1", "position": [0, 0, 0]},
                                      {"op": "patch", "name": "W3", "attributes": {"Time2Next": -4}}]})",
         400, "W3", "Time2Next"},
        {"POST", "/api/batch", R"({"label": "x", "edits": [{"op": "paint", "name": "W1"}]})", 400, "", ""},
        {"POST", "/api/batch", R"({"label": "x", "edits": [{"op": "delete"}]})", 400, "", ""},
        {"POST", "/api/batch", R"({"label": "x", "edits": []})", 400, "", ""},
        {"POST", "/api/batch", R"({"edits": [{"op": "delete", "name": "W1"}]})", 400, "", ""},
        {"POST", "/api/redo", "", 409, "", ""},
        {"PUT", "/api/objects/W1", "{}", 404, "", ""},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.method + " " + r.target + " " + r.body);
        const auto [status, answer] = studio->call(r.method, r.target, r.body);
        EXPECT_EQ(status, r.status) << answer.dump();
        ASSERT_TRUE(answer.is_object() && answer.contains("error")) << answer.dump();
        EXPECT_TRUE(r.object.empty() || answer.value("object", "") == r.object) << answer.dump();
        EXPECT_TRUE(r.attribute.empty() || answer.value("attribute", "") == r.attribute) << answer.dump();
        ASSERT_EQ(studio->image(), before);
    }
    EXPECT_TRUE(sameText(studio->text("/api/flight"), flight));
    EXPECT_EQ(studio->call("GET", "/api/history").second["revision"], 0);
}

TEST_F(StudioEditTest, FlightsSentInPartsAreTheWholeFlightsRows) {
    // `between`: a request made between two parts (another flight's frame).
    const auto check = [&](const std::string& query, std::size_t size, const std::string& between = {}) {
        SCOPED_TRACE(query + " in parts of " + std::to_string(size));
        const Json whole = Json::parse(studio->text("/api/flight?" + query));
        // The same value again: the flight flown is forgotten, the parts are flown afresh.
        ASSERT_EQ(studio->call("PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 3}})").first, 200);
        Json joined = {{"data", Json::object()}, {"events", Json::array()}};
        for (std::size_t from = 0;; from += size) {
            const std::string range = "&fromTick=" + std::to_string(from) + "&ticks=" + std::to_string(size);
            const Json part = Json::parse(studio->text("/api/flight?" + query + range));
            ASSERT_EQ(part["fromTick"], from);
            for (const auto& [column, values] : part["data"].items())
                for (const Json& value : values) joined["data"][column].push_back(value);
            if (part["complete"]) {
                joined["events"] = part["events"];
                EXPECT_EQ(part["hitLimit"], whole["hitLimit"]);
                break;
            }
            ASSERT_EQ(part["rows"], size) << "a part short of its size completes the flight";
            ASSERT_TRUE(part["events"].empty());
            ASSERT_TRUE(between.empty() || studio->call("GET", between).first == 200) << between;
        }
        EXPECT_TRUE(joined["data"] == whole["data"]) << "the rows differ";
        EXPECT_EQ(joined["events"], whole["events"]);
    };
    // Parts of odd sizes, and a flight whose clock wraps past 2^32 on the way.
    ASSERT_EQ(studio->call("PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 3}})").first, 200);
    for (const std::string query : {"iterator=Cam", "iterator=Chase&start=4294964000&step=17"}) {
        check(query, 7);
        check(query, 100);
    }
    // Ticks whose eye hangs on the eyes before them: samples the iterator cannot place (a
    // waypoint as far as a float goes overflows the curves, and the last eye is kept), and a
    // look at a target standing where the camera pauses (the last axes are kept).
    ASSERT_EQ(studio->call("PATCH", "/api/objects/W5", R"({"position": [3e38, 0, 0]})").first, 200);
    check("iterator=Cam", 7);
    check("iterator=Cam", 50);
    const Json scene = Json::parse(studio->text("/api/scene"));
    const auto w3 =
        std::find_if(scene["objects"].begin(), scene["objects"].end(), [](const Json& o) { return o["name"] == "W3"; });
    ASSERT_EQ(studio->call("PATCH", "/api/objects/Balloon", Json{{"position", (*w3)["position"]}}.dump()).first, 200);
    check("iterator=Chase", 7);
    // Plug-in objects standing in a gap: once their activation is seen, parts are flown from the
    // start, also when frames of another flight come in between.
    ASSERT_EQ(studio->call("POST", "/api/objects/Chase/move", R"({"parent": "Flight", "index": 3})").first, 200);
    check("iterator=Cam", 100, "/api/frame?iterator=Cam&start=1&t=50");
    const std::string inner = R"({"class": "SCOCameraSystemPath", "name": "Inner", "parent": "Flight", "index": 3})";
    ASSERT_EQ(studio->call("POST", "/api/objects", inner).first, 200);
    check("iterator=Cam", 16);  // its activation comes in the third part, flown resumed
    check("iterator=Cam&maxTicks=150", 64);
}

TEST_F(StudioEditTest, SaveWritesWhatTheStudioFliesAndNeverOverwritesChangesOnDisk) {
    ASSERT_EQ(studio->call("PATCH", "/api/objects/W2", R"({"position": [12, -30, 9.5]})").first, 200);
    auto [status, saved] = studio->call("POST", "/api/save", "{}");
    ASSERT_EQ(status, 200) << saved.dump();
    EXPECT_EQ(readText(file), host::sceneToJson(studio->host));
    // The saved file flies as the studio flies it (and as `camsys fly` does: edit.test.mjs).
    const std::string flown = studio->text("/api/flight");
    EXPECT_TRUE(sameText(Studio(file).text("/api/flight"), flown));

    // Another editor writes the file: saving says so, overwriting is a choice.
    ASSERT_EQ(studio->call("PATCH", "/api/objects/W2", R"({"position": [13, -30, 9.5]})").first, 200);
    const std::string theirs = readText(file) + "\n";
    writeText(file, theirs);
    EXPECT_EQ(studio->call("GET", "/api/status").second["changedOnDisk"], true);
    std::tie(status, saved) = studio->call("POST", "/api/save", "{}");
    EXPECT_EQ(status, 409);
    EXPECT_EQ(saved["changedOnDisk"], true);
    EXPECT_EQ(readText(file), theirs);
    EXPECT_EQ(studio->call("POST", "/api/save", R"({"overwrite": true})").first, 200);
    EXPECT_EQ(readText(file), host::sceneToJson(studio->host));

    // Save as: plain names in the same folder only, .sco by its name, never onto another file.
    for (const char* name : {"../up.json", "sub/x.json", ".hidden.json", "x.txt", "", "a\\b.json"})
        EXPECT_EQ(studio->call("POST", "/api/save", Json{{"as", name}}.dump()).first, 400) << name;
    ASSERT_EQ(studio->call("POST", "/api/save", R"({"as": "copy.sco"})").first, 200);
    const std::string image = readText(folder / "copy.sco");
    EXPECT_TRUE(host::isScoImage(std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size())));
    EXPECT_EQ(studio->call("GET", "/api/status").second["format"], "sco");
    EXPECT_EQ(studio->call("POST", "/api/save", R"({"as": "scene.json"})").first, 409) << "scene.json exists";
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"scene.json", "copy.sco"})) << "no temporary file stays behind";

    // Reload takes the file's scene, and is undone like any change.
    const std::vector<std::uint8_t> edited = studio->image();
    ASSERT_EQ(studio->call("POST", "/api/save", R"({"as": "other.json"})").first, 200);
    writeText(folder / "other.json", readText(CAMSYS_EXAMPLES "/flythrough.json"));
    ASSERT_EQ(studio->call("POST", "/api/reload").first, 200);
    // (As JSON: objects made from a JSON file get new GUIDs.)
    const std::string reloaded = host::sceneToJson(studio->host);
    {
        Studio example(CAMSYS_EXAMPLES "/flythrough.json");
        EXPECT_EQ(reloaded, host::sceneToJson(example.host));
    }
    EXPECT_EQ(studio->call("GET", "/api/status").second["unsaved"], false);
    ASSERT_EQ(studio->call("POST", "/api/undo").first, 200);
    EXPECT_EQ(studio->image(), edited);
}

TEST_F(StudioEditTest, ANewFileIsUnsavedUntilItsFirstSaveAndAnEmptySceneFliesNothing) {
    for (const char* name : {"new.json", "new.sco"}) {
        SCOPED_TRACE(name);
        Studio fresh(folder / name);
        Json status = fresh.call("GET", "/api/status").second;
        EXPECT_EQ(status["unsaved"], true);
        EXPECT_EQ(status["changedOnDisk"], false) << "nothing was there to change";
        EXPECT_EQ(status["format"], std::string(name).ends_with(".sco") ? "sco" : "json");
        auto [code, saved] = fresh.call("POST", "/api/save", "{}");
        ASSERT_EQ(code, 200) << saved.dump();
        EXPECT_EQ(saved["unsaved"], false);
        const std::string flown = fresh.text("/api/flight");  // before a later host comes: hosts nest
        Studio reopened(folder / name);
        EXPECT_TRUE(sameText(reopened.text("/api/flight"), flown));
    }

    // A scene with nothing in it opens; its flight is refused until a path with waypoints and an
    // iterator are there (built up on the page: studio.test.mjs).
    writeText(folder / "empty.json", R"({"objects": []})");
    Studio empty(folder / "empty.json");
    const Json scene = empty.call("GET", "/api/scene").second;
    EXPECT_TRUE(scene["iterators"].empty() && scene["iterator"].is_null()) << scene.dump();
    auto [code, refused] = empty.call("GET", "/api/flight");
    EXPECT_EQ(code, 400);
    EXPECT_EQ(refused["error"], "the scene has no iterator to fly");
}

TEST_F(StudioEditTest, TheSceneIsSavedWhileTheHistoryStandsAtTheSavedScene) {
    EXPECT_EQ(studio->call("GET", "/api/status").second["unsaved"], false);
    // Each step and whether the scene is unsaved after it. Undoing to the file's scene or to the
    // saved one makes it saved; a drag's steps undo as one; another change where the saved one
    // was undone is another scene, though as many steps deep.
    const std::tuple<const char*, const char*, const char*, bool> steps[] = {
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 40}})", true},
        {"POST", "/api/undo", "", false},
        {"POST", "/api/redo", "", true},
        {"POST", "/api/save", "{}", false},
        {"POST", "/api/undo", "", true},
        {"POST", "/api/redo", "", false},
        {"PATCH", "/api/objects/W0", R"({"position": [1, 0, 10], "gesture": "g"})", true},
        {"PATCH", "/api/objects/W0", R"({"position": [2, 0, 10], "gesture": "g"})", true},
        {"POST", "/api/undo", "", false},
        {"POST", "/api/undo", "", true},
        {"PATCH", "/api/objects/W1", R"({"attributes": {"Roll": 41}})", true}};
    for (const auto& [method, target, body, unsaved] : steps) {
        const auto [status, answer] = studio->call(method, target, body);
        ASSERT_EQ(status, 200) << method << " " << target << ": " << answer.dump();
        EXPECT_EQ(studio->call("GET", "/api/status").second["unsaved"], unsaved)
            << method << " " << target << " " << body;
    }
    EXPECT_TRUE(studio->call("GET", "/api/history").second["redo"].empty());
}

TEST_F(StudioEditTest, DeletingATargetNamesTheReferencesItClears) {
    // Tower's referrers (W0, W3, W5 and W6 look at it) and what deleting it clears, the page names
    // (multiselect.test.mjs). References from inside a deleted object go with it; those to its
    // children count: both iterators fly Flight.
    const auto [status, referrers] = studio->call("GET", "/api/objects/Flight/referrers");
    ASSERT_EQ(status, 200) << referrers.dump();
    EXPECT_EQ(referrers["referrers"], Json::parse(R"([{"object": "Cam", "attribute": "Path", "target": "Flight"},
        {"object": "Chase", "attribute": "Path", "target": "Flight"}])"));
    EXPECT_EQ(studio->call("GET", "/api/objects/Nobody/referrers").first, 400);
    EXPECT_EQ(studio->call("DELETE", "/api/objects/Gate").second["cleared"], Json::array());
}
