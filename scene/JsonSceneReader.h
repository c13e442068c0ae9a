#pragma once
/// Loading a scene from its JSON text (the format: scene/SceneFile.h).

#include <string>
#include <string_view>
#include <vector>

#include "base/InputError.h"
#include "framework/Guid.h"
#include "scene/SceneLevel.h"

namespace host {

class Host;

/// Builds the scene described by the JSON `text` in `host`, then runs `AfterLoad` on each new
/// object in order. Returns the new objects in pre-order; the level the text names goes to
/// `level` when given (nothing when it names none). `file` names the text in errors.
/// Throws InputError; objects made before the mistake was found stay in the host.
std::vector<Handle> loadJsonScene(Host& host, std::string_view text, const std::string& file,
                                  OptionalLevel* level = nullptr);

/// `loadJsonScene` without the `AfterLoad`s, for a caller that releases the text first.
std::vector<Handle> buildJsonScene(Host& host, std::string_view text, const std::string& file,
                                   OptionalLevel* level = nullptr);
/// The same for the JSON file at `path`, read twice where it lies instead of being held with its
/// parse (a file changed between the two readings is refused).
std::vector<Handle> buildJsonSceneFile(Host& host, const std::string& path, OptionalLevel* level = nullptr);

}  // namespace host
