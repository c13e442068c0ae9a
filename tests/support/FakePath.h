#pragma once
/// A camera path stand-in for the waypoint and iterator tests: counts its refits and answers
/// every distance and every time with one fixed sample.

#include "framework/CameraInterfaces.h"
#include "framework/RtsObject.h"

namespace testing_support {

class FakePath final : public RtsObject, public ISCO_CSPath {
public:
    using RtsObject::RtsObject;
    void RefreshCubicData() override { ++refits; }
    COrientation CalcOrientationAtDistanceSum(float) override { return sample; }
    COrientation CalcPosAtTimeSum(float) override { return sample; }
    bool QueryInterface(ULong id, void** out) override {
        if (id != kIdCSPath) return BaseQueryInterface(id, out);
        return !DescriptorRefuses(out) && HandOut(static_cast<ISCO_CSPath*>(this), out);
    }
    bool GetAttributeInfo(ULong i, Attribute* a, char* c, bool p) override { return BaseGetAttributeInfo(i, a, c, p); }
    void ReleaseInterface() override { BaseReleaseInterface(); }

    int refits = 0;
    COrientation sample{{1, 2, 3}, {0, 1, 0}, 0.0f, 0.8f, 0.0f};
};

/// Makes a FakePath, for `host::Host::add`.
inline RtsObject* makeFakePath(const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
    return new FakePath(guid, second, descriptor);
}

}  // namespace testing_support
