// The canvas under both pictures: the steps of their grids. (What they draw is pinned byte for
// byte by the test example_outputs.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pictures/Canvas.h"

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
