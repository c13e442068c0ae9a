#pragma once
#include <cstdint>
#include <cstring>

#include "ISerialize.h"

/// A persisted GUID. Record: the long 1 (a format marker), then the 16 GUID bytes.
class CGUID : public ISerialize {
public:
    _GUID Guid{};

    CGUID() = default;
    CGUID(const _GUID& guid) : Guid(guid) {}
    CGUID(const CGUID& other) : ISerialize(), Guid(other.Guid) {}
    CGUID& operator=(const CGUID& other) {
        Guid = other.Guid;
        return *this;
    }

    int Serialize(IClassStorage* storage) override;
    virtual ~CGUID() = default;

    /// True when all 16 bytes are zero. Two word loads rather than memcmp: every interface query
    /// asks this first, and a sanitizer build intercepts each memcmp call.
    bool IsNull() const {
        std::uint64_t words[2];
        static_assert(sizeof words == sizeof Guid);
        std::memcpy(words, &Guid, sizeof words);
        return (words[0] | words[1]) == 0;
    }

    friend bool operator==(const CGUID& a, const CGUID& b) { return std::memcmp(&a.Guid, &b.Guid, sizeof(_GUID)) == 0; }
};

/// Names another scene object by its GUID; all-zero names none. Resolved through the runtime on
/// every use and never cached.
class Handle : public CGUID {
public:
    Handle() = default;
    Handle(const _GUID& guid) : CGUID(guid) {}
    /// The "no object" handle; the argument's value is not looked at.
    explicit Handle(int) {}
    Handle(const CGUID& other) : CGUID(other) {}
    Handle(const Handle& other) : CGUID(other) {}
    Handle& operator=(const CGUID& other) {
        CGUID::operator=(other);
        return *this;
    }
    Handle& operator=(const Handle& other) {
        CGUID::operator=(other);
        return *this;
    }

    /// Asks the runtime for interface `id` of the named object. A null handle answers false and
    /// nulls `*out` without calling the runtime.
    bool GetInterface(ULong id, void** out) const;
    /// The runtime's parent of the named object.
    Handle GetParent() const;
};
