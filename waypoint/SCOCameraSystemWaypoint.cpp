#include "SCOCameraSystemWaypoint.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "framework/IClassStorage.h"
#include "framework/RenderEngine.h"
#include "framework/ModuleRuntime.h"

namespace {

constexpr const char* kClassName = "SCOCameraSystemWaypoint";
constexpr int kRecordVersion = 1;

constexpr double kPi = 3.141592653589793;
constexpr double kOneOver180 = 0.005555555555555556;
/// GetPara(7) when the field-of-view factor is zero (or not a number).
constexpr float kFovForZeroFactor = 100.0f;

/// Half the edge of the fixed cube that bounds every waypoint.
constexpr float kHalfEdge = 4.0f;

// Editor markers: a grey view wedge, a green forward arrow and a blue up arrow.
constexpr float kViewMarkerLength = 16.0f;
constexpr float kViewMarkerNearWidth = 0.0f;
constexpr float kViewMarkerFarWidth = 16.0f;
constexpr float kViewMarkerColour[4] = {0.5f, 0.5f, 0.5f, 0.6f};
constexpr float kArrowLength = 32.0f;
constexpr float kArrowSize1 = 3.2f;
constexpr float kArrowSize2 = 1.6f;
constexpr float kArrowSize3 = 0.4f;
constexpr float kForwardArrowColour[4] = {0.0f, 0.4f, 0.0f, 0.8f};
constexpr float kUpArrowColour[4] = {0.0f, 0.0f, 0.4f, 0.8f};
constexpr int kDrawFlag = 1;

const char kNotInPath[] = "Waypoint not in Path Container";

/// The script texts the editor asks for: this class has none.
char emptyScript[1] = "";

/// R * v: a local direction turned into the world (rotation only).
_Point3<float> rotate(const _CMatrix3<float>& r, const _Point3<float>& v) {
    return {r.m[0][0] * v.x + r.m[0][1] * v.y + r.m[0][2] * v.z, r.m[1][0] * v.x + r.m[1][1] * v.y + r.m[1][2] * v.z,
            r.m[2][0] * v.x + r.m[2][1] * v.y + r.m[2][2] * v.z};
}

SCOCameraSystemWaypoint* asWaypoint(RtsObject* object) { return static_cast<SCOCameraSystemWaypoint*>(object); }

constexpr std::uintptr_t kCacheLine = 64;

/// Where the ISCO_CSWayPoint part lies in a waypoint: the cast of a pointer to the whole adds it.
std::uintptr_t wayPointPartOffset() {
    alignas(SCOCameraSystemWaypoint) static unsigned char probe[sizeof(SCOCameraSystemWaypoint)];
    auto* whole = reinterpret_cast<SCOCameraSystemWaypoint*>(probe);
    return reinterpret_cast<std::uintptr_t>(static_cast<ISCO_CSWayPoint*>(whole)) -
           reinterpret_cast<std::uintptr_t>(probe);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Placement

// The block has a line's worth of room in front of the object. The object moves on by 1 to 64
// bytes (a multiple of its alignment, since the part's offset is one) and keeps the distance in
// the byte before it, for the release.
void* SCOCameraSystemWaypoint::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kCacheLine));
    if (!block) return nullptr;
    const std::uintptr_t part = reinterpret_cast<std::uintptr_t>(block) + wayPointPartOffset();
    const std::uintptr_t shift = kCacheLine - part % kCacheLine;  // 1 to 64
    unsigned char* object = block + shift;
    object[-1] = static_cast<unsigned char>(shift);
    return object;
}

void* SCOCameraSystemWaypoint::operator new(std::size_t size) {
    if (void* object = operator new(size, std::nothrow)) return object;
    throw std::bad_alloc();
}

void SCOCameraSystemWaypoint::operator delete(void* object) noexcept {
    if (!object) return;
    auto* start = static_cast<unsigned char*>(object);
    std::free(start - start[-1]);
}

void SCOCameraSystemWaypoint::operator delete(void* object, const std::nothrow_t&) noexcept { operator delete(object); }

// ---------------------------------------------------------------------------------------------
// Construction, copy, assignment

SCOCameraSystemWaypoint::SCOCameraSystemWaypoint(const CGUID& objectGuid, const CGUID& secondGuid,
                                                 ISCODescriptor* descriptor)
    : RtsObject(objectGuid, secondGuid, descriptor), PointsTo(0) {}

// Member by member, the base's fields and the fitted segment included.
SCOCameraSystemWaypoint::SCOCameraSystemWaypoint(const SCOCameraSystemWaypoint& other) = default;
SCOCameraSystemWaypoint& SCOCameraSystemWaypoint::operator=(const SCOCameraSystemWaypoint& other) = default;

