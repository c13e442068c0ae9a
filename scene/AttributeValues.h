#pragma once
/// Attribute values as a scene file writes them (see scene/SceneFile.h for the types it carries).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "framework/Attribute.h"

namespace host {

class Host;

/// Attribute types a scene file carries, with one value each.
bool isSceneType(const Attribute& record);
/// The name of an attribute record (its 31 bytes need not hold a terminator).
std::string attributeName(const Attribute& record);

/// `text` as a JSON string (invalid UTF-8 replaced).
std::string jsonString(std::string_view text);
/// `value` as a scene file writes a float: the shortest decimal that reads back to the same
/// float, -0.0 for negative zero, and the strings "NaN", "Infinity", "-Infinity".
std::string jsonFloat(float value);
/// One attribute value (`value`: the bytes its getter wrote) as a scene file writes it, by type
/// code: a float, [x, y, z], true/false, an integer, or the referenced object's name or null.
/// "null" for a type a scene file does not carry; nothing for a reference to an object outside
/// the scene.
std::optional<std::string> attributeJson(const Host& host, const Attribute& record,
                                         std::span<const std::uint8_t> value);

}  // namespace host
