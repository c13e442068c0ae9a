#pragma once
/// The file behind the studio's scene: where it came from (or was last saved to), in which
/// format, and its bytes as loaded or saved, so that saving never overwrites a file someone else
/// changed on disk unless asked to.

#include <cstdint>
#include <optional>
#include <string>

#include "scene/SceneLevel.h"
#include "studio/server/Session.h"

namespace studio {

class FileState {
public:
    /// The scene of `session` came from `file`, which names `level`.
    FileState(Session& session, std::string file, host::OptionalLevel level = {});

    const std::string& file() const { return file_; }
    /// The file, its format, the revision, whether it is saved and whether it changed on disk.
    std::string status() const;
    /// Saves the scene to the file, or with `as` to that name in the file's folder (its ending
    /// chooses the format); answers the status. Refuses (Conflict) to replace a file that changed
    /// on disk, or another existing one, unless `overwrite`.
    std::string save(const std::optional<std::string>& as, bool overwrite);
    /// Loads the file again, as a change that can be undone.
    JsonObject reload();

private:
    /// The path to save to and whether as .sco; BadRequest for a name save as does not take.
    std::pair<std::string, bool> target(const std::optional<std::string>& as) const;

    Session& session_;
    std::string file_;
    bool sco_ = false;
    /// The level the file names: saves write it back, a reload takes the file's.
    host::OptionalLevel level_;
    /// The bytes as loaded or saved; none when the file could not be read.
    std::optional<std::string> bytes_;
    std::uint64_t savedRevision_ = 0;
};

}  // namespace studio
