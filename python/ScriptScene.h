#pragma once
// A scene as the Python module holds it: its own Host (see SceneRuntimes.h), the editor with its
// undo history, the game camera, and the file name its messages and level reference go by. Every
// call goes through the same library code as camsys's commands; nothing here touches Python.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/PathFit.h"
#include "flight/lint/Lint.h"
#include "python/SceneRuntimes.h"
#include "scene/SceneEditor.h"
#include "scene/SceneLevel.h"

namespace pycamsys {

/// One object of the scene as `Scene::objects` lists it.
struct ObjectRow {
    std::string name;
    std::optional<std::string> className;  ///< none for a plain host object
    std::optional<std::string> parent;     ///< none at top level
    std::optional<_Point3<float>> position;
};

/// An attribute value as a scene file writes it (JSON text), and whether its type is float (whose
/// words "NaN", "Infinity", "-Infinity" are numbers, not names).
struct AttributeText {
    std::string json;
    bool isFloat = false;
};

/// A recorded flight and what its analysis needs of the scene as it was when flown.
struct FlightData {
    std::string iterator;
    host::FlightOptions options;
    host::FlightRecording recording;
    host::FlightAnalysisInput analysisInput;  ///< without ticks (they are the recording's)
};

/// Which level a check or an export sees: the scene's own, a file given (from the working
/// folder), or none; as camsys's --level and --no-level choose.
struct LevelChoice {
    enum class Kind { Own, File, None } kind = Kind::Own;
    std::string file;
};

/// A level read and indexed for the checks.
std::shared_ptr<const host::LevelGeometry> loadLevel(const std::string& file);

class Scene {
public:
    /// A scene file, JSON or .sco by content, as camsys loads SCENE. Throws host::InputError.
    static std::unique_ptr<Scene> load(const std::string& path);
    /// A scene from its JSON text; `file` names it in messages and places its level reference.
    static std::unique_ptr<Scene> fromJson(const std::string& text, const std::string& file);
    /// The starter scene of `camsys new`.
    static std::unique_ptr<Scene> starter();

    const std::string& file() const { return file_; }
    /// The level reference the scene names, as written there.
    const host::OptionalLevel& level() const { return level_; }
    /// Where the scene's level file lies (relative to the scene's folder), or none.
    std::optional<std::string> levelPath() const;

    std::vector<ObjectRow> objects();
    /// The scene-file attributes of `object` in table order, with their values.
    std::vector<std::pair<std::string, AttributeText>> attributes(const std::string& object);
    bool hasObject(const std::string& object);

    /// An edit of one object as the studio sends it ({"position", "orientation", "attributes"}):
    /// all or nothing, one undo step. Throws host::InputError.
    void edit(const std::string& object, const std::string& json);
    /// Several edits as one change and one undo step, all or nothing.
    void editAll(const std::vector<std::pair<std::string, std::string>>& edits);
    /// A new object as the studio's "add" makes it: of `className` (empty: a plain host object),
    /// named `name` (empty: a free name), in `parent`'s child list at `index` (none: appended;
    /// empty parent: top level), with the entries of `json` as `edit` takes them, or a copy of
    /// `copyOf`. One undo step. Answers the new object's name. Throws host::InputError.
    std::string create(const std::string& className, const std::string& name, const std::string& parent,
                       std::optional<std::size_t> index, const std::string& json, const std::string& copyOf);
    /// Deletes the object and its children; answers the references to them that now name none
    /// ({object, attribute, target}). One undo step. Throws host::InputError.
    std::vector<host::SceneEditor::Referrer> remove(const std::string& object);
    bool undo();
    bool redo();

    /// Flies the iterator as `camsys fly` does (`iterator` empty: the only one).
    std::shared_ptr<FlightData> fly(const std::string& iterator, const host::FlightOptions& options);
    /// The findings of `camsys lint`, with the level `choice` picks.
    std::vector<host::LintFinding> lint(const std::string& iterator, host::LintOptions options,
                                        const LevelChoice& choice);

    std::string toJson();
    void save(const std::string& path);
    /// `camsys export`: the flight and the scene as glTF (.gltf or .glb).
    void exportGltf(const std::string& path, const std::string& iterator, const host::FlightOptions& options,
                    const LevelChoice& choice, bool withLevel);

private:
    explicit Scene(std::string file) : file_(std::move(file)) {}
    /// Loads with `build` into a new Scene and gives it its game camera.
    template <typename Build>
    static std::unique_ptr<Scene> make(std::string file, Build build);
    Handle objectNamed(host::Host& host, const std::string& name) const;
    Handle iteratorNamed(host::Host& host, const std::string& name) const;
    /// The level `choice` picks, read; none when there is none.
    std::shared_ptr<const host::LevelGeometry> levelFor(const LevelChoice& choice) const;

    std::string file_;
    host::OptionalLevel level_;
    SceneHost sceneHost_;
    std::unique_ptr<host::SceneEditor> editor_;
};

/// `camsys import` of samples given as arrays: the fewest waypoints whose flight stays within
/// the tolerances; the fit's scene and report.
std::pair<std::unique_ptr<Scene>, host::PathFitResult> fitPath(const std::vector<host::RecordedEye>& samples,
                                                               const host::PathFitOptions& options);

}  // namespace pycamsys
