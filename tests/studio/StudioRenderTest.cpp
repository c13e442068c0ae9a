// A render's settings as the command and the page give them, and the render's API in-process on
// a copy of the example: the frames it serves, the bytes it writes and where, and what it refuses.
#include <algorithm>
#include <bit>
#include <cmath>

#include "flight/Flight.h"
#include "studio/server/ApiErrors.h"
#include "studio/server/Render.h"
#include "tests/studio/StudioHarness.h"

using studio::RenderFormat;
using studio::RenderSettings;

namespace {

using namespace studio_test;

std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// A copy of the example in a folder of its own, and a studio over it, or one with a render to make.
class StudioRenderTest : public ExampleStudioTest {
protected:
    void open(const RenderSettings& settings, const std::string& output) {
        studio.reset();  // hosts of one plug-in nest: the first goes before the next comes
        studio = std::make_unique<Studio>(file, [&](studio::StudioOptions& options) {
            options.render = std::make_shared<studio::RenderTask>(settings, (folder / output).string());
        });
    }
    int data(const std::string& query, const std::string& bytes, const std::string& type = "application/octet-stream") {
        return studio->call("POST", "/api/render/data" + query, bytes, type).first;
    }
};

}  // namespace

TEST(RenderSettings, RefusesWhatCannotBeRenderedInTheCommandsWords) {
    const auto with = [](auto change) {
        RenderSettings s;
        change(s);
        return studio::renderSettingsProblem(s);
    };
    EXPECT_EQ(with([](RenderSettings&) {}), "");
    // The limits themselves; a pattern only frames are named by.
    EXPECT_EQ(with([](RenderSettings& s) { s.width = s.height = 16, s.from = s.to = 500u, s.crf = 0; }), "");
    EXPECT_EQ(with([](RenderSettings& s) { s.width = s.height = 4096, s.fps = 240, s.vfov = 179; }), "");
    EXPECT_EQ(with([](RenderSettings& s) { s.format = RenderFormat::WebM, s.crf = 63, s.framePattern = "clip"; }), "");
    for (const int side : {1281, 14, 4098, 0})
        EXPECT_NE(with([&](RenderSettings& s) { s.width = side; }).find("size"), std::string::npos) << side;
    EXPECT_NE(with([](RenderSettings& s) { s.height = 719; }).find("1280x719"), std::string::npos);
    for (const double fps : {0.0, std::nan(""), 240.5, -30.0})
        EXPECT_NE(with([&](RenderSettings& s) { s.fps = fps; }).find("frame rate"), std::string::npos) << fps;
    for (const double vfov : {0.5, 180.0, std::nan("")})
        EXPECT_NE(with([&](RenderSettings& s) { s.vfov = vfov; }).find("field of view"), std::string::npos) << vfov;
    EXPECT_NE(with([](RenderSettings& s) { s.from = 2000u, s.to = 1999u; }).find("--to"), std::string::npos);
    EXPECT_NE(with([](RenderSettings& s) { s.crf = 52; }).find("51"), std::string::npos);
    EXPECT_NE(with([](RenderSettings& s) { s.format = RenderFormat::WebM, s.crf = 64; }).find("63"), std::string::npos);
    EXPECT_NE(with([](RenderSettings& s) { s.crf = -2; }), "");
    for (const char* pattern : {"frame.png", "%d%d.png", "%05d-%d.png", "shots/%05d.png", "%05d.jpg", "%5d.png",
                                "%010d.png", "%05x.png", "%"}) {
        const std::string problem =
            with([&](RenderSettings& s) { s.format = RenderFormat::Frames, s.framePattern = pattern; });
        EXPECT_NE(problem.find(std::string("\"") + pattern + "\""), std::string::npos) << pattern << ": " << problem;
    }
}

