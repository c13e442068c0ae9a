#pragma once
/// An edit of one object: a scene file entry's "position", "orientation" and "attributes",
/// read and checked apart from setting them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/InputError.h"
#include "framework/Attribute.h"
#include "framework/Geometry.h"
#include "framework/Guid.h"

namespace host {

class Host;

/// What an edit gives one object, converted as a scene file's entry would be, not yet applied.
struct ObjectEdit {
    struct Value {
        std::string name;  ///< the attribute's name
        Attribute record;  ///< its entry in the object's attribute table
        std::vector<std::uint8_t> bytes;
    };
    std::optional<_Point3<float>> position;
    std::optional<_CMatrix3<float>> orientation;  ///< rows
    std::vector<Value> attributes;                ///< in the order given
    /// The frame that a position or an orientation alone completes. Empty: the object's own,
    /// read back; a loader that has just made the object knows it (the default frame) and
    /// saves the read.
    std::optional<_CCoordSystem<float>> baseFrame;
};

/// Throws InputError in the loader's words when `json` is no JSON text; a number beyond the
/// float's range is named with `object` and the key it was given for.
void checkEditText(std::string_view json, const std::string& object);

/// The edit that sets one whole-number attribute: {"attributes": {attribute: value}}.
std::string attributeEditJson(const std::string& attribute, std::uint64_t value);

/// Reads an edit of `object`: the JSON object `json` with any of "position", "orientation" and
/// "attributes" as in a scene file's entry (references name objects of the scene), plus the
/// keys in `otherKeys`, which are left to the caller. Checks everything and applies nothing.
/// Throws InputError in the loader's words, `file` naming the text.
ObjectEdit readObjectEdit(Host& host, const Handle& object, std::string_view json,
                          const std::vector<std::string>& otherKeys, const std::string& file);

/// Told as `applyObjectEdit` goes: after the position and orientation are set, and after each
/// attribute is set (with its name).
struct EditNotices {
    std::function<void()> moved;
    std::function<void(const std::string& attribute)> attributeSet;
};

/// Sets what `edit` gives `object`: its position and orientation (the ones not given kept) as
/// one "ObjectPos", then the attributes in order. Throws InputError (`file`, the object's name,
/// the attribute) at the first value the object refuses; what was set before it stays set.
void applyObjectEdit(Host& host, const Handle& object, const ObjectEdit& edit, const std::string& file,
                     const EditNotices& notices = {});

}  // namespace host
