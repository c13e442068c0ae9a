// End to end: the built camsys on the bundled examples and on broken scenes. What it writes for
// the examples (rows, events, pictures, profiles, findings, scenes) is pinned byte for byte by
// check-outputs.sh; here are exit statuses, refusals, round trips and the files it replaces.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/CamsysRun.h"

namespace {

namespace fs = std::filesystem;
using testing_support::kCamsys;
using testing_support::kFlythrough;
using testing_support::readFile;
using testing_support::Result;
using testing_support::split;
const std::string kMinimal = CAMSYS_EXAMPLES "/minimal.json";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

/// Runs camsys through the shell with `arguments`, redirections included; its exit status.
int shell(const std::string& arguments) {
    return WEXITSTATUS(std::system(("env -u CAMSYS_PLUGIN '" + kCamsys + "' " + arguments).c_str()));
}

/// A folder of its own for each test.
using CamsysCli = testing_support::CamsysTest;

}  // namespace

TEST_F(CamsysCli, FliesTheExampleFromW0LookingAtTheTower) {
    // Its rows are pinned byte for byte by check-outputs.sh; here the first is worked out.
    const Result fly = run({"fly", kFlythrough, "--iterator", "Cam"});
    ASSERT_EQ(fly.status, 0) << fly.err;
    const std::vector<std::string> rows = split(fly.out);
    ASSERT_GT(rows.size(), 2u);
    // During W0's pause the eye stands at W0 (0, 0, 10) and looks at the tower (40, 120, 15):
    // the forward column is (40, 120, 5) / |(40, 120, 5)|, with no roll the right column is level.
    const std::vector<std::string> first = split(rows[1], ',');
    const double length = std::sqrt(40.0 * 40 + 120 * 120 + 5 * 5);
    const std::pair<int, double> expected[] = {
        {1, 0}, {2, 0}, {3, 0}, {4, 10}, {6, 40 / length}, {9, 120 / length}, {12, 5 / length}, {11, 0}, {14, 1}};
    for (auto [field, value] : expected)
        EXPECT_NEAR(std::strtod(first.at(field).c_str(), nullptr), value, 1e-6) << "field " << field;
}

TEST_F(CamsysCli, ScoAndJsonRoundTripsKeepSceneAndFlight) {
    // A saved .sco loads as the JSON it was saved from (pinned for both examples by
    // check-outputs.sh); load's JSON loads as itself, and the .sco flies as the scene does.
    const std::string sco = path("scene.sco"), json = path("scene.json");
    ASSERT_EQ(run({"load", kFlythrough, "-o", json}).status, 0);
    EXPECT_EQ(run({"load", json}).out, readFile(json));
    ASSERT_EQ(run({"save", kFlythrough, sco}).status, 0);
    for (const char* iterator : {"Cam", "Chase"}) {
        const Result original = run({"fly", kFlythrough, "--iterator", iterator});
        const Result restored = run({"fly", sco, "--iterator", iterator, "-o", path("restored.csv")});
        ASSERT_TRUE(original.status == 0 && restored.status == 0) << original.err << restored.err;
        EXPECT_EQ(readFile(path("restored.csv")), original.out) << iterator;
        EXPECT_EQ(restored.err, original.err) << iterator;
    }
}

