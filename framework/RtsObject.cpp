#include "RtsObject.h"

#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "EditorInterfaces.h"
#include "IClassStorage.h"
#include "ModuleRuntime.h"

CVar<float> RtsObject::AngleStep{static_cast<float>(3.141592653589793 / 32.0)};
CVar<float> RtsObject::SecondStep{16.0f};

namespace {

/// Whether `object` answers interface `id` (asked with a null out-pointer, so nothing is handed
/// out and the reference count stays).
bool answers(RtsObject* object, ULong id) { return static_cast<ISCO_RtsObject*>(object)->QueryInterface(id, nullptr); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

RtsObject::RtsObject(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor)
    : SecondGuid(secondGuid), Self(objectGuid), Descriptor(descriptor) {}

RtsObject::RtsObject(const RtsObject& other) = default;
RtsObject& RtsObject::operator=(const RtsObject& other) = default;

RtsObject::~RtsObject() = default;

// ---------------------------------------------------------------------------------------------
// Interface discovery

bool RtsObject::DescriptorRefuses(void** out) {
    const int refused = Descriptor->DescriptorQuery17();
    if (refused != 0 && out) {
        *out = nullptr;
        return true;
    }
    return false;
}

bool RtsObject::HandOut(void* part, void** out) {
    if (out) {
        *out = part;
        ++RefCount;
    }
    return true;
}

bool RtsObject::BaseQueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    switch (id) {
        case kIdRtsObject:
            return HandOut(static_cast<RtsObject*>(this), out);
        case kIdSCOContainer:
            return HandOut(static_cast<ISCO_SCOContainer*>(this), out);
        default:
            if (out) *out = nullptr;
            return false;
    }
}

void RtsObject::BaseReleaseInterface() { pIRTS->ReleaseObject(this); }

// ---------------------------------------------------------------------------------------------
// The base record: version 2, second GUID, position, container, then Mark (version 2 and later).

int RtsObject::Serialize(IClassStorage* storage) {
    const bool loading = storage->IsLoading() != 0;
    CSCOVersion version(2);
    if (!version.Serialize(storage)) return 0;
    if (!SecondGuid.Serialize(storage)) return 0;
    CObjectPos position;
    if (!loading) position = CObjectPos(ObjectPos);
    if (!position.Serialize(storage)) return 0;
    if (loading) ObjectPos = position;
    if (!Container.Serialize(storage)) return 0;
    if (loading && version.GetVersion() <= 1) return 1;
    return Mark.Serialize(storage);
}

// ---------------------------------------------------------------------------------------------
// Hooks with fixed answers

void RtsObject::Activate(Handle, ULong) {}
void RtsObject::Deactivate(Handle, ULong) {}
ULong RtsObject::Run(ULong) { return 0; }
void RtsObject::HostNotify5() {}
void RtsObject::HostNotify6() {}
bool RtsObject::IsPosValid() const { return true; }
bool RtsObject::IsPendingAfterLoad() { return PendingAfterLoad; }
ULong RtsObject::HostQuery17() { return Setting1.Value; }
int RtsObject::HostQuery19() { return 0; }
int RtsObject::HostQuery27() { return 0; }
int RtsObject::HostQuery28() { return 0; }
ULong RtsObject::HostQuery32() { return 10000; }
Handle RtsObject::GetContainer() { return Container; }
Handle RtsObject::GetSelf() { return Self; }
void RtsObject::SetMark() { Mark.Value = 1; }
void RtsObject::ClearMark() { Mark.Value = 0; }
int RtsObject::GetMark() { return Mark.Value; }

ULong RtsObject::HostQuery16() {
    if (Setting2.Value == 0) return 1000;
    if (!Descriptor || Descriptor->DescriptorQuery16() == 0) return 0;
    return answers(this, kIdBoundingBox) ? 0 : 1000;
}

// ---------------------------------------------------------------------------------------------
// Position

void RtsObject::GetLookupRef(ULong* out) {
    if (out) *out = LookupSelf();
}

ULong RtsObject::LookupSelf() { return pIRTS->LookupObject(Self); }

void RtsObject::SetObjectPos(const _CCoordSystem<float>* pos) { ObjectPos = *pos; }

_CCoordSystem<float>* RtsObject::GetObjectPos() { return &ObjectPos; }

void RtsObject::MoveBy(float dx, float dy, float dz) {
    ObjectPos.Translate({dx, dy, dz});
    SetObjectPos(&ObjectPos);
}

void RtsObject::RotateBy(float a, float b, float c) {
    // Step counts in units of AngleStep; each product is formed in float and passed as double.
    const float k = AngleStep.Value;
    const float ka = k * a, kb = k * b, kc = k * c;
    ObjectPos.RotateZ(static_cast<double>(ka));
    ObjectPos.Orientation *= _CMatrix3<float>::RotationX(static_cast<double>(kb));
    ObjectPos.Orientation *= _CMatrix3<float>::RotationZ(static_cast<double>(kc));
    SetObjectPos(&ObjectPos);
}

// ---------------------------------------------------------------------------------------------
// Registration with the bounds registry (identifier 7). A step whose registry does not resolve
// does nothing; only objects with a bounding box (identifier 5) register.

void RtsObject::AfterLoad() {
    CInterfacePtr<ISCO_BoundsRegistry> registry(Container);
    if (registry && answers(this, kIdBoundingBox)) registry->RegisterObject(Self);
    PendingAfterLoad = false;
}

void RtsObject::UpdateRegistration() {
    CInterfacePtr<ISCO_BoundsRegistry> registry(Container);
    if (registry && answers(this, kIdBoundingBox)) registry->UpdateObject(Self);
}

void RtsObject::SetContainer(Handle registry) {
    if (registry == Container) return;
    {
        CInterfacePtr<ISCO_BoundsRegistry> old(Container);
        if (old && answers(this, kIdBoundingBox)) old->UnregisterObject(Self);
    }
    Container = registry;
    if (!PendingAfterLoad) {
        CInterfacePtr<ISCO_BoundsRegistry> now(Container);
        if (now && answers(this, kIdBoundingBox)) now->RegisterObject(Self);
    }
}

Handle RtsObject::FindContainer() {
    Handle h = Self;
    while (!h.IsNull() && !h.GetInterface(kIdBoundsRegistry, nullptr)) h = h.GetParent();
    return h;
}

// ---------------------------------------------------------------------------------------------
// Attributes

bool RtsObject::BaseGetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) {
    const Attribute table[] = {
        MakeAttribute("ObjectPos", kTypeObjectPos, true, true, true, &GetObjectPosX, &SetObjectPosX),
        Attribute{},
    };
    const ULong count = static_cast<ULong>(std::size(table) - 1);
    if (className) std::strcpy(className, "RtsObject");
    if (index < count) {
        *attr = table[index];
        return true;
    }
    if (!includeParents) return false;
    if (className) className[0] = '\0';
    *attr = table[count];
    return false;
}

