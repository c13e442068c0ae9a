#pragma once
/// \file
/// Fixed-width types shared across the plug-in boundary.
///
/// The engine this module was written for ran where `long` was 32 bits wide; every value the
/// contract calls "unsigned long" or "long" is therefore a 32-bit integer here, and time stamps
/// wrap modulo 2^32.

#include <cstddef>
#include <cstdint>

using ULong = std::uint32_t;  ///< the contract's "unsigned long"
using Long = std::int32_t;    ///< the contract's "long"

/// Iteration position in a host child list; 0 means "past the end". Host-defined.
using ChildPos = std::uint32_t;

/// The platform GUID: Data1, Data2, Data3, then the eight bytes of Data4, little-endian.
struct _GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
static_assert(sizeof(_GUID) == 16);
static_assert(offsetof(_GUID, Data4) == 8);

#if defined(_WIN32)
#define SCO_EXPORT extern "C" __declspec(dllexport)
#else
#define SCO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

class IClassStorage;
class IRTS;
class ISCODescriptor;
class RtsObject;
struct Attribute;