TEST_F(CamsysCli, BadInputExitsWith2AndLeavesOutputsAlone) {
    // The example as .sco: cut inside W0's record, and with W0's record refused (its version 1
    // made 9).
    ASSERT_EQ(run({"save", kFlythrough, path("scene.sco")}).status, 0);
    const std::string image = readFile(path("scene.sco"));
    const std::size_t w0 = image.find(std::string("\x02\x00\x00\x00W0", 6));  // name length and name
    ASSERT_NE(w0, std::string::npos);
    std::string refused = image;
    refused[w0 + 10] = 9;
    // The scene file, its bytes, and what follows "camsys: FILE: " in the message.
    const std::string waypoint = R"({"objects":[{"name":"W","class":"SCOCameraSystemWaypoint","attributes":)";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"broken.json", R"({"objects":[{"name":"A","class":"Camera"}]})",
         "A: class: unknown class \"Camera\"; the classes are SCOCameraSystemPath, SCOCameraSystemIterator, "
         "SCOCameraSystemWaypoint"},
        {"broken.json", waypoint + R"({"Rnage":3}}]})",
         "W: Rnage: unknown attribute of SCOCameraSystemWaypoint; its attributes are "
         "PointsTo, Range, Roll, FOVFac, Time2Next, EaseIn, EaseOut, IsOn, PauseTime"},
        {"broken.json", waypoint + R"({"EaseIn":"yes"}}]})", "W: EaseIn: expects true or false"},
        {"broken.json", waypoint + R"({"Time2Next":4294967296}}]})",
         "W: Time2Next: expects an integer from 0 to 4294967295"},
        {"broken.json", waypoint + R"({"PointsTo":"Tower"}}]})",
         "W: PointsTo: refers to \"Tower\", which is no object of the file"},
        {"broken.json", R"({"objects":[{"name":"W"},{"name":"W"}]})",
         "W: name: the name is used by another object of the file"},
        {"broken.json", "{\"objects\": [\n  {\"name\": \"W\",\n   \"position\": [1, 2 3]}]}",
         "malformed JSON at line 3, column"},
        {"cut.sco", image.substr(0, w0 + 20), "W0: record: only 10 of the 147 bytes it needs remain (truncated)\n"},
        {"refused.sco", refused, "W0: record: its Serialize refused the record (truncated or corrupt)\n"},
    };
    for (const auto& [name, bytes, expected] : cases) {
        SCOPED_TRACE(expected);
        const std::string scene = path(name);
        writeFile(scene, bytes);
        for (const std::vector<std::string>& command : {std::vector<std::string>{"fly", scene, "-o", path("out")},
                                                        {"save", scene, path("out")},
                                                        {"load", scene, "-o", path("out")}}) {
            writeFile(path("out"), "keep\n");
            const Result result = run(command);
            EXPECT_EQ(result.status, 2) << command[0];
            EXPECT_EQ(result.err.rfind("camsys: " + scene + ": " + expected, 0), 0u) << result.err;
            EXPECT_EQ(readFile(path("out")), "keep\n") << command[0];
        }
    }
}

TEST_F(CamsysCli, NewWritesAStarterSceneThatFliesAndNeverReplacesAFile) {
    const std::string json = path("start.json"), sco = path("start.sco");
    Result result = run({"new", json});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(run({"new", sco}).status, 0);
    EXPECT_EQ(run({"load", sco}).out, run({"load", json}).out);
    EXPECT_EQ(run({"new", "-"}).out, readFile(json));

    // Waypoints apart (no short segment) and an iterator: it flies, and lint finds nothing.
    EXPECT_GE(split(run({"fly", json}).out).size(), 10u);
    EXPECT_EQ(run({"lint", json}).status, 0) << "a starter scene has nothing to complain about";

    // Never onto an existing file (nor a link), nor into a folder that is not there.
    writeFile(json, "mine\n");
    result = run({"new", json});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "camsys: " + json + ": the file exists; a new scene never replaces one\n");
    EXPECT_EQ(readFile(json), "mine\n");
    fs::create_symlink(path("nowhere.json"), path("link.json"));
    EXPECT_EQ(run({"new", path("link.json")}).status, 2);
    EXPECT_FALSE(fs::exists(path("nowhere.json")));
    for (const char* command : {"new", "studio"}) {
        result = run({command, path("missing/new.json")});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_NE(result.err.find("the folder " + path("missing") + " does not exist"), std::string::npos)
            << result.err;
    }
}

