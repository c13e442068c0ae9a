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

using testing_support::entryOf;
using testing_support::slotOf;

namespace {

/// Primary table of RtsObject: the destructor is slot 29.
long primary(long slot) { return entryOf(slot, 29); }

}  // namespace

TEST(Layout, RtsObjectPrimaryTable) {
    EXPECT_EQ(slotOf(&RtsObject::Serialize), 0);
    EXPECT_EQ(slotOf(&RtsObject::Activate), 1);
    EXPECT_EQ(slotOf(&RtsObject::Run), 3);
    EXPECT_EQ(slotOf(&RtsObject::AfterLoad), 4);
    EXPECT_EQ(slotOf(&RtsObject::MoveBy), 7);
    EXPECT_EQ(slotOf(&RtsObject::RotateBy), 8);
    EXPECT_EQ(slotOf(&RtsObject::LookupSelf), 10);
    EXPECT_EQ(slotOf(&RtsObject::SetObjectPos), 11);
    EXPECT_EQ(slotOf(&RtsObject::GetObjectPos), 12);
    EXPECT_EQ(slotOf(&RtsObject::IsPosValid), 13);
    EXPECT_EQ(slotOf(&RtsObject::IsPendingAfterLoad), 14);
    EXPECT_EQ(slotOf(&RtsObject::CopyAttributesTo), 18);
    EXPECT_EQ(slotOf(&RtsObject::SetContainer), 22);
    EXPECT_EQ(slotOf(&RtsObject::GetSelf), 23);
    EXPECT_EQ(slotOf(&RtsObject::GetMark), 26);
    EXPECT_EQ(slotOf(&RtsObject::HostQuery28), 28);
    EXPECT_EQ(slotOf(&RtsObject::SetPos), primary(30));
    EXPECT_EQ(slotOf(&RtsObject::GetPos), primary(31));
    EXPECT_EQ(slotOf(&RtsObject::HostQuery32), primary(32));
    EXPECT_EQ(slotOf(&RtsObject::GetParentAttr), primary(33));
}

TEST(Layout, ObjectPartsAndUnknown) {
    EXPECT_EQ(slotOf(&ISCO_Unknown::QueryInterface), 0);
    EXPECT_EQ(slotOf(&ISCO_Unknown::GetAttributeInfo), 1);
    EXPECT_EQ(slotOf(&ISCO_Unknown::ReleaseInterface), 2);
    EXPECT_EQ(slotOf(&ISCO_SCOContainer::GetFirstChild), 3);
    EXPECT_EQ(slotOf(&ISCO_SCOContainer::ContainerOp10), 10);
    EXPECT_EQ(slotOf(&ISCO_SCOContainer::GetNextChild), 13);
    EXPECT_EQ(slotOf(&ISCO_SCOContainer::GetContainingObject), 17);
    EXPECT_EQ(slotOf(&ISCO_SCOContainer::ContainerHook24), 24);
    EXPECT_EQ(slotOf(&ISCODescriptor::GetFirstChild), 2);
    EXPECT_EQ(slotOf(&ISCODescriptor::GetNextChild), 11);
    EXPECT_EQ(slotOf(&ISCODescriptor::GetContainingObject), 14);
    EXPECT_EQ(slotOf(&ISCODescriptor::DescriptorQuery16), 16);
    EXPECT_EQ(slotOf(&ISCODescriptor::DescriptorQuery17), 17);

    // Three tables before the fields: primary, ISCO_Unknown, ISCO_SCOContainer.
    PlainRtsObject object(CGUID{}, CGUID{}, nullptr);
    const auto* base = reinterpret_cast<const char*>(static_cast<RtsObject*>(&object));
    EXPECT_EQ(reinterpret_cast<const char*>(&object.ObjectPos) - base, 3 * static_cast<long>(sizeof(void*)));
}

