#pragma once
/// The small vector and quaternion arithmetic of the glTF export and import, in double so that
/// converting and composing adds no float rounding.

#include <array>

namespace host::gltf {

/// A point or direction.
using Vec = std::array<double, 3>;
/// A unit quaternion in glTF's order: x, y, z, w.
using Quat = std::array<double, 4>;

inline Vec sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec scale(const Vec& a, double f) { return {a[0] * f, a[1] * f, a[2] * f}; }
inline double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

/// The inverse of a unit quaternion.
inline Quat conjugate(const Quat& q) { return {-q[0], -q[1], -q[2], q[3]}; }

/// The Hamilton product a b: the turn b, then a.
inline Quat multiply(const Quat& a, const Quat& b) {
    return {
        a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1], a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
        a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3], a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

/// `v` turned by the unit quaternion `q`: v + w t + u x t with t = 2 u x v, u = (x, y, z).
inline Vec rotate(const Quat& q, const Vec& v) {
    const Vec u = {q[0], q[1], q[2]};
    const Vec t = scale(cross(u, v), 2);
    const Vec c = cross(u, t);
    return {v[0] + q[3] * t[0] + c[0], v[1] + q[3] * t[1] + c[1], v[2] + q[3] * t[2] + c[2]};
}

}  // namespace host::gltf
