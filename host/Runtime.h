#pragma once
/// The host runtime the plug-in talks to: the object registry with one descriptor per object,
/// the clock and the activation queue, messages, the editor and the attribute type registry.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/IRTS.h"

namespace host {

/// [host imp] The host record behind one object: whether it may hand out interfaces, its
/// parent, and its ordered child list.
///
/// A child position is the child's index + 1; 0 is the end of the list.
class Descriptor final : public ISCODescriptor {
public:
    /// `refusing`, when given, counts the descriptors that refuse at present (see
    /// `setRefusesInterfaces`).
    explicit Descriptor(const Handle& parent, std::size_t* refusing = nullptr, const class Runtime* runtime = nullptr)
        : parent_(parent), runtime_(runtime), refusing_(refusing) {}
    ~Descriptor() { setRefusesInterfaces(false); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    ULong DescriptorOp0() override { return 0; }
    ULong DescriptorOp1(RtsObject*) override { return 0; }
    /// 1 when there is a child, else 0.
    ChildPos GetFirstChild() override;
    ULong DescriptorOp3() override { return 0; }
    ULong DescriptorOp4(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp5(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp6(ULong) override { return 0; }
    ULong DescriptorOp7(ULong) override { return 0; }
    ULong DescriptorOp8(RtsObject*, ULong) override { return 0; }
    ULong DescriptorOp9(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp10(ULong) override { return 0; }
    /// The child at `*pos` and `*pos` moved on; past the end a null handle and `*pos` 0.
    Handle GetNextChild(ChildPos* pos) override;
    ULong DescriptorOp12(ULong) override { return 0; }
    ULong DescriptorOp13(ULong, ULong) override { return 0; }
    Handle GetContainingObject() override { return parent_; }
    void Placeholder15() override {}
    int DescriptorQuery16() override { return query16_; }
    int DescriptorQuery17() override { return refuses_ ? 1 : 0; }

    /// The child list in container order; the host may reorder it.
    std::vector<Handle>& children() { return children_; }
    const Handle& parent() const { return parent_; }
    void setParent(const Handle& parent) { parent_ = parent; }
    /// While set, the object must not hand out interfaces (its QueryInterface answers false).
    void setRefusesInterfaces(bool refuses) {
        if (refusing_ && refuses != refuses_) refuses ? ++*refusing_ : --*refusing_;
        refuses_ = refuses;
    }
    void setQuery16(int value) { query16_ = value; }

private:
    Handle parent_;
    std::vector<Handle> children_;
    /// Below this many children the objects stay in the processor's own caches between walks.
    static constexpr std::size_t kPrefetchFrom = std::size_t{1} << 15;
    /// `GetNextChild`'s answer from a list of kPrefetchFrom children or more, with the prefetch;
    /// apart, so that the step through a short list saves and restores no registers.
    [[gnu::noinline]] Handle childOfLongList(std::size_t index) const;
    const Runtime* runtime_;
    std::size_t* refusing_;
    bool refuses_ = false;
    int query16_ = 1;
};

/// Descriptors, made side by side in blocks: a walk over a path's children reads each child's
/// descriptor (its veto on interfaces), and neighbouring children then share cache lines and
/// pages instead of lying between the objects on the heap. Addresses never move.
class DescriptorPool {
public:
    explicit DescriptorPool(const class Runtime* runtime = nullptr) : runtime_(runtime) {}
    ~DescriptorPool() = default;
    DescriptorPool(const DescriptorPool&) = delete;
    DescriptorPool& operator=(const DescriptorPool&) = delete;

    Descriptor* make(const Handle& parent);
    /// Destroys `descriptor`; its place is taken by the next one made.
    void release(Descriptor* descriptor);
    /// Whether any descriptor made here refuses interfaces at present.
    bool anyRefuses() const { return refusing_ != 0; }

    struct Release {
        DescriptorPool* pool;
        void operator()(Descriptor* d) const { pool->release(d); }
    };

private:
    static constexpr std::size_t kBlock = 1024;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    std::size_t usedInLast_ = kBlock;
    std::vector<Descriptor*> free_;
    std::size_t refusing_ = 0;
    const Runtime* runtime_;
};

/// One `AttributeChanged` notification received by the editor.
struct AttributeChange {
    ULong objectRef;  ///< the object's `LookupObject` reference
    std::string attribute;
};

/// [host imp] The editor: records the attribute notifications it receives.
class Editor final : public IEditor {
public:
    void AttributeChanged(ULong objectRef, const char* attributeName) override;
    const std::vector<AttributeChange>& changes() const { return changes_; }

private:
    std::vector<AttributeChange> changes_;
};

/// [host imp] Byte sizes of the attribute type codes: 3 -> 4, 5 -> 12, 8 -> 1, 10 -> 48,
/// 12 -> 4, 32 -> 16; any other code is unknown (false).
class TypeRegistry final : public ITypeRegistry {
public:
    bool GetTypeInfo(ULong typeCode, void* reserved1, std::int32_t* byteSize, void* reserved2,
                     void* reserved3) override;
};

/// One report received through `Message`.
struct MessageRecord {
    int level;
    std::string location;
    std::string text;
    ULong time;              ///< the clock when it came
    std::uint64_t sequence;  ///< place among all messages and activations (see `Runtime`)
};

enum class ActivationKind { Activate, Deactivate };
/// "activate" or "deactivate": the event word of the activation log.
const char* activationWord(ActivationKind kind);

/// An `ActivateObject` or `DeactivateObject` call, with the clock time of the tick that asked.
struct ActivationRequest {
    ActivationKind kind;
    Handle sender;
    Handle target;
    ULong time;
    int flag1;
    int flag2;  ///< 0 for a deactivation, which has one flag
};

/// A delivered activation: the target's `Activate` or `Deactivate` was called at `time`.
struct ActivationRecord {
    ULong time;
    ActivationKind kind;
    Handle target;
    std::string name;        ///< the target's name
    std::uint64_t sequence;  ///< place among all messages and activations (see `Runtime`)
};

/// Counts of runtime calls that tests check against each other.
struct RuntimeCounters {
    std::uint64_t queries = 0;   ///< `QueryObjectInterface` calls
    std::uint64_t resolves = 0;  ///< of those, the ones that handed out a reference
    std::uint64_t releases = 0;  ///< `ReleaseObject` calls (see `referencesHandedOut`)
    std::uint64_t parents = 0;   ///< `GetParent` calls
    std::uint64_t lookups = 0;   ///< `LookupObject` calls
};

/// What made an object: a plug-in factory, or the host's own classes.
enum class ObjectKind { Module, Plain, Registry, Camera, Other };

/// Constructs an object from its GUID, its second GUID and its descriptor; null on failure.
using ObjectMaker = std::function<RtsObject*(const CGUID& guid, const CGUID& secondGuid, ISCODescriptor* descriptor)>;

/// [host imp] The runtime system. Owns every object it registers and destroys them (through
/// their virtual destructor) in reverse order of creation.
///
/// GUIDs are made from a counter, so the same sequence of creations gives the same GUIDs in
/// every run: object n is {n-0000-0000-484F-535400000001}, its second GUID ends in ...02.
///
/// Messages and delivered activations carry one running sequence number, so that a reader of
/// both logs can put them back into the order in which they happened.
class Runtime final : public IRTS {
public:
    Runtime() = default;
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // IRTS
    Handle GetParent(Handle object) override;
    ULong LookupObject(const CGUID& object) override;
    bool QueryObjectInterface(Handle object, ULong id, void** out) override;
    void ReleaseObject(RtsObject* object) override;
    void ActivateObject(Handle sender, Handle object, int flag1, int flag2) override;
    void DeactivateObject(Handle sender, Handle object, int flag) override;
    CGUID GetCamera() override { return camera_; }
    void Message(int level, const char* location, const char* text, ...) override;
    IEditor* GetEditor() override { return &editor_; }
    ITypeRegistry* GetTypeRegistry() override { return &typeRegistry_; }

    /// Registers a new object named `name` (empty: unnamed), appended to `parent`'s child list
    /// when `parent` is given. Throws std::invalid_argument for a name in use or an unknown
    /// parent; returns a null handle when `make` gives null.
    Handle add(std::string name, const Handle& parent, ObjectKind kind, const ObjectMaker& make);
    /// The same under a GUID the caller chooses, for objects restored from a file (their records
    /// name each other by GUID). Also throws std::invalid_argument for a null GUID or one in use.
    /// A GUID of the host's own form moves the counter past it, so later objects stay unique.
    Handle addWithGuid(const _GUID& guid, std::string name, const Handle& parent, ObjectKind kind,
                       const ObjectMaker& make);
    /// Puts the object that `make` gives in the place of the one named `handle`: same GUID, name,
    /// kind, parent, child list and descriptor, so that every reference to it stays valid. The old
    /// instance is destroyed once the new one exists. False (and nothing changed) for an unknown
    /// handle or when `make` gives null.
    bool replace(const Handle& handle, const CGUID& secondGuid, const ObjectMaker& make);
    /// Destroys every object (last created first) and forgets them.
    void destroyAll();
    /// Destroys `objects` and everything in their child lists, and takes them out of their
    /// parents' child lists. Their names and GUIDs become free; the `LookupObject` references of
    /// the others stay as they were. Unknown handles are skipped.
    void remove(const std::vector<Handle>& objects);
    /// Gives the object another name. Throws std::invalid_argument for an unknown object, an
    /// empty name or one another object has.
    void rename(const Handle& object, std::string name);
    /// Moves the object into `parent`'s child list at `index` (clamped to the list's end); a null
    /// `parent` makes it a top-level object (where the order is that of creation). Throws
    /// std::invalid_argument for an unknown object or parent, or a parent inside the object.
    void moveChild(const Handle& object, const Handle& parent, std::size_t index);

    /// The object named by `handle`, or null.
    RtsObject* object(const Handle& handle) const;
    ObjectKind kind(const Handle& handle) const;
    Descriptor* descriptor(const Handle& handle) const;
    /// The object named `name`, or a null handle.
    Handle find(std::string_view name) const;
    /// The name of the object, or "" when there is none.
    const std::string& nameOf(const Handle& handle) const;
    /// The object with this `LookupObject` reference, or a null handle.
    Handle fromLookupRef(ULong ref) const;
    /// The object's `LookupObject` reference (0: no such object), without counting a call.
    ULong lookupRefOf(const Handle& handle) const;
    /// Every object, in order of creation.
    const std::vector<Handle>& objects() const { return order_; }

    /// The game camera answered by `GetCamera`.
    void setCamera(const Handle& camera) { camera_ = camera; }
    const Handle& camera() const { return camera_; }

    /// The host clock: the time of the tick being run.
    ULong now() const { return now_; }
    void setNow(ULong time) { now_ = time; }

    /// Calls the target's `Activate`/`Deactivate` at `time` and logs it (no-op for an unknown
    /// target).
    void activate(const Handle& target, const Handle& sender, ULong time);
    void deactivate(const Handle& target, const Handle& sender, ULong time);
    /// Delivers the queued requests at the current time, oldest first, including requests made
    /// while delivering. At most `kMaxDeliveries` per call, so objects that keep activating each
    /// other cannot hang the host; the rest wait for the next call. Returns the count delivered.
    std::size_t deliverRequests();
    static constexpr std::size_t kMaxDeliveries = 4096;
    /// Drops the queued requests undelivered (they stay in `requests`).
    void discardRequests() { delivered_ = requests_.size(); }

    /// Every request received, in order.
    const std::vector<ActivationRequest>& requests() const { return requests_; }
    std::size_t pendingRequests() const { return requests_.size() - delivered_; }
    const std::vector<ActivationRecord>& activationLog() const { return activationLog_; }

    const std::vector<MessageRecord>& messages() const { return messages_; }
    const Editor& editor() const { return editor_; }
    RuntimeCounters counters() const {
        RuntimeCounters all = counters_;
        all.queries += answeredForObjects_;
        all.resolves += answeredForObjects_;
        return all;
    }
    /// Asks the processor to fetch, ahead of a walk at `children[at]`, the part that a child a
    /// dozen steps on last handed out.
    void prefetch(const Handle* children, std::size_t count, std::size_t at) const;
    /// References handed out by all objects so far, through the runtime or directly (the sum of
    /// their `RefCount`s). Equals `counters().releases` when nobody holds a reference.
    std::uint64_t referencesHandedOut() const;

private:
    static constexpr ULong kNoAnswer = ~ULong{0};
    /// The parts an object handed out for the last two interface identifiers it was asked for,
    /// the latest first. Two, because editors and flights ask the same objects for two
    /// interfaces in turn (a waypoint for drawing and as a waypoint; a path as a container and
    /// as a path): with one, every turn would reach the object again.
    struct Answers {
        ULong id[2] = {kNoAnswer, kNoAnswer};
        void* part[2] = {nullptr, nullptr};
        /// The part remembered for `id`, or null. A walk asks for the latest identifier again:
        /// that answer falls straight through.
        void* find(ULong want) const {
            if (id[0] == want) [[likely]]
                return part[0];
            if (id[1] == want) return part[1];
            return nullptr;
        }
        void learn(ULong newId, void* newPart) {
            if (id[0] != newId) {
                id[1] = id[0];
                part[1] = part[0];
                id[0] = newId;
            }
            part[0] = newPart;
        }
    };
    struct Entry {
        RtsObject* object = nullptr;
        Answers answers;
        std::unique_ptr<Descriptor, DescriptorPool::Release> descriptor{nullptr, {nullptr}};
        std::string name;
        ULong lookupRef = 0;
        ObjectKind kind = ObjectKind::Other;
    };
    /// What a resolve needs, apart from the entry's colder fields (see `byNumber_`): half a
    /// cache line.
    struct Slot {
        RtsObject* object = nullptr;
        Answers answers;
    };
    static_assert(sizeof(void*) != 8 || sizeof(Slot) == 32);
    /// The 16 GUID bytes as two words: the map key.
    struct Key {
        std::uint64_t low, high;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept;
    };
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
    };
    static Key keyOf(const CGUID& guid);
    static Handle handleOf(const Key& key);
    /// Data1 of an object GUID in the host's own form (see `makeGuid`); 0 for any other GUID.
    static std::uint32_t ownNumber(const Key& key);
    const Entry* entry(const CGUID& guid) const;
    Entry* entry(const CGUID& guid) { return const_cast<Entry*>(std::as_const(*this).entry(guid)); }
    /// The slot of a host-form GUID in `byNumber_`, or null (then ask `entries_`).
    const Slot* slot(const CGUID& guid) const;
    Slot* slot(const CGUID& guid) { return const_cast<Slot*>(std::as_const(*this).slot(guid)); }
    _GUID makeGuid(std::uint8_t variant);
    /// Throws std::invalid_argument for a name in use or an unknown parent.
    void checkNewEntry(const std::string& name, const Handle& parent) const;
    Handle addEntry(const _GUID& guid, const _GUID& secondGuid, std::string name, const Handle& parent, ObjectKind kind,
                    const ObjectMaker& make);
    /// Hands out the part remembered for `id` again, when there is one and no descriptor refuses.
    bool answerAgain(const Answers& answers, ULong id, void** out) {
        if (!out || descriptors_.anyRefuses()) return false;
        void* part = answers.find(id);
        if (!part) return false;
        *out = part;
        ++answeredForObjects_;  // a resolve too (see `counters`)
        return true;
    }
    /// `QueryObjectInterface` when the runtime cannot answer for the object: the object is asked.
    [[gnu::noinline]] bool askObject(const Handle& object, Slot* s, ULong id, void** out);
    void deliver(ActivationKind kind, const Handle& target, const Handle& sender, ULong time);

    // Declared before the entries, which give their descriptors back to it.
    DescriptorPool descriptors_{this};
    std::unordered_map<Key, Entry, KeyHash> entries_;
    /// The objects and entries of host-form GUIDs again, by number: children made one after the
    /// other sit side by side, so a walk over them reads neighbouring slots instead of hashing
    /// into a scattered map, and a resolve finds the object in the slot without reading the
    /// entry. A null slot, or a number beyond the end, means: ask `entries_`.
    std::vector<Slot> byNumber_;
    /// The entries of `byNumber_`'s slots, by the same number (apart: a resolve never reads them).
    std::vector<Entry*> entryByNumber_;
    // The two indexes below point into `entries_` (its nodes never move) instead of holding
    // names and handles again: at a million objects every byte per object is a megabyte.
    /// Entry keys by name; each name viewed is the entry's own.
    std::unordered_map<std::string_view, const Key*, NameHash, std::equal_to<>> names_;
    std::vector<Handle> order_;
    /// Every object ever registered, by `LookupObject` reference - 1 (null: removed since).
    std::vector<const Key*> byLookupRef_;
    std::uint32_t counter_ = 0;
    Handle camera_;
    ULong now_ = 0;
    std::vector<ActivationRequest> requests_;
    std::size_t delivered_ = 0;
    std::vector<ActivationRecord> activationLog_;
    std::vector<MessageRecord> messages_;
    std::uint64_t sequence_ = 0;  ///< numbers messages and delivered activations in one order
    Editor editor_;
    TypeRegistry typeRegistry_;
    RuntimeCounters counters_;  ///< its queries and resolves leave out `answeredForObjects_`
    /// References that replaced instances had handed out (see `referencesHandedOut`).
    std::uint64_t retiredReferences_ = 0;
    /// References the runtime handed out from an object's remembered answer (see
    /// `QueryObjectInterface`), which its `RefCount` does not count.
    std::uint64_t answeredForObjects_ = 0;
};

}  // namespace host
