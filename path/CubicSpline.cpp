#include "CubicSpline.h"

#include <algorithm>
#include <limits>
#include <new>

void CCubicSpline::Fit(int pointCount, const double* pointKnots, const double* pointValues) {
    secondDerivatives = nullptr;
    count = 0;
    const int n0 = pointCount > 0 && pointKnots && pointValues ? pointCount : 0;

    try {
        // Left uninitialised: every entry a fit reads it has written first.
        const auto size0 = static_cast<std::size_t>(n0);
        if (size0 > capacity_) {
            storage_.reset();
            knots = values = nullptr;
            capacity_ = 0;
            if (size0 > std::numeric_limits<std::size_t>::max() / (4 * sizeof(double))) throw std::bad_alloc();
            storage_.reset(new double[4 * size0]);
            capacity_ = size0;
        }
        knots = storage_.get();
        values = knots + capacity_;
        std::copy_n(pointKnots, n0, knots);
        std::copy_n(pointValues, n0, values);

        // Repeated knots: the earlier of two equal knots goes, with its value. The scan moves on
        // after a removal without comparing the entry that slid into place, so a run of three
        // equal knots keeps two.
        int n = n0;
        for (int i = 0; i < n - 1; ++i) {
            if (knots[i] == knots[i + 1]) {
                std::copy(knots + i + 1, knots + n, knots + i);
                std::copy(values + i + 1, values + n, values + i);
                --n;
            }
        }
        count = n;
        if (n < 2) return;

        // For the inner knots, with h[i] = x[i] - x[i-1]:
        //   mu[i]*M[i-1] + 2*M[i] + lambda[i]*M[i+1] = r[i]
        //   lambda[i] = h[i+1] / (h[i] + h[i+1]),  mu[i] = 1 - lambda[i]
        //   r[i] = 6 / (h[i] + h[i+1]) * ((y[i+1] - y[i]) / h[i+1] - (y[i] - y[i-1]) / h[i])
        // and M[0] = M[n-1] = 0 (natural ends); lambda and r are 0 at both ends.
        // Forward sweep, M[i] = P[i]*M[i+1] + Q[i]:
        //   g = P[i-1]*mu[i] + 2,  P[i] = -lambda[i] / g,  Q[i] = (r[i] - Q[i-1]*mu[i]) / g
        // One pass forms each row and eliminates it; Q goes where M will be and is overwritten
        // by the back substitution. A row's right-hand step and slope are the next row's
        // left-hand ones, the same operands, so they are formed once.
        double* m = values + capacity_;
        double* p = m + capacity_;
        const double lambdaFirst = 0, rFirst = 0;
        p[0] = lambdaFirst * (-0.5);
        m[0] = rFirst * 0.5;
        double hLeft = knots[1] - knots[0];
        double slopeLeft = n > 2 ? (values[1] - values[0]) / hLeft : 0;
        for (int i = 1; i < n - 1; ++i) {
            const double hRight = knots[i + 1] - knots[i];
            const double slopeRight = (values[i + 1] - values[i]) / hRight;
            const double lambda = hRight / (hLeft + hRight);
            const double mu = 1 - lambda;
            const double r = (6 / (hLeft + hRight)) * (slopeRight - slopeLeft);
            const double g = p[i - 1] * mu + 2;
            p[i] = -lambda / g;
            m[i] = (r - m[i - 1] * mu) / g;
            hLeft = hRight;
            slopeLeft = slopeRight;
        }

        // Back substitution from the natural end.
        m[n - 1] = 0;
        for (int i = n - 2; i >= 0; --i) m[i] = m[i + 1] * p[i] + m[i];
        secondDerivatives = m;
    } catch (...) {
        // Out of memory: the curve stays without second derivatives, which its users treat as
        // "too few knots".
    }
}
