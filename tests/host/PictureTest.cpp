#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "framework/Runtime.h"
#include "host/Host.h"
#include "host/Picture.h"

using host::DrawCall;
using host::DrawKind;
using host::Host;
using host::PictureLabel;

namespace fs = std::filesystem;

namespace {

// A module of the framework's base factory alone; the scene is made of the test's own classes.
RtsObjectFactory baseFactory;
RtsObjectFactory* baseTable[] = {&baseFactory, nullptr};
void baseSetIRTS(IRTS* runtime) { SetModuleRuntime(runtime); }
RtsObjectFactory** baseFactories() { return baseTable; }

constexpr float kGrey[4] = {0.5f, 0.5f, 0.5f, 0.6f};
constexpr float kGreen[4] = {0.0f, 0.4f, 0.0f, 0.8f};
constexpr float kBlue[4] = {0.0f, 0.0f, 0.4f, 0.8f};

/// Draws a marker and an arrow from its position; answers like a waypoint (identifier 26) when
/// `waypoint` is set, like a path otherwise.
class Drawer final : public RtsObject, public ISCO_GCDrawSelf, public ISCO_CSWayPoint {
public:
    Drawer(const CGUID& guid, const CGUID& second, ISCODescriptor* d, bool waypoint)
        : RtsObject(guid, second, d), waypoint_(waypoint) {}
    void Draw3D(IGC_DrawSelfParameter*) override {
        const _Point3<float> p = ObjectPos.Origin, end = p + _Point3<float>{0, 16, 0}, tip = p + _Point3<float>{0, 0, 32};
        REU->DrawLine(&p, &end, 0.0f, 16.0f, kGrey, 1);
        REU->DrawArrow(&p, &tip, 3.2f, 1.6f, 0.4f, kBlue, kGreen, 1);
    }
    void Draw2D(IGC_DrawSelfParameter*) override {}
    ULong GetTime2Next() override { return 0; }
    float GetDistanceSum() override { return 0; }
    float GetDistance2Next() override { return 0; }
    void SetDistance2Next(float) override {}
    ULong GetPauseTime() override { return 0; }
    bool IsOn() override { return true; }
    void GetEaseInOut(bool&, bool&) override {}
    void CalcOrientationAtDistance(float, COrientation&) override {}
    float CalcDistanceAtTime(float) override { return 0; }
    void SetData(COrientation&, COrientation&, COrientation&, COrientation&) override {}
    float GetPara(int) override { return 0; }
    void Refresh() override {}
    bool QueryInterface(ULong id, void** out) override {
        if (DescriptorRefuses(out)) return false;
        if (id == kIdGCDrawSelf) return HandOut(static_cast<ISCO_GCDrawSelf*>(this), out);
        if (id == kIdCSWayPoint && waypoint_) return HandOut(static_cast<ISCO_CSWayPoint*>(this), out);
        return BaseQueryInterface(id, out);
    }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }

private:
    bool waypoint_;
};

host::ObjectMaker drawer(bool waypoint) {
    return [=](const CGUID& guid, const CGUID& second, ISCODescriptor* d) { return new Drawer(guid, second, d, waypoint); };
}

bool samePoint(const _Point3<float>& a, const _Point3<float>& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

/// A decoded PNG; check `ok()` first.
struct Decoded {
    cairo_surface_t* surface;
    explicit Decoded(const fs::path& file) : surface(cairo_image_surface_create_from_png(file.c_str())) {}
    ~Decoded() { cairo_surface_destroy(surface); }
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface); }
    int height() const { return cairo_image_surface_get_height(surface); }
    std::uint32_t pixel(int x, int y) const {
        std::uint32_t value;
        std::memcpy(&value, cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface) + 4 * x, 4);
        return value;
    }
    /// More than one colour among the pixels with x in [x0, x1).
    bool variedIn(int x0, int x1) const {
        for (int y = 0; y < height(); ++y)
            for (int x = x0; x < x1; ++x)
                if (pixel(x, y) != pixel(x0, 0)) return true;
        return false;
    }
    bool samePixels(const Decoded& other) const {
        if (width() != other.width() || height() != other.height()) return false;
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x)
                if (pixel(x, y) != other.pixel(x, y)) return false;
        return true;
    }
};

class PictureTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("camsys-picture-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::size_t filesInFolder() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    fs::path folder;
};

/// Calls as the plug-in makes them: through the render utility's interface.
std::vector<DrawCall> smallScene() {
    host::RecordingRenderer recorder;
    const _Point3<float> a{0, 0, 0}, b{100, 50, 20}, c{180, -20, 60}, up{0, 0, 32};
    recorder.DrawLine(&a, &b, 2.0f, 2.0f, kGrey, 0);
    recorder.DrawLine(&b, &c, 2.0f, 2.0f, kGrey, 0);
    recorder.DrawLine(&a, &b, 0.0f, 16.0f, kGrey, 1);
    recorder.DrawArrow(&a, &up, 3.2f, 1.6f, 0.4f, kBlue, kBlue, 1);
    recorder.DrawArrow(&b, &c, 3.2f, 1.6f, 0.4f, kGreen, kGreen, 1);
    return recorder.calls();
}

}  // namespace

TEST_F(PictureTest, DrawSceneCallsEveryDrawerAndLabelsTheWaypoints) {
    Host host{&baseSetIRTS, &baseFactories};
    const Handle first = host.add("wp-a", Handle(), drawer(true));
    host.add("track", Handle(), drawer(false));
    host.createPlain("target", {5, 5, 5});
    const Handle second = host.add("wp-b", Handle(), drawer(true));
    const Handle hidden = host.add("wp-hidden", Handle(), drawer(true));
    host.object(first)->ObjectPos.Origin = {1, 2, 3};
    host.object(second)->ObjectPos.Origin = {40, 30, 10};
    host.descriptor(hidden)->setRefusesInterfaces(true);  // hands out nothing: neither drawn nor named

    // A stale call in the recorder is dropped, and REU pointed elsewhere gets its target back.
    const _Point3<float> o{0, 0, 0};
    host::defaultRecorder().DrawLine(&o, &o, 1, 1, kGrey, 0);
    host::RecordingRenderer elsewhere;
    IRenderEngineUtility* const saved = REU;
    REU = &elsewhere;
    const host::SceneDrawing drawing = host.drawScene();
    EXPECT_EQ(REU, &elsewhere);
    REU = saved;
    EXPECT_TRUE(elsewhere.calls().empty());

    // Line and arrow of wp-a, of the track (at the origin), of wp-b: in order of creation.
    ASSERT_EQ(drawing.calls.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(drawing.calls[i].kind, i % 2 ? DrawKind::Arrow : DrawKind::Line);
    EXPECT_TRUE(samePoint(drawing.calls[0].to, {1, 18, 3}));
    EXPECT_EQ(drawing.calls[0].widthTo, 16.0f);
    EXPECT_TRUE(samePoint(drawing.calls[3].to, {0, 0, 32}));
    EXPECT_TRUE(samePoint(drawing.calls[5].to, {40, 30, 42}));
    EXPECT_EQ(drawing.calls[5].colour2[1], 0.4f);
    ASSERT_EQ(drawing.labels.size(), 2u);
    EXPECT_EQ(drawing.labels[0].text, "wp-a");
    EXPECT_TRUE(samePoint(drawing.labels[0].position, {1, 2, 3}));
    EXPECT_EQ(drawing.labels[1].text, "wp-b");
    EXPECT_TRUE(samePoint(drawing.labels[1].position, {40, 30, 10}));
    // Every reference handed out while drawing was given back.
    EXPECT_EQ(host.runtime().referencesHandedOut(), host.runtime().counters().releases);
}

TEST_F(PictureTest, WritesPngAndSvgOrNothing) {
    const std::vector<PictureLabel> labels = {{{0, 0, 0}, "start"}, {{100, 50, 20}, "middle"}};
    const fs::path png = folder / "scene.png";
    host::writePicture(smallScene(), labels, png.string(), {640, 320});
    {
        Decoded decoded(png);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded.width(), 640);
        EXPECT_EQ(decoded.height(), 320);
        EXPECT_TRUE(decoded.variedIn(0, 320) && decoded.variedIn(320, 640));  // both views drawn
    }
    // Default size; the extension in any case; writing again replaces the file.
    const fs::path upper = folder / "SCENE.PNG";
    host::writePicture(smallScene(), labels, upper.string());
    host::writePicture({}, {}, upper.string());
    EXPECT_EQ(Decoded(upper).width(), 1600);
    EXPECT_EQ(Decoded(upper).height(), 800);

    const fs::path svg = folder / "scene.svg";
    host::writePicture(smallScene(), labels, svg.string(), {640, 320});
    std::ifstream in(svg);
    std::string start(5, '\0');
    in.read(start.data(), 5);
    EXPECT_TRUE(start == "<?xml" || start.rfind("<svg", 0) == 0) << start;

    // Refused requests leave no file behind, not even a temporary one.
    const std::size_t before = filesInFolder();
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "scene.jpg").string()), std::runtime_error);
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "scene").string()), std::runtime_error);
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "w.png").string(), {0, 100}), std::runtime_error);
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "w.png").string(), {40000, 9}), std::runtime_error);
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "no" / "x.png").string()), std::runtime_error);
    EXPECT_THROW(host::writePicture(smallScene(), labels, (folder / "no" / "x.svg").string()), std::runtime_error);
    EXPECT_EQ(filesInFolder(), before);
}

