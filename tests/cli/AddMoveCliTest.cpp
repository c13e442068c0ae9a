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
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(loaded.out, testing_support::readFile(out));  // written as load writes it
    // Every object of the example is kept as it was, the move's objects after them: pinned by
    // check-outputs.sh (orbit.json, through.json).

    const Result fly = run({"fly", out, "--iterator", "Orbit1Cam", "--step", "16"});
    ASSERT_EQ(fly.status, 0) << fly.err;
    EXPECT_NEAR(std::stod(split(fly.out).back()), 9184, 16) << "the last row's time";

    // .sco by the name; the level's lift is reported.
    const Result sco = run({"add-move", kFlythrough, "orbit", "--target", "Tower", "--radius", "30", "--height", "-15",
                            "-o", path("out.sco")});
    ASSERT_EQ(sco.status, 0) << sco.err;
    EXPECT_NE(sco.out.find("; 9 lifted clear of the level"), std::string::npos) << sco.out;
    EXPECT_EQ(run({"load", path("out.sco")}).status, 0);

    // A crane's --to may be a height alone; --through takes points and names in one list.
    const Result crane = run({"add-move", kFlythrough, "crane", "--from", "0,0,2", "--to", "30", "--target", "Tower",
                              "--no-level", "-o", path("crane.json")});
    ASSERT_EQ(crane.status, 0) << crane.err;
    EXPECT_EQ(crane.out, "path Crane1: 2 waypoints; iterator Crane1Cam; 2.800 s\n");
    const Result through = run({"add-move", path("crane.json"), "fly-through", "--through", "0,0,10", "Statue",
                                "--speed", "5", "-o", path("out.json")});
    ASSERT_EQ(through.status, 0) << through.err;
    EXPECT_TRUE(through.out.starts_with("path FlyThrough1: 2 waypoints;")) << through.out;
    EXPECT_EQ(run({"fly", path("out.json"), "--iterator", "Crane1Cam"}).status, 0);
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
