#pragma once
#include <cfloat>
#include <cmath>
#include <type_traits>

#include "ISerialize.h"

/// Plain point or vector of three floats.
template <class T>
struct _Point3 {
    T x, y, z;

    friend _Point3 operator+(const _Point3& a, const _Point3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend _Point3 operator-(const _Point3& a, const _Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend _Point3 operator*(const _Point3& a, T f) { return {a.x * f, a.y * f, a.z * f}; }
    _Point3& operator+=(const _Point3& b) {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }
};

/// a . b, in the points' own precision.
template <class T>
T Dot(const _Point3<T>& a, const _Point3<T>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

/// a x b = (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x), in the points' own precision.
template <class T>
_Point3<T> Cross(const _Point3<T>& a, const _Point3<T>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

/// Whether all three coordinates are finite.
inline bool IsFinite(const _Point3<float>& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

/// out = v / |v|: the squares summed in float, the root taken in double and its reciprocal
/// applied to each coordinate as a float. False, leaving `out` alone, when the direction is
/// undefined: a squared length that is not finite or lies below FLT_MIN (zero, or so small that
/// its root has lost too many bits to give a unit vector).
inline bool Normalize(const _Point3<float>& v, _Point3<float>& out) {
    const float squared = Dot(v, v);
    if (!(squared >= FLT_MIN) || !std::isfinite(squared)) return false;
    out = v * static_cast<float>(1.0 / std::sqrt(static_cast<double>(squared)));
    return true;
}

/// A sphere that holds a box.
struct BoundingSphere {
    _Point3<float> Center;
    float Radius;
};

/// The sphere around the box from `min` to `max`: centre (min + max) * 0.5, radius half the
/// diagonal, 0.5 * sqrt(d . d) with d = max - min (squares in float, the root in double, the
/// radius stored as float).
inline BoundingSphere SphereAroundBox(const _Point3<float>& min, const _Point3<float>& max) {
    const _Point3<float> diagonal = max - min;
    return {(min + max) * 0.5f, static_cast<float>(0.5 * std::sqrt(static_cast<double>(Dot(diagonal, diagonal))))};
}

/// 3x3 matrix stored row by row: m00 m01 m02 m10 ... m22.
template <class T>
struct _CMatrix3 {
    T m[3][3];

    _CMatrix3() = default;
    _CMatrix3(T m00, T m01, T m02, T m10, T m11, T m12, T m20, T m21, T m22)
        : m{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22}} {}
    /// d on the diagonal, 0 elsewhere.
    explicit _CMatrix3(T d) : m{{d, 0, 0}, {0, d, 0}, {0, 0, d}} {}

    /// A <- A * B (ordinary row-by-column product).
    _CMatrix3& operator*=(const _CMatrix3& b);
    friend _CMatrix3 operator*(_CMatrix3 a, const _CMatrix3& b) { return a *= b; }

    /// Rows (1,0,0), (0,c,-s), (0,s,c); sin and cos in double, stored as T.
    static _CMatrix3 RotationX(double angle);
    /// Rows (c,-s,0), (s,c,0), (0,0,1); sin and cos in double, stored as T.
    static _CMatrix3 RotationZ(double angle);
};

/// Orientation (columns: right, forward, up) and origin; 12 floats, plain record.
template <class T>
struct _CCoordSystem {
    _CMatrix3<T> Orientation{T(1)};
    _Point3<T> Origin{0, 0, 0};

    void Translate(const _Point3<T>& p) { Origin += p; }
    /// Orientation <- RotationZ(angle) * Orientation; the origin stays.
    void RotateZ(double angle) { Orientation = _CMatrix3<T>::RotationZ(angle) * Orientation; }
    _CMatrix3<T> GetMatrix() const { return Orientation; }
};

using Point3f = _Point3<float>;
using Matrix3f = _CMatrix3<float>;
using CoordSystemf = _CCoordSystem<float>;

static_assert(std::is_trivial_v<_Point3<float>> && sizeof(_Point3<float>) == 12);
static_assert(std::is_trivially_copyable_v<_CMatrix3<float>> && sizeof(_CMatrix3<float>) == 36);
static_assert(std::is_trivially_copyable_v<_CCoordSystem<float>> && sizeof(_CCoordSystem<float>) == 48);
static_assert(offsetof(_CCoordSystem<float>, Origin) == 36);

/// A persisted point. Record: a version record holding 1, then x, y, z (12 bytes).
class CPosition : public ISerialize, public _Point3<float> {
public:
    CPosition() : _Point3<float>{0, 0, 0} {}
    CPosition(const _Point3<float>& p) : _Point3<float>(p) {}
    CPosition(const CPosition& other) : ISerialize(), _Point3<float>(other) {}
    CPosition& operator=(const CPosition& other) {
        _Point3<float>::operator=(other);
        return *this;
    }
    int Serialize(IClassStorage* storage) override;
    virtual ~CPosition() = default;
};

/// A persisted coordinate system. Record: a version record holding 1, then the nine matrix
/// floats row by row and the origin (48 bytes).
class CObjectPos : public ISerialize, public _CCoordSystem<float> {
public:
    CObjectPos() = default;
    CObjectPos(const _CCoordSystem<float>& cs) : _CCoordSystem<float>(cs) {}
    CObjectPos(const CObjectPos& other) : ISerialize(), _CCoordSystem<float>(other) {}
    CObjectPos& operator=(const CObjectPos& other) {
        _CCoordSystem<float>::operator=(other);
        return *this;
    }
    int Serialize(IClassStorage* storage) override;
    virtual ~CObjectPos() = default;
};

extern template struct _CMatrix3<float>;