TEST(RenderSettings, FrameNamesAndTheJsonThePageReadsBack) {
    // (Padded names and text around the number: render.test.mjs's frames.)
    EXPECT_EQ(studio::frameFileName("%05d.png", 123456), "123456.png");
    EXPECT_EQ(studio::frameFileName("%d.png", 0), "0.png");
    EXPECT_EQ(studio::frameFileName("%09d.png", 4294967301u), "4294967301.png");

    RenderSettings s;
    s.format = RenderFormat::Frames, s.width = 640, s.height = 360, s.fps = 29.97, s.vfov = 45.5;
    s.from = 1000u, s.to = 5000u, s.overlay = s.showPath = true, s.crf = 20, s.iterator = "Chase";
    s.start = 0xFFFFFFFFu, s.framePattern = "shot-%03d.png";
    for (const RenderSettings& given : {s, RenderSettings{}}) {
        const RenderSettings read = studio::renderSettingsFromJson(studio::renderSettingsJson(given));
        EXPECT_EQ(read.format, given.format);
        EXPECT_EQ(std::tie(read.width, read.height, read.fps, read.vfov, read.from, read.to, read.overlay,
                           read.showPath, read.crf, read.iterator, read.start, read.framePattern),
                  std::tie(given.width, given.height, given.fps, given.vfov, given.from, given.to, given.overlay,
                           given.showPath, given.crf, given.iterator, given.start, given.framePattern));
    }
    for (const char* json : {R"({"width": 640, "colour": "red"})", R"({"width": "640"})", R"({"width": 640.5})",
                             R"({"overlay": 1})", R"({"fps": "30"})", R"({"format": "gif"})", R"({"start": -1})",
                             R"({"start": 4294967296})", R"({"from": 1.5})", R"({"width": 641})", "[]", "{"})
        EXPECT_THROW(studio::renderSettingsFromJson(json), studio::BadRequest) << json;
}

TEST_F(StudioRenderTest, AVideosFramesAreAtTheirOwnTimesWithinTheRangeAndItsBytesLandWhole) {
    RenderSettings settings;
    settings.start = 510, settings.from = 1000u, settings.to = 4000u;
    open(settings, "clip.mp4");
    const auto [status, frames] = studio->call("GET", "/api/render/frames");
    ASSERT_EQ(status, 200) << frames.dump();
    std::vector<std::uint32_t> expected;
    for (std::size_t k = 0; host::frameTime(0, 30, k) <= 4000; ++k)
        if (host::frameTime(0, 30, k) >= 1000) expected.push_back(host::frameTime(510, 30, k));
    EXPECT_EQ(frames["rows"], expected.size());
    EXPECT_EQ(base64Words(frames["data"]["time"]), expected);
    EXPECT_EQ(frames["labels"], Json::array());
    EXPECT_EQ(frames["waypoints"][0], "W0");

    // The bytes as a muxer sends them, the header patched last; anything but raw bytes refused.
    EXPECT_EQ(data("?offset=8", "mdat-body"), 200);
    EXPECT_EQ(data("?offset=0", "ftypmoov"), 200);
    EXPECT_EQ(data("?offset=0", "FT"), 200);
    EXPECT_EQ(data("?offset=0", "xx", "application/json"), 400);
    EXPECT_EQ(data("?offset=0&frame=1", "xx"), 400) << "a video is one file";
    EXPECT_FALSE(fs::exists(folder / "clip.mp4")) << "visible before the end";
    const auto [finished, answer] = studio->call("POST", "/api/render/finish", R"({"timings": {"total": 12}})");
    ASSERT_EQ(finished, 200) << answer.dump();
    EXPECT_EQ(answer["progress"]["state"], "finished");
    EXPECT_EQ(answer["progress"]["bytes"], 19);
    EXPECT_EQ(readText(folder / "clip.mp4"), "FTypmoovmdat-body");
    EXPECT_EQ(data("?offset=0", "late"), 409);
}

