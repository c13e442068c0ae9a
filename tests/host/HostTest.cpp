#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "framework/Runtime.h"
#include "host/Host.h"
#include "host/RecordingRenderer.h"

using host::ActivationKind;
using host::BoundsRegistry;
using host::GameCamera;
using host::Host;

namespace {

// A module made of the framework's base factory alone: it creates plain RtsObjects, so the host
// can be tested before (and independently of) the camera classes.
RtsObjectFactory baseFactory;
RtsObjectFactory* baseTable[] = {&baseFactory, nullptr};
void baseSetIRTS(IRTS* runtime) { SetModuleRuntime(runtime); }
RtsObjectFactory** baseFactories() { return baseTable; }

/// An object with a bounding box (identifier 5), so that it registers with bounds registries.
class BoxedObject final : public RtsObject, public ISCO_BoundingBox {
public:
    using RtsObject::RtsObject;
    void GetBBox(_Point3<float>*, _Point3<float>*) override {}
    void GetBSphere(_Point3<float>*, float*) override {}
    void PotentiallyVisible() override {}
    bool QueryInterface(ULong id, void** out) override {
        if (DescriptorRefuses(out)) return false;
        if (id == kIdBoundingBox) return HandOut(static_cast<ISCO_BoundingBox*>(this), out);
        return BaseQueryInterface(id, out);
    }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }
};

/// Behaves towards the host like a camera iterator: takes the camera when activated, moves on
/// every tick, asks for `target`'s activation in its second tick and for its own deactivation
/// in tick `lastTick` (never when 0), and gives the camera back when deactivated.
class FakeIterator final : public RtsObject, public ISCO_HasEye {
public:
    FakeIterator(const CGUID& guid, const CGUID& second, ISCODescriptor* d, Handle target,
                 const host::HostObject* watched, int lastTick)
        : RtsObject(guid, second, d), target_(target), watched_(watched), lastTick_(lastTick) {}

    void Activate(Handle, ULong) override {
        CInterfacePtr<ISCO_CameraControl> camera(Handle(pIRTS->GetCamera()));
        if (camera) camera->SetMaster(&Self.Guid);
    }
    void Deactivate(Handle, ULong) override {
        CInterfacePtr<ISCO_CameraControl> camera(Handle(pIRTS->GetCamera()));
        if (camera) camera->RemoveMaster(&Self.Guid);
    }
    ULong Run(ULong) override {
        ++ticks;
        ObjectPos.Origin = {static_cast<float>(ticks), 0, 0};
        if (ticks == 2) {
            pIRTS->ActivateObject(Self, target_, 1, 1);
            targetEventsDuringRun = watched_->events().size();
        }
        if (ticks == lastTick_) pIRTS->DeactivateObject(Self, Self, 1);
        return 0;
    }
    bool QueryInterface(ULong id, void** out) override {
        if (DescriptorRefuses(out)) return false;
        if (id == kIdHasEye) return HandOut(static_cast<ISCO_HasEye*>(this), out);
        return BaseQueryInterface(id, out);
    }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }
    _CCoordSystem<float> GetEyeCoordSystem(ULong, float& fov) override {
        fov = 0.5f * static_cast<float>(ticks);
        return ObjectPos;
    }
    ULong GetEyeCount() override { return 1; }

    int ticks = 0;
    std::size_t targetEventsDuringRun = 99;

private:
    Handle target_;
    const host::HostObject* watched_;
    int lastTick_;
};

template <class T, class... Extra>
host::ObjectMaker maker(Extra... extra) {
    return [=](const CGUID& guid, const CGUID& second, ISCODescriptor* d) { return new T(guid, second, d, extra...); };
}

ISCO_RtsObject* rts(Host& h, const Handle& object) { return h.object(object); }

/// Bit-for-bit equality of a frame read back with the one written.
bool sameFrame(const std::optional<_CCoordSystem<float>>& read, const _CCoordSystem<float>& written) {
    return read && std::memcmp(&*read, &written, sizeof written) == 0;
}

