// The plug-in's two exported entry points.
#include "framework/ModuleRuntime.h"
#include "module/CameraSystemFactories.h"

/// Stores the runtime pointer (both copies). Called once, before any object exists; never
/// tested for null.
SCO_EXPORT void SetIRTS(IRTS* runtime) { SetModuleRuntime(runtime); }

/// The null-terminated factory array: path, iterator, waypoint.
SCO_EXPORT RtsObjectFactory** GetObjectFactories() { return const_cast<RtsObjectFactory**>(pObjectFactories); }
