#include "scene/SceneEditor.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "scene/ObjectEdit.h"
#include "scene/SceneTree.h"
#include "scene/ScoFile.h"

namespace host {

namespace {

// Edits name no file: their mistakes read "object: attribute: reason".
constexpr const char* kEdits = "";

/// The parent of `object` (null at the top level or for an unknown object).
Handle parentOf(const Host& host, const Handle& object) {
    const Descriptor* d = host.descriptor(object);
    return d ? d->parent() : Handle();
}

bool isWaypoint(const Host& host, const Handle& object) { return host.className(object) == "SCOCameraSystemWaypoint"; }

}  // namespace

void SceneEditor::fail(const Handle& object, const std::string& attribute, const std::string& reason) const {
    throw InputError(kEdits, object.IsNull() ? "" : host_.nameOf(object), attribute, reason);
}

std::string SceneEditor::freeName(const std::string& stem) const {
    for (std::size_t n = 1;; ++n) {
        std::string name = stem + std::to_string(n);
        if (host_.find(name).IsNull()) return name;
    }
}

void SceneEditor::refit(const Handle& path) {
    if (path.IsNull()) return;
    CInterfacePtr<ISCO_CSPath> fitted(path);
    if (fitted) fitted->RefreshCubicData();
}

void SceneEditor::notifyReferrers(const Handle& moved) {
    // A waypoint aimed at a target that moved must aim again: everything whose reference
    // attribute names the moved object hears that this attribute changed, as if it had been
    // set to the same object anew. The references are found once and kept while only
    // positions change (the steps of a drag).
    if (!references_) {
        references_.emplace();
        for (const Handle& object : host_.runtime().objects()) {
            if (host_.runtime().kind(object) != ObjectKind::Module || !isSceneObject(host_, object)) continue;
            for (const Attribute& record : host_.ownAttributes(object)) {
                if (record.Type != kTypeGuidRef) continue;
                const std::optional<std::vector<std::uint8_t>> value = host_.getAttribute(object, record);
                if (!value || value->size() < sizeof(_GUID)) continue;
                _GUID target;
                std::memcpy(&target, value->data(), sizeof target);
                if (!CGUID(target).IsNull()) references_->push_back({Handle(target), object, record.Name});
            }
        }
    }
    for (const Reference& reference : *references_)
        if (reference.target == moved && !(reference.from == moved))
            host_.notifyAttributeChanged(reference.from, reference.attribute);
}

void SceneEditor::restore(std::span<const std::uint8_t> image) {
    removeScene(host_);
    loadScoScene(host_, image, "the scene kept for undo");
}

template <typename Change>
void SceneEditor::record(std::string label, Change change, std::string_view gesture, const Handle& object) {
    // A drag's later steps join the step its first one made: the image from before the drag
    // stays the one to go back to.
    const bool joins = !gesture.empty() && !undo_.empty() && redo_.empty() && undo_.back().gesture == gesture &&
                       undo_.back().object == object;
    // Whether this change keeps the references found (it moves objects only), for this change alone.
    const bool keepsReferences = std::exchange(keepsReferences_, false);
    std::vector<std::uint8_t> before;
    if (!joins) before = sceneToScoImage(host_);
    try {
        change();
    } catch (...) {
        // Only a joining step leaves nothing to restore, and it can only be refused up front.
        if (!joins) restore(before);
        throw;
    }
    ++revision_;
    if (!keepsReferences) references_.reset();
    if (joins) return;
    redo_.clear();
    undo_.push_back({std::move(label), std::move(before), std::string(gesture), object});
    if (undo_.size() > kMaxHistory) undo_.erase(undo_.begin());
}

EditEffect SceneEditor::edit(const Handle& object, std::string_view json, const std::vector<std::string>& otherKeys,
                             std::string_view gesture, const std::optional<std::string>& name) {
    if (!host_.object(object)) fail(object, "", "no such object");
    const ObjectEdit change = readObjectEdit(host_, object, json, otherKeys, kEdits);
    // The new name, checked before anything is touched.
    if (name) {
        if (name->empty()) fail(object, "name", "every object needs a name (a non-empty string)");
        const Handle other = host_.find(*name);
        if (!other.IsNull() && !(other == object)) fail(object, "name", "the name is used by another object");
    }
    const bool moves = change.position || change.orientation;
    const bool onlyMoves = moves && change.attributes.empty() && !name;

    std::string label = "edit " + host_.nameOf(object);
    if (onlyMoves) label = "move " + host_.nameOf(object);
    keepsReferences_ = onlyMoves;
    record(
        std::move(label),
        [&] {
            // The editor's feedback as each value lands: a moved object refits and its aimers aim again.
            const EditNotices notices{
                [&] {
                    host_.notifyPositionChanged(object);
                    notifyReferrers(object);
                },
                [&](const std::string& attribute) { host_.notifyAttributeChanged(object, attribute); }};
            applyObjectEdit(host_, object, change, kEdits, notices);
            if (name) host_.runtime().rename(object, *name);
        },
        onlyMoves ? gesture : std::string_view(), object);
    return onlyMoves && isWaypoint(host_, object) ? EditEffect::WaypointPositions : EditEffect::Other;
}

Handle SceneEditor::create(std::string className, std::string name, const Handle& parent, std::size_t index,
                           std::string_view json, const std::vector<std::string>& otherKeys, const Handle& copyOf) {
    if (!copyOf.IsNull() && !host_.object(copyOf)) fail(copyOf, "copyOf", "no such object");
    if (className.empty() && !copyOf.IsNull() && host_.runtime().kind(copyOf) == ObjectKind::Module)
        className = host_.className(copyOf);
    if (!className.empty()) {
        const auto& factories = host_.factories();
        if (std::none_of(factories.begin(), factories.end(),
                         [&](const FactoryInfo& f) { return f.className == className; }))
            fail(Handle(), "class", "unknown class \"" + className + "\"");
    }
    if (!parent.IsNull() && !host_.object(parent)) fail(Handle(), "parent", "no such object");
    if (name.empty()) {
        const std::string stem =
            className.empty()
                ? "Object"
                : className.substr(className.rfind("System") == std::string::npos ? 0 : className.rfind("System") + 6);
        name = freeName(stem);
    }
    if (!host_.find(name).IsNull()) fail(Handle(), "name", "the name \"" + name + "\" is used by another object");

    Handle made;
    record("add " + name, [&] {
        made = className.empty() ? host_.createPlain(name, {0, 0, 0}, parent) : host_.create(className, name, parent);
        if (!parent.IsNull()) host_.runtime().moveChild(made, parent, index);
        if (!copyOf.IsNull()) {
            if (const auto frame = host_.getObjectPos(copyOf)) host_.setObjectPos(made, *frame);
            if (host_.className(copyOf) == host_.className(made))
                for (const Attribute& record : host_.ownAttributes(copyOf))
                    if (const auto value = host_.getAttribute(copyOf, record)) host_.setAttribute(made, record, *value);
        }
        applyObjectEdit(host_, made, readObjectEdit(host_, made, json, otherKeys, kEdits), kEdits);
        host_.afterLoad(made);
        refit(parent);
    });
    return made;
}

void SceneEditor::remove(const Handle& object) {
    if (!host_.object(object)) fail(object, "", "no such object");
    const Handle parent = parentOf(host_, object);
    record("delete " + host_.nameOf(object), [&] {
        // The object goes with its children; what referred to any of them then refers to none
        // (as if set to none in the editor), so that the scene stays one that can be saved and
        // loaded: a scene file may name only objects it holds.
        std::vector<_GUID> gone;
        for (const Handle& h : host_.runtime().objects())
            for (Handle up = h; !up.IsNull(); up = parentOf(host_, up))
                if (up == object) {
                    gone.push_back(h.Guid);
                    break;
                }
        host_.runtime().remove({object});
        refit(parent);
        const std::vector<Handle> objects = host_.runtime().objects();
        for (const Handle& from : objects) {
            if (host_.runtime().kind(from) != ObjectKind::Module) continue;
            for (const Attribute& attribute : host_.ownAttributes(from)) {
                if (attribute.Type != kTypeGuidRef) continue;
                std::optional<std::vector<std::uint8_t>> value = host_.getAttribute(from, attribute);
                if (!value || value->size() < sizeof(_GUID) ||
                    std::none_of(gone.begin(), gone.end(),
                                 [&](const _GUID& g) { return std::memcmp(value->data(), &g, sizeof g) == 0; }))
                    continue;
                std::fill(value->begin(), value->begin() + sizeof(_GUID), std::uint8_t{0});
                if (!host_.setAttribute(from, attribute, *value))
                    fail(from, attribute.Name, "the object refused to refer to none");
                host_.notifyAttributeChanged(from, attribute.Name);
            }
        }
    });
}

void SceneEditor::move(const Handle& object, const Handle& parent, std::size_t index) {
    if (!host_.object(object)) fail(object, "", "no such object");
    if (!parent.IsNull() && !host_.object(parent)) fail(object, "parent", "no such object");
    for (Handle up = parent; !up.IsNull(); up = parentOf(host_, up))
        if (up == object) fail(object, "parent", "an object cannot go into its own child list");
    const Handle from = parentOf(host_, object);
    if (parent.IsNull() && from.IsNull())
        fail(object, "parent", "objects at the top level keep no order; only a child list has one");
    record("reorder " + host_.nameOf(object), [&] {
        host_.runtime().moveChild(object, parent, index);
        refit(from);
        if (!(parent == from)) refit(parent);
    });
}

void SceneEditor::replace(const std::string& label, const std::function<void(Host&)>& load) {
    record(label, [&] {
        removeScene(host_);
        load(host_);
    });
}

bool SceneEditor::undo() { return takeStep(undo_, redo_); }

bool SceneEditor::redo() { return takeStep(redo_, undo_); }

bool SceneEditor::takeStep(std::vector<Step>& from, std::vector<Step>& to) {
    if (from.empty()) return false;
    Step step = std::move(from.back());
    from.pop_back();
    std::vector<std::uint8_t> now = sceneToScoImage(host_);
    restore(step.image);
    references_.reset();
    step.image = std::move(now);
    step.gesture.clear();  // a step taken back is no drag that the next one continues
    to.push_back(std::move(step));
    ++revision_;
    return true;
}

std::vector<std::string> SceneEditor::undoLabels() const {
    std::vector<std::string> labels;
    for (const Step& step : undo_) labels.push_back(step.label);
    return labels;
}

std::vector<std::string> SceneEditor::redoLabels() const {
    std::vector<std::string> labels;
    for (auto it = redo_.rbegin(); it != redo_.rend(); ++it) labels.push_back(it->label);
    return labels;
}

}  // namespace host
