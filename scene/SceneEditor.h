#pragma once
/// Live editing of the scene the host holds, the way the editor the plug-in was made for does
/// it, with undo and redo.
///
/// Every change reaches the plug-in objects through the editor's own path and nothing else:
/// - a position: the object's "ObjectPos" set, then its `OnPositionChanged` (editor feedback)
///   where it has one, which refits a waypoint's path; and every object whose reference
///   attribute names the moved one hears `OnAttributChanged` of that attribute (a waypoint
///   aimed at a moved target aims again, as a fresh load of the scene would have it);
/// - an attribute: set through the object's attribute table with the scene loader's checks and
///   conversions, then `OnAttributChanged` with its name;
/// - creating, deleting and reordering objects: the host's child lists, then a refit
///   (`RefreshCubicData`) of every path whose child list changed.
///
/// A change is all or nothing. Values are checked before anything is touched, and a value an
/// object refuses half way puts the whole scene back as it was. Undo is exact for the same
/// reason: before a change the editor keeps the scene's .sco image, and undoing loads it again
/// (GUIDs, names, child order and every object's own record as they were; the objects'
/// `AfterLoad` runs as after loading a file). Consecutive position changes of one object with
/// the same gesture name (the steps of a drag) make one undo step.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/InputError.h"
#include "host/Host.h"

namespace host {

struct ObjectEdit;

/// What a change did, for those who keep results derived from the scene.
enum class EditEffect {
    /// Only positions of waypoints changed (their paths refitted): the times of every flight
    /// and which objects it activates are as before.
    WaypointPositions,
    /// Anything else, the scene replaced by undo, redo or a reload included.
    Other,
};

class SceneEditor {
public:
    explicit SceneEditor(Host& host) : host_(host) {}
    SceneEditor(const SceneEditor&) = delete;
    SceneEditor& operator=(const SceneEditor&) = delete;

    /// Applies `json` to `object`: any of "position", "orientation" and "attributes" as in a scene
    /// file's entry; keys in `otherKeys` are the caller's. `name`: a new unique name. `gesture`:
    /// see above. Throws InputError (the scene unchanged).
    EditEffect edit(const Handle& object, std::string_view json, const std::vector<std::string>& otherKeys,
                    std::string_view gesture = {}, const std::optional<std::string>& name = std::nullopt);

    /// Several edits, each of one object as `edit` takes them (no names, no gestures), as one
    /// change and one undo step named `label`: all are read and checked before any is applied.
    /// Throws InputError (the scene unchanged).
    void editAll(std::string label, const std::vector<std::pair<Handle, std::string>>& edits);

    /// A new object: of `className` (empty: a plain host object), named `name` (empty: a free
    /// name from the class), in `parent`'s child list at `index` (past the end: appended; a null
    /// parent: top level), with the entries of `json` as `edit` takes them. `copyOf`, when given,
    /// lends its class (when `className` is empty), orientation and attribute values first.
    /// Returns the new object. Throws InputError.
    Handle create(std::string className, std::string name, const Handle& parent, std::size_t index,
                  std::string_view json, const std::vector<std::string>& otherKeys, const Handle& copyOf = Handle());
    /// A reference by name: `object`'s attribute `attribute` names `target`.
    struct Referrer {
        std::string object;
        std::string attribute;
        std::string target;
    };
    /// The references into the object or its children from objects outside them: what `remove`
    /// would clear. Throws InputError for an unknown object.
    std::vector<Referrer> referrers(const Handle& object) const;
    /// Deletes the object and everything in its child list; answers the references it cleared.
    /// Throws InputError.
    std::vector<Referrer> remove(const Handle& object);
    /// Moves the object into `parent`'s child list at `index`. Throws InputError.
    void move(const Handle& object, const Handle& parent, std::size_t index);
    /// Replaces the whole scene by the one `load` builds into the emptied host (a reload from
    /// disk); on failure the scene stays as it was and the exception propagates.
    void replace(const std::string& label, const std::function<void(Host&)>& load);
    /// Runs `changes`, any number of the changes above, as one change and one undo step named
    /// `label` (a multi-selection's move, a preset's new path with its waypoints). All or nothing:
    /// when one throws, the scene is put back as it was before the first and the exception
    /// propagates. Groups do not nest.
    void group(std::string label, const std::function<void()>& changes);

    /// Undoes or redoes the last change; false when there is none.
    bool undo();
    bool redo();

    /// Counts every change, undo and redo: a new number means a new scene.
    std::uint64_t revision() const { return revision_; }
    /// Names the scene as the history has it: a change makes a new one, and undoing or redoing
    /// back to a scene gives its own again (what "saved" compares).
    std::uint64_t sceneState() const { return state_; }
    /// Object names are at most this many bytes (the plug-in's own name buffers hold 128).
    static constexpr std::size_t kMaxNameBytes = 128;
    /// What the changes on the undo stack (oldest first) and the redo stack (next first) did.
    std::vector<std::string> undoLabels() const;
    std::vector<std::string> redoLabels() const;
    /// The undo history keeps at most this many changes (the oldest go first).
    static constexpr std::size_t kMaxHistory = 200;

private:
    struct Step {
        std::string label;
        std::vector<std::uint8_t> image;  ///< the scene on the other side of the step
        std::string gesture;              ///< for merging drag steps
        Handle object;
        std::uint64_t state = 0;          ///< the `sceneState` of that scene
    };

    /// Puts the scene of the last step of `from` back and moves the step, now holding the scene
    /// it replaced, to `to`; false when `from` is empty.
    bool takeStep(std::vector<Step>& from, std::vector<Step>& to);
    /// Runs `change` after keeping the scene's image for undo; restores the image when it throws.
    template <typename Change>
    void record(std::string label, Change change, std::string_view gesture = {}, const Handle& object = Handle());
    /// Replaces the scene by `image`.
    void restore(std::span<const std::uint8_t> image);
    /// Tells every object whose reference attribute names `moved` that the attribute changed.
    void notifyReferrers(const Handle& moved);
    /// `RefreshCubicData` of the object when it is a path.
    void refit(const Handle& path);
    [[noreturn]] void fail(const Handle& object, const std::string& attribute, const std::string& reason) const;
    std::string freeName(const std::string& stem) const;

    /// A reference attribute of `from` that names `target`.
    struct Reference {
        Handle target;
        Handle from;
        std::string attribute;
    };
    /// Every reference of the scene's plug-in objects to an object (none left out).
    std::vector<Reference> references() const;

    /// The label of an edit of `object`, with the values it replaces where there are few.
    std::string editLabel(const Handle& object, const ObjectEdit& change, const std::optional<std::string>& name,
                          bool drag) const;
    /// Refuses to turn a waypoint whose `PointsTo` sets its rotation.
    void checkRotatable(const Handle& object, const ObjectEdit& change) const;

    Host& host_;
    /// Every reference of the scene, while only positions change; rebuilt after other changes.
    std::optional<std::vector<Reference>> references_;
    bool keepsReferences_ = false;  ///< the change being recorded moves objects only
    bool grouping_ = false;         ///< inside `group`: changes join its step
    std::vector<Step> undo_;
    std::vector<Step> redo_;
    std::uint64_t revision_ = 0;
    std::uint64_t state_ = 0;
    std::uint64_t states_ = 0;  ///< the last `sceneState` handed out
};

}  // namespace host
