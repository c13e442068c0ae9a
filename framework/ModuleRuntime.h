#pragma once
/// The module's runtime pointer, handed in once by `SetIRTS` before any object exists.
///
/// Two copies, written together: the framework reads `pIRTS`, the camera classes read
/// `pCameraSystemIRTS`. Neither is ever tested for null.

// Rooted at the project (not beside this file): installed, this header sits apart from the
// contract headers, with the stand-in host's.
#include "framework/IRTS.h"
#include "framework/InterfacePtr.h"

extern IRTS* pIRTS;
extern IRTS* pCameraSystemIRTS;

/// `handle.GetInterface(id, out)`, inline: the plug-in's walks over child lists ask it of every
/// child, and the call into the framework's own code cost a tenth of such a step.
inline bool queryHandle(const Handle& handle, ULong id, void** out) {
    if (handle.IsNull()) {
        if (out) *out = nullptr;
        return false;
    }
    return pIRTS->QueryObjectInterface(handle, id, out);
}

/// `CInterfacePtr<I>(handle)` with the runtime asked inline (see `queryHandle`).
template <class I>
CInterfacePtr<I> resolveInterface(const Handle& handle) {
    void* p = nullptr;
    return queryHandle(handle, kInterfaceId<I>, &p) ? CInterfacePtr<I>::Adopt(static_cast<I*>(p)) : CInterfacePtr<I>();
}

/// Stores `runtime` in both copies.
void SetModuleRuntime(IRTS* runtime);