class HostTest : public testing::Test {
protected:
    Host host{&baseSetIRTS, &baseFactories};
    const host::RuntimeCounters& counters() const { return host.runtime().counters(); }
};

}  // namespace

TEST_F(HostTest, ChildListIsWalkedThroughTheContainer) {
    const Handle parent = host.create("RtsObject", "parent");
    const Handle a = host.create("RtsObject", "a", parent);
    const Handle b = host.createPlain("b", {1, 2, 3}, parent);
    const Handle c = host.create("RtsObject", "c", parent);
    const Handle lonely = host.create("RtsObject", "lonely");

    void* part = nullptr;
    ASSERT_TRUE(host.runtime().QueryObjectInterface(parent, kIdSCOContainer, &part));
    auto* container = static_cast<ISCO_SCOContainer*>(part);
    ChildPos pos = container->GetFirstChild();
    EXPECT_EQ(pos, 1u);
    EXPECT_TRUE(container->GetNextChild(&pos) == a);
    EXPECT_EQ(pos, 2u);
    EXPECT_TRUE(container->GetNextChild(&pos) == b);
    EXPECT_TRUE(container->GetNextChild(&pos) == c);
    EXPECT_EQ(pos, 0u);  // the last child ends the walk
    EXPECT_TRUE(container->GetNextChild(&pos).IsNull());
    EXPECT_EQ(pos, 0u);
    ChildPos beyond = 17;
    EXPECT_TRUE(container->GetNextChild(&beyond).IsNull());
    EXPECT_EQ(beyond, 0u);
    container->ReleaseInterface();

    CInterfacePtr<ISCO_SCOContainer> childPart(b);
    ASSERT_TRUE(childPart);
    EXPECT_TRUE(childPart->GetContainingObject() == parent);
    CInterfacePtr<ISCO_SCOContainer> lonelyPart(lonely);
    EXPECT_EQ(lonelyPart->GetFirstChild(), 0u);
    EXPECT_TRUE(lonelyPart->GetContainingObject().IsNull());
    EXPECT_TRUE(host.runtime().GetParent(c) == parent);
    EXPECT_TRUE(host.runtime().GetParent(parent).IsNull());
    childPart.Release();
    lonelyPart.Release();
    EXPECT_EQ(host.runtime().referencesHandedOut(), counters().releases);

    // A descriptor that forbids handing out interfaces makes every query fail.
    host.descriptor(parent)->setRefusesInterfaces(true);
    part = &part;
    EXPECT_FALSE(host.runtime().QueryObjectInterface(parent, kIdRtsObject, &part));
    EXPECT_EQ(part, nullptr);

    EXPECT_EQ(host.nameOf(b), "b");
    EXPECT_TRUE(host.find("c") == c);
    EXPECT_TRUE(host.find("nobody").IsNull());
    EXPECT_THROW(host.create("RtsObject", "a"), std::invalid_argument);
    EXPECT_THROW(host.create("SCOCameraSystemNothing", "x"), std::invalid_argument);
    // GUIDs come from a counter: the same creations give the same GUIDs in every run.
    EXPECT_EQ(host::formatGuid(c.Guid), "{00000004-0000-0000-484F-535400000001}");
}

