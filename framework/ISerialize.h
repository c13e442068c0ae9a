#pragma once
#include "Types.h"

/// Something that saves and loads itself through a class storage stream.
/// [plug imp] One operation; the same call serves both directions (the stream says which).
class ISerialize {
public:
    /// Saves or loads the record. Returns 1 on success, 0 on failure.
    virtual int Serialize(IClassStorage* storage) = 0;

protected:
    ~ISerialize() = default;
};