SCOCameraSystemWaypoint::~SCOCameraSystemWaypoint() = default;

// ---------------------------------------------------------------------------------------------
// Hooks of the primary table

void SCOCameraSystemWaypoint::Activate(Handle, ULong) {}
void SCOCameraSystemWaypoint::Deactivate(Handle, ULong) {}
bool SCOCameraSystemWaypoint::IsPosValid() const { return true; }

// ---------------------------------------------------------------------------------------------
// Interface discovery

bool SCOCameraSystemWaypoint::QueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    switch (id) {
        case kIdBoundingBox:
            return HandOut(static_cast<ISCO_BoundingBox*>(this), out);
        case kIdCSWayPoint:
            return HandOut(static_cast<ISCO_CSWayPoint*>(this), out);
        case kIdGCDrawSelf:
            return HandOut(static_cast<ISCO_GCDrawSelf*>(this), out);
        case kIdScenewrightFeedback:
            return HandOut(static_cast<ISCO_ScenewrightFeedback*>(this), out);
        default:
            return BaseQueryInterface(id, out);
    }
}

void SCOCameraSystemWaypoint::ReleaseInterface() { BaseReleaseInterface(); }

// ---------------------------------------------------------------------------------------------
// Attributes

bool SCOCameraSystemWaypoint::GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) {
    // The contract builds the table afresh on every call; ten small records are cheap to fill.
    const Attribute table[] = {
        MakeAttribute("PointsTo", kTypeGuidRef, true, true, true, &GetPointsToX, &SetPointsToX),
        MakeAttribute("Range", kTypeFloat, true, true, true, &GetRangeX, &SetRangeX),
        MakeAttribute("Roll", kTypeFloat, true, true, true, &GetRollX, &SetRollX),
        MakeAttribute("FOVFac", kTypeFloat, true, true, true, &GetFOVFacX, &SetFOVFacX),
        MakeAttribute("Time2Next", kTypeULong, true, true, true, &GetTime2NextX, &SetTime2NextX),
        MakeAttribute("EaseIn", kTypeBool, true, true, true, &GetEaseInX, &SetEaseInX),
        MakeAttribute("EaseOut", kTypeBool, true, true, true, &GetEaseOutX, &SetEaseOutX),
        MakeAttribute("IsOn", kTypeBool, true, true, true, &GetIsOnX, &SetIsOnX),
        MakeAttribute("PauseTime", kTypeULong, true, true, true, &GetPauseTimeX, &SetPauseTimeX),
        Attribute{},
    };
    return DescribeAttribute(table, std::size(table) - 1, kClassName, index, attr, className, includeParents);
}

bool SCOCameraSystemWaypoint::GetParentAttr(ULong index, Attribute* attr, char* className) {
    return BaseGetAttributeInfo(index, attr, className, true);
}

// Accessors copy raw bytes both ways and never validate: the editor may store anything.
bool SCOCameraSystemWaypoint::GetPointsTo(void* value) { return CopyAttributeOut(value, PointsTo.Guid); }
bool SCOCameraSystemWaypoint::SetPointsTo(void* value) { return CopyAttributeIn(PointsTo.Guid, value); }
bool SCOCameraSystemWaypoint::GetRange(void* value) { return CopyAttributeOut(value, Range); }
bool SCOCameraSystemWaypoint::SetRange(void* value) { return CopyAttributeIn(Range, value); }
bool SCOCameraSystemWaypoint::GetRoll(void* value) { return CopyAttributeOut(value, Roll); }
bool SCOCameraSystemWaypoint::SetRoll(void* value) { return CopyAttributeIn(Roll, value); }
bool SCOCameraSystemWaypoint::GetFOVFac(void* value) { return CopyAttributeOut(value, FOVFac); }
bool SCOCameraSystemWaypoint::SetFOVFac(void* value) { return CopyAttributeIn(FOVFac, value); }
bool SCOCameraSystemWaypoint::GetTime2Next(void* value) { return CopyAttributeOut(value, Time2Next); }
bool SCOCameraSystemWaypoint::SetTime2Next(void* value) { return CopyAttributeIn(Time2Next, value); }
bool SCOCameraSystemWaypoint::GetEaseIn(void* value) { return CopyAttributeOut(value, EaseIn); }
bool SCOCameraSystemWaypoint::SetEaseIn(void* value) { return CopyAttributeIn(EaseIn, value); }
bool SCOCameraSystemWaypoint::GetEaseOut(void* value) { return CopyAttributeOut(value, EaseOut); }
bool SCOCameraSystemWaypoint::SetEaseOut(void* value) { return CopyAttributeIn(EaseOut, value); }
bool SCOCameraSystemWaypoint::GetIsOn(void* value) { return CopyAttributeOut(value, IsOnFlag); }
bool SCOCameraSystemWaypoint::SetIsOn(void* value) { return CopyAttributeIn(IsOnFlag, value); }
bool SCOCameraSystemWaypoint::GetPauseTime(void* value) { return CopyAttributeOut(value, PauseTime); }
bool SCOCameraSystemWaypoint::SetPauseTime(void* value) { return CopyAttributeIn(PauseTime, value); }