bool RtsObject::DescribeAttribute(const Attribute* table, ULong count, const char* className, ULong index,
                                  Attribute* attr, char* classNameOut, bool includeParents) {
    if (classNameOut) std::strcpy(classNameOut, className);
    if (index < count) {
        *attr = table[index];
        return true;
    }
    if (!includeParents) return false;
    if (BaseGetAttributeInfo(index - count, attr, classNameOut, true)) return true;
    *attr = Attribute{};
    return false;
}

bool RtsObject::GetParentAttr(ULong, Attribute*, char* className) {
    if (className) className[0] = '\0';
    return false;
}

// Origin first, then the matrix row by row: the attribute's layout, not the record's.
bool RtsObject::GetPos(void* value) {
    PackObjectPos(*GetObjectPos(), value);
    return true;
}

bool RtsObject::SetPos(const void* value) {
    const _CCoordSystem<float> position = UnpackObjectPos(value);
    SetObjectPos(&position);
    return true;
}

bool RtsObject::GetObjectPosX(RtsObject* object, void* value) { return object->GetPos(value); }

bool RtsObject::SetObjectPosX(RtsObject* object, void* value) {
    const bool result = object->SetPos(value);
    if (object->GetMark() != 0 && !object->IsPendingAfterLoad())
        pIRTS->GetEditor()->AttributeChanged(object->LookupSelf(), "ObjectPos");
    return result;
}

