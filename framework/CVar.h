#pragma once
#include "ISerialize.h"

/// A typed 4-byte value. Record: exactly the 4 bytes of `Value`, no version.
template <class T>
class CVar : public ISerialize {
    static_assert(sizeof(T) == 4, "CVar values are always 4 bytes");

public:
    T Value{};

    CVar() = default;
    CVar(T value) : Value(value) {}
    CVar(const CVar& other) : ISerialize(), Value(other.Value) {}
    CVar& operator=(const CVar& other) {
        Value = other.Value;
        return *this;
    }

    int Serialize(IClassStorage* storage) override;
    virtual ~CVar() = default;
};

/// Version record of a persisted class: the 4 bytes of `Version`. Its table holds `Serialize`
/// only (no virtual destructor); comparing versions is the owner's job.
class CSCOVersion : public ISerialize {
public:
    int Version = 1;

    CSCOVersion() = default;
    CSCOVersion(int version) : Version(version) {}
    CSCOVersion(const CSCOVersion& other) : ISerialize(), Version(other.Version) {}
    CSCOVersion& operator=(const CSCOVersion& other) {
        Version = other.Version;
        return *this;
    }

    int GetVersion() const { return Version; }
    int Serialize(IClassStorage* storage) override;
};

extern template class CVar<std::int32_t>;
extern template class CVar<std::uint32_t>;
extern template class CVar<float>;
