#pragma once
/// The plug-in's entry points for programs that link the module in (camsys_module_static)
/// instead of loading the shared library: pass them to `host::Host`.

#include "framework/RtsObjectFactory.h"

extern "C" void SetIRTS(IRTS* runtime);
extern "C" RtsObjectFactory** GetObjectFactories();