TEST_F(CamsysCli, LintStatusThresholdsAndFix) {
    // A warning fails (nothing to find passes: the minimal example below); thresholds given leave
    // the findings they do not reach out (the findings at the default thresholds are pinned by
    // check-outputs.sh).
    const Result high = run({"lint", kFlythrough, "--json", "--acceleration", "1e9", "--jerk", "1e9"});
    EXPECT_EQ(high.status, 1);
    EXPECT_TRUE(
        high.out.starts_with("[\n  {\"id\":\"speed-jump\",\"severity\":\"warning\",\"object\":\"W1\",\"time\":"))
        << high.out;

    // The example's three fixable findings fixed (one line each on standard error), the scene
    // written as `load` writes it, and the findings left printed as lint prints them of the
    // written scene; a warning is left, so status 1.
    const std::string json = path("fixed.json"), sco = path("fixed.sco");
    Result result = run({"lint", kFlythrough, "--fix", "-o", json});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err, kFlythrough + ": W1: speed-jump: fixed: set W0's EaseOut\n" + kFlythrough +
                              ": W4: cut-with-ease: fixed: clear W4's EaseIn\n" + kFlythrough +
                              ": W5: cut-with-ease: fixed: clear W5's PauseTime\n");
    // The level the written scene names lies beside the example.
    const std::string level = fs::path(kFlythrough).replace_filename("town.glb").string();
    const Result left = run({"lint", json, "--level", level});
    EXPECT_EQ(left.status, 1);
    std::string named = left.out;
    for (std::size_t at; (at = named.find(json)) != std::string::npos;) named.replace(at, json.size(), kFlythrough);
    EXPECT_EQ(result.out, named);
    // That no value but the fixed ones changes, LintFixTest checks. .sco by name: the same scene,
    // and the JSON as load writes it.
    ASSERT_EQ(run({"lint", kFlythrough, "--fix", "-o", sco, "--json"}).status, 1);
    EXPECT_EQ(run({"load", sco}).out, readFile(json));
    // Nothing to fix (nor to find): the scene as loaded, status 0.
    EXPECT_EQ(run({"lint", kMinimal, "--fix", "-o", json}).status, 0);
    EXPECT_EQ(readFile(json), run({"load", kMinimal}).out);

    // Bad input writes nothing: --fix without -o, -o without --fix, the scene to standard output,
    // an unknown iterator.
    const std::string none = path("none.json");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"lint", kFlythrough, "--fix"},
                                                 {"lint", kFlythrough, "-o", none},
                                                 {"lint", kFlythrough, "--fix", "-o", "-"},
                                                 {"lint", kFlythrough, "--fix", "-o", none, "--iterator", "Tower"}}) {
        result = run(args);
        EXPECT_EQ(result.status, 2) << args.back() << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
    EXPECT_FALSE(fs::exists(none));
}

