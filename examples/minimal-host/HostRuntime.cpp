#include "HostRuntime.h"

#include <cstdio>
#include <cstring>

namespace minimal {

std::int32_t attributeSize(ULong type) {
    switch (type) {
        case kTypeFloat:
        case kTypeULong:
            return 4;
        case kTypePoint:
            return 12;
        case kTypeBool:
            return 1;
        case kTypeObjectPos:
            return 48;
        case kTypeGuidRef:
            return 16;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// ObjectDescriptor

Handle ObjectDescriptor::GetNextChild(ChildPos* pos) {
    if (!pos || *pos == 0 || *pos > children_.size()) {
        if (pos) *pos = 0;
        return Handle();
    }
    const Handle child = children_[*pos - 1];
    *pos = *pos < children_.size() ? *pos + 1 : 0;
    return child;
}

// ---------------------------------------------------------------------------------------------
// SceneMarker

bool SceneMarker::QueryInterface(ULong id, void** out) {
    // Identifier 0 is the object's primary part, which the plug-in uses as an RtsObject*.
    void* part = id == kIdRtsObject ? static_cast<ISCO_RtsObject*>(this) : nullptr;
    if (out) *out = part;
    return part != nullptr;
}

bool SceneMarker::GetAttributeInfo(ULong, Attribute*, char* className, bool) {
    if (className) className[0] = '\0';
    return false;
}

// ---------------------------------------------------------------------------------------------
// GameCamera

bool GameCamera::QueryInterface(ULong id, void** out) {
    void* part = id == kIdCameraControl ? static_cast<ISCO_CameraControl*>(this) : nullptr;
    if (out) *out = part;
    return part != nullptr;
}

bool GameCamera::GetAttributeInfo(ULong, Attribute*, char* className, bool) {
    if (className) className[0] = '\0';
    return false;
}

bool GameCamera::SetMaster(const _GUID* master) {
    if (!master) return false;
    master_ = Handle(*master);
    return true;
}

void GameCamera::RemoveMaster(const _GUID* master) {
    if (master && Handle(*master) == master_) master_ = Handle();
}

void GameCamera::readEye(Runtime& runtime) {
    void* part = nullptr;
    if (master_.IsNull() || !runtime.QueryObjectInterface(master_, kIdHasEye, &part)) return;
    auto* eye = static_cast<ISCO_HasEye*>(part);
    float fov = fov_;
    eye_ = eye->GetEyeCoordSystem(0, fov);
    fov_ = fov;
    eye->ReleaseInterface();  // every reference handed out is handed back
}

// ---------------------------------------------------------------------------------------------
// Runtime: the registry

Runtime::~Runtime() {
    // Last created first; plug-in objects die through their virtual destructor, inside the
    // plug-in, which must therefore still be loaded.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) delete (*it)->pluginObject;
}

Runtime::Entry& Runtime::add(const std::string& name, const Handle& parent) {
    // GUIDs from a counter: object n is {n-0000-0000-4D49-4E484F535421}, the same in every run.
    _GUID guid{static_cast<std::uint32_t>(entries_.size() + 1), 0, 0, {'M', 'I', 'N', 'H', 'O', 'S', 'T', '!'}};
    auto entry = std::make_unique<Entry>();
    entry->guid = Handle(guid);
    entry->name = name;
    entry->descriptor = std::make_unique<ObjectDescriptor>(parent);
    if (Entry* parentEntry = find(parent)) parentEntry->descriptor->children().push_back(entry->guid);
    entries_.push_back(std::move(entry));
    return *entries_.back();
}

RtsObject* Runtime::create(RtsObjectFactory& factory, const std::string& name, const Handle& parent) {
    Entry& entry = add(name, parent);
    // The second GUID is the engine's own business; the plug-in only keeps and saves it.
    RtsObject* made = factory.New(entry.guid, CGUID(), entry.descriptor.get());
    if (!made) {
        if (Entry* parentEntry = find(parent)) parentEntry->descriptor->children().pop_back();
        entries_.pop_back();
        return nullptr;
    }
    // An RtsObject has two ISCO_Unknown parts; the one behind ISCO_RtsObject is the object's own.
    entry.object = static_cast<ISCO_RtsObject*>(made);
    entry.unknown = static_cast<ISCO_Unknown*>(entry.object);
    entry.pluginObject = made;
    return made;
}

Handle Runtime::addHostObject(ISCO_RtsObject& object, const std::string& name) {
    Entry& entry = add(name, Handle());
    entry.object = &object;
    entry.unknown = static_cast<ISCO_Unknown*>(&object);
    return entry.guid;
}

void Runtime::setCamera(GameCamera& camera) {
    Entry& entry = add("camera", Handle());
    entry.unknown = static_cast<ISCO_Unknown*>(&camera);
    camera_ = entry.guid;
}

Runtime::Entry* Runtime::find(const CGUID& guid) {
    for (auto& entry : entries_)
        if (entry->guid == guid) return entry.get();
    return nullptr;
}

const Runtime::Entry* Runtime::find(const CGUID& guid) const { return const_cast<Runtime*>(this)->find(guid); }

Handle Runtime::handleOf(const ISCO_RtsObject* object) const {
    for (const auto& entry : entries_)
        if (entry->object == object) return entry->guid;
    return Handle();
}

ISCO_RtsObject* Runtime::object(const Handle& handle) {
    Entry* entry = find(handle);
    return entry ? entry->object : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Runtime: activation

void Runtime::activate(const Handle& object) {
    Entry* entry = find(object);
    if (!entry || !entry->object) return;
    entry->active = true;
    entry->object->Activate(Handle(), now_);
}

void Runtime::deactivate(const Handle& object) {
    Entry* entry = find(object);
    if (!entry || !entry->object) return;
    entry->active = false;
    entry->object->Deactivate(Handle(), now_);
}

bool Runtime::isActive(const Handle& object) const {
    const Entry* entry = find(object);
    return entry && entry->active;
}

void Runtime::deliverRequests() {
    // The plug-in asks for activations in the middle of a tick; calling back into it from
    // there would re-enter an object that is still running. So requests wait for the end of
    // the tick. Index, not iterator: a delivery may queue further requests.
    for (std::size_t i = 0; i < requests_.size(); ++i) {
        const Request request = requests_[i];
        if (request.activate)
            activate(request.object);
        else
            deactivate(request.object);
    }
    requests_.clear();
}

// ---------------------------------------------------------------------------------------------
// Runtime: IRTS

Handle Runtime::GetParent(Handle object) {
    const Entry* entry = find(object);
    return entry ? entry->descriptor->parent() : Handle();
}

ULong Runtime::LookupObject(const CGUID& object) {
    // The engine's reference to an object is its place in the registry, counted from 1.
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i]->guid == object) return static_cast<ULong>(i + 1);
    return 0;
}

bool Runtime::QueryObjectInterface(Handle object, ULong id, void** out) {
    Entry* entry = find(object);
    if (!entry) {
        if (out) *out = nullptr;
        return false;
    }
    return entry->unknown->QueryInterface(id, out);
}

void Runtime::ReleaseObject(RtsObject*) {
    // Every ReleaseInterface of the plug-in's objects ends here. This host keeps all objects
    // until it shuts down, so there is nothing to count down.
}

void Runtime::ActivateObject(Handle, Handle object, int, int) { requests_.push_back({true, object}); }

void Runtime::DeactivateObject(Handle, Handle object, int) { requests_.push_back({false, object}); }

void Runtime::Message(int level, const char* location, const char* text, ...) {
    // The plug-in sends no further arguments: the text is printed as it is, never as a format.
    std::fprintf(stderr, "minimal-host: message (level %d) at %u: %s: %s\n", level, now_, location ? location : "",
                 text ? text : "");
}

bool Runtime::TypeSizes::GetTypeInfo(ULong type, void*, std::int32_t* size, void*, void*) {
    const std::int32_t bytes = attributeSize(type);
    if (bytes == 0) return false;
    if (size) *size = bytes;
    return true;
}

}  // namespace minimal
