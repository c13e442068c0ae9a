#pragma once
/// The engine side of the camera-system plug-in, reduced to what a camera flight needs: the
/// runtime (`IRTS`) with its object registry and activation queue, the per-object descriptor
/// that carries the child lists, the game camera, and a plain scene object to look at.
///
/// The plug-in reaches all of this through the interface tables of the SDK headers, slot by
/// slot; every class here implements one of those interfaces and nothing more.

#include <framework/CameraInterfaces.h>
#include <framework/IRTS.h>
#include <framework/RtsObject.h>
#include <framework/RtsObjectFactory.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace minimal {

/// Byte size of one attribute value of `type` (the codes of Attribute.h), 0 for an unknown code.
std::int32_t attributeSize(ULong type);

/// [host imp] The host record behind one object: its parent and its ordered child list. A path
/// walks its waypoints through it (GetFirstChild / GetNextChild), and a waypoint finds its path
/// as its containing object. A child position is the child's index + 1; 0 is the end.
class ObjectDescriptor final : public ISCODescriptor {
public:
    explicit ObjectDescriptor(const Handle& parent) : parent_(parent) {}

    ChildPos GetFirstChild() override { return children_.empty() ? 0 : 1; }
    Handle GetNextChild(ChildPos* pos) override;
    Handle GetContainingObject() override { return parent_; }
    /// 0: the object may hand out its interfaces at any time.
    int DescriptorQuery17() override { return 0; }
    int DescriptorQuery16() override { return 1; }

    // The rest of the record is never used by a flight; neutral answers.
    ULong DescriptorOp0() override { return 0; }
    ULong DescriptorOp1(RtsObject*) override { return 0; }
    ULong DescriptorOp3() override { return 0; }
    ULong DescriptorOp4(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp5(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp6(ULong) override { return 0; }
    ULong DescriptorOp7(ULong) override { return 0; }
    ULong DescriptorOp8(RtsObject*, ULong) override { return 0; }
    ULong DescriptorOp9(RtsObject*, ULong, Handle) override { return 0; }
    ULong DescriptorOp10(ULong) override { return 0; }
    ULong DescriptorOp12(ULong) override { return 0; }
    ULong DescriptorOp13(ULong, ULong) override { return 0; }
    void Placeholder15() override {}

    std::vector<Handle>& children() { return children_; }
    const Handle& parent() const { return parent_; }

private:
    Handle parent_;
    std::vector<Handle> children_;
};

/// [host imp] A plain scene object of the engine: a position and nothing else. The plug-in sees
/// it as an `RtsObject` (identifier 0) and reads its position with `GetObjectPos` when a
/// waypoint's "PointsTo" names it. Every other operation answers neutrally.
class SceneMarker final : public ISCO_RtsObject {
public:
    explicit SceneMarker(const _Point3<float>& position) { position_.Origin = position; }

    // ISCO_Unknown: only identifier 0, the object itself.
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong, Attribute*, char* className, bool) override;
    void ReleaseInterface() override {}

    _CCoordSystem<float>* GetObjectPos() override { return &position_; }
    void SetObjectPos(const _CCoordSystem<float>* pos) override { position_ = *pos; }

    int Serialize(IClassStorage*) override { return 1; }
    void Activate(Handle, ULong) override {}
    void Deactivate(Handle, ULong) override {}
    ULong Run(ULong) override { return 0; }
    void AfterLoad() override {}
    void HostNotify5() override {}
    void HostNotify6() override {}
    void MoveBy(float, float, float) override {}
    void RotateBy(float, float, float) override {}
    void GetLookupRef(ULong* out) override {
        if (out) *out = 0;
    }
    ULong LookupSelf() override { return 0; }
    bool IsPosValid() const override { return true; }
    bool IsPendingAfterLoad() override { return false; }
    void UpdateRegistration() override {}
    ULong HostQuery16() override { return 0; }
    ULong HostQuery17() override { return 0; }
    bool CopyAttributesTo(const Handle&) override { return false; }
    int HostQuery19() override { return 0; }
    Handle GetContainer() override { return Handle(); }
    Handle FindContainer() override { return Handle(); }
    void SetContainer(Handle) override {}
    Handle GetSelf() override { return Handle(); }
    void SetMark() override {}
    void ClearMark() override {}
    int GetMark() override { return 0; }
    int HostQuery27() override { return 0; }
    int HostQuery28() override { return 0; }

private:
    _CCoordSystem<float> position_;
};

class Runtime;

/// [host imp] The game camera (identifier 62). An iterator asks it to take it as its master
/// when activated and hands it back when deactivated; after every tick the camera reads its
/// master's eye through `ISCO_HasEye`.
class GameCamera final : public ISCO_CameraControl {
public:
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong, Attribute*, char* className, bool) override;
    void ReleaseInterface() override {}
    /// Accepts any object as its master (replacing the one before).
    bool SetMaster(const _GUID* master) override;
    /// Drops the master when `master` names it.
    void RemoveMaster(const _GUID* master) override;

