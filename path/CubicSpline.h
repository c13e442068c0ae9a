#pragma once
/// One natural cubic spline through a run of knots: the curve a path fits per channel and part.

#include <cstddef>
#include <memory>

/// A natural cubic spline (second derivative 0 at both ends). `Fit` keeps its own copy of the
/// knots and values and solves for the second derivative at every knot; the segment polynomials
/// are formed from these three arrays by the caller.
///
/// The three arrays and the fit's one work array share a single allocation, which a later `Fit`
/// of at most as many points reuses: a refit of a path of a million waypoints would otherwise
/// take fresh pages from the kernel for every curve.
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

    double* secondDerivatives = nullptr;  ///< M[i], one per kept knot; null below two knots
    double* knots = nullptr;              ///< the kept abscissae
    double* values = nullptr;             ///< the kept ordinates
    int count = 0;                        ///< number of kept knots

private:
    /// Knots, values, second derivatives and the sweep's factors, `capacity_` entries each.
    std::unique_ptr<double[]> storage_;
    std::size_t capacity_ = 0;
};
