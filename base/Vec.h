#pragma once
/// The small vector and quaternion arithmetic of the tool (analysis, lint, path fit, glTF), in
/// double so that converting the plug-in's floats and composing adds no rounding of its own.

#include <array>
#include <cmath>
#include <numbers>

#include "framework/Geometry.h"

namespace host {

/// A point or direction.
using Vec3 = std::array<double, 3>;
/// A unit quaternion in glTF's order: x, y, z, w.
using Quat = std::array<double, 4>;

inline constexpr double kPi = std::numbers::pi;
/// Degrees in a radian.
inline constexpr double kDegrees = 180.0 / kPi;

/// A float point of the plug-in in double.
inline Vec3 vec3FromPoint(const _Point3<float>& p) { return {p.x, p.y, p.z}; }

inline Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 scale(const Vec3& a, double f) { return {a[0] * f, a[1] * f, a[2] * f}; }
inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm(const Vec3& a) { return std::sqrt(dot(a, a)); }

/// The length of a quaternion (1 for a turn).
inline double length(const Quat& q) { return std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]); }

/// The inverse of a unit quaternion.
inline Quat conjugate(const Quat& q) { return {-q[0], -q[1], -q[2], q[3]}; }

/// The Hamilton product a b: the turn b, then a.
inline Quat multiply(const Quat& a, const Quat& b) {
    return {
        a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1], a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
        a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3], a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

/// `v` turned by the unit quaternion `q`: v + w t + u x t with t = 2 u x v, u = (x, y, z).
inline Vec3 rotate(const Quat& q, const Vec3& v) {
    const Vec3 u = {q[0], q[1], q[2]};
    const Vec3 t = scale(cross(u, v), 2);
    const Vec3 c = cross(u, t);
    return {v[0] + q[3] * t[0] + c[0], v[1] + q[3] * t[1] + c[1], v[2] + q[3] * t[2] + c[2]};
}

}  // namespace host
