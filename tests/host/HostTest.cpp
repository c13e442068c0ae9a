// The stand-in host's runtime: child walks, interface queries, bounds registries, attributes by
// name with the editor, and the order of a flight's ticks and activations.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "framework/ModuleRuntime.h"
#include "host/Host.h"
#include "tests/support/InProcessHost.h"

using host::ActivationKind;
using host::BoundsRegistry;

namespace {

/// Asks for `target`'s activation in its second tick, noting what the target had received by
/// then, and for its own deactivation in its fourth.
class FakeIterator final : public RtsObject {
public:
    FakeIterator(const CGUID& guid, const CGUID& second, ISCODescriptor* d, Handle target, const host::HostObject* w)
        : RtsObject(guid, second, d), target(target), watched(w) {}
    bool QueryInterface(ULong id, void** out) override { return BaseQueryInterface(id, out); }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }
    ULong Run(ULong) override {
        if (++ticks == 2) {
            pIRTS->ActivateObject(Self, target, 1, 1);
            targetEventsDuringRun = watched->events().size();
        }
        if (ticks == 4) pIRTS->DeactivateObject(Self, Self, 1);
        return 0;
    }
    Handle target;
    const host::HostObject* watched;
    int ticks = 0;
    std::size_t targetEventsDuringRun = 99;
};

class HostTest : public testing_support::InProcessHost {
protected:
    ISCO_RtsObject* rts(const Handle& object) { return host.object(object); }
    /// A plain object, for the runtime's own `add` and `replace`.
    static RtsObject* makePlain(const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
        return new host::HostObject(guid, second, descriptor);
    }
    /// Every reference handed out has been given back.
    void expectAllReleased() { EXPECT_EQ(host.runtime().referencesHandedOut(), host.runtime().counters().releases); }
    /// Gives back a part: the primary part begins with the serialisation table, the others with
    /// `ISCO_Unknown`'s.
    static void release(ULong id, void* part) {
        if (id == kIdRtsObject)
            UnknownOf(static_cast<ISCO_RtsObject*>(part))->ReleaseInterface();
        else
            static_cast<ISCO_Unknown*>(part)->ReleaseInterface();
    }
    /// The part the runtime hands out for `object`'s `id`, given back at once; null when it
    /// refuses, which must clear the out-pointer.
    void* resolve(const Handle& object, ULong id) {
        void* part = reinterpret_cast<void*>(1);
        if (host.runtime().QueryObjectInterface(object, id, &part)) release(id, part);
        return part;
    }
};

}  // namespace

