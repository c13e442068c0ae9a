#pragma once
#include "Types.h"

class ISerialize;

/// [host imp] The host's serialisation stream. One `Serialize` per class both saves and loads:
/// it asks `IsLoading` and then writes or reads the same fields in the same order.
///
/// Slot order is binding. Slots the module never calls are placeholders that keep the named
/// operations at their positions; their meaning is the host's.
class IClassStorage {
public:
    virtual void Placeholder0() {}  // slot 0
    virtual void Placeholder1() {}  // slot 1
    /// Slot 2. Reads `count` raw bytes. Negative when the stream has too few bytes or fails.
    virtual int Read(void* destination, ULong count) = 0;
    /// Slot 3. Writes `count` raw bytes. Negative on failure.
    virtual int Write(const void* source, ULong count) = 0;
    /// Slot 4. Non-zero while loading, zero while saving.
    virtual int IsLoading() = 0;
    virtual void Placeholder5() {}
    virtual void Placeholder6() {}
    virtual void Placeholder7() {}
    virtual void Placeholder8() {}
    /// Slot 9. Lets the member save itself; returns the stream for chaining.
    virtual IClassStorage& StoreObject(ISerialize& member) = 0;
    virtual void Placeholder10() {}
    virtual void Placeholder11() {}
    /// Slot 12.
    virtual IClassStorage& StoreFloat(float value) = 0;
    virtual void Placeholder13() {}
    /// Slot 14.
    virtual IClassStorage& StoreBool(bool value) = 0;
    virtual void Placeholder15() {}
    /// Slot 16.
    virtual IClassStorage& StoreULong(ULong value) = 0;
    virtual void Placeholder17() {}
    virtual void Placeholder18() {}
    virtual void Placeholder19() {}
    /// Slot 20.
    virtual IClassStorage& StoreLong(Long value) = 0;
    virtual void Placeholder21() {}
    /// Slot 22. Lets the member load itself; returns the stream for chaining.
    virtual IClassStorage& LoadObject(ISerialize& member) = 0;
    virtual void Placeholder23() {}
    virtual void Placeholder24() {}
    /// Slot 25.
    virtual IClassStorage& LoadFloat(float* value) = 0;
    virtual void Placeholder26() {}
    /// Slot 27.
    virtual IClassStorage& LoadBool(bool* value) = 0;
    virtual void Placeholder28() {}
    /// Slot 29.
    virtual IClassStorage& LoadULong(ULong* value) = 0;
    virtual void Placeholder30() {}
    virtual void Placeholder31() {}
    /// Slot 32.
    virtual IClassStorage& LoadLong(Long* value) = 0;

protected:
    ~IClassStorage() = default;
};
