// POST /api/lint/fix: a finding of GET /api/lint's list fixed by its index at the revision the
// list was read, or every finding that has a fix, each as one undo step that gives the scene back
// byte for byte; stale and wrong requests change nothing.
#include "tests/studio/StudioHarness.h"

namespace {

using namespace studio_test;

class StudioLintFixTest : public ExampleStudioTest {
protected:
    std::pair<int, Json> fix(const Json& body) { return studio->call("POST", "/api/lint/fix", body.dump()); }
    std::uint64_t revision() { return studio->call("GET", "/api/history").second["revision"]; }
    /// The index in GET /api/lint's list of the finding whose `key` is `value`.
    std::size_t indexOf(const Json& findings, const std::string& key, const std::string& value) {
        for (std::size_t i = 0; i < findings.size(); ++i)
            if (findings[i].value(key, "") == value) return i;
        ADD_FAILURE() << "no finding with " << key << " " << value << " in " << findings.dump();
        return 0;
    }
};

}  // namespace

TEST_F(StudioLintFixTest, OneFindingOrAllAsOneUndoStep) {
    const std::vector<std::uint8_t> original = studio->image();
    const Json findings = studio->call("GET", "/api/lint").second;
    const std::size_t cut = indexOf(findings, "fix", "clear W4's EaseIn");
    const std::uint64_t at = revision();

    // An index needs the revision of its list; a later one is stale. None of it changes anything.
    EXPECT_EQ(fix({{"finding", cut}}).first, 400);
    EXPECT_EQ(fix({{"finding", cut}, {"revision", at + 1}}).first, 409);
    EXPECT_EQ(fix({{"finding", findings.size()}, {"revision", at}}).first, 400);
    EXPECT_EQ(fix({{"finding", indexOf(findings, "object", "Draft")}, {"revision", at}}).first, 400)
        << "a finding without a fix";
    EXPECT_EQ(fix({{"finding", cut}, {"all", true}, {"revision", at}}).first, 400);
    EXPECT_EQ(studio->image(), original);
    EXPECT_EQ(revision(), at);

    const auto [status, answer] = fix({{"finding", cut}, {"revision", at}});
    ASSERT_EQ(status, 200) << answer.dump();
    EXPECT_EQ(answer["fixed"], Json::array({"clear W4's EaseIn"}));
    EXPECT_TRUE(answer.contains("draw"));
    // The list read before the fix is stale now. (That the finding went, as one undo step named
    // by its fix, lintfix.test.mjs checks on the page.)
    EXPECT_EQ(fix({{"finding", cut}, {"revision", at}}).first, 409);
    ASSERT_EQ(studio->call("POST", "/api/undo").first, 200);
    EXPECT_EQ(studio->image(), original);

    // All: every fix (the chosen iterator's flight), linting again after each, one step.
    const auto [allStatus, all] = fix({{"all", true}, {"iterator", "Cam"}});
    ASSERT_EQ(allStatus, 200) << all.dump();
    EXPECT_EQ(all["fixed"], Json::array({"set W0's EaseOut", "clear W4's EaseIn", "clear W5's PauseTime"}));
    EXPECT_TRUE(all["messages"].empty()) << all["messages"].dump();
    EXPECT_EQ(fix({{"all", true}}).first, 400) << "nothing is left to fix";
    ASSERT_EQ(studio->call("POST", "/api/undo").first, 200);
    EXPECT_EQ(studio->image(), original);
}