// The static accessors go through the primary table, so a further override would be honoured.
bool SCOCameraSystemWaypoint::GetPointsToX(RtsObject* o, void* v) { return asWaypoint(o)->GetPointsTo(v); }
bool SCOCameraSystemWaypoint::SetPointsToX(RtsObject* o, void* v) { return asWaypoint(o)->SetPointsTo(v); }
bool SCOCameraSystemWaypoint::GetRangeX(RtsObject* o, void* v) { return asWaypoint(o)->GetRange(v); }
bool SCOCameraSystemWaypoint::SetRangeX(RtsObject* o, void* v) { return asWaypoint(o)->SetRange(v); }
bool SCOCameraSystemWaypoint::GetRollX(RtsObject* o, void* v) { return asWaypoint(o)->GetRoll(v); }
bool SCOCameraSystemWaypoint::SetRollX(RtsObject* o, void* v) { return asWaypoint(o)->SetRoll(v); }
bool SCOCameraSystemWaypoint::GetFOVFacX(RtsObject* o, void* v) { return asWaypoint(o)->GetFOVFac(v); }
bool SCOCameraSystemWaypoint::SetFOVFacX(RtsObject* o, void* v) { return asWaypoint(o)->SetFOVFac(v); }
bool SCOCameraSystemWaypoint::GetTime2NextX(RtsObject* o, void* v) { return asWaypoint(o)->GetTime2Next(v); }
bool SCOCameraSystemWaypoint::SetTime2NextX(RtsObject* o, void* v) { return asWaypoint(o)->SetTime2Next(v); }
bool SCOCameraSystemWaypoint::GetEaseInX(RtsObject* o, void* v) { return asWaypoint(o)->GetEaseIn(v); }
bool SCOCameraSystemWaypoint::SetEaseInX(RtsObject* o, void* v) { return asWaypoint(o)->SetEaseIn(v); }
bool SCOCameraSystemWaypoint::GetEaseOutX(RtsObject* o, void* v) { return asWaypoint(o)->GetEaseOut(v); }
bool SCOCameraSystemWaypoint::SetEaseOutX(RtsObject* o, void* v) { return asWaypoint(o)->SetEaseOut(v); }
bool SCOCameraSystemWaypoint::GetIsOnX(RtsObject* o, void* v) { return asWaypoint(o)->GetIsOn(v); }
bool SCOCameraSystemWaypoint::SetIsOnX(RtsObject* o, void* v) { return asWaypoint(o)->SetIsOn(v); }
bool SCOCameraSystemWaypoint::GetPauseTimeX(RtsObject* o, void* v) { return asWaypoint(o)->GetPauseTime(v); }
bool SCOCameraSystemWaypoint::SetPauseTimeX(RtsObject* o, void* v) { return asWaypoint(o)->SetPauseTime(v); }

// ---------------------------------------------------------------------------------------------
// ISCO_CSWayPoint: what the path and the iterator read

ULong SCOCameraSystemWaypoint::GetTime2Next() { return Time2Next; }
float SCOCameraSystemWaypoint::GetDistanceSum() { return CubicData[3].Distance; }
float SCOCameraSystemWaypoint::GetDistance2Next() { return Distance2Next; }
void SCOCameraSystemWaypoint::SetDistance2Next(float distance) { Distance2Next = distance; }
ULong SCOCameraSystemWaypoint::GetPauseTime() { return PauseTime; }
bool SCOCameraSystemWaypoint::IsOn() { return IsOnFlag; }

void SCOCameraSystemWaypoint::GetEaseInOut(bool& easeIn, bool& easeOut) {
    easeIn = EaseIn;
    easeOut = EaseOut;
}