TEST_F(PictureTest, DegenerateInputGivesAPictureAnyway) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const host::PictureOptions small{300, 150};

    // Nothing drawn: an empty, framed picture. A single point: a picture around it.
    host::writePicture({}, {}, (folder / "empty.png").string(), small);
    EXPECT_TRUE(Decoded(folder / "empty.png").variedIn(0, 300));
    host::RecordingRenderer recorder;
    const _Point3<float> p{7, 7, 7}, zero{0, 0, 0}, far{3e38f, -3e38f, 3e38f};
    recorder.DrawLine(&p, &p, 0.0f, 0.0f, kGrey, 1);
    host::writePicture(recorder.calls(), {{p, "only"}}, (folder / "point.png").string(), small);
    EXPECT_TRUE(Decoded(folder / "point.png").ok());

    // Calls and labels with a non-finite coordinate are left out: the picture is that of the
    // finite ones alone.
    const fs::path clean = folder / "clean.png", dirty = folder / "dirty.png";
    host::writePicture(smallScene(), {{zero, "start"}}, clean.string(), small);
    std::vector<DrawCall> calls = smallScene();
    DrawCall bad = calls[0];
    bad.to.x = nan;
    calls.push_back(bad);
    bad.to.x = 1;
    bad.from.z = -inf;
    bad.kind = DrawKind::Arrow;
    calls.push_back(bad);
    host::writePicture(calls, {{zero, "start"}, {{nan, 0, 0}, "lost"}}, dirty.string(), small);
    EXPECT_TRUE(Decoded(clean).samePixels(Decoded(dirty)));

    // Huge extents, non-finite widths, sizes and colours, names that are not UTF-8 or very long.
    const float oddColour[4] = {nan, inf, -1.0f, 2.0f};
    recorder.DrawLine(&zero, &far, nan, inf, oddColour, 0);
    recorder.DrawArrow(&far, &zero, inf, -1e30f, nan, oddColour, oddColour, 0);
    recorder.DrawArrow(&zero, &zero, 3.2f, 1.6f, 0.4f, kBlue, kBlue, 0);
    const std::vector<PictureLabel> names = {{zero, "bad \xff\xfe utf-8 \x01"}, {far, std::string(500, 'x')}, {p, ""}};
    host::writePicture(recorder.calls(), names, (folder / "odd.png").string(), small);
    host::writePicture(recorder.calls(), names, (folder / "odd.svg").string(), small);
    host::writePicture(recorder.calls(), names, (folder / "tiny.png").string(), {1, 1});
    EXPECT_TRUE(Decoded(folder / "odd.png").ok());
    EXPECT_EQ(Decoded(folder / "tiny.png").width(), 1);
}
