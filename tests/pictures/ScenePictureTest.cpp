// The editor's drawing of a scene, and pictures written from it.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "pictures/ScenePicture.h"
#include "tests/support/InProcessHost.h"

namespace fs = std::filesystem;

namespace {

constexpr float kGrey[4] = {0.5f, 0.5f, 0.5f, 0.6f};

/// A decoded PNG: its size and its pixels; no pixels when it did not decode.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    explicit Decoded(const std::string& file) {
        cairo_surface_t* surface = cairo_image_surface_create_from_png(file.c_str());
        if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
            width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
            // Four bytes a pixel: the rows need no padding.
            const auto* data = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface));
            pixels.assign(data, data + width * height);
        }
        cairo_surface_destroy(surface);
    }
    /// More than one colour: something was drawn.
    bool varied() const {
        return !pixels.empty() && std::count(pixels.begin(), pixels.end(), pixels[0]) < width * height;
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

}  // namespace

TEST_F(PictureTest, DrawsTheSceneAsPngOrSvg) {
    const Handle track = host.create("SCOCameraSystemPath", "track");
    const Handle a = host.create("SCOCameraSystemWaypoint", "wp-a", track);
    const Handle b = host.create("SCOCameraSystemWaypoint", "wp-b", track);
    host.object(b)->ObjectPos.Origin = {40, 30, 10};
    const Handle hidden = host.create("SCOCameraSystemWaypoint", "hidden");
    host.afterLoadAll();
    host.descriptor(hidden)->setRefusesInterfaces(true);  // hands out nothing: neither drawn nor named

    // The calls each drawer makes by itself, in the order the objects were made (the recorder
    // starts empty), and the waypoints' names at their positions.
    host::defaultRecorder().clear();
    for (const Handle& drawer : {track, a, b}) CInterfacePtr<ISCO_GCDrawSelf>(drawer)->Draw3D(nullptr);
    const std::vector<host::DrawCall> own = host::defaultRecorder().calls();
    const host::SceneDrawing scene = host.drawScene();
    ASSERT_EQ(scene.calls.size(), own.size());
    EXPECT_EQ(std::memcmp(scene.calls.data(), own.data(), sizeof(host::DrawCall) * own.size()), 0);
    ASSERT_EQ(scene.labels.size(), 2u);
    EXPECT_TRUE(scene.labels[0].text == "wp-a" && scene.labels[1].text == "wp-b" && scene.labels[1].position.x == 40);
    EXPECT_EQ(host.runtime().referencesHandedOut(), host.runtime().counters().releases);

    // The picture: the requested size, not blank; the default size, the extension in any case,
    // and an empty drawing still framed; an SVG file.
    host::writeScenePictureFile(file("scene.png"), scene.calls, scene.labels, {640, 320});
    host::writeScenePictureFile(file("EMPTY.PNG"), {}, {});
    const Decoded png(file("scene.png")), empty(file("EMPTY.PNG"));
    EXPECT_TRUE(png.width == 640 && png.height == 320 && png.varied());
    EXPECT_TRUE(empty.width == 1600 && empty.height == 800 && empty.varied());
    host::writeScenePictureFile(file("scene.Svg"), scene.calls, scene.labels);
    std::ifstream svg(file("scene.Svg"));
    const std::string text(std::istreambuf_iterator<char>(svg), {});
    EXPECT_TRUE(text.starts_with("<?xml") && text.find("<svg") != std::string::npos) << text.substr(0, 80);

    // Refused requests (unknown extension, size out of range, no folder) leave no file behind.
    const std::pair<const char*, host::PictureOptions> refused[] = {
        {"scene.jpg", {}}, {"scene", {}}, {"w.png", {0, 100}}, {"w.png", {40000, 9}}, {"no/x.svg", {}}};
    for (const auto& [name, size] : refused)
        EXPECT_THROW(host::writeScenePictureFile(file(name), scene.calls, {}, size), std::runtime_error) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
}

TEST_F(PictureTest, NonFiniteAndDegenerateInputGivesAPictureAnyway) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    // A single point; calls and labels with a non-finite coordinate are left out.
    host::RecordingRenderer recorder;
    const _Point3<float> p{7, 7, 7}, zero{0, 0, 0}, far{3e38f, -3e38f, 3e38f}, lost{nan, 0, -inf};
    recorder.DrawLine(&p, &p, 0.0f, 0.0f, kGrey, 1);
    host::writeScenePictureFile(file("clean.png"), recorder.calls(), {{p, "only"}}, {300, 150});
    recorder.DrawLine(&p, &lost, 1, 1, kGrey, 0);
    recorder.DrawArrow(&lost, &p, 1, 1, 1, kGrey, kGrey, 0);
    host::writeScenePictureFile(file("dirty.png"), recorder.calls(), {{p, "only"}, {lost, "lost"}}, {300, 150});
    const Decoded clean(file("clean.png"));
    EXPECT_TRUE(clean.varied() && clean.pixels == Decoded(file("dirty.png")).pixels);

    // Huge extents, non-finite widths, sizes and colours, odd names; one pixel.
    const float odd[4] = {nan, inf, -1.0f, 2.0f};
    recorder.DrawLine(&zero, &far, nan, inf, odd, 0);
    recorder.DrawArrow(&far, &zero, inf, -1e30f, nan, odd, odd, 0);
    const std::vector<host::PictureLabel> names = {{zero, "bad \xff\xfe utf-8 \x01"}, {far, std::string(500, 'x')}};
    for (const char* name : {"odd.png", "odd.svg"})
        host::writeScenePictureFile(file(name), recorder.calls(), names, {300, 150});
    host::writeScenePictureFile(file("tiny.png"), recorder.calls(), names, {1, 1});
    EXPECT_TRUE(Decoded(file("odd.png")).varied() && Decoded(file("tiny.png")).pixels.size() == 1u);
}
