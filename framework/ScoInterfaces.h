#pragma once
/// \file
/// The interfaces every scene object answers: ISCO_Unknown, ISCO_RtsObject, ISCO_SCOContainer,
/// and the numeric identifiers of every interface the module asks for or answers.
///
/// Interfaces declare no virtual destructor: lifetimes go through `ReleaseInterface` and the
/// host. Slot order is binding; the slot numbers in the comments count from 0.

#include "Geometry.h"
#include "Guid.h"

/// Interface identifiers answered by `QueryInterface`.
inline constexpr ULong kIdRtsObject = 0;             ///< the object itself, its primary part
inline constexpr ULong kIdBoundingBox = 5;           ///< ISCO_BoundingBox (waypoint, path)
inline constexpr ULong kIdBoundsRegistry = 7;        ///< ISCO_BoundsRegistry (host objects only)
inline constexpr ULong kIdCSPath = 24;               ///< ISCO_CSPath (path)
inline constexpr ULong kIdCSWayPoint = 26;           ///< ISCO_CSWayPoint (waypoint)
inline constexpr ULong kIdMaster = 33;               ///< ISCO_Master (iterator)
inline constexpr ULong kIdGCDrawSelf = 38;           ///< ISCO_GCDrawSelf (waypoint, path)
inline constexpr ULong kIdSCOContainer = 45;         ///< ISCO_SCOContainer (every object)
inline constexpr ULong kIdHasEye = 48;               ///< ISCO_HasEye (iterator)
inline constexpr ULong kIdScenewrightFeedback = 55;  ///< ISCO_ScenewrightFeedback (waypoint)
inline constexpr ULong kIdCameraControl = 62;        ///< ISCO_CameraControl (host game camera)

/// Identifier of interface type I, for `CInterfacePtr<I>`; specialised next to each interface.
template <class I>
inline constexpr ULong kInterfaceId = ~ULong{0};

/// [both] The three operations every interface starts with.
class ISCO_Unknown {
public:
    /// Slot 0. With `out` given: on success `*out` receives the interface and the object's
    /// reference count rises; on failure `*out` is null. With `out` null: only answers whether
    /// the interface is supported.
    virtual bool QueryInterface(ULong id, void** out) = 0;
    /// Slot 1. Attribute record `index` of the object's table (see Attribute.h).
    virtual bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) = 0;
    /// Slot 2. Hands a reference back to the runtime (`IRTS::ReleaseObject`).
    virtual void ReleaseInterface() = 0;

protected:
    ~ISCO_Unknown() = default;
};

/// [plug imp] The scene-object interface. Slot 0 is `ISerialize::Serialize`; slots 1 to 28 follow.
class ISCO_RtsObject : public ISerialize, public ISCO_Unknown {
public:
    virtual void Activate(Handle sender, ULong time) = 0;            ///< Slot 1.
    virtual void Deactivate(Handle sender, ULong time) = 0;          ///< Slot 2.
    virtual ULong Run(ULong time) = 0;                               ///< Slot 3.
    virtual void AfterLoad() = 0;                                    ///< Slot 4.
    virtual void HostNotify5() = 0;                                  ///< Slot 5.
    virtual void HostNotify6() = 0;                                  ///< Slot 6.
    virtual void MoveBy(float dx, float dy, float dz) = 0;           ///< Slot 7.
    virtual void RotateBy(float a, float b, float c) = 0;            ///< Slot 8.
    virtual void GetLookupRef(ULong* out) = 0;                       ///< Slot 9.
    virtual ULong LookupSelf() = 0;                                  ///< Slot 10.
    virtual void SetObjectPos(const _CCoordSystem<float>* pos) = 0;  ///< Slot 11.
    virtual _CCoordSystem<float>* GetObjectPos() = 0;                ///< Slot 12.
    virtual bool IsPosValid() const = 0;                             ///< Slot 13.
    virtual bool IsPendingAfterLoad() = 0;                           ///< Slot 14.
    virtual void UpdateRegistration() = 0;                           ///< Slot 15.
    virtual ULong HostQuery16() = 0;                                 ///< Slot 16.
    virtual ULong HostQuery17() = 0;                                 ///< Slot 17.
    virtual bool CopyAttributesTo(const Handle& target) = 0;         ///< Slot 18.
    virtual int HostQuery19() = 0;                                   ///< Slot 19.
    virtual Handle GetContainer() = 0;                               ///< Slot 20.
    virtual Handle FindContainer() = 0;                              ///< Slot 21.
    virtual void SetContainer(Handle registry) = 0;                  ///< Slot 22.
    virtual Handle GetSelf() = 0;                                    ///< Slot 23.
    virtual void SetMark() = 0;                                      ///< Slot 24.
    virtual void ClearMark() = 0;                                    ///< Slot 25.
    virtual int GetMark() = 0;                                       ///< Slot 26.
    virtual int HostQuery27() = 0;                                   ///< Slot 27.
    virtual int HostQuery28() = 0;                                   ///< Slot 28.

protected:
    ~ISCO_RtsObject() = default;
};

