#include "host/Runtime.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "base/GuidText.h"
#include "framework/RtsObject.h"

namespace host {

// ---------------------------------------------------------------------------------------------
// Descriptor: position p names children_[p - 1].

ChildPos Descriptor::GetFirstChild() { return children_.empty() ? 0 : 1; }

Handle Descriptor::GetNextChild(ChildPos* pos) {
    if (!pos) return Handle();
    // Positions are 1-based; 0 (the end) wraps to the largest index and fails the bound too.
    // Bounds in bytes: the count of handles (24 or 20 bytes) would cost a division every step.
    // 64 bits also in a 32-bit build, where a stray position times 20 could wrap into the list.
    const std::size_t index = static_cast<ChildPos>(*pos - 1);
    const std::uint64_t bytes = sizeof(Handle) * std::uint64_t{children_.size()};
    const std::uint64_t at = sizeof(Handle) * std::uint64_t{index};
    if (at >= bytes) {
        *pos = 0;
        return Handle();
    }
    *pos = at + sizeof(Handle) < bytes ? *pos + 1 : 0;
    if (bytes >= sizeof(Handle) * kPrefetchFrom) [[unlikely]]
        return childOfLongList(index);
    return children_[index];
}

Handle Descriptor::childOfLongList(std::size_t index) const {
    // A long list's children no longer fit the caches: ask for the ones a dozen steps on.
    if (runtime_) runtime_->prefetch(children_.data(), children_.size(), index);
    return children_[index];
}

// ---------------------------------------------------------------------------------------------
// Descriptor pool

Descriptor* DescriptorPool::make(const Handle& parent) {
    void* place;
    if (!free_.empty()) {
        place = free_.back();
        free_.pop_back();
    } else {
        if (usedInLast_ == kBlock) {
            blocks_.push_back(std::make_unique<unsigned char[]>(kBlock * sizeof(Descriptor)));
            usedInLast_ = 0;
        }
        place = blocks_.back().get() + usedInLast_++ * sizeof(Descriptor);
    }
    return new (place) Descriptor(parent, &refusing_, runtime_);
}

void DescriptorPool::release(Descriptor* descriptor) {
    if (!descriptor) return;
    descriptor->~Descriptor();
    free_.push_back(descriptor);
}

// ---------------------------------------------------------------------------------------------
// Editor and type registry

void Editor::AttributeChanged(ULong objectRef, const char* attributeName) {
    changes_.push_back({objectRef, attributeName ? attributeName : ""});
}

bool TypeRegistry::GetTypeInfo(ULong typeCode, void*, std::int32_t* byteSize, void*, void*) {
    std::int32_t size = 0;
    switch (typeCode) {
        case 3:
            size = 4;
            break;  // float
        case 5:
            size = 12;
            break;  // point
        case 8:
            size = 1;
            break;  // bool
        case 10:
            size = 48;
            break;  // object position
        case 12:
            size = 4;
            break;  // unsigned long
        case 32:
            size = 16;
            break;  // GUID reference
        default:
            return false;
    }
    if (byteSize) *byteSize = size;
    return true;
}

const char* activationWord(ActivationKind kind) { return kind == ActivationKind::Activate ? "activate" : "deactivate"; }

// ---------------------------------------------------------------------------------------------
// Object registry

std::size_t Runtime::KeyHash::operator()(const Key& k) const noexcept {
    // Host GUIDs differ in Data1 (the low word); the multiply spreads foreign GUIDs too.
    return static_cast<std::size_t>((k.low ^ (k.high * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull >> 7);
}

inline Runtime::Key Runtime::keyOf(const CGUID& guid) {
    Key key;
    std::memcpy(&key.low, &guid.Guid, 8);
    std::memcpy(&key.high, reinterpret_cast<const unsigned char*>(&guid.Guid) + 8, 8);
    return key;
}

Handle Runtime::handleOf(const Key& key) {
    _GUID guid;
    std::memcpy(&guid, &key.low, 8);
    std::memcpy(reinterpret_cast<unsigned char*>(&guid) + 8, &key.high, 8);
    return Handle(guid);
}

namespace {
// {n-0000-0000-484F-535400000001}: Data2 and Data3 zero, Data4 "HOST" 0 0 0 1. A constant, not a
// function's static: every resolve asks this first.
constexpr std::uint64_t kOwnHigh =
    std::bit_cast<std::uint64_t>(std::array<std::uint8_t, 8>{'H', 'O', 'S', 'T', 0, 0, 0, 1});
}  // namespace

inline std::uint32_t Runtime::ownNumber(const Key& key) {
    return key.high == kOwnHigh && (key.low >> 32) == 0 ? static_cast<std::uint32_t>(key.low) : 0;
}

inline const Runtime::Slot* Runtime::slot(const CGUID& guid) const {
    // Slot 0 is never filled and numbers of 2^32 or more lie past the end (numbers are 32-bit):
    // one bound and the slot's object answer for both.
    const Key key = keyOf(guid);
    if (key.high != kOwnHigh || key.low >= byNumber_.size()) return nullptr;
    const Slot* s = &byNumber_[key.low];
    return s->object ? s : nullptr;
}

inline const Runtime::Entry* Runtime::entry(const CGUID& guid) const {
    if (slot(guid)) return entryByNumber_[keyOf(guid).low];
    const auto it = entries_.find(keyOf(guid));
    return it == entries_.end() ? nullptr : &it->second;
}

void Runtime::prefetch(const Handle* children, std::size_t count, std::size_t at) const {
    // Far enough ahead to hide a fetch from memory behind a dozen resolves, near enough that the
    // lines are still there when the walk comes to them.
    constexpr std::size_t kAhead = 12;
    if (at + kAhead >= count) return;
    if (const Slot* s = slot(children[at + kAhead]); s && s->answers.part[0]) {
        // The part's line: its table pointer, which a call on it reads first.
        __builtin_prefetch(s->answers.part[0]);
    }
}

_GUID Runtime::makeGuid(std::uint8_t variant) { return {counter_, 0, 0, {'H', 'O', 'S', 'T', 0, 0, 0, variant}}; }

Runtime::~Runtime() { destroyAll(); }

Handle Runtime::add(std::string name, const Handle& parent, ObjectKind kind, const ObjectMaker& make) {
    checkNewEntry(name, parent);
    // A file may have moved the counter to the top (a GUID of our form numbered 0xFFFFFFFF):
    // after the wrap, skip 0 and the numbers in use.
    do ++counter_;
    while (counter_ == 0 || entry(CGUID(makeGuid(1))));
    return addEntry(makeGuid(1), makeGuid(2), std::move(name), parent, kind, make);
}

Handle Runtime::addWithGuid(const _GUID& guid, std::string name, const Handle& parent, ObjectKind kind,
                            const ObjectMaker& make) {
    if (CGUID(guid).IsNull()) throw std::invalid_argument("null object GUID");
    if (entry(CGUID(guid))) throw std::invalid_argument("object GUID in use: " + guidToText(guid));
    checkNewEntry(name, parent);
    // A GUID of our own form moves the counter past it, so that our next one is still new.
    const _GUID own = makeGuid(1);
    if (std::memcmp(&guid.Data2, &own.Data2, sizeof(_GUID) - sizeof guid.Data1) == 0 && guid.Data1 > counter_)
        counter_ = guid.Data1;
    // The second GUID is the record's to restore.
    return addEntry(guid, _GUID{}, std::move(name), parent, kind, make);
}

void Runtime::checkNewEntry(const std::string& name, const Handle& parent) const {
    if (!name.empty() && names_.contains(name)) throw std::invalid_argument("object name in use: " + name);
    if (!parent.IsNull() && !entry(parent)) throw std::invalid_argument("unknown parent " + guidToText(parent.Guid));
}

Handle Runtime::addEntry(const _GUID& guid, const _GUID& secondGuid, std::string name, const Handle& parent,
                         ObjectKind kind, const ObjectMaker& make) {
    const Handle object(guid);
    std::unique_ptr<Descriptor, DescriptorPool::Release> descriptor(descriptors_.make(parent), {&descriptors_});
    RtsObject* made = make(object, CGUID(secondGuid), descriptor.get());
    if (!made) return Handle();

    const Key key = keyOf(object);
    const auto [node, isNew] = entries_.try_emplace(key);
    if (!isNew) {
        // Both callers checked the GUID; an object made behind their back is no reason to
        // overwrite an entry that the indexes point into.
        delete made;
        throw std::logic_error("object GUID in use: " + guidToText(guid));
    }
    Entry& e = node->second;
    // Map nodes never move, so the slot stays valid. GUIDs from a file may carry any number:
    // only numbers near the count of objects get a slot, which bounds the table.
    if (const std::uint32_t number = ownNumber(key); number != 0 && number <= 2 * order_.size() + 4096) {
        if (number >= byNumber_.size()) {
            byNumber_.resize(number + 1);
            entryByNumber_.resize(number + 1);
        }
        byNumber_[number] = {made, {}};
        entryByNumber_[number] = &e;
    }
    e.object = made;
    e.descriptor = std::move(descriptor);
    e.name = std::move(name);
    e.kind = kind;
    order_.push_back(object);
    byLookupRef_.push_back(&node->first);
    e.lookupRef = static_cast<ULong>(byLookupRef_.size());
    if (!e.name.empty()) names_.emplace(e.name, &node->first);
    if (!parent.IsNull()) entries_.find(keyOf(parent))->second.descriptor->children().push_back(object);
    return object;
}

bool Runtime::replace(const Handle& handle, const CGUID& secondGuid, const ObjectMaker& make) {
    auto found = entries_.find(keyOf(handle));
    if (found == entries_.end()) return false;
    Entry& e = found->second;
    RtsObject* made = make(handle, secondGuid, e.descriptor.get());
    if (!made) return false;
    retiredReferences_ += e.object->RefCount;
    delete e.object;
    e.object = made;
    e.answers = {};
    if (const std::uint32_t number = ownNumber(found->first); number != 0 && number < byNumber_.size())
        if (entryByNumber_[number] == &e) byNumber_[number] = {made, {}};
    return true;
}

void Runtime::destroyAll() {
    // Objects do not call the host from their destructors, so any order would do; last created
    // first keeps children from outliving their containers.
    for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
        auto found = entries_.find(keyOf(*it));
        delete found->second.object;
        found->second.object = nullptr;
    }
    entries_.clear();
    byNumber_.clear();
    entryByNumber_.clear();
    names_.clear();
    order_.clear();
    byLookupRef_.clear();
    camera_ = Handle();
}

void Runtime::remove(const std::vector<Handle>& objects) {
    // The objects and their subtrees, each once.
    std::unordered_map<Key, bool, KeyHash> doomed;
    std::vector<Handle> pending;
    for (const Handle& h : objects)
        if (entry(h)) pending.push_back(h);
    while (!pending.empty()) {
        const Handle h = pending.back();
        pending.pop_back();
        if (!doomed.emplace(keyOf(h), true).second) continue;
        for (const Handle& child : entries_.find(keyOf(h))->second.descriptor->children()) pending.push_back(child);
    }
    if (doomed.empty()) return;
    for (const auto& entry : doomed) {
        const Key& key = entry.first;  // a plain name: clang 14 captures no structured binding
        const Handle parent = entries_.find(key)->second.descriptor->parent();
        if (parent.IsNull() || doomed.contains(keyOf(parent))) continue;
        auto found = entries_.find(keyOf(parent));
        if (found == entries_.end()) continue;
        auto& siblings = found->second.descriptor->children();
        std::erase_if(siblings, [&](const Handle& c) { return keyOf(c) == key; });
    }
    // Last created first, as destroyAll.
    for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
        const Key key = keyOf(*it);
        if (!doomed.contains(key)) continue;
        auto found = entries_.find(key);
        Entry& e = found->second;
        retiredReferences_ += e.object->RefCount;
        delete e.object;
        if (!e.name.empty()) names_.erase(e.name);
        byLookupRef_[e.lookupRef - 1] = nullptr;
        if (const std::uint32_t number = ownNumber(key); number != 0 && number < byNumber_.size()) {
            byNumber_[number] = {};
            entryByNumber_[number] = nullptr;
        }
        if (camera_ == *it) camera_ = Handle();
        entries_.erase(found);
    }
    std::erase_if(order_, [&](const Handle& h) { return doomed.contains(keyOf(h)); });
}

void Runtime::rename(const Handle& object, std::string name) {
    auto found = entries_.find(keyOf(object));
    if (found == entries_.end()) throw std::invalid_argument("unknown object " + guidToText(object.Guid));
    Entry& e = found->second;
    if (name == e.name) return;
    if (name.empty()) throw std::invalid_argument("an object's name cannot be empty");
    if (names_.contains(name)) throw std::invalid_argument("object name in use: " + name);
    if (!e.name.empty()) names_.erase(e.name);
    e.name = std::move(name);
    names_.emplace(e.name, &found->first);
}

void Runtime::moveChild(const Handle& object, const Handle& parent, std::size_t index) {
    auto found = entries_.find(keyOf(object));
    if (found == entries_.end()) throw std::invalid_argument("unknown object " + guidToText(object.Guid));
    Descriptor& moved = *found->second.descriptor;
    if (!parent.IsNull()) {
        if (!entry(parent)) throw std::invalid_argument("unknown parent " + guidToText(parent.Guid));
        for (Handle up = parent; !up.IsNull(); up = entries_.find(keyOf(up))->second.descriptor->parent())
            if (up == object) throw std::invalid_argument("an object cannot go into its own child list");
    }
    if (!moved.parent().IsNull()) {
        auto& siblings = entries_.find(keyOf(moved.parent()))->second.descriptor->children();
        std::erase_if(siblings, [&](const Handle& c) { return c == object; });
    }
    moved.setParent(parent);
    if (parent.IsNull()) return;
    auto& children = entries_.find(keyOf(parent))->second.descriptor->children();
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(std::min(index, children.size())), object);
}

