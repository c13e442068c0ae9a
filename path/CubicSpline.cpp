#include "CubicSpline.h"

#include <algorithm>
#include <new>
#include <vector>

void CCubicSpline::Fit(int pointCount, const double* pointKnots, const double* pointValues) {
    secondDerivatives.reset();
    knots.reset();
    values.reset();
    count = 0;
    const int n0 = pointCount > 0 && pointKnots && pointValues ? pointCount : 0;

    try {
        knots = std::make_unique<double[]>(static_cast<std::size_t>(n0));
        values = std::make_unique<double[]>(static_cast<std::size_t>(n0));
        std::copy_n(pointKnots, n0, knots.get());
        std::copy_n(pointValues, n0, values.get());

        // Repeated knots: the earlier of two equal knots goes, with its value. The scan moves on
        // after a removal without comparing the entry that slid into place, so a run of three
        // equal knots keeps two.
        int n = n0;
        for (int i = 0; i < n - 1; ++i) {
            if (knots[i] == knots[i + 1]) {
                std::copy(knots.get() + i + 1, knots.get() + n, knots.get() + i);
                std::copy(values.get() + i + 1, values.get() + n, values.get() + i);
                --n;
            }
        }
        count = n;
        if (n < 2) return;

        // For the inner knots, with h[i] = x[i] - x[i-1]:
        //   mu[i]*M[i-1] + 2*M[i] + lambda[i]*M[i+1] = r[i]
        //   lambda[i] = h[i+1] / (h[i] + h[i+1]),  mu[i] = 1 - lambda[i]
        //   r[i] = 6 / (h[i] + h[i+1]) * ((y[i+1] - y[i]) / h[i+1] - (y[i] - y[i-1]) / h[i])
        // and M[0] = M[n-1] = 0 (natural ends).
        const auto size = static_cast<std::size_t>(n);
        std::vector<double> h(size, 0.0), lambda(size, 0.0), mu(size, 0.0), r(size, 0.0);
        for (int i = 1; i < n; ++i) h[i] = knots[i] - knots[i - 1];
        for (int i = 1; i < n - 1; ++i) {
            lambda[i] = h[i + 1] / (h[i] + h[i + 1]);
            mu[i] = 1 - lambda[i];
            r[i] =
                (6 / (h[i] + h[i + 1])) * ((values[i + 1] - values[i]) / h[i + 1] - (values[i] - values[i - 1]) / h[i]);
        }

        // Forward sweep, M[i] = P[i]*M[i+1] + Q[i]:
        //   g = P[i-1]*mu[i] + 2,  P[i] = -lambda[i] / g,  Q[i] = (r[i] - Q[i-1]*mu[i]) / g
        std::vector<double> p(size), q(size);
        p[0] = lambda[0] * (-0.5);
        q[0] = r[0] * 0.5;
        for (int i = 1; i < n; ++i) {
            const double g = p[i - 1] * mu[i] + 2;
            p[i] = -lambda[i] / g;
            q[i] = (r[i] - q[i - 1] * mu[i]) / g;
        }

        // Back substitution from the natural end.
        auto m = std::make_unique<double[]>(size);
        m[n - 1] = 0;
        for (int i = n - 2; i >= 0; --i) m[i] = m[i + 1] * p[i] + q[i];
        secondDerivatives = std::move(m);
    } catch (...) {
        // Out of memory: the work arrays are gone with the stack; the curve stays without
        // second derivatives, which its users treat as "too few knots".
    }
}
