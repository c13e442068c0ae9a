#pragma once
/// The level a scene file names: the glTF file the flight flies through (scene/SceneFile.h has
/// the key), and where it stands.

#include <array>
#include <optional>
#include <string>

namespace host {

struct SceneLevel {
    /// As the scene gives it: relative to the scene file's folder (or absolute).
    std::string file;
    /// Scaled about the level's origin, then moved to `position` (world axes). Floats, as every
    /// number of a scene.
    float scale = 1;
    std::array<float, 3> position{0, 0, 0};

    /// Whether the short form, the file name alone, says it all.
    bool unplaced() const { return scale == 1 && position == std::array<float, 3>{0, 0, 0}; }
    bool operator==(const SceneLevel&) const = default;
};

/// A scene's level, if it names one: what the loaders fill and the writers take.
using OptionalLevel = std::optional<SceneLevel>;

}  // namespace host
