// POST /api/lint/fix: a finding of GET /api/lint's list fixed by its index at the revision the
// list was read, or every finding that has a fix, each as one undo step that gives the scene back
// byte for byte; stale and wrong requests change nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "module/InProcessModule.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"
#include "studio/server/StudioServer.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class StudioLintFixTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("camsys-lintfix-" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
        const fs::path file = folder / "scene.json";
        fs::copy_file(CAMSYS_EXAMPLES "/flythrough.json", file);
        fs::copy_file(CAMSYS_EXAMPLES "/town.glb", folder / "town.glb");
        host::loadSceneFile(host, file.string());
        host.createCamera("", true);
        server = std::make_unique<studio::StudioServer>(host,
                                                        studio::StudioOptions{file.string(), "", "127.0.0.1", 0, false});
    }
    void TearDown() override { fs::remove_all(folder); }

    std::pair<int, Json> call(const std::string& method, const std::string& target, const Json& body = nullptr) {
        const auto [status, text] = server->call(method, target, body.is_null() ? std::string() : body.dump());
        return {status, Json::parse(text, nullptr, false)};
    }
    std::uint64_t revision() { return call("GET", "/api/history").second["revision"].get<std::uint64_t>(); }
    /// The index in GET /api/lint's list of the finding whose fix is `label` (or of `object`'s finding).
    std::size_t indexOf(const Json& findings, const std::string& key, const std::string& value) {
        for (std::size_t i = 0; i < findings.size(); ++i)
            if (findings[i].value(key, "") == value) return i;
        ADD_FAILURE() << "no finding with " << key << " " << value << " in " << findings.dump();
        return 0;
    }

    fs::path folder;
    host::Host host{&SetIRTS, &GetObjectFactories};
    std::unique_ptr<studio::StudioServer> server;
};

}  // namespace

TEST_F(StudioLintFixTest, OneFindingOrAllAsOneUndoStep) {
    const std::vector<std::uint8_t> original = host::sceneToScoImage(host);
    const Json findings = call("GET", "/api/lint").second;
    const std::size_t cut = indexOf(findings, "fix", "clear W4's EaseIn");
    const std::uint64_t at = revision();

    // An index needs the revision of its list; a later one is stale. None of it changes anything.
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", cut}}).first, 400);
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", cut}, {"revision", at + 1}}).first, 409);
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", findings.size()}, {"revision", at}}).first, 400);
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", indexOf(findings, "object", "Draft")}, {"revision", at}}).first,
              400)
        << "a finding without a fix";
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", cut}, {"all", true}, {"revision", at}}).first, 400);
    EXPECT_EQ(host::sceneToScoImage(host), original);
    EXPECT_EQ(revision(), at);

    const auto [status, answer] = call("POST", "/api/lint/fix", {{"finding", cut}, {"revision", at}});
    ASSERT_EQ(status, 200) << answer.dump();
    EXPECT_EQ(answer["fixed"], Json::array({"clear W4's EaseIn"}));
    EXPECT_TRUE(answer.contains("draw"));
    const Json after = call("GET", "/api/lint").second;
    // (The camera now reaches W4 at speed and holds there for W5's pause: W5's finding says so.)
    for (const Json& f : after) EXPECT_FALSE(f["id"] == "cut-with-ease" && f["object"] == "W4") << f.dump();
    // The list read before the fix is stale now.
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"finding", cut}, {"revision", at}}).first, 409);
    EXPECT_EQ(call("GET", "/api/history").second["undo"].back(), "clear W4's EaseIn");
    ASSERT_EQ(call("POST", "/api/undo").first, 200);
    EXPECT_EQ(host::sceneToScoImage(host), original);

    // All: every fix (the chosen iterator's flight), linting again after each, one step.
    const auto [allStatus, all] = call("POST", "/api/lint/fix", {{"all", true}, {"iterator", "Cam"}});
    ASSERT_EQ(allStatus, 200) << all.dump();
    EXPECT_EQ(all["fixed"], Json::array({"set W0's EaseOut", "clear W4's EaseIn", "clear W5's PauseTime"}));
    EXPECT_TRUE(all["messages"].empty()) << all["messages"].dump();
    for (const Json& f : call("GET", "/api/lint?iterator=Cam").second) EXPECT_FALSE(f.contains("fix")) << f.dump();
    EXPECT_EQ(call("POST", "/api/lint/fix", {{"all", true}}).first, 400) << "nothing is left to fix";
    ASSERT_EQ(call("POST", "/api/undo").first, 200);
    EXPECT_EQ(host::sceneToScoImage(host), original);
}
