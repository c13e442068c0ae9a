// `camsys export` end to end: the tool's options reach the export, its files import back into a
// path that flies within the tolerance, levels go along where asked, and bad input leaves nothing
// behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/exchange/GltfRead.h"
#include "tests/support/CamsysRun.h"

namespace {

using testing_support::keysOf;
using testing_support::kFlythrough;
using testing_support::readFile;
using testing_support::Result;
using testing_support::split;
using CamsysExport = testing_support::CamsysTest;

}  // namespace

TEST_F(CamsysExport, HoldsTheFlightThatFlyPrintsForTheSameOptions) {
    // The keys of the example's Cam, the cut's among them, are checked against the flight in
    // GltfExportTest and GltfRoundTripTest; here the tool's options reach the export: a part of
    // Chase without a cut, a key at each row's time in seconds from the first. Activated 7.3 s
    // before the clock wraps (and 6 s flown, before the segment whose end passes 2^32): absolute
    // times as float seconds would be half a second apart.
    const Result flown =
        run({"fly", kFlythrough, "--iterator", "Chase", "--start", "4294960000", "--step", "20", "--max-ticks", "300"});
    const Result exported = run({"export", kFlythrough, "--iterator", "Chase", "--start", "4294960000", "--step", "20",
                                 "--max-ticks", "300", "-o", path("f.glb")});
    ASSERT_TRUE(flown.status == 0 && exported.status == 0) << flown.err << exported.err;
    EXPECT_EQ(exported.out, "");
    EXPECT_EQ(exported.err, flown.err) << "the same events and warnings";

    const std::vector<float> times = keysOf(testing_support::readGltf(path("f.glb")), "translation").times;
    std::vector<std::string> rows = split(flown.out);
    rows.erase(rows.begin());  // the header
    ASSERT_EQ(times.size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k)
        EXPECT_EQ(times[k], float((std::stod(rows[k]) - 4294960000.0) / 1000.0)) << rows[k];
}

TEST_F(CamsysExport, BadInputExitsWith2AndWritesNothing) {
    const std::string kept = path("kept.gltf");
    std::ofstream(kept) << "kept";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"export", kFlythrough, "--iterator", "Cam", "-o", path("flight.obj")},
         "camsys: the export must be a .gltf or .glb file: " + path("flight.obj") + "\n"},
        {{"export", kFlythrough, "-o", kept},
         "camsys: " + kFlythrough + ": the scene has 2 iterators (Cam, Chase); choose one with --iterator\n"},
        {{"export", kFlythrough, "--iterator", "Tower", "-o", kept},
         "camsys: " + kFlythrough + ": Tower: the object is no iterator: it has no eye (ISCO_HasEye)\n"},
        {{"export", kFlythrough, "--iterator", "Cam", "--step", "0", "-o", kept}, "--step: Value 0 not in range"},
        {{"export", kFlythrough, "--iterator", "Cam", "--max-ticks", "0", "-o", kept},
         "camsys: " + kFlythrough + ": Cam: "},
    };
    for (const auto& [args, message] : cases) {
        const Result result = run(args);
        EXPECT_EQ(result.status, 2) << args.back();
        EXPECT_TRUE(result.err.starts_with(message)) << result.err;
    }
    EXPECT_FALSE(std::ifstream(path("flight.obj")).good());
    EXPECT_EQ(readFile(kept), "kept");
}