TEST_F(HostTest, QueryObjectInterfaceOfNullOrUnknownHandleFails) {
    const Handle known = host.create("RtsObject", "known");
    void* out = &out;
    EXPECT_FALSE(host.runtime().QueryObjectInterface(Handle(), kIdRtsObject, &out));
    EXPECT_EQ(out, nullptr);
    out = &out;
    const Handle stranger(_GUID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}});
    EXPECT_FALSE(host.runtime().QueryObjectInterface(stranger, kIdRtsObject, &out));
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_FALSE(host.runtime().QueryObjectInterface(known, kIdCSPath, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(host.runtime().QueryObjectInterface(known, kIdSCOContainer, nullptr));
    EXPECT_EQ(counters().resolves, 0u);  // nothing was handed out
    EXPECT_EQ(host.runtime().LookupObject(stranger), 0u);
    EXPECT_TRUE(host.runtime().fromLookupRef(host.runtime().LookupObject(known)) == known);

    // A null handle never reaches the runtime.
    const auto before = counters().queries;
    EXPECT_FALSE(Handle().GetInterface(kIdRtsObject, &out));
    EXPECT_EQ(counters().queries, before);
}

TEST_F(HostTest, RegistriesRecordRegistrationBeforeAndAfterAfterLoad) {
    const Handle first = host.createRegistry("first");
    const Handle second = host.createRegistry("second");
    const Handle boxed = host.add("boxed", Handle(), maker<BoxedObject>());
    const Handle plain = host.create("RtsObject", "plain");
    const Handle inside = host.add("inside", first, maker<BoxedObject>());
    BoundsRegistry& r1 = *host.boundsRegistry(first);
    BoundsRegistry& r2 = *host.boundsRegistry(second);
    using Op = BoundsRegistry::Op;

    rts(host, boxed)->SetContainer(first);  // pending AfterLoad: no registration yet
    rts(host, plain)->SetContainer(first);  // no bounding box: never registers
    EXPECT_TRUE(r1.calls().empty());

    host.afterLoadAll();
    ASSERT_EQ(r1.calls().size(), 1u);
    EXPECT_EQ(r1.calls()[0].op, Op::Register);
    EXPECT_TRUE(r1.calls()[0].object == boxed);

    rts(host, boxed)->SetContainer(second);
    rts(host, boxed)->SetContainer(second);  // same registry: nothing
    rts(host, boxed)->UpdateRegistration();
    ASSERT_EQ(r1.calls().size(), 2u);
    EXPECT_EQ(r1.calls()[1].op, Op::Unregister);
    ASSERT_EQ(r2.calls().size(), 2u);
    EXPECT_EQ(r2.calls()[0].op, Op::Register);
    EXPECT_EQ(r2.calls()[1].op, Op::Update);
    EXPECT_TRUE(r2.calls()[1].object == boxed);

    EXPECT_TRUE(rts(host, inside)->FindContainer() == first);  // its parent is a registry
    EXPECT_TRUE(rts(host, plain)->FindContainer().IsNull());
    EXPECT_EQ(host.runtime().referencesHandedOut(), counters().releases);
}

TEST_F(HostTest, AttributesByNameEditorAndTypeRegistry) {
    const Handle object = host.create("RtsObject", "object");
    const Handle copy = host.create("RtsObject", "copy");
    const auto attributes = host.attributes(object);
    ASSERT_EQ(attributes.size(), 1u);
    EXPECT_STREQ(attributes[0].record.Name, "ObjectPos");
    EXPECT_EQ(attributes[0].className, "RtsObject");

    _CCoordSystem<float> frame;
    frame.Orientation = _CMatrix3<float>(0, -1, 0, 1, 0, 0, 0, 0, 1);
    frame.Origin = {10, 20, 30};
    ASSERT_TRUE(host.setObjectPos(object, frame));
    const auto raw = host.getAttribute(object, "ObjectPos");
    ASSERT_TRUE(raw && raw->size() == 48u);
    float firstTwo[2];
    std::memcpy(firstTwo, raw->data(), sizeof firstTwo);
    EXPECT_EQ(firstTwo[0], 10.0f);  // the attribute buffer starts with the origin
    EXPECT_EQ(firstTwo[1], 20.0f);
    EXPECT_TRUE(sameFrame(host.getObjectPos(object), frame));

    EXPECT_FALSE(host.setFloat(object, "ObjectPos", 1.0f));                               // wrong type
    EXPECT_FALSE(host.setAttribute(object, "ObjectPos", std::vector<std::uint8_t>(47)));  // wrong size
    EXPECT_FALSE(host.setULong(object, "Time2Next", 5));                                  // no such attribute
    EXPECT_FALSE(host.getBool(Handle(), "IsOn"));

    // CopyAttributesTo sizes the value through the type registry (48 bytes for ObjectPos).
    ASSERT_TRUE(rts(host, object)->CopyAttributesTo(copy));
    EXPECT_TRUE(sameFrame(host.getObjectPos(copy), frame));

    // The editor hears of a position change only from a marked object after AfterLoad.
    rts(host, object)->SetMark();
    host.setObjectPos(object, frame);
    EXPECT_TRUE(host.editorLog().empty());
    host.afterLoadAll();
    host.setObjectPos(object, frame);
    ASSERT_EQ(host.editorLog().size(), 1u);
    EXPECT_EQ(host.editorLog()[0].attribute, "ObjectPos");
    EXPECT_TRUE(host.runtime().fromLookupRef(host.editorLog()[0].objectRef) == object);

    std::int32_t size = -1;
    ITypeRegistry* types = host.runtime().GetTypeRegistry();
    EXPECT_TRUE(types->GetTypeInfo(kTypeGuidRef, nullptr, &size, nullptr, nullptr));
    EXPECT_EQ(size, 16);
    EXPECT_FALSE(types->GetTypeInfo(4, nullptr, &size, nullptr, nullptr));
}

TEST_F(HostTest, SavesAndLoadsAnObjectRecordAndCollectsMessages) {
    const Handle source = host.create("RtsObject", "source");
    const Handle target = host.create("RtsObject", "target");
    _CCoordSystem<float> frame;
    frame.Origin = {-1.5f, 0.25f, 1e30f};
    host.setObjectPos(source, frame);

    const auto record = host.save(source);
    ASSERT_TRUE(record);
    // Version 2, second GUID (4 + 16), position (4 + 48), container (4 + 16), Mark (4).
    ASSERT_EQ(record->size(), 100u);
    EXPECT_EQ((*record)[0], 2);
    ASSERT_TRUE(host.load(target, *record));
    EXPECT_TRUE(sameFrame(host.getObjectPos(target), frame));
    EXPECT_FALSE(host.load(target, std::span(*record).first(50)));

    pIRTS->Message(2, "Somewhere::Op", "first", 42);
    pIRTS->Message(2, "Elsewhere::Op", "second");
    ASSERT_EQ(host.messages().size(), 2u);
    EXPECT_EQ(host.messages()[0].level, 2);
    EXPECT_EQ(host.messages()[0].location, "Somewhere::Op");
    EXPECT_EQ(host.messages()[1].text, "second");
}

TEST_F(HostTest, FlightDeliversActivationsAfterTheTickAndStopsAtDeactivation) {
    const Handle target = host.createPlain("target", {5, 5, 5});
    const host::HostObject* watched = host.plainObject(target);
    const Handle iterator = host.add("iterator", Handle(), maker<FakeIterator>(target, watched, 4));
    auto& fake = static_cast<FakeIterator&>(*host.object(iterator));
    host.createCamera();
    const GameCamera& camera = *host.camera();

    // Start close to the end of the clock: tick times wrap modulo 2^32.
    const ULong start = 0xFFFFFF00u, step = 0x80;
    std::vector<ULong> times;
    std::vector<float> eyes, fovs;
    const auto result = host.fly(iterator, start, step, 100, [&](ULong t, std::size_t index, auto& frame, float fov) {
        EXPECT_EQ(index, times.size());
        times.push_back(t);
        eyes.push_back(frame.Origin.x);
        fovs.push_back(fov);
    });

    EXPECT_EQ(result.ticks, 4u);  // the tick that asked for deactivation is the last
    EXPECT_FALSE(result.hitLimit);
    EXPECT_EQ(times, (std::vector<ULong>{0xFFFFFF00u, 0xFFFFFF80u, 0x0u, 0x80u}));
    EXPECT_EQ(result.lastTime, 0x80u);

    // Asked for in tick 2 (index 1), delivered after that tick's Run, at that tick's time.
    EXPECT_EQ(fake.targetEventsDuringRun, 0u);
    ASSERT_EQ(watched->events().size(), 1u);
    EXPECT_EQ(watched->events()[0].kind, ActivationKind::Activate);
    EXPECT_EQ(watched->events()[0].time, 0xFFFFFF80u);
    const auto& requests = host.runtime().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].sender == iterator);
    EXPECT_EQ(requests[0].flag1, 1);
    EXPECT_EQ(host.runtime().pendingRequests(), 0u);

    const auto& log = host.activationLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].time, start);
    EXPECT_EQ(log[0].name, "iterator");
    EXPECT_EQ(log[1].name, "target");
    EXPECT_EQ(log[2].kind, ActivationKind::Deactivate);
    EXPECT_EQ(log[2].time, 0x80u);

    // The camera read the eye after ticks 1 to 3; the fourth handed it back first.
    ASSERT_EQ(camera.calls().size(), 2u);
    EXPECT_TRUE(camera.calls()[0].accepted);
    EXPECT_TRUE(camera.calls()[0].master == iterator);
    EXPECT_EQ(camera.calls()[1].op, GameCamera::Op::RemoveMaster);
    EXPECT_FALSE(camera.hasMaster());
    EXPECT_EQ(camera.eyeReads(), 3u);
    EXPECT_EQ(eyes, (std::vector<float>{1, 2, 3, 3}));
    EXPECT_EQ(fovs, (std::vector<float>{0.5f, 1.0f, 1.5f, 1.5f}));
    EXPECT_EQ(host.runtime().referencesHandedOut(), counters().releases);
}

