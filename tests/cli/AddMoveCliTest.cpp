// camsys add-move end to end: the scene it writes loads, keeps every object of the input and
// flies the new iterator; bad input exits 2 and writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/CamsysRun.h"

namespace {

using testing_support::kFlythrough;
using testing_support::Result;
using testing_support::split;
using AddMoveCli = testing_support::CamsysTest;

}  // namespace

TEST_F(AddMoveCli, AddsMovesThatLoadAndFly) {
    const std::string out = path("out.json");
    const Result added = run({"add-move", kFlythrough, "orbit", "--target", "Tower", "--radius", "30", "--height", "10",
                              "--speed", "20", "--no-level", "-o", out});
    ASSERT_EQ(added.status, 0) << added.err;
    // 8 waypoints a turn at 30 units: chords of 60 sin(22.5 deg) = 22.96 units, 1148 ms each.
    EXPECT_EQ(added.out, "path Orbit1: 9 waypoints; iterator Orbit1Cam; 9.184 s\n");

    const Result loaded = run({"load", out});
    EXPECT_EQ(loaded.out, testing_support::readFile(out)) << loaded.err;  // written as load writes it
    // Every object of the example is kept as it was, the move's objects after them: pinned by
    // check-outputs.sh (orbit.json, through.json).

    const Result fly = run({"fly", out, "--iterator", "Orbit1Cam", "--step", "16"});
    ASSERT_EQ(fly.status, 0) << fly.err;
    EXPECT_NEAR(std::stod(split(fly.out).back()), 9184, 16) << "the last row's time";

    // .sco by the name. (The level's lift as the tool reports it: StudioMovesTest.)
    ASSERT_EQ(
        run({"add-move", kFlythrough, "orbit", "--target", "Tower", "--radius", "30", "-o", path("out.sco")}).status,
        0);
    EXPECT_EQ(run({"load", path("out.sco")}).status, 0);
    // Cranes and fly-throughs (a --to height alone, --through points and names in one list): the
    // scene as POST /api/moves makes it, StudioMovesTest.
}

TEST_F(AddMoveCli, BadInputExitsTwoAndWritesNothing) {
    // The move and its options, split at the spaces.
    for (const char* options :
         {"spiral --target Tower", "orbit --target Nowhere", "orbit --target Tower --radius 0",
          "orbit --target Tower --turns 0", "orbit --target Tower --per-turn 2", "orbit --target Tower --speed 0",
          "orbit --target Tower --speed nan", "orbit --target Tower --from 0,0,0",
          "orbit --target Tower --direction up", "dolly --from 0,0 --to 1,1,1", "follow --path Tower --offset 0,0,1",
          "fly-through --through Tower", "fly-through --through Tower 40,120,15"}) {
        std::vector<std::string> args = {"add-move", kFlythrough};
        for (const std::string& option : split(options, ' ')) args.push_back(option);
        args.insert(args.end(), {"-o", path("out.json")});
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << options << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(path("out.json"))) << options;
    }
}