    /// Reads eye 0 of the master, if it has one that answers `ISCO_HasEye`; otherwise keeps the
    /// last eye it read.
    void readEye(Runtime& runtime);
    const _CCoordSystem<float>& eye() const { return eye_; }
    float fov() const { return fov_; }

private:
    Handle master_;
    _CCoordSystem<float> eye_;  ///< identity at the origin until the first read
    float fov_ = 1.0f;
};

/// [host imp] The runtime the plug-in is handed with `SetIRTS`. It owns every object, names
/// each by a GUID made from a counter, resolves interfaces for the plug-in, queues the
/// activation requests of a tick and delivers them after it, and keeps the host clock.
class Runtime final : public IRTS {
public:
    Runtime() = default;
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    /// Creates an object of the factory's class as the last child of `parent` (null: top
    /// level). The object gets its GUID and its own descriptor, as in the engine's loader.
    /// Null when the factory makes none.
    RtsObject* create(RtsObjectFactory& factory, const std::string& name, const Handle& parent);
    /// Registers a host object (owned by the caller) at the top level.
    Handle addHostObject(ISCO_RtsObject& object, const std::string& name);
    /// Registers the game camera; from now on `GetCamera` names it.
    void setCamera(GameCamera& camera);

    /// The GUID of a registered object, or a null handle.
    Handle handleOf(const ISCO_RtsObject* object) const;
    /// The primary part (identifier 0) of a registered object, or null.
    ISCO_RtsObject* object(const Handle& handle);

    /// The clock: the time of the tick being run; requests are stamped with it.
    void setNow(ULong time) { now_ = time; }
    /// Calls the object's `Activate` / `Deactivate` at the current time (sender: none).
    void activate(const Handle& object);
    void deactivate(const Handle& object);
    /// Whether the object was activated and not deactivated since.
    bool isActive(const Handle& object) const;
    /// Delivers the requests queued by `ActivateObject` / `DeactivateObject`, oldest first.
    void deliverRequests();

    // IRTS: the slots the plug-in calls. The placeholders of IRTS.h answer the rest.
    Handle GetParent(Handle object) override;
    ULong LookupObject(const CGUID& object) override;
    bool QueryObjectInterface(Handle object, ULong id, void** out) override;
    void ReleaseObject(RtsObject* object) override;
    void ActivateObject(Handle sender, Handle object, int flag1, int flag2) override;
    void DeactivateObject(Handle sender, Handle object, int flag) override;
    CGUID GetCamera() override { return camera_; }
    void Message(int level, const char* location, const char* text, ...) override;
    IEditor* GetEditor() override { return &editor_; }
    ITypeRegistry* GetTypeRegistry() override { return &types_; }

private:
    struct Entry {
        Handle guid;
        std::string name;
        ISCO_Unknown* unknown = nullptr;     ///< where QueryInterface is asked
        ISCO_RtsObject* object = nullptr;    ///< primary part; null for the camera
        RtsObject* pluginObject = nullptr;   ///< made by a plug-in factory: destroyed by us
        std::unique_ptr<ObjectDescriptor> descriptor;
        bool active = false;
    };
    struct Request {
        bool activate;
        Handle object;
    };
    /// The editor's only slot the plug-in calls: an attribute of a marked object changed. This
    /// host has no editor, and marks no object, so it is never called.
    struct NoEditor final : IEditor {
        void AttributeChanged(ULong, const char*) override {}
    };
    struct TypeSizes final : ITypeRegistry {
        bool GetTypeInfo(ULong type, void*, std::int32_t* size, void*, void*) override;
    };

    Entry& add(const std::string& name, const Handle& parent);
    Entry* find(const CGUID& guid);
    const Entry* find(const CGUID& guid) const;

    std::vector<std::unique_ptr<Entry>> entries_;  ///< in order of creation
    std::vector<Request> requests_;
    Handle camera_;
    ULong now_ = 0;
    NoEditor editor_;
    TypeSizes types_;
};

}  // namespace minimal