TEST_F(HostTest, FlightThatNeverEndsStopsAtTheLimit) {
    const Handle target = host.createPlain("target");
    const Handle iterator = host.add("iterator", Handle(), maker<FakeIterator>(target, host.plainObject(target), 0));
    host.createCamera("camera", false);
    const auto result = host.fly(iterator, 0, 40, 5);
    EXPECT_TRUE(result.hitLimit);
    EXPECT_EQ(result.ticks, 5u);
    EXPECT_EQ(result.lastTime, 160u);
    EXPECT_FALSE(host.camera()->calls()[0].accepted);
    EXPECT_EQ(host.camera()->eyeReads(), 0u);
}

TEST(RenderEngine, RecorderBehindReuKeepsCallsInOrder) {
    host::RecordingRenderer& recorder = host::defaultRecorder();
    ASSERT_EQ(REU, &recorder);
    recorder.clear();
    const _Point3<float> a{1, 2, 3}, b{4, 5, 6};
    const float grey[4] = {0.5f, 0.5f, 0.5f, 0.6f}, green[4] = {0, 0.4f, 0, 0.8f};
    REU->DrawLine(&a, &b, 0.0f, 16.0f, grey, 1);
    REU->DrawArrow(&a, &b, 3.2f, 1.6f, 0.4f, green, grey, 1);
    REU->DrawLine(nullptr, &b, 2.0f, 2.0f, nullptr, 0);  // bad input is recorded, not followed
    const auto& calls = recorder.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, host::DrawKind::Line);
    EXPECT_EQ(calls[0].to.z, 6.0f);
    EXPECT_EQ(calls[0].widthTo, 16.0f);
    EXPECT_EQ(calls[0].colour[3], 0.6f);
    EXPECT_EQ(calls[1].kind, host::DrawKind::Arrow);
    EXPECT_EQ(calls[1].sizes[1], 1.6f);
    EXPECT_EQ(calls[1].colour[1], 0.4f);
    EXPECT_EQ(calls[1].colour2[0], 0.5f);
    EXPECT_EQ(calls[2].from.x, 0.0f);
    recorder.clear();
}

TEST(Plugin, LoadFailuresCarryTheLoaderText) {
    try {
        Host missing("/nonexistent/libcamerasystem.so");
        FAIL() << "loaded a missing library";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/libcamerasystem.so"), std::string::npos);
    }
    // The render library loads but has no entry points.
    try {
        host::Plugin notAPlugin(CAMSYS_RENDER_PATH);
        FAIL() << "accepted a library without entry points";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("SetIRTS"), std::string::npos);
    }
}
