#pragma once
/// GUIDs as people read them.

#include <string>

#include "framework/Types.h"

namespace host {

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string guidToText(const _GUID& guid);

}  // namespace host
