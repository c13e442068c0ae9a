#pragma once
/// The .sco image of a built scene, written and read (the format: scene/SceneFile.h).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/InputError.h"
#include "framework/Guid.h"
#include "scene/SceneLevel.h"

namespace host {

class Host;

/// Builds the scene of the .sco image `bytes` in `host`, then runs `AfterLoad` on each new
/// object in order. Returns the new objects in pre-order; the image's level goes to `level` when
/// given. `file` names the image in errors.
/// Throws InputError; objects made before the mistake was found stay in the host.
std::vector<Handle> loadScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file,
                                 OptionalLevel* level = nullptr);
/// `loadScoScene` without the `AfterLoad`s, for a caller that releases the bytes first.
std::vector<Handle> buildScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file,
                                  OptionalLevel* level = nullptr);

/// The scene as a .sco image (format version 1 without a level, 2 with one). Throws InputError
/// for an object without a name, of a class no factory makes, or whose `Serialize` answers 0.
std::vector<std::uint8_t> sceneToScoImage(Host& host, const OptionalLevel& level = std::nullopt);
/// Writes the .sco image through a file stream, complete or not at all (`writeFileAtomically`).
/// Throws InputError as `sceneToScoImage`, std::runtime_error when the file cannot be written.
void writeScoFile(Host& host, const std::string& path, const OptionalLevel& level = std::nullopt);

}  // namespace host
