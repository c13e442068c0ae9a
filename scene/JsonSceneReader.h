#pragma once
/// Loading a scene from its JSON text (the format: scene/SceneFile.h).

#include <string>
#include <string_view>
#include <vector>

#include "base/InputError.h"
#include "framework/Guid.h"

namespace host {

class Host;

/// Builds the scene described by the JSON `text` in `host`, then runs `AfterLoad` on each new
/// object in order. Returns the new objects in pre-order. `file` names the text in errors.
/// Throws InputError; objects made before the mistake was found stay in the host.
std::vector<Handle> loadJsonScene(Host& host, std::string_view text, const std::string& file);

/// `loadJsonScene` without the `AfterLoad`s, for a caller that releases the text first.
std::vector<Handle> buildJsonScene(Host& host, std::string_view text, const std::string& file);
/// The same for the JSON file at `path`, read twice where it lies instead of being held with its
/// parse (a file changed between the two readings is refused).
std::vector<Handle> buildJsonSceneFile(Host& host, const std::string& path);

}  // namespace host
