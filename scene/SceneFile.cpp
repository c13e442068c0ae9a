#include "scene/SceneFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "base/InputError.h"
#include "host/Host.h"
#include "scene/JsonSceneReader.h"
#include "scene/ScoFile.h"

namespace host {

std::string_view sceneFormatsSummary() {
    return R"(Scene files (SCENE may be either; the content decides):
  JSON   { "objects": [ { "name": "Tower", "position": [40, 120, 15] },
                        { "name": "Flight", "class": "SCOCameraSystemPath", "children": [
                            { "name": "W0", "class": "SCOCameraSystemWaypoint",
                              "position": [0, 0, 10], "attributes": { "PointsTo": "Tower" } },
                            ... ] },
                        { "name": "Cam", "class": "SCOCameraSystemIterator",
                          "attributes": { "Path": "Flight" } } ] }
         name: unique in the file; class: a plug-in class (absent: a plain host object);
         position [x, y, z]; orientation: nine floats row by row (default identity);
         children: the child list, in order; attributes by name, by type: a number (float),
         an integer 0..4294967295 (unsigned), true/false (bool), [x, y, z] (point), an
         object's name or null (reference). "NaN", "Infinity", "-Infinity" stand for
         those floats in attributes; positions and orientations are finite.
         "level": "town.glb" (or {"file": ..., "scale": s, "position": [x, y, z]}) at the
         top names the level, a glTF 2.0 file relative to the scene file.
  .sco   binary: magic "CAMSCO" 1A 0A, format version (1, or 2 with a level), object count,
         then per object in depth-first pre-order: class GUID, GUID, parent GUID (16 bytes
         each), name and record (each a 4-byte length and the bytes); the record is what the
         object's own Serialize writes. Plain host objects have the class GUID
         {484F5354-0000-0000-504C-41494E4F424A}. Version 2 ends with the level: its file
         name (a 4-byte length and the bytes), scale and position (floats).)";
}

namespace {

[[noreturn]] void failRead(const std::string& path, const char* what) {
    throw InputError(path, "", "", std::string(what) + std::strerror(errno));
}

/// The objects of a scene file, before AfterLoad. `bytes` is left holding what was read into
/// memory, for the caller to release.
std::vector<Handle> buildSceneFile(Host& host, const std::string& path, std::vector<std::uint8_t>& bytes,
                                   OptionalLevel* level) {
    auto fromMemory = [&] {
        return isScoImage(bytes)
                   ? buildScoScene(host, bytes, path, level)
                   : buildJsonScene(host, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                    path, level);
    };
    if (path == "-") {
        // Standard input, JSON or .sco by its content like a file; it can be read only once.
        bytes.assign(std::istreambuf_iterator<char>(std::cin.rdbuf()), std::istreambuf_iterator<char>());
        if (std::cin.bad()) throw InputError(path, "", "", "cannot read standard input");
        return fromMemory();
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) throw InputError(path, "", "", "is a directory, not a scene file");
    std::ifstream in(path, std::ios::binary);
    if (!in) failRead(path, "cannot open the file: ");
    char magic[sizeof kScoMagic] = {};
    in.read(magic, sizeof magic);
    if (in.bad()) failRead(path, "cannot read the file: ");
    const bool sco = in.gcount() == sizeof magic && std::memcmp(magic, kScoMagic, sizeof magic) == 0;
    if (!sco && std::filesystem::is_regular_file(path, error)) {
        // A JSON file is read where it lies, twice, rather than held with its parse.
        in.close();
        return buildJsonSceneFile(host, path, level);
    }
    // A .sco image is read whole (the reader checks every count against what remains); a pipe
    // or device can be read only once. Sized once when the size is known: grown by doubling, a
    // large scene's bytes would take up to twice their size.
    if (const auto size = std::filesystem::file_size(path, error); !error && size > 0) bytes.reserve(size);
    bytes.assign(magic, magic + in.gcount());
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) failRead(path, "cannot read the file: ");
    return fromMemory();
}

}  // namespace

bool isScoImage(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kScoMagic && std::memcmp(bytes.data(), kScoMagic, sizeof kScoMagic) == 0;
}

std::vector<Handle> loadSceneFile(Host& host, const std::string& path, OptionalLevel* level) {
    std::vector<std::uint8_t> bytes;
    const std::vector<Handle> loaded = buildSceneFile(host, path, bytes, level);
    // AfterLoad once the file's bytes are released: the paths refit here, and their work arrays
    // need not share the peak with them.
    std::vector<std::uint8_t>().swap(bytes);
    for (const Handle& object : loaded) host.afterLoad(object);
    return loaded;
}

}  // namespace host
