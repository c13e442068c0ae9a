#pragma once
/// \file
/// The base of every scene object: identity, position, registration with a bounds registry,
/// interface discovery, the persisted base record and the child-list facade.

#include "Attribute.h"
#include "CVar.h"
#include "InterfacePtr.h"
#include "ScoInterfaces.h"

/// The `ISCO_SCOContainer` part of every `RtsObject`: forwards the child-list operations to the
/// object's descriptor and answers the hooks with fixed values.
///
/// It lives in a base class of its own because this compiler appends an overrider of a
/// secondary base's operation to the primary table of the class that declares it; declared in
/// `RtsObject`, these 25 overriders would sit between slot 33 and the derived classes' slots.
class RtsObjectContainer : public ISCO_SCOContainer {
public:
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override;
    void ReleaseInterface() override;
    ChildPos GetFirstChild() override;
    ULong ContainerOp4() override;
    ULong ContainerOp5(ULong value, Handle object) override;
    ULong ContainerOp6(ULong value, Handle object) override;
    ULong ContainerOp7(ULong value) override;
    ULong ContainerOp8(ULong value) override;
    ULong ContainerOp9(ULong value) override;
    ULong ContainerOp10() override;
    ULong ContainerOp11(ULong value, Handle object) override;
    ULong ContainerOp12(ULong value) override;
    /// Final and inline (below): the module's own walks over its children call it for every child.
    Handle GetNextChild(ChildPos* pos) final;
    ULong ContainerOp14(ULong value) override;
    ULong ContainerOp15(ULong a, ULong b) override;
    ULong ContainerOp16() override;
    Handle GetContainingObject() override;
    void ContainerHook18(Handle) override {}
    bool ContainerHook19(Handle) override { return true; }
    bool ContainerHook20(Handle, ULong) override { return true; }
    void ContainerHook21(Handle, ULong) override {}
    bool ContainerHook22(Handle, ULong) override { return true; }
    void ContainerHook23(Handle, ULong) override {}
    void ContainerHook24(int, int) override {}

protected:
    RtsObjectContainer() = default;
    RtsObjectContainer(const RtsObjectContainer&) = default;
    RtsObjectContainer& operator=(const RtsObjectContainer&) = default;
    ~RtsObjectContainer() = default;

private:
    RtsObject* Owner();
};

/// [plug imp] Base class of the module's scene objects.
///
/// Slot layout of the primary table: 0 to 28 are `ISCO_RtsObject`'s, 29 is the virtual
/// destructor (two entries with this compiler), 30 to 33 follow; derived classes continue behind
/// them. `RtsObject` itself does not override the three `ISCO_Unknown` operations, for the same
/// reason as `RtsObjectContainer` exists: every concrete class overrides them after its own
/// slots and forwards to `BaseQueryInterface`, `BaseGetAttributeInfo` and
/// `BaseReleaseInterface`, which are RtsObject's behaviour.
class RtsObject : public ISCO_RtsObject, public RtsObjectContainer {
public:
    RtsObject(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor);
    /// Copy construction and assignment copy every field, `RefCount` and `Descriptor` included.
    RtsObject(const RtsObject& other);
    RtsObject& operator=(const RtsObject& other);

    // ISCO_RtsObject, slots 0 to 28.
    int Serialize(IClassStorage* storage) override;
    void Activate(Handle sender, ULong time) override;
    void Deactivate(Handle sender, ULong time) override;
    ULong Run(ULong time) override;
    void AfterLoad() override;
    void HostNotify5() override;
    void HostNotify6() override;
    void MoveBy(float dx, float dy, float dz) override;
    void RotateBy(float a, float b, float c) override;
    void GetLookupRef(ULong* out) override;
    ULong LookupSelf() override;
    void SetObjectPos(const _CCoordSystem<float>* pos) override;
    _CCoordSystem<float>* GetObjectPos() override;
    bool IsPosValid() const override;
    bool IsPendingAfterLoad() override;
    void UpdateRegistration() override;
    ULong HostQuery16() override;
    ULong HostQuery17() override;
    bool CopyAttributesTo(const Handle& target) override;
    int HostQuery19() override;
    Handle GetContainer() override;
    Handle FindContainer() override;
    void SetContainer(Handle registry) override;
    Handle GetSelf() override;
    void SetMark() override;
    void ClearMark() override;
    int GetMark() override;
    int HostQuery27() override;
    int HostQuery28() override;

