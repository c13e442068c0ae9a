#pragma once
/// The module's three factories, all in the SCO group "Camera".

#include "framework/RtsObjectFactory.h"

/// Creates `SCOCameraSystemPath`; class version 3.
class SCOCameraSystemPathFactory : public RtsObjectFactory {
public:
    SCOCameraSystemPathFactory();
    int Serialize(IClassStorage* storage) override;
    RtsObject* New(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor) override;
    _GUID GetClassGUID() const override;
    CSCOVersion GetSCOVersion() const override;
    const char* GetSCOGroup(ULong index) const override;
};

/// Creates `SCOCameraSystemIterator`; class version 3.
class SCOCameraSystemIteratorFactory : public RtsObjectFactory {
public:
    SCOCameraSystemIteratorFactory();
    int Serialize(IClassStorage* storage) override;
    RtsObject* New(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor) override;
    _GUID GetClassGUID() const override;
    CSCOVersion GetSCOVersion() const override;
    const char* GetSCOGroup(ULong index) const override;
};

/// Creates `SCOCameraSystemWaypoint`; class version 1.
class SCOCameraSystemWaypointFactory : public RtsObjectFactory {
public:
    SCOCameraSystemWaypointFactory();
    int Serialize(IClassStorage* storage) override;
    RtsObject* New(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor) override;
    _GUID GetClassGUID() const override;
    CSCOVersion GetSCOVersion() const override;
    const char* GetSCOGroup(ULong index) const override;
};

/// Path, iterator and waypoint factory, then null. Constant data, filled at build time.
extern RtsObjectFactory* const pObjectFactories[4];