RtsObject* Runtime::object(const Handle& handle) const {
    const Entry* e = entry(handle);
    return e ? e->object : nullptr;
}

ObjectKind Runtime::kind(const Handle& handle) const {
    const Entry* e = entry(handle);
    return e ? e->kind : ObjectKind::Other;
}

Descriptor* Runtime::descriptor(const Handle& handle) const {
    const Entry* e = entry(handle);
    return e ? e->descriptor.get() : nullptr;
}

Handle Runtime::find(std::string_view name) const {
    const auto it = names_.find(name);
    return it == names_.end() ? Handle() : handleOf(*it->second);
}

const std::string& Runtime::nameOf(const Handle& handle) const {
    static const std::string none;
    const Entry* e = entry(handle);
    return e ? e->name : none;
}

Handle Runtime::fromLookupRef(ULong ref) const {
    return ref >= 1 && ref <= byLookupRef_.size() && byLookupRef_[ref - 1] ? handleOf(*byLookupRef_[ref - 1])
                                                                           : Handle();
}

std::uint64_t Runtime::referencesHandedOut() const {
    std::uint64_t sum = retiredReferences_ + answeredForObjects_;
    for (const auto& [key, e] : entries_) sum += e.object->RefCount;
    return sum;
}

// ---------------------------------------------------------------------------------------------
// IRTS

