#pragma once
/// The host's own scene objects: plain objects, bounds registries and the game camera. They are
/// `RtsObject`s of the framework, so the plug-in reaches them exactly like its own objects.

#include <vector>

#include "framework/CameraInterfaces.h"
#include "framework/EditorInterfaces.h"
#include "framework/RtsObject.h"
#include "host/Runtime.h"

namespace host {

/// A plain object: a position and nothing else. Used as a look-at target and as an object a
/// flight activates; it records its activations.
class HostObject final : public RtsObject {
public:
    using RtsObject::RtsObject;

    /// One `Activate` or `Deactivate` received.
    struct Event {
        ActivationKind kind;
        ULong time;
    };

    void Activate(Handle sender, ULong time) override;
    void Deactivate(Handle sender, ULong time) override;
    bool QueryInterface(ULong id, void** out) override { return BaseQueryInterface(id, out); }
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    const std::vector<Event>& events() const { return events_; }

private:
    std::vector<Event> events_;
};

/// A bounds registry (identifier 7): records the registration calls it receives.
class BoundsRegistry final : public RtsObject, public ISCO_BoundsRegistry {
public:
    using RtsObject::RtsObject;

    enum class Op { Register, Unregister, Update };
    struct Call {
        Op op;
        Handle object;
    };

    bool RegisterObject(Handle object) override;
    bool UnregisterObject(Handle object) override;
    bool UpdateObject(Handle object) override;
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    const std::vector<Call>& calls() const { return calls_; }

private:
    std::vector<Call> calls_;
};

/// The game camera (identifier 62). It takes a controller (its master) when asked, unless told
/// to refuse, and while it has one it reads its eye through the master's `ISCO_HasEye`.
class GameCamera final : public RtsObject, public ISCO_CameraControl {
public:
    using RtsObject::RtsObject;

    enum class Op { SetMaster, RemoveMaster };
    struct Call {
        Op op;
        Handle master;
        bool accepted;  ///< SetMaster's answer (false for RemoveMaster)
    };

    /// Accepts `master` (replacing any earlier one) unless set to refuse.
    bool SetMaster(const _GUID* master) override;
    /// Drops the master when `master` names it.
    void RemoveMaster(const _GUID* master) override;
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override {
        return BaseGetAttributeInfo(index, attr, className, includeParents);
    }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    void setAccepts(bool accepts) { accepts_ = accepts; }
    /// Forgets the master and the last eye, as a camera that was just made (the call log stays).
    void reset() {
        master_ = Handle();
        eye_ = _CCoordSystem<float>();
        fov_ = 1.0f;
    }
    bool hasMaster() const { return !master_.IsNull(); }
    const Handle& master() const { return master_; }
    /// Reads eye 0 of the master (frame and field of view); nothing without a master or when
    /// the master has no `ISCO_HasEye`.
    void readEye();
    /// The frame and field of view of the last read (identity and 1.0 before the first).
    const _CCoordSystem<float>& eye() const { return eye_; }
    float fov() const { return fov_; }
    std::size_t eyeReads() const { return eyeReads_; }
    const std::vector<Call>& calls() const { return calls_; }

private:
    bool accepts_ = true;
    Handle master_;
    _CCoordSystem<float> eye_;
    float fov_ = 1.0f;
    std::size_t eyeReads_ = 0;
    std::vector<Call> calls_;
};

}  // namespace host
