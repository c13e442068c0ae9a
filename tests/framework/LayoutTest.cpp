// Slot positions of every named operation in the tables shared with the host. An independent
// host built from the slot tables calls by position, so these are contracts.
#include <gtest/gtest.h>

#include "framework/CameraInterfaces.h"
#include "framework/EditorInterfaces.h"
#include "framework/IClassStorage.h"
#include "framework/IRTS.h"
#include "framework/RenderEngine.h"
#include "framework/RtsObject.h"
#include "framework/RtsObjectFactory.h"
#include "tests/support/Slots.h"

using namespace testing_support;

namespace {

struct Slot {
    const char* name;
    long actual, expected;
};
#define SLOT(pmf, n) \
    Slot { #pmf, slotOf(pmf), n }

/// Checks each operation's slot; in a class table with a virtual destructor at `destructorSlot`,
/// the destructor takes two entries, which shifts the later slots by one.
constexpr long kNone = 1000;
void expectSlots(long destructorSlot, std::initializer_list<Slot> slots) {
    for (const Slot& s : slots) EXPECT_EQ(s.actual, entryOf(s.expected, destructorSlot)) << s.name;
}

}  // namespace

TEST(Layout, ClassTables) {
    // RtsObject's primary table: the destructor is slot 29.
    expectSlots(
        29, {SLOT(&RtsObject::Serialize, 0), SLOT(&RtsObject::Activate, 1), SLOT(&RtsObject::Run, 3),
             SLOT(&RtsObject::AfterLoad, 4), SLOT(&RtsObject::MoveBy, 7), SLOT(&RtsObject::RotateBy, 8),
             SLOT(&RtsObject::LookupSelf, 10), SLOT(&RtsObject::SetObjectPos, 11), SLOT(&RtsObject::GetObjectPos, 12),
             SLOT(&RtsObject::IsPosValid, 13), SLOT(&RtsObject::IsPendingAfterLoad, 14),
             SLOT(&RtsObject::CopyAttributesTo, 18), SLOT(&RtsObject::SetContainer, 22), SLOT(&RtsObject::GetSelf, 23),
             SLOT(&RtsObject::GetMark, 26), SLOT(&RtsObject::HostQuery28, 28),
             // After the destructor.
             SLOT(&RtsObject::SetPos, 30), SLOT(&RtsObject::GetPos, 31), SLOT(&RtsObject::HostQuery32, 32),
             SLOT(&RtsObject::GetParentAttr, 33)});
    // The factory's: slot 1 is the destructor.
    expectSlots(1, {SLOT(&RtsObjectFactory::Serialize, 0), SLOT(&RtsObjectFactory::New, 2),
                    SLOT(&RtsObjectFactory::Reserved, 3), SLOT(&RtsObjectFactory::GetClassGUID, 4),
                    SLOT(&RtsObjectFactory::GetSCOVersion, 5), SLOT(&RtsObjectFactory::GetSCOGroup, 6)});

    // Three tables before the fields: primary, ISCO_Unknown, ISCO_SCOContainer.
    PlainRtsObject object(CGUID{}, CGUID{}, nullptr);
    const auto* base = reinterpret_cast<const char*>(static_cast<RtsObject*>(&object));
    EXPECT_EQ(reinterpret_cast<const char*>(&object.ObjectPos) - base, 3 * static_cast<long>(sizeof(void*)));
}

TEST(Layout, InterfaceTables) {
    expectSlots(
        kNone,
        {SLOT(&ISCO_Unknown::QueryInterface, 0), SLOT(&ISCO_Unknown::GetAttributeInfo, 1),
         SLOT(&ISCO_Unknown::ReleaseInterface, 2), SLOT(&ISCO_SCOContainer::GetFirstChild, 3),
         SLOT(&ISCO_SCOContainer::ContainerOp10, 10), SLOT(&ISCO_SCOContainer::GetNextChild, 13),
         SLOT(&ISCO_SCOContainer::GetContainingObject, 17), SLOT(&ISCO_SCOContainer::ContainerHook19, 19),
         SLOT(&ISCO_SCOContainer::ContainerHook24, 24), SLOT(&ISCODescriptor::GetFirstChild, 2),
         SLOT(&ISCODescriptor::GetNextChild, 11), SLOT(&ISCODescriptor::GetContainingObject, 14),
         SLOT(&ISCODescriptor::DescriptorQuery16, 16), SLOT(&ISCODescriptor::DescriptorQuery17, 17),
         // The host's.
         SLOT(&IRTS::GetParent, 18), SLOT(&IRTS::LookupObject, 19), SLOT(&IRTS::QueryObjectInterface, 23),
         SLOT(&IRTS::ReleaseObject, 24), SLOT(&IRTS::ActivateObject, 32), SLOT(&IRTS::DeactivateObject, 33),
         SLOT(&IRTS::GetCamera, 39), SLOT(&IRTS::Message, 48), SLOT(&IRTS::GetEditor, 54),
         SLOT(&IRTS::GetTypeRegistry, 56), SLOT(&IClassStorage::Read, 2), SLOT(&IClassStorage::Write, 3),
         SLOT(&IClassStorage::IsLoading, 4), SLOT(&IClassStorage::StoreObject, 9), SLOT(&IClassStorage::StoreFloat, 12),
         SLOT(&IClassStorage::StoreBool, 14), SLOT(&IClassStorage::StoreULong, 16), SLOT(&IClassStorage::StoreLong, 20),
         SLOT(&IClassStorage::LoadObject, 22), SLOT(&IClassStorage::LoadFloat, 25), SLOT(&IClassStorage::LoadBool, 27),
         SLOT(&IClassStorage::LoadULong, 29), SLOT(&IClassStorage::LoadLong, 32),
         SLOT(&IRenderEngineUtility::DrawLine, 40), SLOT(&IRenderEngineUtility::DrawArrow, 42),
         SLOT(&IEditor::AttributeChanged, 13), SLOT(&ITypeRegistry::GetTypeInfo, 0),
         SLOT(&ISCO_BoundsRegistry::RegisterObject, 9), SLOT(&ISCO_BoundsRegistry::UnregisterObject, 10),
         SLOT(&ISCO_BoundsRegistry::UpdateObject, 11), SLOT(&ISCO_CameraControl::SetMaster, 3),
         SLOT(&ISCO_CameraControl::RemoveMaster, 5),
         // The camera system's own.
         SLOT(&ISCO_CSWayPoint::GetTime2Next, 3), SLOT(&ISCO_CSWayPoint::IsOn, 8),
         SLOT(&ISCO_CSWayPoint::CalcOrientationAtDistance, 10), SLOT(&ISCO_CSWayPoint::SetData, 12),
         SLOT(&ISCO_CSWayPoint::Refresh, 14), SLOT(&ISCO_CSPath::RefreshCubicData, 3),
         SLOT(&ISCO_CSPath::CalcPosAtTimeSum, 5), SLOT(&ISCO_Master::AquireControl, 3),
         SLOT(&ISCO_HasEye::GetEyeCoordSystem, 3), SLOT(&ISCO_HasEye::GetEyeCount, 4),
         SLOT(&ISCO_BoundingBox::GetBBox, 3), SLOT(&ISCO_BoundingBox::PotentiallyVisible, 5),
         SLOT(&ISCO_GCDrawSelf::Draw3D, 3), SLOT(&ISCO_ScenewrightFeedback::OnAttributChanged, 7),
         SLOT(&ISCO_ScenewrightFeedback::GetDefaultScriptName, 10)});
}
