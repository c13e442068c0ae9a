#pragma once
#include "Geometry.h"

/// One sample of the nine camera channels (eye position, view vector, roll in radians,
/// field-of-view value, and the distance-over-time channel). The same record carries one order
/// of polynomial coefficients for all nine channels.
struct COrientation {
    _Point3<float> Position;
    _Point3<float> View;
    float Roll;
    float FOV;
    float Distance;

    COrientation() = default;
    COrientation(const _Point3<float>& position, const _Point3<float>& view, float roll, float fov, float distance)
        : Position(position), View(view), Roll(roll), FOV(fov), Distance(distance) {}

    /// Channel i (0..8) in field order.
    float& operator[](int i) { return (&Position.x)[i]; }
    float operator[](int i) const { return (&Position.x)[i]; }

    /// Channel-by-channel sum, each result stored as float.
    friend COrientation operator+(const COrientation& a, const COrientation& b) {
        COrientation r;
        for (int i = 0; i < 9; ++i) r[i] = a[i] + b[i];
        return r;
    }
    /// Every channel times f, each result stored as float.
    friend COrientation operator*(const COrientation& a, float f) {
        COrientation r;
        for (int i = 0; i < 9; ++i) r[i] = a[i] * f;
        return r;
    }
};
static_assert(std::is_trivially_copyable_v<COrientation> && sizeof(COrientation) == 36);
static_assert(offsetof(COrientation, View) == 12 && offsetof(COrientation, Roll) == 24 &&
              offsetof(COrientation, FOV) == 28 && offsetof(COrientation, Distance) == 32);
