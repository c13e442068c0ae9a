// The profile: peaks and summary of hand-made flights whose measures are known, the table, and
// pictures decoded back (size, one white panel per quantity, the curve drawn in it). Writing
// SVG and refusing other names is the canvas's, checked with the scene's pictures.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

#include "geometry/LevelGeometry.h"
#include "pictures/ProfilePlot.h"
#include "tests/support/LevelMeshes.h"

namespace {

using host::FlightAnalysisInput;
using host::FlightTick;

/// Accelerating along x: x = t^2 / 2 with t in seconds, ticks every 100 ms; speed by backward
/// differences v_k = (x_k - x_{k-1}) / 0.1 = (2k - 1) / 20, so the last tick is the fastest.
FlightAnalysisInput accelerating(int ticks) {
    FlightAnalysisInput in;
    for (int k = 0; k < ticks; ++k) {
        const double t = 0.1 * k;
        FlightTick& tick = in.ticks.emplace_back();
        tick.time = 4000 + 100 * k;
        tick.waypoint = k < ticks / 2 ? 0 : 1;
        tick.eye.Origin = {static_cast<float>(t * t / 2), 0, 0};
    }
    in.waypoints = {{"Start", 500, 0, {}}, {"Far", 500, 0, {}}};
    return in;
}

/// A wall across x = 10, in the way of the flights above: their clearance is 10 - x.
host::LevelMesh wallAtTen() {
    host::LevelMesh mesh;
    testing_support::addWallX(mesh, 10, -5, 5, -5, 5);
    return mesh;
}

/// The lines of a table.
std::vector<std::string> rows(const std::string& csv) {
    std::vector<std::string> out;
    std::istringstream lines(csv);
    for (std::string line; std::getline(lines, line);) out.push_back(line);
    return out;
}

}  // namespace

TEST(Profile, PeaksSummaryAndTableOfAKnownFlight) {
    FlightAnalysisInput in = accelerating(11);
    const host::FlightAnalysis analysis = host::analyseFlight(in);
    // The summary, a line per quantity, shows its peak: the speed's at the last tick,
    // (2 * 10 - 1) / 20 = 0.95 units/s; an acceleration of 1 units/s^2 (at whichever tick the
    // float positions make the largest); no distance to a target without one.
    const std::string summary = host::profileSummary(in, analysis);
    for (const char* line : {"speed: max 0.95 units/s at 1 s (tick 10, time 5000, leaving Far)\n",
                             "\nacceleration: max 1 units/s² at ", "\ntarget_distance: not defined in this flight\n"})
        EXPECT_NE(summary.find(line), std::string::npos) << summary;

    // The table: a header, a row per tick, undefined measures as empty fields. (The header, also
    // with the clearance, is pinned with the examples' tables by tests/cli/check-outputs.sh.)
    const std::vector<std::string> csv = rows(host::profileToCsv(in, analysis));
    ASSERT_EQ(csv.size(), 12u);
    EXPECT_EQ(csv[1], "4000,0,,,,,,1,");

    // Against a level the clearance is one more line, its least at the last tick (x = 0.5), and a
    // column.
    const host::LevelGeometry level(wallAtTen());
    in.level = &level;
    const host::FlightAnalysis measured = host::analyseFlight(in);
    const std::string withClearance = host::profileSummary(in, measured);
    EXPECT_NE(withClearance.find("\nclearance: min 9.5 units at 1 s (tick 10, time 5000, leaving Far)\n"),
              std::string::npos)
        << withClearance;
    EXPECT_EQ(rows(host::profileToCsv(in, measured))[1], "4000,0,,,,,,1,,10");
}

TEST(Profile, PicturesHaveAPanelPerQuantity) {
    const auto png =
        std::filesystem::temp_directory_path() / ("camsys-profile-" + std::to_string(std::random_device()()) + ".png");
    FlightAnalysisInput in = accelerating(40);
    const std::vector<host::FlightEvent> events = {{4500, host::FlightEvent::Kind::Activate, "Gate"}};
    // Against a level the clearance has a panel of its own, the last.
    const host::LevelGeometry level(wallAtTen());
    for (const bool withLevel : {false, true}) {
        SCOPED_TRACE(withLevel ? "against a level" : "without a level");
        in.level = withLevel ? &level : nullptr;
        host::writeProfilePlotFile(png.string(), "a test flight", in, host::analyseFlight(in), events, 900);
        const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
            cairo_image_surface_create_from_png(png.c_str()), &cairo_surface_destroy);
        ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
        const int height = host::profilePlotHeight(withLevel);
        EXPECT_EQ(cairo_image_surface_get_width(image.get()), 900);
        EXPECT_EQ(cairo_image_surface_get_height(image.get()), height);
        const unsigned char* data = cairo_image_surface_get_data(image.get());
        const int stride = cairo_image_surface_get_stride(image.get());
        const auto pixel = [&](int x, int y) {
            const auto* p = data + y * stride + 4 * x;
            return std::array<int, 3>{p[2], p[1], p[0]};  // ARGB32 in memory as B, G, R, A
        };
        // Each panel: white somewhere in its empty right part (above the curve, below the title),
        // and some pixel of the curve's blue in it; the gaps between panels are not white.
        const int panels = static_cast<int>(host::kProfileQuantities.size()) + withLevel;
        const int panel = (height - 64 - 34) / panels;  // panel and gap, as laid out
        int curves = 0;
        for (int q = 0; q < panels; ++q) {
            const int top = 64 + q * panel;
            EXPECT_EQ(pixel(880 - 30, top + 40), (std::array<int, 3>{255, 255, 255})) << "panel " << q;
            bool blue = false;
            for (int y = top; y < top + panel - 8 && !blue; ++y)
                for (int x = 84; x < 876 && !blue; ++x) blue = pixel(x, y)[2] > 150 && pixel(x, y)[0] < 80;
            curves += blue;
            EXPECT_NE(pixel(450, top + panel - 4), (std::array<int, 3>{255, 255, 255})) << "gap under panel " << q;
        }
        // Speed, acceleration, jerk, rates, fov (and the clearance) are drawn; the target distance is not defined.
        EXPECT_GE(curves, 5 + withLevel);
    }

    std::filesystem::remove(png);
}
