#pragma once
/// The scene a new file starts from (`camsys new`, and the studio opened on a file that does not
/// exist yet): one path with two waypoints a few units apart and an iterator that flies it, so
/// that every view has something to show and every action something to work on.

#include <string>
#include <string_view>
#include <vector>

#include "framework/Guid.h"

namespace host {

class Host;

/// The starter scene as the JSON a person would write.
std::string_view starterSceneJson();

/// Builds the starter scene in `host` as `loadJsonScene` builds a file's; `file` is the name it
/// is going to be saved under (for messages).
std::vector<Handle> loadStarterScene(Host& host, const std::string& file);

/// The starter scene written to `path` (.sco for a name ending in .sco, else JSON as the tool
/// writes it). Refuses with InputError, and writes nothing, when `path` exists or its folder does
/// not.
void writeStarterSceneFile(Host& host, const std::string& path);

/// InputError naming `path` when its folder does not exist (a new file has to go somewhere).
void requireFolderOf(const std::string& path);

}  // namespace host