    // Slots 29 to 33: declared before any overrider of another interface's operation.
    virtual ~RtsObject();                                                       ///< Slot 29, two entries (29 and 30).
    virtual bool SetPos(const void* value);                                     ///< Slot 30, entry 31.
    virtual bool GetPos(void* value);                                           ///< Slot 31, entry 32.
    virtual ULong HostQuery32();                                                ///< Slot 32, entry 33.
    virtual bool GetParentAttr(ULong index, Attribute* attr, char* className);  ///< Slot 33, entry 34.

    /// RtsObject's `QueryInterface`: identifiers 0 and 45, after the descriptor's veto.
    bool BaseQueryInterface(ULong id, void** out);
    /// RtsObject's `GetAttributeInfo` over its one-record table ("ObjectPos").
    bool BaseGetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents);
    /// RtsObject's `ReleaseInterface`: the runtime's `ReleaseObject` with this object.
    void BaseReleaseInterface();

    /// Accessors of "ObjectPos" held by the attribute record.
    static bool GetObjectPosX(RtsObject* object, void* value);
    static bool SetObjectPosX(RtsObject* object, void* value);

    // Fields, in record order.
    _CCoordSystem<float> ObjectPos;  ///< position and orientation
    CGUID SecondGuid;                ///< persisted, not interpreted
    ULong RefCount = 0;              ///< raised by every pointer handed out; never lowered here
    Handle Self;                     ///< the object's own reference
    Handle Container;                ///< host object the bounds register with (identifier 7)
    CVar<ULong> Setting1{1000};      ///< answered by HostQuery17
    CVar<std::int32_t> Setting2{1};  ///< read by HostQuery16
    bool PendingAfterLoad = true;    ///< true until AfterLoad has run
    CVar<std::int32_t> Mark{0};      ///< set and cleared by the host; gates editor notifications
    ISCODescriptor* Descriptor;      ///< host record behind the child list; never null

    /// Unit of the step counts given to `RotateBy` (pi/32), persisted by the base factory.
    static CVar<float> AngleStep;
    /// Persisted by the base factory only.
    static CVar<float> SecondStep;

protected:
    /// First step of every `QueryInterface`: true when `out` is given and the descriptor
    /// forbids handing out interfaces now (`*out` is then null).
    bool DescriptorRefuses(void** out);
    /// Hands out `part` when `out` is given (raising `RefCount`); always true.
    bool HandOut(void* part, void** out);
    /// The shared attribute-walk protocol of derived classes with `count` own records.
    bool DescribeAttribute(const Attribute* table, ULong count, const char* className, ULong index, Attribute* attr,
                           char* classNameOut, bool includeParents);
};

inline RtsObject* RtsObjectContainer::Owner() { return static_cast<RtsObject*>(this); }
inline Handle RtsObjectContainer::GetNextChild(ChildPos* pos) { return Owner()->Descriptor->GetNextChild(pos); }

template <>
inline constexpr ULong kInterfaceId<RtsObject> = kIdRtsObject;
template <>
inline constexpr ULong kInterfaceId<ISCO_RtsObject> = kIdRtsObject;

/// A plain `RtsObject` with nothing of its own: what the base factory creates.
class PlainRtsObject final : public RtsObject {
public:
    using RtsObject::RtsObject;
    bool QueryInterface(ULong id, void** out) override { return BaseQueryInterface(id, out); }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }
};
