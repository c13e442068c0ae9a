#pragma once
/// Scene files: a scene described in JSON, and the binary .sco image of a built scene.
///
/// JSON (what a person writes, and what `exportJson` prints):
///
///   { "objects": [ { "name": "Tower", "position": [40, 120, 15] },
///                  { "name": "Flight", "class": "SCOCameraSystemPath", "children": [ ... ] },
///                  { "name": "Cam", "class": "SCOCameraSystemIterator",
///                    "attributes": { "Path": "Flight" } } ] }
///
/// Each object has a `name` unique in the file and may have a `class` (a plug-in factory's class
/// name; absent: a plain host object), `position` [x, y, z], `orientation` (nine floats, row by
/// row, default identity), `attributes` and `children` (the host's child list, in order).
/// Attributes are set through the object's own attribute table, by name, converted by type
/// code: a number for 3, an integer 0..4294967295 for 12, true/false for 8, [x, y, z] for 5, an
/// object's name or null for 32. Where a float is expected, the strings "NaN", "Infinity" and
/// "-Infinity" stand for the values JSON has no numbers for.
///
/// .sco (little-endian; every count is checked against the bytes that remain):
///
///   offset  size  content
///   0       8     magic "CAMSCO", 0x1A, 0x0A
///   8       4     format version, 1
///   12      4     object count n
///   16      ...   n objects, depth-first pre-order (a parent before its children, children in
///                 child-list order), each:
///                   16  class GUID (a factory's, or kPlainObjectClassGuid)
///                   16  the object's GUID
///                   16  its parent's GUID, all zero at the top level
///                    4  name length, then the name's bytes (UTF-8)
///                    4  record length, then the record the object's own `Serialize` wrote
///
/// GUIDs are 16 raw bytes: Data1, Data2, Data3 little-endian, then Data4. Objects keep their
/// GUIDs, so the references inside the records stay valid.

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/InputError.h"
#include "host/Host.h"

namespace host {

/// Class GUID under which a .sco stores the host's plain objects (their record is the
/// `RtsObject` base record, which carries the position): {484F5354-0000-0000-504C-41494E4F424A},
/// "HOST" and "PLAINOBJ".
inline constexpr _GUID kPlainObjectClassGuid = {0x484F5354, 0, 0, {'P', 'L', 'A', 'I', 'N', 'O', 'B', 'J'}};
/// The first bytes of every .sco file.
inline constexpr std::uint8_t kScoMagic[8] = {'C', 'A', 'M', 'S', 'C', 'O', 0x1A, 0x0A};
/// The .sco format version written and read.
inline constexpr ULong kScoFormatVersion = 1;

/// One object of a scene and the scene objects in its child list.
struct SceneNode {
    Handle object;
    std::vector<SceneNode> children;
};

/// The scene the host holds: its plug-in objects and plain objects, as trees from the objects
/// without a parent, in order of creation. Objects of other kinds (the camera, registries) and
/// what hangs below them are not part of it.
std::vector<SceneNode> sceneTree(const Host& host);

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
};

/// Reads an edit of `object`: the JSON object `json` with any of "position", "orientation" and
/// "attributes" as in a scene file's entry (references name objects of the scene), plus the
/// keys in `otherKeys`, which are left to the caller. Checks everything and applies nothing.
/// Throws InputError in the loader's words, `file` naming the text.
ObjectEdit readObjectEdit(Host& host, const Handle& object, std::string_view json,
                          const std::vector<std::string>& otherKeys, const std::string& file);

/// True when `bytes` start with the .sco magic.
bool isScoImage(std::span<const std::uint8_t> bytes);

/// Builds the scene described by the JSON `text` in `host`, then runs `AfterLoad` on each new
/// object in order. Returns the new objects in pre-order. `file` names the text in errors.
/// Throws InputError; objects made before the mistake was found stay in the host.
std::vector<Handle> loadJsonScene(Host& host, std::string_view text, const std::string& file);
/// The same for a .sco image.
std::vector<Handle> loadScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file);
/// Reads the file at `path` and loads it by its content: .sco when it starts with the magic,
/// JSON otherwise. A regular JSON file is read twice where it lies instead of being held with
/// its parse (a file changed between the two readings is refused); `-`, pipes and devices are
/// read once into memory. Throws InputError, also when the file cannot be read.
std::vector<Handle> loadSceneFile(Host& host, const std::string& path);

/// The scene as JSON: every object with its name, class, position, orientation (left out when
/// it is exactly the identity), the values of its own class's attributes of the types above,
/// and its children. Floats are written as the shortest decimal that reads back to the same
/// float (negative zero as -0.0). Loading the text and exporting again gives the same text.
/// Throws InputError for an object without a name or with a reference outside the scene.
std::string exportJson(const Host& host);
/// The scene as a .sco image. Throws InputError for an object without a name, of a class no
/// factory makes, or whose `Serialize` answers 0.
std::vector<std::uint8_t> saveScoImage(Host& host);
/// Writes the .sco image through a file stream, complete or not at all (`writeFileAtomically`).
/// Throws InputError as `saveScoImage`, std::runtime_error when the file cannot be written.
void saveScoFile(Host& host, const std::string& path);

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