TEST_F(StudioRenderTest, FramesGoToTheirOwnFilesAndAFailedRenderLeavesNothing) {
    RenderSettings settings;
    settings.format = RenderFormat::Frames, settings.framePattern = "f%03d.png";
    open(settings, "frames");
    EXPECT_EQ(data("?offset=0", "no frame"), 400);
    EXPECT_EQ(data("?frame=2", "two"), 200);
    EXPECT_EQ(data("?frame=0&offset=4", "zero"), 200);
    EXPECT_EQ(data("?frame=0&offset=0", "0000"), 200);
    ASSERT_EQ(studio->call("POST", "/api/render/finish").first, 200);
    EXPECT_EQ(listing(folder / "frames"), (std::vector<std::string>{"f000.png", "f002.png"}));
    EXPECT_EQ(readText(folder / "frames" / "f000.png"), "0000zero");

    // The page starts the next render beside the scene: plain names only, one at a time.
    const auto start = [&](const std::string& name) {
        return studio->call("POST", "/api/render", Json{{"name", name}, {"settings", {{"format", "sheet"}}}}.dump());
    };
    // ... and of the format's own kind, never the scene or another file there.
    for (const char* name : {"../outside.png", "sub/sheet.png", ".hidden.png", "", "scene.json", "town.glb", "png"})
        EXPECT_EQ(start(name).first, 400) << name;
    ASSERT_EQ(start("sheet.png").first, 200);
    EXPECT_EQ(start("other.png").first, 409);
    // Its frames, those of a sheet (which ASheetsFramesAreTheCameraAtEachMoment checks).
    const Json frames = studio->call("GET", "/api/render/frames").second;
    EXPECT_EQ(frames["labels"][0].get<std::string>().rfind("start · ", 0), 0u) << frames.dump();

    EXPECT_EQ(data("?offset=0", "half a sheet"), 200);
    const auto [failed, answer] = studio->call("POST", "/api/render/fail", R"({"error": "the GPU is gone"})");
    ASSERT_EQ(failed, 200);
    EXPECT_EQ(answer["progress"]["state"], "failed");
    EXPECT_EQ(answer["progress"]["error"], "the GPU is gone");
    EXPECT_EQ(listing(folder), (std::vector<std::string>{"frames", "scene.json"}));
    EXPECT_EQ(data("?offset=0", "late"), 409);
    EXPECT_EQ(start("sheet.png").first, 200) << "a new render once the last has ended";
}

TEST_F(StudioRenderTest, ARenderKeptByThePageWritesNothing) {
    // A render whose bytes the page keeps (a download) still gets its frames from the server (a
    // video of them: render.test.mjs), but nothing of it reaches the scene's folder; frames and a
    // name that is none are refused.
    const auto start = [&](const Json& name, const Json& settings) {
        return studio->call("POST", "/api/render", Json{{"name", name}, {"settings", settings}}.dump());
    };
    const Json settings = {{"format", "webm"}, {"width", 64}, {"height", 36}, {"fps", 10}, {"from", 100}, {"to", 400}};
    const auto [started, task] = start(nullptr, settings);
    ASSERT_EQ(started, 200) << task.dump();
    EXPECT_TRUE(task["progress"]["output"].is_null());
    EXPECT_EQ(data("?offset=0", "bytes"), 409);
    const Json end = studio->call("POST", "/api/render/finish", "{}").second;
    EXPECT_EQ(end["progress"]["state"], "finished") << end.dump();
    EXPECT_EQ(end["progress"]["bytes"], 0);

    EXPECT_EQ(start(nullptr, {{"format", "frames"}}).first, 400);
    EXPECT_EQ(start(3, settings).first, 400);
    EXPECT_EQ(listing(folder), std::vector<std::string>{"scene.json"});
}

// A sheet's frames flown at the moments alone: each cell shows the camera as the studio's frame
// at that time does, and every label has its frame. The Run at the path's end would hold the eye
// of the moment before it (the shot after the cut), so the end is shown where the camera arrived.
TEST_F(StudioRenderTest, ASheetsFramesAreTheCameraAtEachMoment) {
    RenderSettings settings;
    settings.format = RenderFormat::Sheet;
    open(settings, "sheet.png");
    const auto [status, frames] = studio->call("GET", "/api/render/frames");
    ASSERT_EQ(status, 200) << frames.dump();
    const std::vector<std::uint32_t> times = base64Words(frames["data"]["time"]);
    EXPECT_EQ(frames["labels"].size(), times.size()) << frames["labels"];
    EXPECT_NE(frames["labels"].back().get<std::string>().find("end · "), std::string::npos) << frames["labels"];
    for (std::size_t k = 0; k < times.size(); ++k) {
        const Json frame = studio->call("GET", "/api/frame?t=" + std::to_string(times[k])).second;
        for (const char* column : {"x", "y", "z"}) {
            const std::vector<std::uint32_t> bits = base64Words(frames["data"][column]);
            EXPECT_EQ(bits[k], std::bit_cast<std::uint32_t>(frame[column].get<float>()))
                << column << " at " << times[k];
        }
    }
}
