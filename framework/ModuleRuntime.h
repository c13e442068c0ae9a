#pragma once
/// The module's runtime pointer, handed in once by `SetIRTS` before any object exists.
///
/// Two copies, written together: the framework reads `pIRTS`, the camera classes read
/// `pCameraSystemIRTS`. Neither is ever tested for null.

// Rooted at the project (not beside this file): installed, this header sits apart from the
// contract headers, with the stand-in host's.
#include "framework/IRTS.h"

extern IRTS* pIRTS;
extern IRTS* pCameraSystemIRTS;

/// Stores `runtime` in both copies.
void SetModuleRuntime(IRTS* runtime);
