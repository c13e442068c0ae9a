#pragma once
/// Scene files: a scene described in JSON, and the binary .sco image of a built scene. This is
/// the formats' one description; the readers and writers beside it follow it.
///
/// JSON (what a person writes, and what `sceneToJson` prints):
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
/// "-Infinity" stand for the values JSON has no numbers for; positions and orientations must be
/// finite. A number beyond the float's range is refused, whether a double holds it or not.
///
/// The top level may name a level, the world the flight flies through (a glTF 2.0 file, read by
/// exchange/LevelFile.h), before "objects":
///
///   { "level": "town.glb", "objects": [ ... ] }
///   { "level": { "file": "town.glb", "scale": 2, "position": [0, 0, -1] }, "objects": [ ... ] }
///
/// The file is relative to the scene file's folder (or absolute); `scale` (above 0, default 1)
/// scales it about its origin, then `position` (default 0, 0, 0) moves it, in world axes. The
/// loaders hand it over as a SceneLevel (scene/SceneLevel.h) and the writers keep it as given.
///
/// .sco (little-endian; every count is checked against the bytes that remain):
///
///   offset  size  content
///   0       8     magic "CAMSCO", 0x1A, 0x0A
///   8       4     format version: 1 (no level) or 2 (a level section follows the objects)
///   12      4     object count n
///   16      ...   n objects, depth-first pre-order (a parent before its children, children in
///                 child-list order), each:
///                   16  class GUID (a factory's, or kPlainObjectClassGuid)
///                   16  the object's GUID
///                   16  its parent's GUID, all zero at the top level
///                    4  name length, then the name's bytes (UTF-8)
///                    4  record length, then the record the object's own `Serialize` wrote
///   ...   ...   version 2 only, the level:
///                    4  file name length, then the name's bytes (UTF-8, as the JSON gives it)
///                    4  scale, a float
///                   12  position x, y, z, three floats
///
/// A scene without a level is written as version 1, byte for byte as before levels; version 1
/// files read as ever.
///
/// GUIDs are 16 raw bytes: Data1, Data2, Data3 little-endian, then Data4. Objects keep their
/// GUIDs, so the references inside the records stay valid.
///
/// Where each part lives: scene/JsonSceneReader.h and scene/JsonSceneWriter.h (JSON),
/// scene/ScoFile.h (.sco), scene/AttributeValues.h (values as JSON), scene/ObjectEdit.h (an
/// entry's values as an edit), scene/SceneTree.h (which objects are the scene, and their order).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/InputError.h"
#include "framework/Guid.h"
#include "framework/Types.h"
#include "scene/SceneLevel.h"

namespace host {

class Host;

/// Class GUID under which a .sco stores the host's plain objects (their record is the
/// `RtsObject` base record, which carries the position): {484F5354-0000-0000-504C-41494E4F424A},
/// "HOST" and "PLAINOBJ".
inline constexpr _GUID kPlainObjectClassGuid = {0x484F5354, 0, 0, {'P', 'L', 'A', 'I', 'N', 'O', 'B', 'J'}};
/// The first bytes of every .sco file.
inline constexpr std::uint8_t kScoMagic[8] = {'C', 'A', 'M', 'S', 'C', 'O', 0x1A, 0x0A};
/// The .sco format version of a scene with a level; both are read.
inline constexpr ULong kScoFormatVersion = 2;
/// The .sco format version of a scene without a level (every file before levels).
inline constexpr ULong kScoFormatVersionWithoutLevel = 1;

/// The two formats in brief, as a tool's help text gives them (`camsys --help`): the summary of
/// the description above, kept beside it.
std::string_view sceneFormatsSummary();

/// True when `bytes` start with the .sco magic.
bool isScoImage(std::span<const std::uint8_t> bytes);

/// Reads the file at `path` and loads it by its content: .sco when it starts with the magic,
/// JSON otherwise, then runs `AfterLoad` on each new object in order. A regular JSON file is
/// read twice where it lies instead of being held with its parse (a file changed between the two
/// readings is refused); `-`, pipes and devices are read once into memory. Returns the new
/// objects in pre-order; the level the file names goes to `level` when given (as written there:
/// relative to the file's folder). Throws InputError, also when the file cannot be read.
std::vector<Handle> loadSceneFile(Host& host, const std::string& path, OptionalLevel* level = nullptr);

}  // namespace host
