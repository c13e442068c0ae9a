#include "scene/SceneEditor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "framework/CameraInterfaces.h"
#include "base/Decimal.h"
#include "framework/InterfacePtr.h"
#include "scene/AttributeValues.h"
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

/// A float as the inspector's field shows it: the shortest decimal, or a scene file's word.
std::string floatText(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    return floatToDecimal(value);
}

std::string pointText(const _Point3<float>& p) {
    return "(" + floatText(p.x) + ", " + floatText(p.y) + ", " + floatText(p.z) + ")";
}

/// An attribute value (the bytes its getter wrote) as the inspector shows it.
std::string valueText(const Host& host, const Attribute& record, std::span<const std::uint8_t> bytes) {
    auto read = [&](auto value) {
        if (bytes.size() >= sizeof value) std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    };
    switch (record.Type) {
        case kTypeFloat: return floatText(read(0.0f));
        case kTypePoint: return pointText(read(_Point3<float>{}));
        case kTypeBool: return read(std::uint8_t{0}) ? "true" : "false";
        case kTypeULong: return std::to_string(read(ULong{0}));
        case kTypeGuidRef: {
            const _GUID target = read(_GUID{});
            if (CGUID(target).IsNull()) return "none";
            const std::string& name = host.nameOf(Handle(target));
            return name.empty() ? "?" : name;
        }
        default: return "?";
    }
}

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

std::vector<SceneEditor::Reference> SceneEditor::references() const {
    std::vector<Reference> found;
    for (const Handle& from : host_.runtime().objects()) {
        if (host_.runtime().kind(from) != ObjectKind::Module) continue;
        for (const Attribute& record : host_.ownAttributes(from)) {
            if (record.Type != kTypeGuidRef) continue;
            const std::optional<std::vector<std::uint8_t>> value = host_.getAttribute(from, record);
            if (!value || value->size() < sizeof(_GUID)) continue;
            _GUID target;
            std::memcpy(&target, value->data(), sizeof target);
            if (!CGUID(target).IsNull()) found.push_back({Handle(target), from, attributeName(record)});
        }
    }
    return found;
}

void SceneEditor::restore(std::span<const std::uint8_t> image) {
    removeScene(host_);
    loadScoScene(host_, image, "the scene kept for undo");
}

template <typename Change>
void SceneEditor::record(std::string label, Change change, std::string_view gesture, const Handle& object) {
    if (grouping_) {
        // The group keeps the image and puts it back when any of its changes throws.
        const bool keepsReferences = std::exchange(keepsReferences_, false);
        change();
        if (!keepsReferences) references_.reset();
        return;
    }
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
    const std::uint64_t was = std::exchange(state_, ++states_);
    if (!keepsReferences) references_.reset();
    if (joins) return;
    redo_.clear();
    undo_.push_back({std::move(label), std::move(before), std::string(gesture), object, was});
    if (undo_.size() > kMaxHistory) undo_.erase(undo_.begin());
}

std::string SceneEditor::editLabel(const Handle& object, const ObjectEdit& change,
                                   const std::optional<std::string>& name, bool drag) const {
    const std::string& subject = host_.nameOf(object);
    if (drag) return (change.position ? "move " : "rotate ") + subject;
    std::vector<std::string> parts;
    if (name) parts.push_back("name");
    if (change.position) parts.push_back("position");
    if (change.orientation) parts.push_back("rotation");
    for (const ObjectEdit::Value& value : change.attributes) parts.push_back(value.name);
    if (parts.size() != 1) {
        std::string label = subject;
        for (std::size_t i = 0; i < parts.size(); ++i) label += (i ? ", " : " ") + parts[i];
        return label;
    }
    if (name) return "rename " + subject + " -> " + *name;
    if (change.orientation) return "rotate " + subject;
    if (change.position) {
        const std::optional<_CCoordSystem<float>> frame = host_.getObjectPos(object);
        return subject + " position " + (frame ? pointText(frame->Origin) : "?") + " -> " + pointText(*change.position);
    }
    const ObjectEdit::Value& value = change.attributes.front();
    const std::optional<std::vector<std::uint8_t>> was = host_.getAttribute(object, value.record);
    return subject + " " + value.name + " " + (was ? valueText(host_, value.record, *was) : "?") + " -> " +
           valueText(host_, value.record, value.bytes);
}