float SCOCameraSystemWaypoint::GetPara(int index) {
    const _CCoordSystem<float>& pos = ObjectPos;
    // Compared as unsigned: a negative index is simply out of range.
    switch (static_cast<unsigned>(index)) {
        case 0:
            return pos.Origin.x;
        case 1:
            return pos.Origin.y;
        case 2:
            return pos.Origin.z;
        case 3:  // view vector = Range * forward axis (second column)
            return pos.Orientation.m[0][1] * Range;
        case 4:
            return pos.Orientation.m[1][1] * Range;
        case 5:
            return pos.Orientation.m[2][1] * Range;
        case 6:  // degrees -> radians, in double: Roll * pi * (1/180)
            return static_cast<float>(static_cast<double>(Roll) * kPi * kOneOver180);
        case 7:
            // Neither below nor above zero: +0, -0 and NaN all take the fixed value. (`== 0` would
            // let a NaN through to the division.)
            if (!(FOVFac < 0.0f || FOVFac > 0.0f)) return kFovForZeroFactor;
            // 1/FOVFac rounded once to float is the same number whether divided in float or in
            // double; dividing in float also keeps a tiny factor's overflow an exact infinity.
            return 1.0f / FOVFac;
        default:
            return 0.0f;
    }
}

void SCOCameraSystemWaypoint::SetData(COrientation& cubic, COrientation& quadratic, COrientation& linear,
                                      COrientation& constant) {
    CubicData[0] = cubic;
    CubicData[1] = quadratic;
    CubicData[2] = linear;
    CubicData[3] = constant;
}

float SCOCameraSystemWaypoint::CalcDistanceAtTime(float time) {
    // Channel 8 over local time, every step a float:
    //   distance(t) = ((a*t + b)*t + c)*t + d
    return SegmentChannel(CubicData, 8, time);
}

void SCOCameraSystemWaypoint::CalcOrientationAtDistance(float distance, COrientation& out) {
    // All nine channels over local distance, Horner form on whole records:
    //   P(s) = ((R3*s + R2)*s + R1)*s + R0
    // evaluated channel by channel: the same float operations in the same order as the
    // record-wise form, so the same bits, without temporary records.
    out = SegmentSample(CubicData, distance);
}

// ---------------------------------------------------------------------------------------------
// Persistence: version 1, the nine attributes, then the base record

int SCOCameraSystemWaypoint::Serialize(IClassStorage* storage) {
    CSCOVersion version(kRecordVersion);
    if (storage->IsLoading()) {
        // A short read leaves the version at 1; the base record then reports the failure.
        version.Serialize(storage);
        if (version.GetVersion() != kRecordVersion) return 0;
        storage->LoadObject(PointsTo);
        storage->LoadFloat(&Range);
        storage->LoadFloat(&Roll);
        storage->LoadFloat(&FOVFac);
        storage->LoadULong(&Time2Next);
        storage->LoadBool(&EaseIn).LoadBool(&EaseOut).LoadBool(&IsOnFlag);
        storage->LoadULong(&PauseTime);
        return RtsObject::Serialize(storage);
    }
    if (!version.Serialize(storage)) return 0;
    storage->StoreObject(PointsTo);
    storage->StoreFloat(Range);
    storage->StoreFloat(Roll);
    storage->StoreFloat(FOVFac);
    storage->StoreULong(Time2Next);
    storage->StoreBool(EaseIn).StoreBool(EaseOut).StoreBool(IsOnFlag);
    storage->StoreULong(PauseTime);
    return RtsObject::Serialize(storage);
}

// ---------------------------------------------------------------------------------------------
// Destination point

void SCOCameraSystemWaypoint::Refresh() {
    // Resolved afresh on every refit: the target may have moved or gone since the last one.
    const Handle targetName(PointsTo);
    CInterfacePtr<RtsObject> target(targetName);
    if (target) _SetDestPoint(target->GetObjectPos()->Origin);
}

void SCOCameraSystemWaypoint::_SetDestPoint(_Point3<float> p) {
    // Aim the forward axis at p, world up +z:
    //   d = p - o,  Range = |d|,  f = d / |d|
    //   r = (f x z) / |f x z|,  u = r x f,  w = f x u
    //   rows (w.x f.x u.x), (w.y f.y u.y), (w.z f.z u.z): columns right, forward, up.
    //
    // Degenerate targets keep the previous rotation: a target at the waypoint itself leaves no
    // forward axis, one straight above or below leaves no right axis, and a target at a
    // non-finite or overflowing distance leaves neither. Range takes the distance whenever it is
    // finite (0 for a target at the waypoint, so the destination point is still the target).
    // Squared lengths below FLT_MIN count as zero: their roots have lost too many bits to give
    // a unit axis.
    _CCoordSystem<float>& pos = ObjectPos;
    const _Point3<float> d = p - pos.Origin;
    const float distanceSquared = Dot(d, d);
    if (!std::isfinite(distanceSquared)) return;
    Range = static_cast<float>(std::sqrt(static_cast<double>(distanceSquared)));

    _Point3<float> f;
    if (!Normalize(d, f)) return;
    // The full cross product, not its shortcut (f.y, -f.x, 0): for f = (0, 1, 0) the shortcut
    // leaves a -0 that would make the identity rotation differ from identity in its bytes.
    _Point3<float> r;
    if (!Normalize(Cross(f, _Point3<float>{0.0f, 0.0f, 1.0f}), r)) return;
    const _Point3<float> u = Cross(r, f);
    const _Point3<float> w = Cross(f, u);

    // Written directly: aiming is part of a refit, not an edit, so no SetObjectPos and no notice.
    pos.Orientation = _CMatrix3<float>(w.x, f.x, u.x, w.y, f.y, u.y, w.z, f.z, u.z);
}

