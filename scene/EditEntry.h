#pragma once
/// An object's entry ("position", "orientation", "attributes") made from values, as the text that
/// SceneEditor's `create` and `edit` take: for code outside scene/ that makes objects.

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "framework/Geometry.h"
#include "framework/Types.h"

namespace host {

struct EditEntry {
    /// A reference by the name of the object it names, a float, a whole number, a flag.
    using Value = std::variant<std::string, float, ULong, bool>;
    std::optional<_Point3<float>> position;
    std::optional<_CMatrix3<float>> orientation;  ///< rows
    std::vector<std::pair<std::string, Value>> attributes;
};

/// The entry as a JSON object's text; every float reads back as the same float.
std::string editEntryJson(const EditEntry& entry);

}  // namespace host
