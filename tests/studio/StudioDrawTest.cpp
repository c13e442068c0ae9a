// A drag's steps through the studio's API (StudioServer::call, without sockets): the first
// answers the whole drawing, the later ones only what changed since the step before (of a long
// path, the stretch of its lines that changed), and what the page holds after applying them is
// the whole drawing, bit for bit.
#include <array>
#include <bit>
#include <map>
#include <set>

#include "tests/studio/StudioHarness.h"

namespace {

using namespace studio_test;

/// The line columns of a drawing's groups by object, as the bits of their floats (flags as ints):
/// from decimals for a whole drawing, from base64 float32 for the changes of a drag step.
using GroupLines = std::map<std::string, std::vector<std::uint32_t>>;
GroupLines linesOf(const Json& group, bool f32) {
    GroupLines columns;
    for (const char* name : {"from", "to", "width", "colour", "flag"}) {
        std::vector<std::uint32_t>& bits = columns[name];
        if (f32) {
            bits = base64Words(group["lines"][name]);
        } else {
            for (const Json& value : group["lines"][name])
                bits.push_back(std::string(name) == "flag" ? value.get<std::uint32_t>()
                                                           : std::bit_cast<std::uint32_t>(asFloat(value)));
        }
    }
    return columns;
}

/// The drawing held by a page, by object, with a drag step's changes applied: a group with
/// "range": [first, replaced] replaces that many lines from `first` on, any other replaces the
/// group held. Answers how many lines of the group it carried.
std::size_t applyGroup(std::map<std::string, GroupLines>& held, const Json& group) {
    static const std::map<std::string, std::size_t> kWidths = {
        {"from", 3}, {"to", 3}, {"width", 2}, {"colour", 4}, {"flag", 1}};
    GroupLines sent = linesOf(group, true);
    const std::size_t lines = sent["flag"].size();
    if (!group.contains("range")) {
        held[group["object"].get<std::string>()] = std::move(sent);
        return lines;
    }
    GroupLines& into = held.at(group["object"].get<std::string>());
    const std::size_t first = group["range"][0], replaced = group["range"][1];
    for (auto& [name, bits] : into) {
        const std::size_t width = kWidths.at(name);
        EXPECT_LE((first + replaced) * width, bits.size()) << name;
        const auto at = bits.begin() + static_cast<std::ptrdiff_t>(first * width);
        bits.erase(at, at + static_cast<std::ptrdiff_t>(replaced * width));
        bits.insert(bits.begin() + static_cast<std::ptrdiff_t>(first * width), sent[name].begin(), sent[name].end());
    }
    return lines;
}

class StudioDrawTest : public ExampleCopyTest {};

}  // namespace

TEST_F(StudioDrawTest, DragStepsCarryOnlyTheDrawingsChangesAndTheyRebuildTheWholeDrawing) {
    const auto whole = [](const Json& draw) {
        std::map<std::string, GroupLines> groups;
        for (const Json& group : draw["groups"]) groups[group["object"].get<std::string>()] = linesOf(group, false);
        return groups;
    };
    // The steps of one gesture moving `name` (a waypoint of `path`) of `at` to each of `positions`:
    // the first answers the whole drawing, which the page holds; the others only the changes of
    // the path and the waypoint, which applied to it give the whole drawing bit for bit. Answers
    // for each later step the path's lines it carried and those the page then holds.
    struct Carried {
        std::size_t sent = 0, held = 0;
    };
    const auto drag = [&](Studio& at, const std::string& name, const std::string& path,
                          const std::vector<std::array<float, 3>>& positions, const std::string& gesture) {
        const auto step = [&](const std::array<float, 3>& p) {
            return at.call("PATCH", "/api/objects/" + name, Json{{"position", p}, {"gesture", gesture}}.dump());
        };
        auto [status, answer] = step(positions[0]);
        EXPECT_EQ(status, 200);
        EXPECT_TRUE(answer.contains("draw") && !answer.contains("drawChanges"));
        std::map<std::string, GroupLines> held = whole(answer["draw"]);
        std::vector<Carried> carried;
        for (std::size_t i = 1; i < positions.size(); ++i) {
            std::tie(status, answer) = step(positions[i]);
            EXPECT_EQ(status, 200);
            EXPECT_FALSE(answer.contains("draw"));
            const Json& changes = answer["drawChanges"];
            // The path and the waypoint moved, not the other objects' drawings.
            std::set<std::string> changed;
            Carried lines;
            for (const Json& group : changes["groups"]) {
                changed.insert(group["object"].get<std::string>());
                const std::size_t sent = applyGroup(held, group);
                if (group["object"] == path) lines = {sent, held[path]["flag"].size()};
            }
            EXPECT_EQ(changed, (std::set<std::string>{path, name}));
            EXPECT_TRUE(changes["removed"].empty());
            EXPECT_EQ(changes["labelsMoved"].size(), 1u);
            EXPECT_EQ(changes["labelsMoved"][0]["name"], name);
            carried.push_back(lines);
        }
        EXPECT_TRUE(held == whole(Json::parse(at.text("/api/draw"))))
            << "the changes applied to the drawing held differ from the drawing";
        return carried;
    };
    // (A drag of the example's W1 on the page, whose changes applied give the server's drawing bit
    // for bit: edit.test.mjs.) On a long path a step carries the stretch of the path's lines that changed, not all of
    // them: along the path, across it, far off it (more lines) and back (as many as before).
    // Lines far before the waypoint keep their bits; after it, a changed length moves the samples.
    Json waypoints = Json::array();
    for (int k = 0; k < 60; ++k)
        waypoints.push_back({{"name", "L" + std::to_string(k)},
                             {"class", "SCOCameraSystemWaypoint"},
                             {"position", {40 * k, (k % 2) * 8, 0}}});
    const fs::path longFile = folder / "long.json";
    writeText(
        longFile,
        Json{{"objects", {{{"name", "Long"}, {"class", "SCOCameraSystemPath"}, {"children", waypoints}}}}}.dump());
    Studio along(longFile);
    const std::vector<Carried> carried = drag(
        along, "L45", "Long", {{1800, 8, 0}, {1801, 8, 0}, {1801, 11, 0}, {1801, 11, 900}, {1800, 8, 0}}, "drag-1");
    ASSERT_EQ(carried.size(), 4u);
    for (std::size_t i : {0, 1}) {
        EXPECT_GT(carried[i].sent, 0u);
        EXPECT_LT(carried[i].sent, carried[i].held / 2) << "step " << i + 1;
    }
    EXPECT_GT(carried[2].held, carried[1].held + 20);
    EXPECT_LT(carried[3].held, carried[2].held);

    // After a whole drawing was asked for (as `drag` does last), or in another gesture, a step
    // answers it whole again.
    const auto step = [&](int x, const std::string& gesture) {
        return along.call("PATCH", "/api/objects/L45", Json{{"position", {x, 8, 0}}, {"gesture", gesture}}.dump());
    };
    EXPECT_TRUE(step(1802, "drag-1").second.contains("draw"));
    ASSERT_TRUE(step(1803, "drag-1").second.contains("drawChanges"));
    EXPECT_TRUE(step(1804, "drag-2").second.contains("draw"));
}
