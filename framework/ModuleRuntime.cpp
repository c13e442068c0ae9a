#include "ModuleRuntime.h"

IRTS* pIRTS = nullptr;
IRTS* pCameraSystemIRTS = nullptr;

void SetModuleRuntime(IRTS* runtime) {
    pIRTS = runtime;
    pCameraSystemIRTS = runtime;
}