void SceneEditor::checkRotatable(const Handle& object, const ObjectEdit& change) const {
    if (!change.orientation || !isWaypoint(host_, object)) return;
    // The position lands before the attributes, so the waypoint's PointsTo decides, not the edit's.
    const std::optional<Handle> target = host_.getReference(object, "PointsTo");
    // A refit aims the waypoint at a target that is there: a rotation would not last.
    if (!target || target->IsNull() || !host_.object(*target)) return;
    fail(object, "",
         "looks at " + host_.nameOf(*target) + ": its rotation follows the target; clear PointsTo to rotate it");
}

EditEffect SceneEditor::edit(const Handle& object, std::string_view json, const std::vector<std::string>& otherKeys,
                             std::string_view gesture, const std::optional<std::string>& name) {
    if (!host_.object(object)) fail(object, "", "no such object");
    const ObjectEdit change = readObjectEdit(host_, object, json, otherKeys, kEdits);
    // The new name, checked before anything is touched.
    if (name) {
        if (name->empty()) fail(object, "name", "every object needs a name (a non-empty string)");
        if (name->size() > kMaxNameBytes)
            fail(object, "name", "a name has at most " + std::to_string(kMaxNameBytes) + " bytes; this one has " +
                                     std::to_string(name->size()));
        const Handle other = host_.find(*name);
        if (!other.IsNull() && !(other == object)) fail(object, "name", "the name is used by another object");
    }
    checkRotatable(object, change);
    const bool moves = change.position || change.orientation;
    const bool onlyMoves = moves && change.attributes.empty() && !name;

    std::string label = editLabel(object, change, name, onlyMoves && !gesture.empty());
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

void SceneEditor::editAll(std::string label, const std::vector<std::pair<Handle, std::string>>& edits) {
    std::vector<ObjectEdit> changes;
    for (const auto& [object, json] : edits) {
        if (!host_.object(object)) fail(object, "", "no such object");
        changes.push_back(readObjectEdit(host_, object, json, {}, kEdits));
        checkRotatable(object, changes.back());
    }
    record(std::move(label), [&] {
        for (std::size_t i = 0; i < edits.size(); ++i) {
            const Handle& object = edits[i].first;
            const EditNotices notices{
                [&] {
                    host_.notifyPositionChanged(object);
                    notifyReferrers(object);
                },
                [&](const std::string& attribute) { host_.notifyAttributeChanged(object, attribute); }};
            applyObjectEdit(host_, object, changes[i], kEdits, notices);
        }
    });
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

std::vector<SceneEditor::Referrer> SceneEditor::referrers(const Handle& object) const {
    if (!host_.object(object)) fail(object, "", "no such object");
    auto inside = [&](const Handle& h) {
        for (Handle up = h; !up.IsNull(); up = parentOf(host_, up))
            if (up == object) return true;
        return false;
    };
    std::vector<Referrer> found;
    for (const Reference& reference : references())
        if (inside(reference.target) && !inside(reference.from))
            found.push_back({host_.nameOf(reference.from), reference.attribute, host_.nameOf(reference.target)});
    return found;
}

std::vector<SceneEditor::Referrer> SceneEditor::remove(const Handle& object) {
    std::vector<Referrer> cleared = referrers(object);
    const Handle parent = parentOf(host_, object);
    record("delete " + host_.nameOf(object), [&] {
        // The object goes with its children; what referred to any of them then refers to none
        // (as if set to none in the editor), so that the scene stays one that can be saved and
        // loaded: a scene file may name only objects it holds.
        host_.runtime().remove({object});
        refit(parent);
        for (const Referrer& referrer : cleared) {
            const Handle from = host_.find(referrer.object);
            if (!host_.setReference(from, referrer.attribute, Handle()))
                fail(from, referrer.attribute, "the object refused to refer to none");
            host_.notifyAttributeChanged(from, referrer.attribute);
        }
    });
    return cleared;
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

void SceneEditor::group(std::string label, const std::function<void()>& changes) {
    if (grouping_) throw std::logic_error("SceneEditor::group does not nest");
    record(std::move(label), [&] {
        grouping_ = true;
        try {
            changes();
        } catch (...) {
            grouping_ = false;
            throw;
        }
        grouping_ = false;
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
    std::swap(step.state, state_);
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
