// The canvas under both pictures: grid steps, and text placed by its anchor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "pictures/Canvas.h"

namespace fs = std::filesystem;

TEST(Canvas, NiceStepsAreOneTwoOrFiveTimesAPowerOfTenAtLeastTheRawStep) {
    const struct {
        double raw, step;
    } cases[] = {{1, 1}, {1.01, 2}, {2, 2}, {2.5, 5}, {7, 10}, {10, 10}, {0.031, 0.05}, {180, 200}, {4001, 5000}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(host::niceStep(c.raw), c.step) << c.raw;
    // No step for nothing, for what is not a number, and where the power of ten underflows.
    for (double raw : {0.0, -3.0, std::numeric_limits<double>::infinity(), std::nan(""), 4.9e-324})
        EXPECT_EQ(host::niceStep(raw), 0.0) << raw;
    EXPECT_GT(host::niceStep(1e-300), 0.0);
}

TEST(Canvas, AnchoredTextIsTextMovedByItsAdvance) {
    const fs::path folder = fs::temp_directory_path() / ("camsys-canvas-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const auto png = [&](const std::string& name, const std::function<void(host::Canvas&)>& paint) {
        const fs::path file = folder / (name + ".png");
        host::writeCanvasFile(file.string(), 200, 60, paint);
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string text = "Wq 0.25 s";
    for (const host::TextAnchor anchor : {host::TextAnchor::Centre, host::TextAnchor::Right}) {
        double advance = 0;
        const std::string anchored = png("anchored", [&](host::Canvas& canvas) {
            canvas.setFont(host::FontFace::Regular, 12);
            advance = canvas.measure(text).xAdvance;
            canvas.text(150, 30, text, anchor);
        });
        const std::string moved = png("moved", [&](host::Canvas& canvas) {
            canvas.setFont(host::FontFace::Regular, 12);
            canvas.text(150 - (anchor == host::TextAnchor::Right ? advance : advance / 2), 30, text);
        });
        EXPECT_GT(advance, 20.0);
        EXPECT_EQ(anchored, moved);
    }
    // A face holds its size: bold text of 12 is wider than regular, 24 twice as wide.
    png("faces", [&](host::Canvas& canvas) {
        canvas.setFont(host::FontFace::Regular, 12);
        const double regular = canvas.measure(text).xAdvance;
        canvas.setFont(host::FontFace::Bold, 12);
        EXPECT_GT(canvas.measure(text).xAdvance, regular);
        canvas.setFont(host::FontFace::Regular, 24);
        EXPECT_NEAR(canvas.measure(text).xAdvance, 2 * regular, 0.05 * regular);
    });
    fs::remove_all(folder);
}
