// The editor's drawing of a scene, and pictures written from recorded drawing calls.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "host/Picture.h"
#include "host/RecordingRenderer.h"
#include "tests/support/InProcessHost.h"

using host::DrawCall;
using host::PictureLabel;
namespace fs = std::filesystem;

namespace {

constexpr float kGrey[4] = {0.5f, 0.5f, 0.5f, 0.6f};
constexpr float kBlue[4] = {0.0f, 0.0f, 0.4f, 0.8f};

/// A decoded PNG: its size and its pixels row by row; no pixels when it did not decode.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    explicit Decoded(const std::string& file) {
        cairo_surface_t* surface = cairo_image_surface_create_from_png(file.c_str());
        if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
            width = cairo_image_surface_get_width(surface);
            height = cairo_image_surface_get_height(surface);
            const unsigned char* data = cairo_image_surface_get_data(surface);
            for (int y = 0; y < height; ++y) {
                const auto* row =
                    reinterpret_cast<const std::uint32_t*>(data + y * cairo_image_surface_get_stride(surface));
                pixels.insert(pixels.end(), row, row + width);
            }
        }
        cairo_surface_destroy(surface);
    }
    /// More than one colour among the pixels with x in [x0, x1).
    bool variedIn(int x0, int x1) const {
        for (int y = 0; y < height; ++y)
            for (int x = x0; x < x1; ++x)
                if (pixels[y * width + x] != pixels[x0]) return true;
        return false;
    }
};

/// A folder of its own for each test.
class PictureTest : public testing_support::InProcessHost {
protected:
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }
    std::string file(const std::string& name) const { return (folder / name).string(); }
    fs::path folder = fs::temp_directory_path() / ("camsys-picture-" + std::to_string(::getpid()));
};

/// Calls as the plug-in makes them: through the render utility's interface.
std::vector<DrawCall> smallScene() {
    host::RecordingRenderer recorder;
    const _Point3<float> a{0, 0, 0}, b{100, 50, 20}, c{180, -20, 60}, up{0, 0, 32};
    recorder.DrawLine(&a, &b, 2.0f, 2.0f, kGrey, 0);
    recorder.DrawLine(&b, &c, 0.0f, 16.0f, kGrey, 1);
    recorder.DrawArrow(&a, &up, 3.2f, 1.6f, 0.4f, kBlue, kBlue, 1);
    return recorder.calls();
}

}  // namespace

TEST_F(PictureTest, DrawSceneCallsEveryDrawerAndLabelsTheWaypoints) {
    const Handle track = host.create("SCOCameraSystemPath", "track");
    const Handle a = host.create("SCOCameraSystemWaypoint", "wp-a", track);
    host.createPlain("target", {5, 5, 5});
    const Handle b = host.create("SCOCameraSystemWaypoint", "wp-b", track);
    const Handle hidden = host.create("SCOCameraSystemWaypoint", "wp-hidden");
    host.object(a)->ObjectPos.Origin = {1, 2, 3};
    host.object(b)->ObjectPos.Origin = {40, 30, 10};
    host.afterLoadAll();
    host.descriptor(hidden)->setRefusesInterfaces(true);  // hands out nothing: neither drawn nor named

    // What each drawer draws by itself, in the order the objects were made.
    host::RecordingRenderer own;
    IRenderEngineUtility* const saved = REU;
    REU = &own;
    for (const Handle& drawer : {track, a, b}) CInterfacePtr<ISCO_GCDrawSelf>(drawer)->Draw3D(nullptr);
    const std::vector<DrawCall> expected = own.calls();
    ASSERT_FALSE(expected.empty());
    host::defaultRecorder().DrawLine(&expected[0].from, &expected[0].to, 1, 1, kGrey, 0);  // stale: dropped
    // REU pointed elsewhere gets its target back, and nothing more is drawn there.
    const host::SceneDrawing drawing = host.drawScene();
    EXPECT_EQ(REU, &own);
    REU = saved;
    EXPECT_EQ(own.calls().size(), expected.size());
    ASSERT_EQ(drawing.calls.size(), expected.size());
    EXPECT_EQ(std::memcmp(drawing.calls.data(), expected.data(), sizeof(DrawCall) * expected.size()), 0);

    ASSERT_EQ(drawing.labels.size(), 2u);
    EXPECT_TRUE(drawing.labels[0].text == "wp-a" && drawing.labels[0].position.z == 3.0f);
    EXPECT_TRUE(drawing.labels[1].text == "wp-b" && drawing.labels[1].position.x == 40.0f);
    EXPECT_EQ(host.runtime().referencesHandedOut(), host.runtime().counters().releases);
}

