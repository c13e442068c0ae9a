#pragma once
/// Point comparisons with a tolerance, and the frame checks the camera tests share: finite, unit,
/// mutually orthogonal, right-handed columns.

#include <gtest/gtest.h>

#include <cmath>

#include "framework/Geometry.h"

namespace testing_support {

/// Every coordinate within `tolerance` of the expected one (0: equal).
inline ::testing::AssertionResult near(const _Point3<float>& got, const _Point3<float>& expected,
                                       double tolerance = 0) {
    if (std::fabs(got.x - expected.x) <= tolerance && std::fabs(got.y - expected.y) <= tolerance &&
        std::fabs(got.z - expected.z) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << got.x << ", " << got.y << ", " << got.z << ") instead of ("
                                         << expected.x << ", " << expected.y << ", " << expected.z << ")";
}

/// Column `c` of a frame: 0 right, 1 forward, 2 up.
inline _Point3<float> column(const _CMatrix3<float>& m, int c) { return {m.m[0][c], m.m[1][c], m.m[2][c]}; }

/// Finite orthonormal right-handed columns (det = +1), to `tolerance`.
inline ::testing::AssertionResult isOrthonormal(const _CMatrix3<float>& m, double tolerance = 1e-5) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = 0;
            for (int k = 0; k < 3; ++k) dot += double(m.m[k][i]) * m.m[k][j];
            if (!(std::fabs(dot - (i == j ? 1.0 : 0.0)) <= tolerance))  // also false for NaN and infinity
                return ::testing::AssertionFailure() << "columns " << i << ", " << j << " dot " << dot;
        }
    const _Point3<float> r = column(m, 0), f = column(m, 1), u = column(m, 2);
    const double det = (double(r.y) * f.z - double(r.z) * f.y) * u.x + (double(r.z) * f.x - double(r.x) * f.z) * u.y +
                       (double(r.x) * f.y - double(r.y) * f.x) * u.z;
    if (std::fabs(det - 1.0) > tolerance) return ::testing::AssertionFailure() << "determinant " << det;
    return ::testing::AssertionSuccess();
}

/// A usable eye: finite origin and a finite right-handed orthonormal orientation.
inline ::testing::AssertionResult isEyeFrame(const _CCoordSystem<float>& eye) {
    if (!std::isfinite(eye.Origin.x + eye.Origin.y + eye.Origin.z))
        return ::testing::AssertionFailure() << "origin not finite";
    return isOrthonormal(eye.Orientation);
}

}  // namespace testing_support
