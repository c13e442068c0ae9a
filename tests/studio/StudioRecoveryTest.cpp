// The recovery journal through the studio's API (StudioServer::call) on a copy of the example: a
// studio that ends without saving (destroyed here as a killed one would end: nothing runs at its
// exit) leaves the scene beside the file, the next one recovers exactly the edited scene, saving
// removes the journal, and a journal made to another version of the file is refused and kept.
#include <thread>

#include "studio/server/Journal.h"
#include "tests/studio/StudioHarness.h"

namespace {

using namespace studio_test;

/// FNV-1a of 64 bits, written out from its definition.
std::string fnv1a64(const std::string& bytes) {
    unsigned long long hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", hash);
    return text;
}

/// A scene file in a studio that keeps its recovery journal.
struct Journaled : Studio {
    explicit Journaled(const fs::path& file) : Studio(file, [](studio::StudioOptions& o) { o.journal = true; }) {}
};

Json* objectNamed(Json& objects, const std::string& name) {
    for (Json& object : objects) {
        if (object["name"] == name) return &object;
        if (object.contains("children"))
            if (Json* found = objectNamed(object["children"], name)) return found;
    }
    return nullptr;
}

class StudioRecoveryTest : public studio_test::ExampleCopyTest {
protected:
    void SetUp() override {
        ExampleCopyTest::SetUp();
        journal = folder / ".scene.json.camsys-recovery";
        original = readText(file);
    }

    /// The edits below made to the file's JSON by hand, loaded afresh: the flight and the scene
    /// the studio must show.
    std::pair<std::string, std::string> editedByHand() {
        Json scene = Json::parse(original);
        (*objectNamed(scene["objects"], "W2"))["position"] = {12, -30, 9.5};
        (*objectNamed(scene["objects"], "W1"))["attributes"]["Time2Next"] = 900;
        const fs::path edited = folder / "edited.json";
        writeText(edited, scene.dump());
        Studio fresh(edited);
        return {fresh.text("/api/flight"), host::sceneToJson(fresh.host)};
    }

    static void edit(Studio& studio) {
        ASSERT_EQ(studio.call("PATCH", "/api/objects/W2", R"({"position": [12, -30, 9.5]})").first, 200);
        ASSERT_EQ(studio.call("PATCH", "/api/objects/W1", R"({"attributes": {"Time2Next": 900}})").first, 200);
    }

    fs::path journal;
    std::string original;
};

}  // namespace

TEST_F(StudioRecoveryTest, TheJournalHoldsTheSceneWhileItHasUnsavedChanges) {
    Journaled studio(file);
    EXPECT_FALSE(fs::exists(journal)) << "a journal before any change";
    edit(studio);
    // The first line names the file's version as loaded and the time; the rest is the scene as
    // saving it writes it, a scene file of its own.
    const std::string text = readText(journal);
    const std::size_t line = text.find('\n');
    EXPECT_TRUE(text.starts_with("camsys-recovery 1 base=fnv1a64:" + fnv1a64(original) + " time=20"))
        << text.substr(0, line);
    EXPECT_EQ(text.substr(line + 1), host::sceneToJson(studio.host));
    EXPECT_EQ(text.substr(line + 1), studio.text("/api/scene/file"));

    // An undo back to the saved scene is still an unsaved change: the journal follows it.
    ASSERT_EQ(studio.call("POST", "/api/undo").first, 200);
    EXPECT_EQ(readText(journal).substr(line + 1), host::sceneToJson(studio.host));
    ASSERT_EQ(studio.call("POST", "/api/save").first, 200);
    EXPECT_FALSE(fs::exists(journal)) << "saving leaves the journal";

    // A drag's steps: the first is journaled at once, the next within kJournalGestureGap waits
    // for a request after the gap; save as takes the journal with it.
    const auto step = [&](int x) {
        ASSERT_EQ(studio.call("PATCH", "/api/objects/W3", Json{{"position", {x, 0, 0}}, {"gesture", "g"}}.dump()).first,
                  200);
    };
    step(1);
    const std::string first = readText(journal);
    step(2);
    studio.text("/api/frame?t=100");
    EXPECT_EQ(readText(journal), first) << "two drag steps journaled within the gap";
    std::this_thread::sleep_for(studio::kJournalGestureGap);
    studio.text("/api/frame?t=200");
    EXPECT_NE(readText(journal).find("\"position\": [2, 0, 0]"), std::string::npos)
        << "a request after the gap did not journal the drag's last step";
    ASSERT_EQ(studio.call("POST", "/api/save", R"({"as": "other.json"})").first, 200);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_FALSE(fs::exists(folder / ".other.json.camsys-recovery"));
    step(3);
    EXPECT_TRUE(fs::exists(folder / ".other.json.camsys-recovery"));
    ASSERT_EQ(studio.call("POST", "/api/reload").first, 200);
    EXPECT_FALSE(fs::exists(folder / ".other.json.camsys-recovery")) << "the reloaded file has no unsaved changes";
}