Handle Runtime::GetParent(Handle object) {
    ++counters_.parents;
    const Entry* e = entry(object);
    return e ? e->descriptor->parent() : Handle();
}

ULong Runtime::lookupRefOf(const Handle& handle) const {
    const Entry* e = entry(handle);
    return e ? e->lookupRef : 0;
}

ULong Runtime::LookupObject(const CGUID& object) {
    ++counters_.lookups;
    return lookupRefOf(object);
}

bool Runtime::QueryObjectInterface(Handle object, ULong id, void** out) {
    // Counted where it is answered: by the runtime (`answeredForObjects_`) or in `askObject`.
    // An object hands out the same part for an identifier all its life, unless its descriptor
    // refuses (then it hands out nothing): while no descriptor refuses, the runtime answers again
    // as the object answered the last times it was asked for that identifier, without the
    // object's calls and the cold lines they read. The slot of a numbered object holds those
    // answers and the object itself: no entry is read.
    Slot* s = slot(object);
    if (s && answerAgain(s->answers, id, out)) [[likely]]
        return true;
    return askObject(object, s, id, out);
}

bool Runtime::askObject(const Handle& object, Slot* s, ULong id, void** out) {
    RtsObject* target;
    Answers* answers;
    if (s) {
        target = s->object;
        answers = &s->answers;
    } else {
        Entry* e = entry(object);
        if (e && answerAgain(e->answers, id, out)) return true;  // counted there
        if (!e) {
            ++counters_.queries;
            if (out) *out = nullptr;
            return false;
        }
        target = e->object;
        answers = &e->answers;
    }
    ++counters_.queries;
    const bool found = static_cast<ISCO_RtsObject*>(target)->QueryInterface(id, out);
    if (found && out) {
        ++counters_.resolves;
        if (*out) answers->learn(id, *out);
    }
    return found;
}

