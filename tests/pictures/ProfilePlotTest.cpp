// The profile: peaks and summary of hand-made flights whose measures are known, the table, and
// pictures decoded back (size, one white panel per quantity, the curve drawn in it).
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "geometry/LevelGeometry.h"
#include "pictures/ProfilePlot.h"
#include "tests/support/LevelMeshes.h"

namespace {

using host::FlightAnalysisInput;
using host::FlightTick;

FlightTick tick(ULong time, _Point3<float> p, ULong waypoint = 0) {
    FlightTick t;
    t.time = time;
    t.waypoint = waypoint;
    t.eye.Origin = p;
    t.eye.Orientation = _CMatrix3<float>(1.0f);
    return t;
}

/// Accelerating along x: x = t^2 / 2 with t in seconds, ticks every 100 ms; speed by backward
/// differences v_k = (x_k - x_{k-1}) / 0.1 = (2k - 1) / 20, so the last tick is the fastest.
FlightAnalysisInput accelerating(int ticks) {
    FlightAnalysisInput in;
    for (int k = 0; k < ticks; ++k) {
        const double t = 0.1 * k;
        in.ticks.push_back(tick(4000 + 100 * k, {static_cast<float>(t * t / 2), 0, 0}, k < ticks / 2 ? 0 : 1));
    }
    in.waypoints = {{"Start", 500, 0, {}}, {"Far", 500, 0, {}}};
    return in;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(Profile, PeaksAndSummaryOfAKnownFlight) {
    const FlightAnalysisInput in = accelerating(11);
    const host::FlightAnalysis analysis = host::analyseFlight(in);
    const auto peaks = host::profilePeaks(analysis);
    // Speed: the last tick, (2 * 10 - 1) / 20 = 0.95 units/s (float positions, so nearly).
    ASSERT_TRUE(peaks[0].defined);
    EXPECT_EQ(peaks[0].tick, 10u);
    EXPECT_NEAR(peaks[0].value, 0.95, 1e-6);
    // Acceleration 1 units/s^2 from the second difference on; ties go to the first tick.
    ASSERT_TRUE(peaks[1].defined);
    EXPECT_NEAR(peaks[1].value, 1.0, 1e-4);
    // Without a target there is no distance to one.
    EXPECT_FALSE(peaks[6].defined);

    const std::string summary = host::profileSummary(in, analysis);
    EXPECT_NE(summary.find("speed: max 0.95 units/s at 1 s (tick 10, time 5000, leaving Far)"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("target_distance: not defined in this flight"), std::string::npos) << summary;

    // The table: a header, a row per tick, undefined measures as empty fields.
    const std::string csv = host::profileToCsv(in, analysis);
    std::istringstream lines(csv);
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(header, "time,waypoint,speed,acceleration,jerk,angular_rate,roll_rate,fov,target_distance");
    EXPECT_EQ(first, "4000,0,,,,,,1,");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12);
}

TEST(Profile, PicturesHaveAPanelPerQuantity) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("camsys-profile-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder);
    const FlightAnalysisInput in = accelerating(40);
    const host::FlightAnalysis analysis = host::analyseFlight(in);
    const std::vector<host::FlightEvent> events = {{4500, host::FlightEvent::Kind::Activate, "Gate"}};

    const auto png = folder / "profile.png";
    host::writeProfilePlotFile(png.string(), "a test flight", in, analysis, events, 900);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
        cairo_image_surface_create_from_png(png.c_str()), &cairo_surface_destroy);
    ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image.get()), 900);
    EXPECT_EQ(cairo_image_surface_get_height(image.get()), host::profilePlotHeight());
    const unsigned char* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    const auto pixel = [&](int x, int y) {
        const auto* p = data + y * stride + 4 * x;
        return std::array<int, 3>{p[2], p[1], p[0]};  // ARGB32 in memory as B, G, R, A
    };
    // Each panel: white somewhere in its empty right part (above the curve, below the title),
    // and some pixel of the curve's blue in it; the gaps between panels are not white.
    const int height = host::profilePlotHeight();
    const int panels = static_cast<int>(host::kProfileQuantities.size());
    const int panel = (height - 64 - 34) / panels;  // panel and gap, as laid out
    int curves = 0;
    for (int q = 0; q < panels; ++q) {
        const int top = 64 + q * panel;
        EXPECT_EQ(pixel(880 - 30, top + 40), (std::array<int, 3>{255, 255, 255})) << "panel " << q;
        bool blue = false;
        for (int y = top; y < top + panel - 8 && !blue; ++y)
            for (int x = 84; x < 876 && !blue; ++x) {
                const auto c = pixel(x, y);
                blue = c[2] > 150 && c[0] < 80;
            }
        curves += blue;
        EXPECT_NE(pixel(450, top + panel - 4), (std::array<int, 3>{255, 255, 255})) << "gap under panel " << q;
    }
    EXPECT_GE(curves, 5) << "speed, acceleration, jerk, rates and fov are drawn; the target distance is not defined";

    const auto svg = folder / "profile.svg";
    host::writeProfilePlotFile(svg.string(), "a test flight", in, analysis, events);
    const std::string text = slurp(svg);
    EXPECT_NE(text.find("<svg"), std::string::npos);
    EXPECT_NE(text.find("width=\"1600\""), std::string::npos);
    EXPECT_THROW(host::writeProfilePlotFile((folder / "profile.gif").string(), "", in, analysis, events),
                 std::runtime_error);
    std::filesystem::remove_all(folder);
}

TEST(Profile, AgainstALevelTheClearanceIsAPanelAColumnAndALine) {
    // A wall across x = 10: the clearance is 10 - x, least at the last tick (x = 3.9^2 / 2).
    host::LevelMesh mesh;
    testing_support::addWallX(mesh, 10, -5, 5, -5, 5);
    const host::LevelGeometry level(mesh);
    FlightAnalysisInput in = accelerating(40);
    in.level = &level;
    const host::FlightAnalysis analysis = host::analyseFlight(in);
    const host::ProfilePeak least = host::clearancePeak(analysis);
    ASSERT_TRUE(least.defined);
    EXPECT_EQ(least.tick, 39u);
    EXPECT_NEAR(least.value, 10 - 3.9 * 3.9 / 2, 1e-5);
    const std::string summary = host::profileSummary(in, analysis);
    EXPECT_NE(summary.find("\nclearance: min 2.395 units at 3.9 s (tick 39, time 7900, leaving Far)\n"),
              std::string::npos)
        << summary;
    const std::string csv = host::profileToCsv(in, analysis);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "time,waypoint,speed,acceleration,jerk,angular_rate,roll_rate,fov,target_distance,clearance");
    EXPECT_EQ(csv.substr(csv.find('\n') + 1, csv.find('\n', csv.find('\n') + 1) - csv.find('\n') - 1),
              "4000,0,,,,,,1,,10");

    const auto png = std::filesystem::temp_directory_path() /
                     ("camsys-profile-level-" + std::to_string(std::random_device()()) + ".png");
    host::writeProfilePlotFile(png.string(), "a test flight", in, analysis, {}, 900);
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
        cairo_image_surface_create_from_png(png.c_str()), &cairo_surface_destroy);
    ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_height(image.get()), host::profilePlotHeight(true));
    EXPECT_EQ(host::profilePlotHeight(true), host::profilePlotHeight() + 140);  // a panel and its gap
    std::filesystem::remove(png);
}