TEST_F(StudioRecoveryTest, AStudioEndedWithoutSavingIsRecoveredToTheEditedScene) {
    {
        Journaled killed(file);
        edit(killed);
    }
    ASSERT_TRUE(fs::exists(journal));
    const auto [flight, scene] = editedByHand();

    // (What `camsys studio` says of the journal found, recovery.test.mjs checks.)
    Journaled studio(file);
    const Json found = studio.call("GET", "/api/recovery").second["found"];
    EXPECT_EQ(found["matches"], true);
    EXPECT_EQ(found["journal"], journal.string());
    const std::string unasked = host::sceneToJson(studio.host);  // before a later host comes: hosts nest
    EXPECT_EQ(unasked, host::sceneToJson(Studio(file).host)) << "applied unasked";
    // Changes made before the choice do not overwrite the journal found.
    const std::string kept = readText(journal);
    ASSERT_EQ(studio.call("PATCH", "/api/objects/Tower", R"({"position": [1, 2, 3]})").first, 200);
    EXPECT_EQ(readText(journal), kept);
    EXPECT_NE(studio.call("GET", "/api/status").second["journal"]["error"], nullptr);

    const auto [status, answer] = studio.call("POST", "/api/recovery/apply");
    ASSERT_EQ(status, 200) << answer.dump();
    EXPECT_EQ(studio.text("/api/flight"), flight);
    EXPECT_EQ(host::sceneToJson(studio.host), scene);
    EXPECT_EQ(studio.call("GET", "/api/recovery").second["found"], nullptr);
    EXPECT_EQ(studio.call("POST", "/api/recovery/apply").first, 404) << "applied twice";
    // One undo step (the page names it), and the journal is this studio's from now on.
    ASSERT_EQ(studio.call("POST", "/api/undo").first, 200);
    EXPECT_EQ(readText(journal).substr(readText(journal).find('\n') + 1), host::sceneToJson(studio.host));
    ASSERT_EQ(studio.call("POST", "/api/redo").first, 200);
    ASSERT_EQ(studio.call("POST", "/api/save").first, 200);
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(readText(file), scene);
}

TEST_F(StudioRecoveryTest, AJournalOfAnotherVersionOfTheFileIsRefusedAndKept) {
    {
        Journaled killed(file);
        edit(killed);
    }
    const std::string kept = readText(journal);
    writeText(file, original + "\n");  // the file changed since: a checkout, another editor

    Journaled studio(file);
    EXPECT_EQ(studio.call("GET", "/api/recovery").second["found"]["matches"], false);
    const std::string before = host::sceneToJson(studio.host);
    const auto [status, refusal] = studio.call("POST", "/api/recovery/apply");
    EXPECT_EQ(status, 409);
    EXPECT_NE(refusal["error"].get<std::string>().find("not applied, and the journal is kept"), std::string::npos);
    EXPECT_EQ(host::sceneToJson(studio.host), before);
    EXPECT_EQ(readText(journal), kept);
    // Its scene is there to take away, a scene file of its own.
    EXPECT_EQ(studio.text("/api/recovery/scene"), kept.substr(kept.find('\n') + 1));

    ASSERT_EQ(studio.call("POST", "/api/recovery/discard").first, 200);
    EXPECT_FALSE(fs::exists(journal));
    edit(studio);
    EXPECT_TRUE(fs::exists(journal)) << "no journal after the found one was discarded";
    EXPECT_EQ(studio.call("GET", "/api/status").second["journal"]["error"], nullptr);
}
