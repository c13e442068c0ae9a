#pragma once
/// The file behind the studio's scene: where it came from (or was last saved to), in which
/// format, and its bytes as loaded or saved, so that saving never overwrites a file someone else
/// changed on disk unless asked to.

#include <cstdint>
#include <optional>
#include <string>

#include "studio/server/Journal.h"
#include "scene/SceneLevel.h"
#include "studio/server/Session.h"

namespace studio {

class FileState {
public:
    /// The scene of `session` came from `file`, which names `level`. `journal`: keep the recovery
    /// journal of unsaved changes beside it (see Journal.h), and look for one an earlier session left.
    FileState(Session& session, std::string file, bool journal = false, host::OptionalLevel level = {});

    const std::string& file() const { return file_; }
    /// The version of the file as loaded or saved (see versionOf).
    std::string version() const { return versionOf(bytes_); }
    /// The file, its format, the revision, whether it is saved and whether it changed on disk.
    std::string status() const;
    /// Saves the scene to the file, or with `as` to that name in the file's folder (its ending
    /// chooses the format); answers the status. Refuses (Conflict) to replace a file that changed
    /// on disk, or another existing one, unless `overwrite`.
    std::string save(const std::optional<std::string>& as, bool overwrite);
    /// Loads the file again, as a change that can be undone.
    JsonObject reload();

    /// Brings the journal up to date after a request (`soon`: a drag's step). Never throws.
    void keepJournal(bool soon);
    const Journal& journal() const { return journal_; }
    /// The scene as a JSON scene file (what saving as .json writes); the journal's when current.
    std::string sceneFileJson();
    /// The journal kept and the one found at start, as GET /api/recovery answers.
    std::string recovery() const;
    /// Applies the found journal's scene as a change that can be undone. NotFound without one;
    /// Conflict when it was made to another version of the file.
    JsonObject recover();
    /// Removes the found journal.
    std::string discardRecovery();

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
    /// True when the scene is not the one loaded or saved (a scene without its file yet is).
    bool unsaved() const { return session_.editor().sceneState() != savedState_ || !bytes_; }
    /// The editor's `sceneState` of the scene as loaded or saved: undoing back to it is saved.
    std::uint64_t savedState_ = 0;
    Journal journal_;
};

}  // namespace studio