/// [plug imp, forwarding to the host] The object's child list. Slots 3 to 17 forward to the
/// object's `ISCODescriptor`; results marked "host value" are of a type the host defines.
class ISCO_SCOContainer : public ISCO_Unknown {
public:
    /// Slot 3. Position of the first child; 0 when there is none.
    virtual ChildPos GetFirstChild() = 0;
    virtual ULong ContainerOp4() = 0;                             ///< Slot 4; host value.
    virtual ULong ContainerOp5(ULong value, Handle object) = 0;   ///< Slot 5.
    virtual ULong ContainerOp6(ULong value, Handle object) = 0;   ///< Slot 6.
    virtual ULong ContainerOp7(ULong value) = 0;                  ///< Slot 7.
    virtual ULong ContainerOp8(ULong value) = 0;                  ///< Slot 8.
    virtual ULong ContainerOp9(ULong value) = 0;                  ///< Slot 9.
    virtual ULong ContainerOp10() = 0;                            ///< Slot 10.
    virtual ULong ContainerOp11(ULong value, Handle object) = 0;  ///< Slot 11.
    virtual ULong ContainerOp12(ULong value) = 0;                 ///< Slot 12.
    /// Slot 13. The child at `*pos`; advances `*pos` (0 once the list is exhausted).
    virtual Handle GetNextChild(ChildPos* pos) = 0;
    virtual ULong ContainerOp14(ULong value) = 0;       ///< Slot 14.
    virtual ULong ContainerOp15(ULong a, ULong b) = 0;  ///< Slot 15.
    virtual ULong ContainerOp16() = 0;                  ///< Slot 16.
    /// Slot 17. The object whose child list holds this object (null when none).
    virtual Handle GetContainingObject() = 0;
    virtual void ContainerHook18(Handle object) = 0;               ///< Slot 18.
    virtual bool ContainerHook19(Handle object) = 0;               ///< Slot 19.
    virtual bool ContainerHook20(Handle object, ULong value) = 0;  ///< Slot 20.
    virtual void ContainerHook21(Handle object, ULong value) = 0;  ///< Slot 21.
    virtual bool ContainerHook22(Handle object, ULong value) = 0;  ///< Slot 22.
    virtual void ContainerHook23(Handle object, ULong value) = 0;  ///< Slot 23.
    virtual void ContainerHook24(int a, int b) = 0;                ///< Slot 24.

protected:
    ~ISCO_SCOContainer() = default;
};

template <>
inline constexpr ULong kInterfaceId<ISCO_SCOContainer> = kIdSCOContainer;

/// [host imp] The per-object host record handed to every constructor. It decides whether
/// interfaces may be handed out and carries the object's ordered child list.
class ISCODescriptor {
public:
    virtual ULong DescriptorOp0() = 0;                   ///< Slot 0.
    virtual ULong DescriptorOp1(RtsObject* object) = 0;  ///< Slot 1.
    /// Slot 2. First position of the child list, 0 when empty.
    virtual ChildPos GetFirstChild() = 0;
    virtual ULong DescriptorOp3() = 0;                                          ///< Slot 3.
    virtual ULong DescriptorOp4(RtsObject* object, ULong value, Handle h) = 0;  ///< Slot 4.
    virtual ULong DescriptorOp5(RtsObject* object, ULong value, Handle h) = 0;  ///< Slot 5.
    virtual ULong DescriptorOp6(ULong value) = 0;                               ///< Slot 6.
    virtual ULong DescriptorOp7(ULong value) = 0;                               ///< Slot 7.
    virtual ULong DescriptorOp8(RtsObject* object, ULong value) = 0;            ///< Slot 8.
    virtual ULong DescriptorOp9(RtsObject* object, ULong value, Handle h) = 0;  ///< Slot 9.
    virtual ULong DescriptorOp10(ULong value) = 0;                              ///< Slot 10.
    /// Slot 11. The child at `*pos`, advancing `*pos`.
    virtual Handle GetNextChild(ChildPos* pos) = 0;
    virtual ULong DescriptorOp12(ULong value) = 0;       ///< Slot 12.
    virtual ULong DescriptorOp13(ULong a, ULong b) = 0;  ///< Slot 13.
    /// Slot 14. The object whose child list holds this descriptor's object.
    virtual Handle GetContainingObject() = 0;
    virtual void Placeholder15() = 0;  ///< Slot 15.
    /// Slot 16. Read by `RtsObject::HostQuery16`.
    virtual int DescriptorQuery16() = 0;
    /// Slot 17. Non-zero: the object must not hand out interfaces now.
    virtual int DescriptorQuery17() = 0;

protected:
    ~ISCODescriptor() = default;
};