TEST_F(PictureTest, WritesPngAndSvgOrNothing) {
    const std::vector<PictureLabel> labels = {{{0, 0, 0}, "start"}, {{100, 50, 20}, "middle"}};
    host::writePicture(smallScene(), labels, file("scene.png"), {640, 320});
    const Decoded decoded(file("scene.png"));
    ASSERT_TRUE(decoded.width == 640 && decoded.height == 320);
    EXPECT_TRUE(decoded.variedIn(0, 320) && decoded.variedIn(320, 640)) << "both views drawn";
    // Default size; the extension in any case; writing again replaces the file; an empty
    // picture is still framed.
    host::writePicture(smallScene(), labels, file("SCENE.PNG"));
    host::writePicture({}, {}, file("SCENE.PNG"));
    const Decoded empty(file("SCENE.PNG"));
    EXPECT_TRUE(empty.width == 1600 && empty.height == 800 && empty.variedIn(0, 800));

    // Refused requests leave no file behind, not even a temporary one.
    const auto count = [&] { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); };
    const auto before = count();
    const std::pair<const char*, host::PictureOptions> refused[] = {{"scene.jpg", {}},   {"scene", {}},
                                                                    {"w.png", {0, 100}}, {"w.png", {40000, 9}},
                                                                    {"no/x.png", {}},    {"no/x.svg", {}}};
    for (const auto& [name, size] : refused)
        EXPECT_THROW(host::writePicture(smallScene(), labels, file(name), size), std::runtime_error) << name;
    EXPECT_EQ(count(), before);
    // The names the tool checks before it loads anything: the extension decides, in any case.
    for (const char* name : {"a.png", "b/SCENE.PNG", "c.Svg"}) EXPECT_TRUE(host::isPicturePath(name)) << name;
    for (const char* name : {"scene.jpg", "scene", "scene.png/x", ".png", "scene.png.txt"})
        EXPECT_FALSE(host::isPicturePath(name)) << name;
}

TEST_F(PictureTest, DegenerateInputGivesAPictureAnyway) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const host::PictureOptions small{300, 150};
    // Calls and labels with a non-finite coordinate are left out: the picture is that of the
    // finite ones alone.
    const _Point3<float> p{7, 7, 7}, zero{0, 0, 0}, far{3e38f, -3e38f, 3e38f};
    host::writePicture(smallScene(), {{zero, "start"}}, file("clean.png"), small);
    std::vector<DrawCall> calls = smallScene();
    calls.push_back(calls[0]);
    calls.back().to.x = nan;
    calls.push_back(calls[2]);
    calls.back().from.z = -inf;
    host::writePicture(calls, {{zero, "start"}, {{nan, 0, 0}, "lost"}}, file("dirty.png"), small);
    const Decoded clean(file("clean.png"));
    EXPECT_TRUE(!clean.pixels.empty() && clean.pixels == Decoded(file("dirty.png")).pixels);

    // A single point; then huge extents, non-finite widths, sizes and colours, odd names; one pixel.
    host::RecordingRenderer recorder;
    const float oddColour[4] = {nan, inf, -1.0f, 2.0f};
    recorder.DrawLine(&p, &p, 0.0f, 0.0f, kGrey, 1);
    host::writePicture(recorder.calls(), {{p, "only"}}, file("point.png"), small);
    EXPECT_FALSE(Decoded(file("point.png")).pixels.empty());
    recorder.DrawLine(&zero, &far, nan, inf, oddColour, 0);
    recorder.DrawArrow(&far, &zero, inf, -1e30f, nan, oddColour, oddColour, 0);
    const std::vector<PictureLabel> names = {{zero, "bad \xff\xfe utf-8 \x01"}, {far, std::string(500, 'x')}, {p, ""}};
    for (const char* name : {"odd.png", "odd.svg"}) host::writePicture(recorder.calls(), names, file(name), small);
    host::writePicture(recorder.calls(), names, file("tiny.png"), {1, 1});
    EXPECT_FALSE(Decoded(file("odd.png")).pixels.empty());
    EXPECT_EQ(Decoded(file("tiny.png")).pixels.size(), 1u);
}