TEST_F(CamsysCli, OptionsHelpAndBadInput) {
    Result result =
        run({"fly", kFlythrough, "--iterator", "Chase", "--start", "1000", "--step", "100", "--max-ticks", "5"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> rows = split(result.out);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_TRUE(rows[1].starts_with("1000,") && rows[5].starts_with("1400,"));
    EXPECT_NE(result.err.find("camsys: warning: Chase still flies after 5 ticks"), std::string::npos) << result.err;

    EXPECT_EQ(run({"fly", kMinimal}).status, 0);  // its only iterator
    result = run({"fly", kFlythrough});
    EXPECT_TRUE(result.status == 2 && result.err.find("2 iterators (Cam, Chase)") != std::string::npos) << result.err;
    // Bad input exits 2: no such iterator, a step or threshold out of range, a picture of a kind
    // not drawn (each split at the spaces, the example put in after the subcommand), no such scene.
    for (const std::string& bad :
         std::vector<std::string>{"fly --iterator Tower", "fly --iterator Cam --step -1", "fly --iterator Cam --step 0",
                                  "lint --iterator Tower", "lint --vertical 100", "draw -o " + path("view.gif"),
                                  "profile --iterator Cam -o " + path("profile.gif")}) {
        std::vector<std::string> args = split(bad, ' ');
        args.insert(args.begin() + 1, kFlythrough);
        EXPECT_EQ(run(args).status, 2) << bad;
    }
    for (const char* command : {"lint", "load"}) EXPECT_EQ(run({command, path("missing.json")}).status, 2) << command;
    EXPECT_EQ(run({"--plugin", path("missing.so"), "load", kMinimal}).status, 1);
    result = run({"--plugin", path("missing.so"), "check", kMinimal});
    EXPECT_TRUE(result.status == 2 &&
                result.err.starts_with("camsys: no subcommand \"check\"; the subcommands are fly, draw, "))
        << result.err;

    // Help exits 0; fly's names the columns it writes.
    const Result help = run({"--help"}), flyHelp = run({"fly", "--help"});
    EXPECT_TRUE(help.status == 0 && flyHelp.status == 0);
    EXPECT_NE(flyHelp.out.find("time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov"), std::string::npos);
}

TEST_F(CamsysCli, OutputsRespectWhatTheyReplaceAndInputsComeFromAnywhere) {
    const Result flown = run({"fly", kFlythrough, "--iterator", "Cam"});
    ASSERT_EQ(flown.status, 0);

    // A symbolic link: the file it leads to gets the CSV, keeping its permissions; the link stays.
    writeFile(path("target.csv"), "old");
    ASSERT_EQ(chmod(path("target.csv").c_str(), 0640), 0);
    ASSERT_EQ(symlink("target.csv", path("link.csv").c_str()), 0);
    ASSERT_EQ(run({"fly", kFlythrough, "--iterator", "Cam", "-o", path("link.csv")}).status, 0);
    EXPECT_TRUE(fs::is_symlink(path("link.csv")));
    EXPECT_EQ(readFile(path("target.csv")), flown.out);
    EXPECT_EQ(fs::status(path("target.csv")).permissions(), fs::perms(0640));

    // A FIFO is written through, never renamed over.
    ASSERT_EQ(mkfifo(path("pipe.csv").c_str(), 0600), 0);
    std::string piped;
    std::thread reader([&] { piped = readFile(path("pipe.csv")); });
    EXPECT_EQ(run({"fly", kFlythrough, "--iterator", "Cam", "-o", path("pipe.csv")}).status, 0);
    reader.join();
    EXPECT_EQ(piped, flown.out);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(path("pipe.csv"))));

    // Writes that fail say why, naming what the user named, and exit 1; nothing is left behind.
    for (const auto& [output, reason] :
         {std::pair<std::string, std::string>{path("missing/x.csv"), "No such file or directory"},
          {"/dev/full", "No space left on device"}}) {
        const Result result = run({"fly", kFlythrough, "--iterator", "Cam", "-o", output});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("cannot write " + output + ": " + reason), std::string::npos) << result.err;
    }
    EXPECT_EQ(shell("fly '" + kFlythrough + "' --iterator Cam >/dev/full 2>'" + path("err") + "'"), 1);
    EXPECT_NE(readFile(path("err")).find("camsys: write error: No space left on device"), std::string::npos);

    // Scenes from standard input (JSON or .sco by content); a directory is bad input.
    ASSERT_EQ(run({"save", kFlythrough, path("scene.sco")}).status, 0);
    for (const std::string& scene : {kFlythrough, path("scene.sco")}) {
        EXPECT_EQ(shell("fly - --iterator Cam -o - <'" + scene + "' >'" + path("stdin.csv") + "' 2>/dev/null"), 0);
        EXPECT_EQ(readFile(path("stdin.csv")), flown.out) << scene;
    }
    const Result result = run({"fly", dir_, "--iterator", "Cam"});
    EXPECT_TRUE(result.status == 2 && result.err.find("is a directory, not a scene file") != std::string::npos)
        << result.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 8) << "a temporary file was left behind";
}

TEST_F(CamsysCli, RetimeKeepsTotalsIsAFixedPointAndRefusesBadInput) {
    const Result even = run({"retime", kFlythrough, "--even", "-o", path("even.json")});
    ASSERT_EQ(even.status, 0) << even.err;
    // One line per path, its total flight time kept.
    std::smatch total;
    ASSERT_TRUE(std::regex_match(even.err, total, std::regex("camsys retime: Flight: [^\n]* (\\d+) ms -> (\\d+) ms\n")))
        << even.err;
    EXPECT_EQ(total[1], total[2]);
    // The distances do not depend on the times: retiming the result again changes nothing, and
    // .sco output holds the same scene.
    ASSERT_EQ(run({"retime", path("even.json"), "--path", "Flight", "--even", "-o", path("again.sco")}).status, 0);
    ASSERT_EQ(run({"load", path("again.sco"), "-o", path("again.json")}).status, 0);
    EXPECT_EQ(readFile(path("again.json")), readFile(path("even.json")));

    // The options after `retime EXAMPLE -o out.json`, split at the spaces.
    for (const char* bad : {"--speed 0", "--speed -3", "--speed nan", "--speed inf", "--speed 5 --even", "",
                            "--even --path Nowhere", "--even --path Cam"}) {
        std::vector<std::string> command = {"retime", kFlythrough, "-o", path("out.json")};
        for (const std::string& option : split(bad, ' ')) command.push_back(option);
        const Result result = run(command);
        EXPECT_EQ(result.status, 2) << bad << ": " << result.err;
        EXPECT_FALSE(std::ifstream(path("out.json")).good()) << bad;
    }
}
