#pragma once
/// Little-endian words and GUID bytes, the byte order of every stream and file the host writes,
/// whatever the machine's own order.

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/Types.h"

namespace host {

/// Writes `value` to `out[0..3]`, least significant byte first.
inline void putLE32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

/// Appends `value` to `out`, least significant byte first.
inline void appendLE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    putLE32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

/// The word in `in[0..3]`, least significant byte first.
inline std::uint32_t readLE32(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

/// The 16 bytes a file stores for a GUID: Data1, Data2, Data3 little-endian, then Data4. Also
/// the key under which the host sorts GUIDs.
using GuidBytes = std::array<std::uint8_t, 16>;

/// `guid` in its stored byte form.
inline GuidBytes guidBytes(const _GUID& guid) {
    GuidBytes bytes{};
    putLE32(bytes.data(), guid.Data1);
    bytes[4] = static_cast<std::uint8_t>(guid.Data2);
    bytes[5] = static_cast<std::uint8_t>(guid.Data2 >> 8);
    bytes[6] = static_cast<std::uint8_t>(guid.Data3);
    bytes[7] = static_cast<std::uint8_t>(guid.Data3 >> 8);
    std::memcpy(bytes.data() + 8, guid.Data4, 8);
    return bytes;
}

/// The GUID whose stored byte form starts at `in` (16 bytes).
inline _GUID guidFromBytes(const std::uint8_t* in) {
    _GUID guid{};
    guid.Data1 = readLE32(in);
    guid.Data2 = static_cast<std::uint16_t>(in[4] | in[5] << 8);
    guid.Data3 = static_cast<std::uint16_t>(in[6] | in[7] << 8);
    std::memcpy(guid.Data4, in + 8, 8);
    return guid;
}

}  // namespace host
