#pragma once
/// \file
/// Object factories and the plug-in's entry points.

#include "CVar.h"
#include "Guid.h"

/// [plug imp] Names one scene-object class and creates objects of it.
class RtsObjectFactory : public ISerialize {
public:
    /// Owned buffer of 128 characters holding the class name; for the host.
    char* pszClassName;

    RtsObjectFactory();
    RtsObjectFactory(const RtsObjectFactory&) = delete;
    RtsObjectFactory& operator=(const RtsObjectFactory&) = delete;

    /// Slot 0. Base record: the version from `GetSCOVersion`, then `AngleStep` and `SecondStep`.
    int Serialize(IClassStorage* storage) override;
    /// Slot 1 (two entries with this compiler).
    virtual ~RtsObjectFactory();
    /// Slot 2. A new object, or null when memory runs out.
    virtual RtsObject* New(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor);
    /// Slot 3. Does nothing.
    virtual void Reserved();
    /// Slot 4.
    virtual _GUID GetClassGUID() const;
    /// Slot 5.
    virtual CSCOVersion GetSCOVersion() const;
    /// Slot 6. Group `index`, or null past the last one (the index is not bounded: stop at null).
    virtual const char* GetSCOGroup(ULong index) const;

protected:
    /// Copies `name` over the class-name buffer.
    void SetClassName(const char* name);
};

/// Entry `index` of a factory's null-terminated group list. Callers stop at the first null; an
/// index past it answers null too instead of reading on.
template <std::size_t N>
const char* GroupAt(const char* const (&groups)[N], ULong index) {
    return index < N ? groups[index] : nullptr;
}

/// Entry points the host looks up in the plug-in (undecorated names).
using SetIRTSFunction = void (*)(IRTS* runtime);
using GetObjectFactoriesFunction = RtsObjectFactory** (*)();
inline constexpr const char* kSetIRTSSymbol = "SetIRTS";
inline constexpr const char* kGetObjectFactoriesSymbol = "GetObjectFactories";
