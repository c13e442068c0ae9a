#pragma once
/// Expected record bytes, built independently of the streams under test (little-endian words).

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/Guid.h"

namespace testing_support {

using ByteVector = std::vector<std::uint8_t>;

/// Appends a 32-bit word, low byte first.
inline void put32(ByteVector& b, std::uint32_t w) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
}
/// Appends the bit pattern of a float.
inline void putFloat(ByteVector& b, float f) {
    std::uint32_t w;
    std::memcpy(&w, &f, 4);
    put32(b, w);
}
/// Appends a CGUID record: the long 1, then Data1, Data2, Data3 little-endian and Data4's 8 bytes.
inline void putGuid(ByteVector& b, const _GUID& g) {
    put32(b, 1);
    put32(b, g.Data1);
    for (unsigned short half : {g.Data2, g.Data3}) {
        b.push_back(static_cast<std::uint8_t>(half));
        b.push_back(static_cast<std::uint8_t>(half >> 8));
    }
    b.insert(b.end(), g.Data4, g.Data4 + 8);
}

/// Chainable form of the helpers above, for records written field by field.
struct Bytes {
    ByteVector data;
    Bytes& u8(std::uint8_t v) { return data.push_back(v), *this; }
    Bytes& u32(std::uint32_t v) { return put32(data, v), *this; }
    Bytes& f32(float v) { return putFloat(data, v), *this; }
    Bytes& raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        return data.insert(data.end(), b, b + n), *this;
    }
    Bytes& guid(const _GUID& g) { return putGuid(data, g), *this; }
    Bytes& guid(const CGUID& g) { return guid(g.Guid); }
    /// A CPosition record: version 1, then x, y, z.
    Bytes& point(float x, float y, float z) { return u32(1).f32(x).f32(y).f32(z); }
    /// A CObjectPos record: version 1, the matrix row by row, then the origin.
    Bytes& frame(const float (&m)[3][3], float x, float y, float z) {
        u32(1);
        for (const auto& row : m)
            for (float v : row) f32(v);
        return f32(x).f32(y).f32(z);
    }
    /// The object base record, version 2: SecondGuid, ObjectPos, Container, Mark.
    Bytes& base(const CGUID& second, const float (&m)[3][3], float x, float y, float z, const CGUID& container,
                std::int32_t mark) {
        return u32(2).guid(second).frame(m, x, y, z).guid(container).u32(static_cast<std::uint32_t>(mark));
    }
    operator const ByteVector&() const { return data; }
};

/// The identity matrix, for frames in records.
inline constexpr float kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

}  // namespace testing_support
