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

namespace {

/// GSL's natural cubic spline through the same points.
class GslSpline {
public:
    GslSpline(const std::vector<double>& x, const std::vector<double>& y)
        : x_(x), y_(y), interp_(gsl_interp_alloc(gsl_interp_cspline, x.size())), accel_(gsl_interp_accel_alloc()) {
        gsl_interp_init(interp_, x_.data(), y_.data(), x_.size());
    }
    ~GslSpline() {
        gsl_interp_accel_free(accel_);
        gsl_interp_free(interp_);
    }
    double curvature(double at) { return gsl_interp_eval_deriv2(interp_, x_.data(), y_.data(), at, accel_); }

private:
    std::vector<double> x_, y_;
    gsl_interp* interp_;
    gsl_interp_accel* accel_;
};

}  // namespace

TEST(CubicSpline, AgreesWithGslOnRandomKnots) {
    gsl_set_error_handler_off();
    std::mt19937 random(20240611u);
    std::uniform_real_distribution<double> gap(0.05, 4.0), ordinate(-50.0, 50.0);
    for (int trial = 0; trial < 20; ++trial) {
        const int count = 3 + trial % 15;
        std::vector<double> x(count), y(count);
        double at = ordinate(random);
        for (int i = 0; i < count; ++i) {
            x[i] = at;
            y[i] = ordinate(random);
            at += gap(random);
        }
        CCubicSpline spline;
        spline.Fit(count, x.data(), y.data());
        ASSERT_EQ(spline.count, count);
        ASSERT_TRUE(spline.secondDerivatives);
        GslSpline oracle(x, y);

        double scale = 1.0;
        for (int i = 0; i < count; ++i) scale = std::max(scale, std::fabs(oracle.curvature(x[i])));
        EXPECT_EQ(spline.secondDerivatives[0], 0.0);
        EXPECT_EQ(spline.secondDerivatives[count - 1], 0.0);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(spline.knots[i], x[i]);
            EXPECT_EQ(spline.values[i], y[i]);
            EXPECT_NEAR(spline.secondDerivatives[i], oracle.curvature(x[i]), 1e-9 * scale) << "knot " << i;
        }
    }
}

TEST(CubicSpline, SmallCasesAndRepeatedKnots) {
    // 0, 1, 2 -> 0, 1, 0: the inner equation 2*M1 = 6*(-1 - 1)/2 gives M1 = -3.
    const double x[] = {0, 1, 2}, y[] = {0, 1, 0};
    CCubicSpline spline;
    spline.Fit(3, x, y);
    ASSERT_EQ(spline.count, 3);
    EXPECT_EQ(spline.secondDerivatives[0], 0.0);
    EXPECT_DOUBLE_EQ(spline.secondDerivatives[1], -3.0);
    EXPECT_EQ(spline.secondDerivatives[2], 0.0);

    // Of two equal knots the earlier goes with its value: the same spline as above.
    const double xr[] = {0, 1, 1, 2}, yr[] = {0, 5, 1, 0};
    CCubicSpline repeated;
    repeated.Fit(4, xr, yr);
    ASSERT_EQ(repeated.count, 3);
    EXPECT_EQ(repeated.values[1], 1.0);
    EXPECT_DOUBLE_EQ(repeated.secondDerivatives[1], -3.0);

    // The scan moves on after a removal: of three equal knots two stay.
    const double xt[] = {0, 1, 1, 1, 2}, yt[] = {0, 1, 2, 3, 0};
    CCubicSpline triple;
    triple.Fit(5, xt, yt);
    EXPECT_EQ(triple.count, 4);
    EXPECT_EQ(triple.values[1], 2.0);

    // Fewer than two knots: copies, but no second derivatives. Also refitting replaces.
    spline.Fit(1, x, y);
    EXPECT_EQ(spline.count, 1);
    EXPECT_FALSE(spline.secondDerivatives);
    const double same[] = {4, 4};
    spline.Fit(2, same, y);
    EXPECT_EQ(spline.count, 1);
    EXPECT_FALSE(spline.secondDerivatives);
    spline.Fit(-3, nullptr, nullptr);
    EXPECT_EQ(spline.count, 0);

    // Two knots: a straight line.
    spline.Fit(2, x, y);
    ASSERT_EQ(spline.count, 2);
    EXPECT_EQ(spline.secondDerivatives[0], 0.0);
    EXPECT_EQ(spline.secondDerivatives[1], 0.0);
}
