#pragma once
// Private to scene/ (it holds nlohmann-json): an object edit read from a scene file entry's DOM.

#include <functional>
#include <string>

#include "scene/JsonDom.h"
#include "scene/ObjectEdit.h"

namespace host {

/// The objects an edit's references may name.
struct ReferenceScope {
    /// The object a reference names; null when it names none of the scope.
    std::function<Handle(const std::string& name)> find;
    /// What the mistakes call the scope: "file" or "scene".
    const char* word;
};

/// The position, orientation and attributes `entry` (a scene file entry, or a part of one)
/// gives `object` (named `name`), checked and converted by the object's attribute table. Other
/// keys are not looked at. Throws InputError naming `file`.
ObjectEdit objectEditFromJson(const Host& host, const Json& entry, const Handle& object, const std::string& name,
                              const std::string& file, const ReferenceScope& scope);

}  // namespace host