void Runtime::ReleaseObject(RtsObject*) {
    // The host keeps every object until it shuts down; a release is only counted.
    ++counters_.releases;
}

void Runtime::ActivateObject(Handle sender, Handle object, int flag1, int flag2) {
    requests_.push_back({ActivationKind::Activate, sender, object, now_, flag1, flag2});
}

void Runtime::DeactivateObject(Handle sender, Handle object, int flag) {
    requests_.push_back({ActivationKind::Deactivate, sender, object, now_, flag, 0});
}

void Runtime::Message(int level, const char* location, const char* text, ...) {
    // Further arguments are not formatted: the module sends none.
    messages_.push_back({level, location ? location : "", text ? text : "", now_, sequence_++});
}

// ---------------------------------------------------------------------------------------------
// Activation

void Runtime::deliver(ActivationKind kind, const Handle& target, const Handle& sender, ULong time) {
    const Entry* e = entry(target);
    if (!e) return;
    auto* object = static_cast<ISCO_RtsObject*>(e->object);
    activationLog_.push_back({time, kind, target, e->name, sequence_++});
    if (kind == ActivationKind::Activate)
        object->Activate(sender, time);
    else
        object->Deactivate(sender, time);
}

void Runtime::activate(const Handle& target, const Handle& sender, ULong time) {
    deliver(ActivationKind::Activate, target, sender, time);
}

void Runtime::deactivate(const Handle& target, const Handle& sender, ULong time) {
    deliver(ActivationKind::Deactivate, target, sender, time);
}

std::size_t Runtime::deliverRequests() {
    std::size_t count = 0;
    // Index, not iterator: a delivery may append further requests.
    while (delivered_ < requests_.size() && count < kMaxDeliveries) {
        const ActivationRequest request = requests_[delivered_++];
        deliver(request.kind, request.target, request.sender, now_);
        ++count;
    }
    return count;
}

}  // namespace host
