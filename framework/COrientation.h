#pragma once
#include <array>
#include <bit>

#include "Geometry.h"

/// One sample of the nine camera channels (eye position, view vector, roll in radians,
/// field-of-view value, and the distance-over-time channel). The same record carries one order
/// of polynomial coefficients for all nine channels.
struct COrientation {
    /// The nine channels in field order: 0..2 Position, 3..5 View, 6 Roll, 7 FOV, 8 Distance.
    using Channels = std::array<float, 9>;

    _Point3<float> Position;
    _Point3<float> View;
    float Roll;
    float FOV;
    float Distance;

    COrientation() = default;
    COrientation(const _Point3<float>& position, const _Point3<float>& view, float roll, float fov, float distance)
        : Position(position), View(view), Roll(roll), FOV(fov), Distance(distance) {}

    /// The record's channels as an array (a copy of its 36 bytes).
    Channels ToChannels() const { return std::bit_cast<Channels>(*this); }
    /// The record whose channels are `channels`.
    static COrientation FromChannels(const Channels& channels) { return std::bit_cast<COrientation>(channels); }

    /// Channel-by-channel sum, each result stored as float.
    friend COrientation operator+(const COrientation& a, const COrientation& b) {
        const Channels x = a.ToChannels(), y = b.ToChannels();
        Channels r;
        for (int i = 0; i < 9; ++i) r[i] = x[i] + y[i];
        return FromChannels(r);
    }
    /// Every channel times f, each result stored as float.
    friend COrientation operator*(const COrientation& a, float f) {
        const Channels x = a.ToChannels();
        Channels r;
        for (int i = 0; i < 9; ++i) r[i] = x[i] * f;
        return FromChannels(r);
    }
};
static_assert(std::is_trivially_copyable_v<COrientation> && sizeof(COrientation) == 36);
static_assert(offsetof(COrientation, View) == 12 && offsetof(COrientation, Roll) == 24 &&
              offsetof(COrientation, FOV) == 28 && offsetof(COrientation, Distance) == 32);
static_assert(sizeof(COrientation::Channels) == sizeof(COrientation));

/// A segment polynomial at s from its coefficients, cubic first, in Horner form with every step
/// rounded to T:
///
///   P(s) = ((c3*s + c2)*s + c1)*s + c0
///
/// The one place this form is written: a waypoint evaluates its channels with it, and the path's
/// sampler evaluates the same channels with it, one at a time or several float lanes at once
/// (the same IEEE operations per lane), so both give the same bits.
template <class T>
T SegmentValue(const T (&c)[4], T s) {
    return ((c[0] * s + c[1]) * s + c[2]) * s + c[3];
}

/// Channel i (0..8) at local distance or time s of the segment whose coefficient records are
/// `c`: cubic, quadratic, linear, constant.
inline float SegmentChannel(const COrientation (&c)[4], int i, float s) {
    const float coefficients[4] = {c[0].ToChannels()[i], c[1].ToChannels()[i], c[2].ToChannels()[i],
                                   c[3].ToChannels()[i]};
    return SegmentValue(coefficients, s);
}

/// All nine channels of the segment at s: SegmentChannel for every channel, the records read
/// once. Channels 0 to 7 are a multiple of four, so that loop becomes two four-wide vector
/// steps even at -O2 (the same IEEE operations per lane); channel 8 follows on its own.
inline COrientation SegmentSample(const COrientation (&c)[4], float s) {
    const COrientation::Channels c3 = c[0].ToChannels(), c2 = c[1].ToChannels();
    const COrientation::Channels c1 = c[2].ToChannels(), c0 = c[3].ToChannels();
    COrientation::Channels p;
    for (int i = 0; i < 8; ++i) p[i] = SegmentValue({c3[i], c2[i], c1[i], c0[i]}, s);
    p[8] = SegmentValue({c3[8], c2[8], c1[8], c0[8]}, s);
    return COrientation::FromChannels(p);
}
