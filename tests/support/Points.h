#pragma once
/// Point comparisons with a tolerance, and the eye check the camera tests share.

#include <gtest/gtest.h>

#include <cmath>

#include "framework/Geometry.h"
#include "tests/support/Frames.h"

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

/// A usable eye: finite origin and a finite right-handed orthonormal orientation.
inline ::testing::AssertionResult isEyeFrame(const _CCoordSystem<float>& eye) {
    if (!std::isfinite(eye.Origin.x + eye.Origin.y + eye.Origin.z))
        return ::testing::AssertionFailure() << "origin not finite";
    return isOrthonormal(eye.Orientation);
}

}  // namespace testing_support