TEST_F(HostTest, ChildWalkAndQueries) {
    const Handle parent = host.createPlain("parent");
    const Handle a = host.createPlain("a", {}, parent), b = host.createPlain("b", {}, parent);
    const Handle c = host.createPlain("c", {}, parent), lonely = host.createPlain("lonely");

    CInterfacePtr<ISCO_SCOContainer> container(parent);
    ASSERT_TRUE(container);
    ChildPos pos = container->GetFirstChild();
    EXPECT_EQ(pos, 1u);
    for (const Handle& child : {a, b, c}) EXPECT_TRUE(container->GetNextChild(&pos) == child);
    EXPECT_EQ(pos, 0u) << "the last child ends the walk";
    EXPECT_TRUE(container->GetNextChild(&pos).IsNull());
    // Positions past the end, also ones whose byte offset (handles of 20 or 24 bytes) wraps in
    // 32 bits to inside the list.
    for (ChildPos beyond : {17u, 0x0CCCCCCEu, 0x15555557u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(container->GetNextChild(&beyond).IsNull());
        EXPECT_EQ(beyond, 0u);
    }
    container.Release();
    {
        CInterfacePtr<ISCO_SCOContainer> childPart(b), lonelyPart(lonely);
        ASSERT_TRUE(childPart && lonelyPart);
        EXPECT_TRUE(childPart->GetContainingObject() == parent);
        EXPECT_EQ(lonelyPart->GetFirstChild(), 0u);
        EXPECT_TRUE(lonelyPart->GetContainingObject().IsNull());
        EXPECT_TRUE(host.runtime().GetParent(parent).IsNull());  // a child's: after its move, below
    }
    expectAllReleased();

    EXPECT_TRUE(host.runtime().fromLookupRef(host.runtime().LookupObject(c)) == c);
    EXPECT_THROW(host.createPlain("a"), std::invalid_argument);
}

TEST_F(HostTest, RegistriesRecordRegistrationBeforeAndAfterAfterLoad) {
    const Handle first = host.createRegistry("first"), second = host.createRegistry("second");
    // Waypoints have a bounding box; plain objects have none.
    const Handle boxed = host.create("SCOCameraSystemWaypoint", "boxed");
    const Handle plain = host.createPlain("plain");
    const Handle inside = host.createPlain("inside", {}, first);
    using Op = BoundsRegistry::Op;
    const auto ops = [&](const Handle& registry) {
        std::vector<Op> result;
        for (const auto& call : host.boundsRegistry(registry)->calls())
            result.push_back(call.object == boxed ? call.op : Op(-1));
        return result;
    };

    rts(boxed)->SetContainer(first);  // pending AfterLoad: no registration yet
    rts(plain)->SetContainer(first);  // no bounding box: never registers
    EXPECT_TRUE(ops(first).empty());
    host.afterLoadAll();
    EXPECT_EQ(ops(first), std::vector<Op>{Op::Register});

    rts(boxed)->SetContainer(second);
    rts(boxed)->SetContainer(second);  // same registry: nothing
    rts(boxed)->UpdateRegistration();
    EXPECT_EQ(ops(first), (std::vector<Op>{Op::Register, Op::Unregister}));
    EXPECT_EQ(ops(second), (std::vector<Op>{Op::Register, Op::Update}));

    EXPECT_TRUE(rts(inside)->FindContainer() == first) << "its parent is a registry";
    EXPECT_TRUE(rts(plain)->FindContainer().IsNull());
    expectAllReleased();
}

TEST_F(HostTest, AttributesByNameAndTheEditor) {
    const Handle object = host.createPlain("object"), copy = host.createPlain("copy");
    _CCoordSystem<float> frame;
    frame.Orientation = _CMatrix3<float>(0, -1, 0, 1, 0, 0, 0, 0, 1);
    frame.Origin = {10, 20, 30};
    ASSERT_TRUE(host.setObjectPos(object, frame));
    EXPECT_FALSE(host.setFloat(object, "ObjectPos", 1.0f));                               // wrong type
    EXPECT_FALSE(host.setAttribute(object, "ObjectPos", std::vector<std::uint8_t>(47)));  // wrong size
    EXPECT_FALSE(host.setULong(object, "Time2Next", 5));                                  // no such attribute
    EXPECT_FALSE(host.getBool(Handle(), "IsOn"));

    // CopyAttributesTo sizes the value through the type registry (48 bytes for ObjectPos).
    ASSERT_TRUE(rts(object)->CopyAttributesTo(copy));
    EXPECT_EQ(host.getAttribute(copy, "ObjectPos"), host.getAttribute(object, "ObjectPos"));

    // The editor hears of a position change only from a marked object after AfterLoad.
    rts(object)->SetMark();
    host.setObjectPos(object, frame);
    EXPECT_TRUE(host.editorLog().empty());
    host.afterLoadAll();
    host.setObjectPos(object, frame);
    ASSERT_EQ(host.editorLog().size(), 1u);
    EXPECT_EQ(host.editorLog()[0].attribute, "ObjectPos");
    EXPECT_TRUE(host.runtime().fromLookupRef(host.editorLog()[0].objectRef) == object);
}

TEST_F(HostTest, FlightDeliversActivationsAfterTheTickAndStopsAtDeactivation) {
    const Handle target = host.createPlain("target");
    const host::HostObject* watched = host.plainObject(target);
    const Handle iterator =
        host.add("iterator", Handle(), [&](const CGUID& guid, const CGUID& second, ISCODescriptor* d) {
            return new FakeIterator(guid, second, d, target, watched);
        });
    const auto& fake = static_cast<FakeIterator&>(*host.object(iterator));

    // Start close to the end of the clock: tick times wrap modulo 2^32.
    std::vector<ULong> times;
    const auto result =
        host.fly(iterator, 0xFFFFFF00u, 0x80, 100, [&](ULong t, std::size_t, auto&, float) { times.push_back(t); });
    EXPECT_TRUE(result.ticks == 4u && !result.hitLimit) << "the tick that asked for deactivation is the last";
    EXPECT_EQ(times, (std::vector<ULong>{0xFFFFFF00u, 0xFFFFFF80u, 0x0u, 0x80u}));
    EXPECT_EQ(result.lastTime, 0x80u);

    // Asked for in tick 2, delivered after that tick's Run, at that tick's time.
    EXPECT_EQ(fake.targetEventsDuringRun, 0u);
    ASSERT_EQ(watched->events().size(), 1u);
    EXPECT_TRUE(watched->events()[0].kind == ActivationKind::Activate && watched->events()[0].time == 0xFFFFFF80u);
    EXPECT_EQ(host.runtime().pendingRequests(), 0u);
    std::vector<std::string> log;
    for (const auto& r : host.activationLog())
        log.push_back(std::to_string(r.time) + (r.kind == ActivationKind::Activate ? " +" : " -") + r.name);
    EXPECT_EQ(log, (std::vector<std::string>{"4294967040 +iterator", "4294967168 +target", "128 -iterator"}));
    expectAllReleased();
}

TEST_F(HostTest, ObjectsAfterAFileGuidAtTheTopOfTheCounterGetGuidsOfTheirOwn) {
    // A file may carry a GUID of the host's own form numbered 0xFFFFFFFF; the counter moves past
    // it and wraps. The objects made afterwards must not take the GUIDs of objects that exist:
    // names and entries stay each object's own, and removal works.
    host::Runtime& runtime = host.runtime();
    const std::size_t before = runtime.objects().size();
    const Handle first = host.createPlain("first");
    _GUID top = first.Guid;
    top.Data1 = 0xFFFFFFFFu;
    const Handle fromFile = runtime.addWithGuid(top, "fromFile", Handle(), host::ObjectKind::Plain, makePlain);
    const Handle a = host.createPlain("a"), b = host.createPlain("b");
    EXPECT_FALSE(a == first || a == fromFile || b == first || b == fromFile || a == b);
    for (const auto& [name, object] : {std::pair{"first", first}, {"fromFile", fromFile}, {"a", a}, {"b", b}})
        EXPECT_TRUE(host.find(name) == object && host.nameOf(object) == name) << name;
    EXPECT_EQ(runtime.objects().size(), before + 4);
    runtime.remove({first, a});
    EXPECT_TRUE(host.find("first").IsNull());
    EXPECT_EQ(host.find("b"), b);
    EXPECT_EQ(host.nameOf(fromFile), "fromFile");
    const host::RuntimeCounters asked = runtime.counters();
    for (int twice = 0; twice < 2; ++twice)  // no slot for it: the entry answers
        EXPECT_EQ(resolve(fromFile, kIdRtsObject), host.object(fromFile));
    // Each question counts once, whether the object answered it or the entry's remembered answer.
    EXPECT_EQ(runtime.counters().queries - asked.queries, 2u);
    EXPECT_EQ(runtime.counters().resolves - asked.resolves, 2u);
}

TEST_F(HostTest, ResolvesFollowRemovalReplacementAndMoves) {
    // The runtime answers a numbered object from its own slot: the slot must follow the object
    // through removal (also when a new object takes the removed one's descriptor storage), a
    // replacement and moves within and between child lists.
    host::Runtime& runtime = host.runtime();
    const Handle parent = host.createPlain("parent"), other = host.createPlain("other");
    const Handle a = host.createPlain("a", {}, parent), b = host.createPlain("b", {}, parent);
    const Handle c = host.createPlain("c", {}, parent);
    const auto children = [&](const Handle& of) {
        std::vector<std::string> names;
        CInterfacePtr<ISCO_SCOContainer> container(of);
        for (ChildPos pos = container->GetFirstChild(); pos != 0;)
            names.push_back(host.nameOf(container->GetNextChild(&pos)));
        return names;
    };
    const auto resolved = [&](const Handle& object) { return resolve(object, kIdRtsObject); };

    runtime.remove({b});
    EXPECT_EQ(resolved(b), nullptr);
    const Handle d = host.createPlain("d", {}, parent);
    EXPECT_EQ(resolved(b), nullptr) << "a removed handle stays unresolved";
    EXPECT_EQ(resolved(d), host.object(d));
    EXPECT_TRUE(runtime.descriptor(d)->GetContainingObject() == parent);
    EXPECT_EQ(children(parent), (std::vector<std::string>{"a", "c", "d"}));

    void* const old = host.object(a);
    EXPECT_EQ(resolved(a), old);
    ASSERT_TRUE(runtime.replace(a, CGUID(), makePlain));
    EXPECT_NE(host.object(a), old);
    EXPECT_EQ(resolved(a), host.object(a));

    runtime.moveChild(d, parent, 0);
    runtime.moveChild(c, other, 5);
    EXPECT_EQ(children(parent), (std::vector<std::string>{"d", "a"}));
    EXPECT_EQ(children(other), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(runtime.GetParent(c) == other);
    runtime.remove({parent});
    for (const Handle& gone : {parent, a, d}) EXPECT_EQ(resolved(gone), nullptr);
    EXPECT_EQ(resolved(c), host.object(c));
    expectAllReleased();
}

TEST_F(HostTest, RuntimeAnswersAgainAsTheObjectAnsweredWhileNoDescriptorRefuses) {
    // The runtime hands out the part an object gave for an identifier again without asking it;
    // it asks the object for another identifier, for a question without an out-pointer and while
    // any descriptor refuses, and every reference still comes back.
    host::Runtime& runtime = host.runtime();
    const Handle w = host.create("SCOCameraSystemWaypoint", "w");
    RtsObject* const object = host.object(w);
    const auto ownAnswer = [&](ULong id) {
        void* part = nullptr;
        EXPECT_TRUE(static_cast<ISCO_RtsObject*>(object)->QueryInterface(id, &part));
        release(id, part);
        return part;
    };
    void* const wayPointPart = ownAnswer(kIdCSWayPoint);
    void* const primary = ownAnswer(kIdRtsObject);
    const ULong count = object->RefCount;
    const std::uint64_t queries = runtime.counters().queries;
    EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    EXPECT_EQ(object->RefCount, count + 1) << "asked once, answered twice";
    EXPECT_EQ(runtime.counters().queries, queries + 2);
    EXPECT_EQ(resolve(w, kIdRtsObject), primary);
    EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    EXPECT_EQ(resolve(w, kIdCSPath), nullptr);
    // The last two identifiers are remembered: asked for both in turn, the object is not asked
    // again; a third pushes out the one asked for longest ago.
    const ULong turns = object->RefCount;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(resolve(w, kIdRtsObject), primary);
        EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    }
    EXPECT_EQ(object->RefCount, turns);
    EXPECT_EQ(resolve(w, kIdBoundingBox), ownAnswer(kIdBoundingBox));
    EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    const ULong afterThird = object->RefCount;
    EXPECT_EQ(resolve(w, kIdRtsObject), primary);
    EXPECT_EQ(object->RefCount, afterThird + 1) << "the primary part was pushed out";
    EXPECT_TRUE(runtime.QueryObjectInterface(w, kIdBoundingBox, nullptr));

    const Handle other = host.createPlain("other");
    for (const Handle& refusing : {w, other}) {
        runtime.descriptor(refusing)->setRefusesInterfaces(true);
        EXPECT_EQ(resolve(w, kIdCSWayPoint), refusing == w ? nullptr : wayPointPart);
        runtime.descriptor(refusing)->setRefusesInterfaces(false);
        EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    }
    runtime.descriptor(other)->setRefusesInterfaces(true);
    runtime.remove({other});  // a refusing descriptor that goes away refuses no more
    const ULong before = object->RefCount;
    EXPECT_EQ(resolve(w, kIdCSWayPoint), wayPointPart);
    EXPECT_EQ(object->RefCount, before);
    expectAllReleased();
}

TEST(Plugin, LoadFailuresCarryTheLoaderText) {
    // A missing library, and the render library, which loads but has no entry points.
    for (auto [path, expected] : {std::pair{"/nonexistent/libcamerasystem.so", "/nonexistent/libcamerasystem.so"},
                                  {CAMSYS_RENDER_PATH, "SetIRTS"}}) {
        try {
            host::Plugin plugin(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
        }
    }
}
