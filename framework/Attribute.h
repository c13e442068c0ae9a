#pragma once
/// \file
/// The record that describes one attribute of a scene object to the host.

#include <cstring>

#include "Geometry.h"
#include "Types.h"

/// Reads (`Get`) or writes (`Set`) one attribute through an untyped buffer. Never validates.
using AttributeAccessor = bool (*)(RtsObject* object, void* value);

/// Type codes of attribute values, and what the buffer holds.
inline constexpr ULong kTypeFloat = 3;       ///< float, 4 bytes
inline constexpr ULong kTypePoint = 5;       ///< x, y, z floats, 12 bytes
inline constexpr ULong kTypeBool = 8;        ///< bool, 1 byte
inline constexpr ULong kTypeObjectPos = 10;  ///< origin x, y, z then the nine matrix floats row by row, 48 bytes
inline constexpr ULong kTypeULong = 12;      ///< 32-bit unsigned, 4 bytes
inline constexpr ULong kTypeGuidRef = 32;    ///< the 16 bytes of the referenced object's GUID

/// One attribute, exchanged with the host in memory. The all-zero record ends a table.
/// On a 32-bit target this is the original 52-byte record (accessors at 44 and 48); with 8-byte
/// pointers the two accessors start at the next 8-byte boundary (48 and 56, 64 bytes in all).
struct Attribute {
    ULong Type;             ///< type code; 0 in the terminating record
    ULong Count;            ///< number of values; 1 in every record of the module
    char Name[31];          ///< terminated, zero-filled: at most 30 visible characters
    bool Flags[3];          ///< host-defined
    AttributeAccessor Get;  ///< reads the attribute into the buffer
    AttributeAccessor Set;  ///< writes the attribute from the buffer
};
static_assert(offsetof(Attribute, Type) == 0);
static_assert(offsetof(Attribute, Count) == 4);
static_assert(offsetof(Attribute, Name) == 8);
static_assert(offsetof(Attribute, Flags) == 39);
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "the record is laid out for 4- or 8-byte pointers");
static_assert(offsetof(Attribute, Get) == (sizeof(void*) == 4 ? 44 : 48));
static_assert(offsetof(Attribute, Set) == (sizeof(void*) == 4 ? 48 : 56));
static_assert(sizeof(Attribute) == (sizeof(void*) == 4 ? 52 : 64));

/// A record with count 1; the name is copied and zero-filled (cut at 30 characters).
inline Attribute MakeAttribute(const char* name, ULong type, bool f0, bool f1, bool f2, AttributeAccessor get,
                               AttributeAccessor set) {
    Attribute a{};
    a.Type = type;
    a.Count = 1;
    std::strncpy(a.Name, name, sizeof a.Name - 1);
    a.Flags[0] = f0;
    a.Flags[1] = f1;
    a.Flags[2] = f2;
    a.Get = get;
    a.Set = set;
    return a;
}

/// Getter body: copies the member's bytes into the caller's buffer.
template <class T>
bool CopyAttributeOut(void* value, const T& member) {
    std::memcpy(value, &member, sizeof member);
    return true;
}

/// Setter body: copies the caller's bytes into the member, unchecked (the editor may store
/// anything).
template <class T>
bool CopyAttributeIn(T& member, const void* value) {
    std::memcpy(&member, value, sizeof member);
    return true;
}

/// A bool may hold nothing but 0 and 1, so any non-zero byte is stored as true.
inline bool CopyAttributeIn(bool& member, const void* value) {
    member = *static_cast<const unsigned char*>(value) != 0;
    return true;
}

/// The 48-byte buffer of a kTypeObjectPos attribute: the origin first, then the matrix row by
/// row. (The record of `_CCoordSystem` and of CObjectPos has the matrix first.)
inline void PackObjectPos(const _CCoordSystem<float>& position, void* value) {
    auto* bytes = static_cast<unsigned char*>(value);
    std::memcpy(bytes, &position.Origin, sizeof position.Origin);
    std::memcpy(bytes + sizeof position.Origin, &position.Orientation, sizeof position.Orientation);
}

/// The coordinate system a kTypeObjectPos buffer holds (see PackObjectPos).
inline _CCoordSystem<float> UnpackObjectPos(const void* value) {
    _CCoordSystem<float> position;
    const auto* bytes = static_cast<const unsigned char*>(value);
    std::memcpy(&position.Origin, bytes, sizeof position.Origin);
    std::memcpy(&position.Orientation, bytes + sizeof position.Origin, sizeof position.Orientation);
    return position;
}
