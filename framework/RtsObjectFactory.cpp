#include "RtsObjectFactory.h"

#include <cstring>
#include <new>

#include "RtsObject.h"

namespace {
constexpr std::size_t kClassNameCapacity = 128;
}

RtsObjectFactory::RtsObjectFactory() : pszClassName(new char[kClassNameCapacity]) { SetClassName("RtsObject"); }

RtsObjectFactory::~RtsObjectFactory() { delete[] pszClassName; }

void RtsObjectFactory::SetClassName(const char* name) {
    std::strncpy(pszClassName, name, kClassNameCapacity - 1);
    pszClassName[kClassNameCapacity - 1] = '\0';
}

int RtsObjectFactory::Serialize(IClassStorage* storage) {
    CSCOVersion version = GetSCOVersion();
    if (!version.Serialize(storage)) return 0;
    if (!RtsObject::AngleStep.Serialize(storage)) return 0;
    return RtsObject::SecondStep.Serialize(storage);
}

RtsObject* RtsObjectFactory::New(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor) {
    return new (std::nothrow) PlainRtsObject(objectGuid, secondGuid, descriptor);
}

void RtsObjectFactory::Reserved() {}

_GUID RtsObjectFactory::GetClassGUID() const {
    return {0xD0598920, 0x2A86, 0x11D4, {0xA1, 0xE8, 0x00, 0x80, 0x48, 0xDB, 0x37, 0x9B}};
}

CSCOVersion RtsObjectFactory::GetSCOVersion() const { return CSCOVersion(2); }

const char* RtsObjectFactory::GetSCOGroup(ULong index) const {
    static const char* const pSCOGroups[] = {"*", nullptr};
    return GroupAt(pSCOGroups, index);
}
