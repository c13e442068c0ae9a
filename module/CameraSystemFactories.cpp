#include "CameraSystemFactories.h"

#include <new>

#include "framework/IClassStorage.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "path/SCOCameraSystemPath.h"
#include "waypoint/SCOCameraSystemWaypoint.h"

namespace {

constexpr int kPathVersion = 3;
constexpr int kIteratorVersion = 3;
constexpr int kWaypointVersion = 1;

/// The factory record is the class version alone. Loading accepts exactly `classVersion`; the
/// comparison uses the constant, not GetSCOVersion (both give the same number).
int serializeFactoryRecord(IClassStorage* storage, int classVersion) {
    if (storage->IsLoading()) {
        CSCOVersion stored;
        if (!stored.Serialize(storage)) return 0;
        return stored.GetVersion() == classVersion ? 1 : 0;
    }
    CSCOVersion version(classVersion);
    return version.Serialize(storage) ? 1 : 0;
}

const char* cameraGroup(ULong index) {
    static const char* const pSCOGroups[] = {"Camera", nullptr};
    return GroupAt(pSCOGroups, index);
}

/// Allocates and constructs; null when memory runs out. A throwing constructor releases the
/// memory and the exception passes on (what `new` does).
template <class T>
RtsObject* make(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor) {
    return new (std::nothrow) T(objectGuid, secondGuid, descriptor);
}

}  // namespace

SCOCameraSystemPathFactory::SCOCameraSystemPathFactory() { SetClassName("SCOCameraSystemPath"); }
int SCOCameraSystemPathFactory::Serialize(IClassStorage* storage) {
    return serializeFactoryRecord(storage, kPathVersion);
}
RtsObject* SCOCameraSystemPathFactory::New(const CGUID& o, const CGUID& s, ISCODescriptor* d) {
    return make<SCOCameraSystemPath>(o, s, d);
}
_GUID SCOCameraSystemPathFactory::GetClassGUID() const {
    return {0x4EFF3284, 0x62E4, 0x11D4, {0xA5, 0xBD, 0x00, 0x90, 0x27, 0xA2, 0x83, 0x63}};
}
CSCOVersion SCOCameraSystemPathFactory::GetSCOVersion() const { return CSCOVersion(kPathVersion); }
const char* SCOCameraSystemPathFactory::GetSCOGroup(ULong index) const { return cameraGroup(index); }

SCOCameraSystemIteratorFactory::SCOCameraSystemIteratorFactory() { SetClassName("SCOCameraSystemIterator"); }
int SCOCameraSystemIteratorFactory::Serialize(IClassStorage* storage) {
    return serializeFactoryRecord(storage, kIteratorVersion);
}
RtsObject* SCOCameraSystemIteratorFactory::New(const CGUID& o, const CGUID& s, ISCODescriptor* d) {
    return make<SCOCameraSystemIterator>(o, s, d);
}
_GUID SCOCameraSystemIteratorFactory::GetClassGUID() const {
    return {0x770FDB9A, 0x6938, 0x11D4, {0xA5, 0xBD, 0x00, 0x90, 0x27, 0xA2, 0x83, 0x63}};
}
CSCOVersion SCOCameraSystemIteratorFactory::GetSCOVersion() const { return CSCOVersion(kIteratorVersion); }
const char* SCOCameraSystemIteratorFactory::GetSCOGroup(ULong index) const { return cameraGroup(index); }

SCOCameraSystemWaypointFactory::SCOCameraSystemWaypointFactory() { SetClassName("SCOCameraSystemWaypoint"); }
int SCOCameraSystemWaypointFactory::Serialize(IClassStorage* storage) {
    return serializeFactoryRecord(storage, kWaypointVersion);
}
RtsObject* SCOCameraSystemWaypointFactory::New(const CGUID& o, const CGUID& s, ISCODescriptor* d) {
    return make<SCOCameraSystemWaypoint>(o, s, d);
}
_GUID SCOCameraSystemWaypointFactory::GetClassGUID() const {
    return {0x4EFF3285, 0x62E4, 0x11D4, {0xA5, 0xBD, 0x00, 0x90, 0x27, 0xA2, 0x83, 0x63}};
}
CSCOVersion SCOCameraSystemWaypointFactory::GetSCOVersion() const { return CSCOVersion(kWaypointVersion); }
const char* SCOCameraSystemWaypointFactory::GetSCOGroup(ULong index) const { return cameraGroup(index); }

// Constructed when the module is loaded, in this order, and destroyed in reverse at unload.
static SCOCameraSystemPathFactory pathFactory;
static SCOCameraSystemIteratorFactory iteratorFactory;
static SCOCameraSystemWaypointFactory waypointFactory;

RtsObjectFactory* const pObjectFactories[4] = {&pathFactory, &iteratorFactory, &waypointFactory, nullptr};