TEST(Layout, HostTables) {
    EXPECT_EQ(slotOf(&IRTS::GetParent), 18);
    EXPECT_EQ(slotOf(&IRTS::LookupObject), 19);
    EXPECT_EQ(slotOf(&IRTS::QueryObjectInterface), 23);
    EXPECT_EQ(slotOf(&IRTS::ReleaseObject), 24);
    EXPECT_EQ(slotOf(&IRTS::ActivateObject), 32);
    EXPECT_EQ(slotOf(&IRTS::DeactivateObject), 33);
    EXPECT_EQ(slotOf(&IRTS::GetCamera), 39);
    EXPECT_EQ(slotOf(&IRTS::Message), 48);
    EXPECT_EQ(slotOf(&IRTS::GetEditor), 54);
    EXPECT_EQ(slotOf(&IRTS::GetTypeRegistry), 56);

    EXPECT_EQ(slotOf(&IClassStorage::Read), 2);
    EXPECT_EQ(slotOf(&IClassStorage::Write), 3);
    EXPECT_EQ(slotOf(&IClassStorage::IsLoading), 4);
    EXPECT_EQ(slotOf(&IClassStorage::StoreObject), 9);
    EXPECT_EQ(slotOf(&IClassStorage::StoreFloat), 12);
    EXPECT_EQ(slotOf(&IClassStorage::StoreBool), 14);
    EXPECT_EQ(slotOf(&IClassStorage::StoreULong), 16);
    EXPECT_EQ(slotOf(&IClassStorage::StoreLong), 20);
    EXPECT_EQ(slotOf(&IClassStorage::LoadObject), 22);
    EXPECT_EQ(slotOf(&IClassStorage::LoadFloat), 25);
    EXPECT_EQ(slotOf(&IClassStorage::LoadBool), 27);
    EXPECT_EQ(slotOf(&IClassStorage::LoadULong), 29);
    EXPECT_EQ(slotOf(&IClassStorage::LoadLong), 32);

    EXPECT_EQ(slotOf(&IRenderEngineUtility::DrawLine), 40);
    EXPECT_EQ(slotOf(&IRenderEngineUtility::DrawArrow), 42);
    EXPECT_EQ(slotOf(&IEditor::AttributeChanged), 13);
    EXPECT_EQ(slotOf(&ITypeRegistry::GetTypeInfo), 0);
    EXPECT_EQ(slotOf(&ISCO_BoundsRegistry::RegisterObject), 9);
    EXPECT_EQ(slotOf(&ISCO_BoundsRegistry::UnregisterObject), 10);
    EXPECT_EQ(slotOf(&ISCO_BoundsRegistry::UpdateObject), 11);
    EXPECT_EQ(slotOf(&ISCO_CameraControl::SetMaster), 3);
    EXPECT_EQ(slotOf(&ISCO_CameraControl::RemoveMaster), 5);
}

TEST(Layout, CameraInterfaces) {
    EXPECT_EQ(slotOf(&ISCO_CSWayPoint::GetTime2Next), 3);
    EXPECT_EQ(slotOf(&ISCO_CSWayPoint::IsOn), 8);
    EXPECT_EQ(slotOf(&ISCO_CSWayPoint::CalcOrientationAtDistance), 10);
    EXPECT_EQ(slotOf(&ISCO_CSWayPoint::SetData), 12);
    EXPECT_EQ(slotOf(&ISCO_CSWayPoint::Refresh), 14);
    EXPECT_EQ(slotOf(&ISCO_CSPath::RefreshCubicData), 3);
    EXPECT_EQ(slotOf(&ISCO_CSPath::CalcPosAtTimeSum), 5);
    EXPECT_EQ(slotOf(&ISCO_Master::AquireControl), 3);
    EXPECT_EQ(slotOf(&ISCO_HasEye::GetEyeCoordSystem), 3);
    EXPECT_EQ(slotOf(&ISCO_HasEye::GetEyeCount), 4);
    EXPECT_EQ(slotOf(&ISCO_BoundingBox::GetBBox), 3);
    EXPECT_EQ(slotOf(&ISCO_BoundingBox::PotentiallyVisible), 5);
    EXPECT_EQ(slotOf(&ISCO_GCDrawSelf::Draw3D), 3);
    EXPECT_EQ(slotOf(&ISCO_ScenewrightFeedback::OnAttributChanged), 7);
    EXPECT_EQ(slotOf(&ISCO_ScenewrightFeedback::GetDefaultScriptName), 10);
}

TEST(Layout, FactoryTable) {
    // Slot 1 is the destructor (two entries).
    EXPECT_EQ(slotOf(&RtsObjectFactory::Serialize), 0);
    EXPECT_EQ(slotOf(&RtsObjectFactory::New), entryOf(2, 1));
    EXPECT_EQ(slotOf(&RtsObjectFactory::Reserved), entryOf(3, 1));
    EXPECT_EQ(slotOf(&RtsObjectFactory::GetClassGUID), entryOf(4, 1));
    EXPECT_EQ(slotOf(&RtsObjectFactory::GetSCOVersion), entryOf(5, 1));
    EXPECT_EQ(slotOf(&RtsObjectFactory::GetSCOGroup), entryOf(6, 1));
}
