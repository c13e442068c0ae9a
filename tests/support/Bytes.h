#pragma once
/// Expected record bytes, built independently of the streams under test (little-endian words).

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/Guid.h"

namespace testing_support {

using ByteVector = std::vector<std::uint8_t>;

/// A record written field by field.
struct Bytes {
    ByteVector data;
    Bytes& u8(std::uint8_t v) { return data.push_back(v), *this; }
    /// A 32-bit word, low byte first.
    Bytes& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    /// The bit pattern of a float.
    Bytes& f32(float v) {
        std::uint32_t w;
        std::memcpy(&w, &v, 4);
        return u32(w);
    }
    Bytes& raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        return data.insert(data.end(), b, b + n), *this;
    }
    /// A CGUID record: the long 1, then Data1, Data2, Data3 little-endian and Data4's 8 bytes.
    Bytes& guid(const _GUID& g) {
        u32(1).u32(g.Data1);
        for (unsigned short half : {g.Data2, g.Data3}) u8(static_cast<std::uint8_t>(half)).u8(half >> 8);
        return raw(g.Data4, 8);
    }
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