bool RtsObject::CopyAttributesTo(const Handle& target) {
    CInterfacePtr<RtsObject> other(target);
    if (!other) return false;
    Attribute record{};
    for (ULong index = 0; BaseGetAttributeInfo(index, &record, nullptr, false); ++index) {
        std::int32_t size = 0;
        if (!pIRTS->GetTypeRegistry()->GetTypeInfo(record.Type, nullptr, &size, nullptr, nullptr)) continue;
        // Signed 32-bit product, formed without overflow traps.
        const auto bytes = static_cast<std::int32_t>(record.Count * static_cast<ULong>(size));
        if (bytes <= 0) continue;
        // The size comes from the host; a buffer that cannot be had skips this attribute only.
        std::vector<unsigned char> buffer;
        try {
            buffer.resize(static_cast<std::size_t>(bytes));
        } catch (const std::bad_alloc&) {
            continue;
        }
        record.Get(this, buffer.data());
        record.Set(other.get(), buffer.data());
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// ISCO_SCOContainer: the first three go to the object's own ISCO_Unknown operations, slots 3 to
// 17 to the descriptor (the object pointer inserted where the host expects it).

bool RtsObjectContainer::QueryInterface(ULong id, void** out) {
    return static_cast<ISCO_RtsObject*>(Owner())->QueryInterface(id, out);
}
bool RtsObjectContainer::GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) {
    return static_cast<ISCO_RtsObject*>(Owner())->GetAttributeInfo(index, attr, className, includeParents);
}
void RtsObjectContainer::ReleaseInterface() { static_cast<ISCO_RtsObject*>(Owner())->ReleaseInterface(); }

ChildPos RtsObjectContainer::GetFirstChild() { return Owner()->Descriptor->GetFirstChild(); }
ULong RtsObjectContainer::ContainerOp4() { return Owner()->Descriptor->DescriptorOp3(); }
ULong RtsObjectContainer::ContainerOp5(ULong value, Handle object) {
    return Owner()->Descriptor->DescriptorOp4(Owner(), value, object);
}
ULong RtsObjectContainer::ContainerOp6(ULong value, Handle object) {
    return Owner()->Descriptor->DescriptorOp5(Owner(), value, object);
}
ULong RtsObjectContainer::ContainerOp7(ULong value) { return Owner()->Descriptor->DescriptorOp6(value); }
ULong RtsObjectContainer::ContainerOp8(ULong value) { return Owner()->Descriptor->DescriptorOp7(value); }
ULong RtsObjectContainer::ContainerOp9(ULong value) { return Owner()->Descriptor->DescriptorOp8(Owner(), value); }
ULong RtsObjectContainer::ContainerOp10() { return Owner()->Descriptor->DescriptorOp1(Owner()); }
ULong RtsObjectContainer::ContainerOp11(ULong value, Handle object) {
    return Owner()->Descriptor->DescriptorOp9(Owner(), value, object);
}
ULong RtsObjectContainer::ContainerOp12(ULong value) { return Owner()->Descriptor->DescriptorOp10(value); }
ULong RtsObjectContainer::ContainerOp14(ULong value) { return Owner()->Descriptor->DescriptorOp12(value); }
ULong RtsObjectContainer::ContainerOp15(ULong a, ULong b) { return Owner()->Descriptor->DescriptorOp13(a, b); }
ULong RtsObjectContainer::ContainerOp16() { return Owner()->Descriptor->DescriptorOp0(); }
Handle RtsObjectContainer::GetContainingObject() { return Owner()->Descriptor->GetContainingObject(); }
