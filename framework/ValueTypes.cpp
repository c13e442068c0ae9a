// Records of the value types. Every record moves its fixed-size body with raw Read/Write calls;
// a failed step ends the record at once with 0.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "CVar.h"
#include "Geometry.h"
#include "Guid.h"
#include "IClassStorage.h"
#include "ModuleRuntime.h"

namespace {

/// Raw write or read of `count` bytes in the stream's direction; true when the stream took it.
bool moveBytes(IClassStorage* storage, void* bytes, ULong count) {
    return (storage->IsLoading() ? storage->Read(bytes, count) : storage->Write(bytes, count)) >= 0;
}

/// The version record that opens CPosition and CObjectPos: written as 1, read and not compared.
bool moveInnerVersion(IClassStorage* storage) {
    CSCOVersion version(1);
    return version.Serialize(storage) != 0;
}

}  // namespace

int CGUID::Serialize(IClassStorage* storage) {
    if (storage->IsLoading()) {
        Long marker = 1;
        storage->LoadLong(&marker);
        if (marker != 1) return 0;
        return storage->Read(&Guid, sizeof Guid) >= 0 ? 1 : 0;
    }
    storage->StoreLong(1);
    return storage->Write(&Guid, sizeof Guid) >= 0 ? 1 : 0;
}

bool Handle::GetInterface(ULong id, void** out) const { return queryHandle(*this, id, out); }

Handle Handle::GetParent() const { return pIRTS->GetParent(*this); }

template <class T>
int CVar<T>::Serialize(IClassStorage* storage) {
    return moveBytes(storage, &Value, sizeof Value) ? 1 : 0;
}

template class CVar<std::int32_t>;
template class CVar<std::uint32_t>;
template class CVar<float>;

int CSCOVersion::Serialize(IClassStorage* storage) { return moveBytes(storage, &Version, sizeof Version) ? 1 : 0; }

template <class T>
_CMatrix3<T>& _CMatrix3<T>::operator*=(const _CMatrix3& b) {
    _CMatrix3 a = *this;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    return *this;
}

template <class T>
_CMatrix3<T> _CMatrix3<T>::RotationX(double angle) {
    const T s = T(std::sin(angle)), c = T(std::cos(angle));
    return _CMatrix3(1, 0, 0, 0, c, -s, 0, s, c);
}

template <class T>
_CMatrix3<T> _CMatrix3<T>::RotationZ(double angle) {
    const T s = T(std::sin(angle)), c = T(std::cos(angle));
    return _CMatrix3(c, -s, 0, s, c, 0, 0, 0, 1);
}

template struct _CMatrix3<float>;

int CPosition::Serialize(IClassStorage* storage) {
    if (!moveInnerVersion(storage)) return 0;
    float xyz[3] = {x, y, z};
    if (!moveBytes(storage, xyz, sizeof xyz)) return 0;
    x = xyz[0];
    y = xyz[1];
    z = xyz[2];
    return 1;
}

int CObjectPos::Serialize(IClassStorage* storage) {
    if (!moveInnerVersion(storage)) return 0;
    // Matrix first, then origin: the layout of _CCoordSystem itself.
    static_assert(sizeof(_CCoordSystem<float>) == 48);
    _CCoordSystem<float>& cs = *this;
    float body[12];
    std::memcpy(body, &cs, sizeof body);
    if (!moveBytes(storage, body, sizeof body)) return 0;
    std::memcpy(&cs, body, sizeof body);
    return 1;
}
