#pragma once
/// One natural cubic spline through a run of knots: the curve a path fits per channel and part.

#include <memory>

/// A natural cubic spline (second derivative 0 at both ends). `Fit` keeps its own copy of the
/// knots and values and solves for the second derivative at every knot; the segment polynomials
/// are formed from these three arrays by the caller.
class CCubicSpline {
public:
    /// Empty: no arrays, no knots.
    CCubicSpline() = default;
    CCubicSpline(const CCubicSpline&) = delete;
    CCubicSpline& operator=(const CCubicSpline&) = delete;

    /// Fits the spline through `count` points (`knots` increasing, `values` their ordinates).
    /// Repeated knots are dropped first; with fewer than two knots left no second derivatives are
    /// formed. Never throws: a failure inside the fit leaves the spline as far as it got.
    void Fit(int count, const double* knots, const double* values);

    std::unique_ptr<double[]> secondDerivatives;  ///< M[i], one per kept knot; null below two knots
    std::unique_ptr<double[]> knots;              ///< the kept abscissae
    std::unique_ptr<double[]> values;             ///< the kept ordinates
    int count = 0;                                ///< number of kept knots
};
