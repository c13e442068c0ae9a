// The natural cubic spline fit against GSL's natural cubic spline, an independent solver of the
// same system, and against small cases worked by hand.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "path/CubicSpline.h"

TEST(CubicSpline, AgreesWithGslOnRandomKnots) {
    gsl_set_error_handler_off();
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<double> gap(0.05, 4.0), ordinate(-50.0, 50.0);
    for (int trial = 0; trial < 20; ++trial) {
        const int count = 3 + trial % 15;
        std::vector<double> x(count), y(count), curvature(count);
        double at = ordinate(random);
        for (int i = 0; i < count; ++i) {
            x[i] = at;
            y[i] = ordinate(random);
            at += gap(random);
        }
        gsl_interp* oracle = gsl_interp_alloc(gsl_interp_cspline, count);
        gsl_interp_init(oracle, x.data(), y.data(), count);
        double scale = 1.0;
        for (int i = 0; i < count; ++i) {
            curvature[i] = gsl_interp_eval_deriv2(oracle, x.data(), y.data(), x[i], nullptr);
            scale = std::max(scale, std::fabs(curvature[i]));
        }
        gsl_interp_free(oracle);

        CCubicSpline spline;
        spline.Fit(count, x.data(), y.data());
        ASSERT_EQ(spline.count, count);
        ASSERT_TRUE(spline.secondDerivatives);
        EXPECT_TRUE(spline.secondDerivatives[0] == 0.0 && spline.secondDerivatives[count - 1] == 0.0);
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(spline.knots[i] == x[i] && spline.values[i] == y[i]) << "knot " << i;
            EXPECT_NEAR(spline.secondDerivatives[i], curvature[i], 1e-9 * scale) << "knot " << i;
        }
    }
}

TEST(CubicSpline, RepeatedKnotsAndTooFew) {
    // Of two equal knots the earlier is dropped: 0, 1, 2 -> 0, 1, 0, where the inner equation
    // 2*M1 = 6*(-1 - 1)/2 gives M1 = -3. The scan moves on after a removal: of three equal knots
    // two stay. Each fit replaces the one before.
    CCubicSpline spline;
    const double xr[] = {0, 1, 1, 2}, yr[] = {0, 5, 1, 0};
    spline.Fit(4, xr, yr);
    ASSERT_EQ(spline.count, 3);
    EXPECT_EQ(spline.values[1], 1.0);
    EXPECT_DOUBLE_EQ(spline.secondDerivatives[1], -3.0);
    const double xt[] = {0, 1, 1, 1, 2}, yt[] = {0, 1, 2, 3, 0};
    spline.Fit(5, xt, yt);
    EXPECT_EQ(spline.count, 4);
    EXPECT_EQ(spline.values[1], 2.0);

    // Fewer than two distinct knots: copies, but no second derivatives.
    const double x[] = {0, 1, 2}, y[] = {0, 1, 0}, same[] = {4, 4};
    const std::pair<int, const double*> few[] = {{1, x}, {2, same}, {-3, nullptr}};
    for (const auto& [n, knots] : few) {
        spline.Fit(n, knots, knots ? y : nullptr);
        EXPECT_EQ(spline.count, std::max(0, std::min(n, 1))) << n;
        EXPECT_FALSE(spline.secondDerivatives) << n;
    }
}