_Point3<float> SCOCameraSystemWaypoint::GetDestPoint() {
    const _CMatrix3<float>& m = ObjectPos.Orientation;
    const _Point3<float> forward{m.m[0][1], m.m[1][1], m.m[2][1]};
    return ObjectPos.Origin + forward * Range;
}

// ---------------------------------------------------------------------------------------------
// Editor feedback: every edit of a waypoint refits the path that holds it

void SCOCameraSystemWaypoint::OnOpen() {}
void SCOCameraSystemWaypoint::OnClose() {}
void SCOCameraSystemWaypoint::OnConsoleChar(char, int, int) {}
void SCOCameraSystemWaypoint::OnConsoleLButton(int, int) {}

void SCOCameraSystemWaypoint::OnAttributChanged(char*) {
    // Whatever attribute changed, the whole path is refitted: any of them can move the curve.
    CInterfacePtr<ISCO_CSPath> path(GetContainingObject());
    if (path)
        path->RefreshCubicData();
    else
        pCameraSystemIRTS->Message(2, "SCOCameraSystemWaypoint::OnAttributChanged", kNotInPath);
}

void SCOCameraSystemWaypoint::OnPositionChanged() {
    CInterfacePtr<ISCO_CSPath> path(GetContainingObject());
    if (path)
        path->RefreshCubicData();
    else
        pCameraSystemIRTS->Message(2, "SCOCameraSystemWaypoint::OnPositionChanged", kNotInPath);
}

char* SCOCameraSystemWaypoint::GetDefaultScriptCode(int, char*) { return emptyScript; }
char* SCOCameraSystemWaypoint::GetDefaultScriptName(int, char*) { return emptyScript; }

// ---------------------------------------------------------------------------------------------
// Drawing and bounds

void SCOCameraSystemWaypoint::Draw3D(IGC_DrawSelfParameter*) {
    if (!IsOnFlag) return;
    const _Point3<float> origin = ObjectPos.Origin;
    const _CMatrix3<float>& r = ObjectPos.Orientation;
    const _Point3<float> viewEnd = origin + rotate(r, {0.0f, kViewMarkerLength, 0.0f});
    const _Point3<float> forwardTip = origin + rotate(r, {0.0f, kArrowLength, 0.0f});
    const _Point3<float> upTip = origin + rotate(r, {0.0f, 0.0f, kArrowLength});

    REU->DrawLine(&origin, &viewEnd, kViewMarkerNearWidth, kViewMarkerFarWidth, kViewMarkerColour, kDrawFlag);
    REU->DrawArrow(&origin, &forwardTip, kArrowSize1, kArrowSize2, kArrowSize3, kForwardArrowColour,
                   kForwardArrowColour, kDrawFlag);
    REU->DrawArrow(&origin, &upTip, kArrowSize1, kArrowSize2, kArrowSize3, kUpArrowColour, kUpArrowColour, kDrawFlag);
}

void SCOCameraSystemWaypoint::Draw2D(IGC_DrawSelfParameter*) {}

void SCOCameraSystemWaypoint::GetBBox(_Point3<float>* min, _Point3<float>* max) {
    // A fixed cube: a waypoint is a marker, its size does not depend on its settings.
    const _Point3<float> half{kHalfEdge, kHalfEdge, kHalfEdge};
    *min = ObjectPos.Origin - half;
    *max = ObjectPos.Origin + half;
}

void SCOCameraSystemWaypoint::GetBSphere(_Point3<float>* center, float* radius) {
    _Point3<float> min, max;
    GetBBox(&min, &max);
    const BoundingSphere sphere = SphereAroundBox(min, max);
    *center = sphere.Center;
    *radius = sphere.Radius;
}

void SCOCameraSystemWaypoint::PotentiallyVisible() {}