TEST_F(CamsysExport, ImportedBackItFliesWithinTheTolerance) {
    // Export, import (the free-flight recorder), fly the imported path: every tick of the
    // original flight is matched within the tolerances. (How few waypoints the fit takes is pinned
    // for the same flight by test_against_tool.py and check-outputs.sh.)
    // (The .glb reads back as the .gltf does: GltfRoundTripTest.)
    const Result original = run({"fly", kFlythrough, "--iterator", "Cam"});
    ASSERT_EQ(run({"export", kFlythrough, "--iterator", "Cam", "-o", path("cam.gltf")}).status, 0);
    const Result imported = run({"import", path("cam.gltf"), "-o", path("imported.json"), "--tolerance", "0.3"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("645 samples -> "), std::string::npos) << imported.err;
    const Result flown = run({"fly", path("imported.json")});
    ASSERT_TRUE(original.status == 0 && flown.status == 0) << flown.err;
    const std::vector<std::string> want = split(original.out), got = split(flown.out);
    ASSERT_GE(got.size(), want.size());
    double distance = 0, angle = 0;
    for (std::size_t row = 1; row < want.size(); ++row) {
        const std::vector<std::string> a = split(want[row], ','), b = split(got[row], ',');
        ASSERT_EQ(a[0], b[0]) << "tick times";
        double d2 = 0, dot = 0;
        for (int c = 2; c < 5; ++c) d2 += std::pow(std::stod(a[c]) - std::stod(b[c]), 2);
        for (int r = 0; r < 3; ++r) dot += std::stod(a[6 + 3 * r]) * std::stod(b[6 + 3 * r]);  // m01, m11, m21
        distance = std::max(distance, std::sqrt(d2));
        angle = std::max(angle, std::acos(std::min(1.0, dot)) * 180 / 3.14159265358979323846);
    }
    EXPECT_LE(distance, 0.3);
    EXPECT_LE(angle, 1.0);
    // Files that are no camera animation this reads are refused with exit 2, naming the file:
    // no animation, an accessor whose count would wrap the bounds check, a node that is its own
    // parent, a buffer read from elsewhere, a member of the wrong type.
    const nlohmann::json good = nlohmann::json::parse(readFile(path("cam.gltf")));
    // The accessor of the camera animation's key times.
    const auto keyTimes = [](nlohmann::json& j) -> nlohmann::json& {
        return j["accessors"][j["animations"][0]["samplers"][0]["input"].get<std::size_t>()];
    };
    const std::vector<std::pair<std::string, std::function<void(nlohmann::json&)>>> broken = {
        {"still", [](nlohmann::json& j) { j.erase("animations"); }},
        {"huge", [&](nlohmann::json& j) { keyTimes(j)["count"] = 4611686018427387905ull; }},
        {"cycle",
         [](nlohmann::json& j) {
             for (std::size_t n = 0; n < j["nodes"].size(); ++n)
                 if (j["nodes"][n].contains("camera")) j["nodes"][n]["children"] = {n};
         }},
        {"elsewhere", [](nlohmann::json& j) { j["buffers"][0]["uri"] = "/dev/zero"; }},
        {"typed", [&](nlohmann::json& j) { keyTimes(j)["count"] = "many"; }},
    };
    for (const auto& [name, edit] : broken) {
        nlohmann::json j = good;
        edit(j);
        std::ofstream(path(name + ".gltf")) << j.dump();
        const Result refused = run({"import", path(name + ".gltf")});
        EXPECT_EQ(refused.status, 2) << name << ": " << refused.err;
        EXPECT_TRUE(refused.err.starts_with("camsys: " + path(name + ".gltf") + ": ")) << refused.err;
    }
}

TEST_F(CamsysExport, LevelsGoAlongWhereAskedAndBadOnesWriteNothing) {
    // load and save keep the scene's reference as written (pinned by check-outputs.sh); --level
    // writes another, --no-level none.
    EXPECT_TRUE(
        run({"load", kFlythrough, "--level", "other.gltf"}).out.starts_with("{\n  \"level\": \"other.gltf\",\n"));
    EXPECT_TRUE(run({"load", kFlythrough, "--no-level"}).out.starts_with("{\n  \"objects\": ["));

    // export --with-level with the options `more`, into `out`.
    const auto withLevel = [&](const std::vector<std::string>& more, const std::string& out) {
        std::vector<std::string> args = {"export", kFlythrough, "--iterator", "Cam", "--with-level", "-o", out};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    };
    // The scene's level (beside the scene), or --level's (from here).
    for (const std::vector<std::string>& level :
         {std::vector<std::string>{}, {"--level", CAMSYS_EXAMPLES "/town.glb"}}) {
        ASSERT_EQ(withLevel(level, path("l.glb")).status, 0);
        const testing_support::GltfFile file = testing_support::readGltf(path("l.glb"));
        const int top = testing_support::nodeNamed(file.model, "level");
        ASSERT_GE(top, 0);
        EXPECT_EQ(file.model.nodes.at(top).children.size(), 100u) << "a node per surface of the town";
    }

    // A level that cannot be read, or none: exit 2, the file and what, nothing written. (Why a level
    // file is refused, LevelFileTest checks in full.)
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--level", path("none.glb")}, "camsys: " + path("none.glb") + ": the level file does not exist\n"},
        {{"--no-level"}, "camsys: " + kFlythrough + ": --with-level: there is no level"},
    };
    for (const auto& [level, message] : cases) {
        const Result result = withLevel(level, path("bad.glb"));
        EXPECT_EQ(result.status, 2) << level.back();
        EXPECT_TRUE(result.err.starts_with(message)) << result.err;
        EXPECT_FALSE(std::ifstream(path("bad.glb")).good());
    }
    // Without --with-level the level is not read: a flight needs none.
    EXPECT_EQ(
        run({"export", kFlythrough, "--iterator", "Cam", "--level", path("none.glb"), "-o", path("f.glb")}).status, 0);
}
