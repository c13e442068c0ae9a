#include "host/HostObjects.h"

namespace host {

void HostObject::Activate(Handle, ULong time) { events_.push_back({ActivationKind::Activate, time}); }
void HostObject::Deactivate(Handle, ULong time) { events_.push_back({ActivationKind::Deactivate, time}); }

bool BoundsRegistry::RegisterObject(Handle object) {
    calls_.push_back({Op::Register, object});
    return true;
}

bool BoundsRegistry::UnregisterObject(Handle object) {
    calls_.push_back({Op::Unregister, object});
    return true;
}

bool BoundsRegistry::UpdateObject(Handle object) {
    calls_.push_back({Op::Update, object});
    return true;
}

bool BoundsRegistry::QueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    if (id == kIdBoundsRegistry) return HandOut(static_cast<ISCO_BoundsRegistry*>(this), out);
    return BaseQueryInterface(id, out);
}

bool GameCamera::SetMaster(const _GUID* master) {
    const Handle who = master ? Handle(*master) : Handle();
    const bool accepted = accepts_ && !who.IsNull();
    calls_.push_back({Op::SetMaster, who, accepted});
    if (accepted) master_ = who;
    return accepted;
}

void GameCamera::RemoveMaster(const _GUID* master) {
    const Handle who = master ? Handle(*master) : Handle();
    calls_.push_back({Op::RemoveMaster, who, false});
    if (!who.IsNull() && who == master_) master_ = Handle();
}

bool GameCamera::QueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    if (id == kIdCameraControl) return HandOut(static_cast<ISCO_CameraControl*>(this), out);
    return BaseQueryInterface(id, out);
}

void GameCamera::readEye() {
    if (master_.IsNull()) return;
    CInterfacePtr<ISCO_HasEye> master(master_);
    if (!master) return;
    float fov = fov_;
    eye_ = master->GetEyeCoordSystem(0, fov);
    fov_ = fov;
    ++eyeReads_;
}

}  // namespace host
