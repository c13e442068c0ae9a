#include "SCOCameraSystemIterator.h"

#include <cmath>
#include <iterator>

#include "framework/IClassStorage.h"
#include "framework/ModuleRuntime.h"

namespace {

constexpr const char* kClassName = "SCOCameraSystemIterator";
constexpr int kRecordVersion = 3;
/// Version-1 records carry a block after `MovingDestination` that nothing interprets any more.
constexpr ULong kVersion1BlockSize = 20;

/// A reference of its own to a waypoint. `GetWayPointNo` returns its waypoint without one;
/// whoever keeps using it across further calls into the host takes one (`QueryInterface`(26),
/// handed back on destruction).
using WayPointRef = CInterfacePtr<ISCO_CSWayPoint>;

/// The camera frame for look vector `look` and roll `roll` (radians); columns right, forward,
/// up; world up is +z and the camera looks along its local y axis (every vector normalised as
/// `Normalize` does: squares in float, root in double, reciprocal applied as a float):
///
///   f  = v / |v|                 forward
///   s  = f x (0,0,1), s /= |s|   right, horizontal
///   u  = s x f                   up
///   u' = cos(r)*u - sin(r)*s     up, rolled about f
///   s' = f x u'                  right, rolled
///
/// Where the formula has no answer the frame still comes out a rotation with unit orthogonal
/// columns, built from `previous` (the frame the camera shows now):
/// - a zero or non-finite look vector (a `MovingDestination` standing at the eye, broken
///   samples) keeps the previous forward axis, so the camera does not swing to some fixed
///   direction; if that is unusable too, world +y;
/// - a look straight up or down (s has no length) keeps the previous right axis, made
///   orthogonal to f, so the image does not spin about the view; if that is unusable too,
///   world +x, which is orthogonal to a vertical f;
/// - a non-finite roll counts as no roll.
Matrix3f cameraFrame(const Point3f& look, float roll, const Matrix3f& previous) {
    const auto& m = previous.m;
    Point3f f{};
    if (!Normalize(look, f) && !Normalize(Point3f{m[0][1], m[1][1], m[2][1]}, f)) f = {0.0f, 1.0f, 0.0f};

    Point3f s{};
    if (!Normalize(Cross(f, Point3f{0.0f, 0.0f, 1.0f}), s)) {
        // Previous right minus its part along f: p - (p.f) f.
        const Point3f p{m[0][0], m[1][0], m[2][0]};
        if (!Normalize(p - f * Dot(p, f), s)) s = {1.0f, 0.0f, 0.0f};
    }
    const Point3f u = Cross(s, f);

    // cos and sin in double, each applied to its vector as a float.
    const double r = std::isfinite(roll) ? static_cast<double>(roll) : 0.0;
    const Point3f rolledUp = u * static_cast<float>(std::cos(r)) + s * static_cast<float>(-std::sin(r));
    const Point3f rolledRight = Cross(f, rolledUp);

    return Matrix3f(rolledRight.x, f.x, rolledUp.x,  //
                    rolledRight.y, f.y, rolledUp.y,  //
                    rolledRight.z, f.z, rolledUp.z);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and copying. `EyeFOV` starts at 1.0, the neutral value, so that a camera reading
// the eye before the first tick gets a usable field of view; `ObjectsActivated` starts false.

SCOCameraSystemIterator::SCOCameraSystemIterator(const CGUID& objectGuid, const CGUID& secondGuid,
                                                 ISCODescriptor* descriptor)
    : RtsObject(objectGuid, secondGuid, descriptor) {}

// Member by member, the run state included.
SCOCameraSystemIterator::SCOCameraSystemIterator(const SCOCameraSystemIterator& other) = default;
SCOCameraSystemIterator& SCOCameraSystemIterator::operator=(const SCOCameraSystemIterator& other) = default;

// Neither releases the camera nor stops the flight: the host deactivates before it destroys.
SCOCameraSystemIterator::~SCOCameraSystemIterator() = default;

bool SCOCameraSystemIterator::IsValid() const { return ActualWayPointIndex != kNotRunning; }

// The iterator's position is the camera's, written by playback, not a place in the scene.
bool SCOCameraSystemIterator::IsPosValid() const { return false; }

// ---------------------------------------------------------------------------------------------
// Interface discovery

bool SCOCameraSystemIterator::QueryInterface(ULong id, void** out) {
    if (DescriptorRefuses(out)) return false;
    switch (id) {
        case kIdMaster:
            return HandOut(static_cast<ISCO_Master*>(this), out);
        case kIdHasEye:
            return HandOut(static_cast<ISCO_HasEye*>(this), out);
        default:
            return BaseQueryInterface(id, out);
    }
}

void SCOCameraSystemIterator::ReleaseInterface() { BaseReleaseInterface(); }

// ---------------------------------------------------------------------------------------------
// Attributes. The run state comes first and is flagged 0, 0, 1: playback computes it.

bool SCOCameraSystemIterator::GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) {
    const Attribute table[] = {
        MakeAttribute("ActualWayPointIndex", kTypeULong, false, false, true, &GetActualWayPointIndexX,
                      &SetActualWayPointIndexX),
        MakeAttribute("ActualWayPointTime", kTypeULong, false, false, true, &GetActualWayPointTimeX,
                      &SetActualWayPointTimeX),
        MakeAttribute("Path", kTypeGuidRef, true, true, true, &GetPathX, &SetPathX),
        MakeAttribute("RelativeTo", kTypeGuidRef, true, true, true, &GetRelativeToX, &SetRelativeToX),
        MakeAttribute("RelativeTo2", kTypeGuidRef, true, true, true, &GetRelativeTo2X, &SetRelativeTo2X),
        MakeAttribute("MovingDestination", kTypeGuidRef, true, true, true, &GetMovingDestinationX,
                      &SetMovingDestinationX),
        MakeAttribute("GrabCamera", kTypeBool, true, true, true, &GetGrabCameraX, &SetGrabCameraX),
        Attribute{},
    };
    return DescribeAttribute(table, std::size(table) - 1, kClassName, index, attr, className, includeParents);
}

bool SCOCameraSystemIterator::GetParentAttr(ULong index, Attribute* attr, char* className) {
    return BaseGetAttributeInfo(index, attr, className, true);
}

// Accessors copy raw bytes both ways and never validate: the editor may store anything.
bool SCOCameraSystemIterator::GetPath(void* value) { return CopyAttributeOut(value, Path.Guid); }
bool SCOCameraSystemIterator::SetPath(void* value) { return CopyAttributeIn(Path.Guid, value); }
bool SCOCameraSystemIterator::GetActualWayPointIndex(void* value) {
    return CopyAttributeOut(value, ActualWayPointIndex);
}
bool SCOCameraSystemIterator::SetActualWayPointIndex(void* value) {
    return CopyAttributeIn(ActualWayPointIndex, value);
}
bool SCOCameraSystemIterator::GetActualWayPointTime(void* value) { return CopyAttributeOut(value, ActualWayPointTime); }
bool SCOCameraSystemIterator::SetActualWayPointTime(void* value) { return CopyAttributeIn(ActualWayPointTime, value); }
bool SCOCameraSystemIterator::GetRelativeTo(void* value) { return CopyAttributeOut(value, RelativeTo.Guid); }
bool SCOCameraSystemIterator::SetRelativeTo(void* value) { return CopyAttributeIn(RelativeTo.Guid, value); }
bool SCOCameraSystemIterator::GetRelativeTo2(void* value) { return CopyAttributeOut(value, RelativeTo2.Guid); }
bool SCOCameraSystemIterator::SetRelativeTo2(void* value) { return CopyAttributeIn(RelativeTo2.Guid, value); }
bool SCOCameraSystemIterator::GetMovingDestination(void* value) {
    return CopyAttributeOut(value, MovingDestination.Guid);
}
bool SCOCameraSystemIterator::SetMovingDestination(void* value) {
    return CopyAttributeIn(MovingDestination.Guid, value);
}
bool SCOCameraSystemIterator::GetGrabCamera(void* value) { return CopyAttributeOut(value, GrabCamera); }
bool SCOCameraSystemIterator::SetGrabCamera(void* value) { return CopyAttributeIn(GrabCamera, value); }

namespace {
SCOCameraSystemIterator* iteratorOf(RtsObject* object) { return static_cast<SCOCameraSystemIterator*>(object); }
}  // namespace

bool SCOCameraSystemIterator::GetPathX(RtsObject* o, void* v) { return iteratorOf(o)->GetPath(v); }
bool SCOCameraSystemIterator::SetPathX(RtsObject* o, void* v) { return iteratorOf(o)->SetPath(v); }
bool SCOCameraSystemIterator::GetActualWayPointIndexX(RtsObject* o, void* v) {
    return iteratorOf(o)->GetActualWayPointIndex(v);
}
bool SCOCameraSystemIterator::SetActualWayPointIndexX(RtsObject* o, void* v) {
    return iteratorOf(o)->SetActualWayPointIndex(v);
}
bool SCOCameraSystemIterator::GetActualWayPointTimeX(RtsObject* o, void* v) {
    return iteratorOf(o)->GetActualWayPointTime(v);
}
bool SCOCameraSystemIterator::SetActualWayPointTimeX(RtsObject* o, void* v) {
    return iteratorOf(o)->SetActualWayPointTime(v);
}
bool SCOCameraSystemIterator::GetRelativeToX(RtsObject* o, void* v) { return iteratorOf(o)->GetRelativeTo(v); }
bool SCOCameraSystemIterator::SetRelativeToX(RtsObject* o, void* v) { return iteratorOf(o)->SetRelativeTo(v); }
bool SCOCameraSystemIterator::GetRelativeTo2X(RtsObject* o, void* v) { return iteratorOf(o)->GetRelativeTo2(v); }
bool SCOCameraSystemIterator::SetRelativeTo2X(RtsObject* o, void* v) { return iteratorOf(o)->SetRelativeTo2(v); }
bool SCOCameraSystemIterator::GetMovingDestinationX(RtsObject* o, void* v) {
    return iteratorOf(o)->GetMovingDestination(v);
}
bool SCOCameraSystemIterator::SetMovingDestinationX(RtsObject* o, void* v) {
    return iteratorOf(o)->SetMovingDestination(v);
}
bool SCOCameraSystemIterator::GetGrabCameraX(RtsObject* o, void* v) { return iteratorOf(o)->GetGrabCamera(v); }
bool SCOCameraSystemIterator::SetGrabCameraX(RtsObject* o, void* v) { return iteratorOf(o)->SetGrabCamera(v); }

// ---------------------------------------------------------------------------------------------
// The record, version 3: index, segment start time, the four handles, GrabCamera, then the base.
// Version 1 had a 20-byte block after the handles and no GrabCamera; version 2 has neither.

int SCOCameraSystemIterator::Serialize(IClassStorage* storage) {
    CSCOVersion stored;  // 1 until a stored version is read over it
    if (storage->IsLoading()) {
        stored.Serialize(storage);  // a failed read leaves version 1, whose layout is then tried
        const int version = stored.GetVersion();
        if (version > kRecordVersion) return 0;
        storage->LoadULong(&ActualWayPointIndex).LoadULong(&ActualWayPointTime);
        storage->LoadObject(Path);
        storage->LoadObject(RelativeTo).LoadObject(RelativeTo2);
        storage->LoadObject(MovingDestination);
        if (version < 2) {
            unsigned char discarded[kVersion1BlockSize];
            if (storage->Read(discarded, kVersion1BlockSize) < 0) return 0;
        } else if (version >= 3) {
            storage->LoadBool(&GrabCamera);
        }
        return RtsObject::Serialize(storage);
    }
    CSCOVersion version(kRecordVersion);
    if (!version.Serialize(storage)) return 0;
    storage->StoreULong(ActualWayPointIndex).StoreULong(ActualWayPointTime);
    storage->StoreObject(Path);
    storage->StoreObject(RelativeTo).StoreObject(RelativeTo2);
    storage->StoreObject(MovingDestination);
    storage->StoreBool(GrabCamera);
    return RtsObject::Serialize(storage);
}

// ---------------------------------------------------------------------------------------------
// Playback

ULong SCOCameraSystemIterator::Run(ULong time) {
    if (ActualWayPointIndex == kNotRunning) return 0;
    RecalcPosAtTimeSum(time);
    return 0;
}

ISCO_CSWayPoint* SCOCameraSystemIterator::GetWayPointNo(int n, bool& last) {
    last = false;
    CInterfacePtr<ISCO_SCOContainer> container(Path);
    if (!container) {
        pCameraSystemIRTS->Message(2, "SCOCameraSystemIterator::GetWayPointNo", "Iterator has no Path");
        return nullptr;
    }

    // Walk to the (n+1)-th switched-on waypoint. A switched-off waypoint drops the candidate, so
    // a request past the end yields the last waypoint child only when that one is switched on.
    // n + 1 is formed modulo 2^32 and read back signed: an index of 0x7FFFFFFF or above asks for
    // nothing (an index set from outside, or the one behind such an index).
    const auto wanted = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) + 1u);
    ISCO_CSWayPoint* candidate = nullptr;
    std::int32_t count = 0;
    ChildPos pos = container->GetFirstChild();
    if (wanted > 0) {
        while (count < wanted && pos != 0) {
            const WayPointRef waypoint = resolveInterface<ISCO_CSWayPoint>(container->GetNextChild(&pos));
            if (!waypoint) continue;  // another object or a null handle
            if (waypoint->IsOn()) {
                candidate = waypoint.get();  // the path keeps it alive; no reference of our own
                ++count;
            } else {
                candidate = nullptr;
            }
        }
    }

    // Look-ahead: the first waypoint child behind, switched on or not, decides whether this is
    // the last one; other objects and null handles in between do not count.
    last = true;
    while (pos != 0) {
        const WayPointRef next = resolveInterface<ISCO_CSWayPoint>(container->GetNextChild(&pos));
        if (!next) continue;
        last = !next->IsOn();
        break;
    }
    return candidate;
}

void SCOCameraSystemIterator::ActivateObjectsBefore(ULong n) {
    CInterfacePtr<ISCO_SCOContainer> container(Path);
    if (!container) return;
    // The objects before waypoint n stand after exactly n switched-on waypoints.
    ULong count = 0;
    ChildPos pos = container->GetFirstChild();
    while (pos != 0) {
        const Handle child = container->GetNextChild(&pos);
        {
            const WayPointRef waypoint = resolveInterface<ISCO_CSWayPoint>(child);
            if (waypoint) {
                if (waypoint->IsOn()) ++count;
                if (count > n) break;
                continue;
            }
        }
        if (!child.IsNull() && count == n) pCameraSystemIRTS->ActivateObject(Self, child, 1, 1);
    }
    ObjectsActivated = true;
}

// Every time below is a clock value modulo 2^32 and every comparison is unsigned, as the clock's
// wrap demands. The comparisons are taken as they stand even where that looks odd: a segment
// whose end passes 2^32 wraps to a small End, so `time < End` fails and the segment ends at the
// first tick; a time stamp before the segment start wraps to a huge elapsed time, which the
// clamp in RecalcPosAtTimeSum turns into the end of the flight.
//
// The loop ends: each pass either returns or moves the index on by one, and the walk stops at
// the last switched-on waypoint (the look-ahead sets `last`) or where no waypoint is found.
bool SCOCameraSystemIterator::GoToNextWayPoint(ULong time) {
    if (ActualWayPointIndex == kNotRunning) return false;
    for (;;) {
        const ULong index = ActualWayPointIndex;
        bool last = false;
        const WayPointRef here = WayPointRef::Acquire(GetWayPointNo(static_cast<int>(index), last));
        if (!here || last) {
            ActivateObjectsBefore(index);
            if (last) ActivateObjectsBefore(index + 1);
            return false;
        }

        // Segment 0 lasts P(0) + T(0) + P(1), segment n > 0 lasts T(n) + P(n+1).
        const ULong flight = here->GetTime2Next();
        const ULong startPause = index == 0 ? here->GetPauseTime() : 0;
        ULong endPause = 0;
        {
            bool ignored = false;
            const WayPointRef next = WayPointRef::Acquire(GetWayPointNo(static_cast<int>(index + 1), ignored));
            if (next) endPause = next->GetPauseTime();
        }

        // The objects between waypoint n and n+1 come alive as soon as the camera leaves n.
        if (time > ActualWayPointTime + startPause && !ObjectsActivated) ActivateObjectsBefore(index + 1);

        const ULong segmentEnd = ActualWayPointTime + startPause + flight + endPause;
        if (time < segmentEnd) return true;

        // The segment is over; the next one begins exactly where it ended, so no time is lost.
        ActualWayPointIndex = index + 1;
        ObjectsActivated = false;
        ActualWayPointTime = segmentEnd;
    }
}

SCOCameraSystemIterator::EaseLaw SCOCameraSystemIterator::SelectEaseLaw(bool easeInHere, bool easeOutHere,
                                                                        bool easeInNext) {
    if (!easeInHere && !easeInNext) return EaseLaw::None;
    if (!easeOutHere) return EaseLaw::SlowEnd;
    if (!easeInNext) return EaseLaw::SlowStart;
    return EaseLaw::Both;
}

// With u = e / T on [0, 1], each law evaluated in the order written and scaled back by T:
//   none        f(u) = u                    speed 1 at the start, 1 at the end
//   slow end    f(u) = ((1 - u)*u + 1)*u    = u + u^2 - u^3,   speed 1, 0
//   slow start  f(u) = (2 - u)*u*u          = 2u^2 - u^3,      speed 0, 1
//   both        f(u) = (3 - 2u)*u*u         = 3u^2 - 2u^3,     speed 0, 0
// A flight time of 0 has no u (0/0); the clamp has already made e 0 then and it stays 0: the
// camera sits at the start of the zero-length flight, as without easing.
float SCOCameraSystemIterator::EaseTime(EaseLaw law, float elapsed, float flight) {
    if (law == EaseLaw::None || flight == 0.0f) return elapsed;
    const float u = elapsed / flight;
    float f = u;
    switch (law) {
        case EaseLaw::SlowEnd:
            f = ((1.0f - u) * u + 1.0f) * u;
            break;
        case EaseLaw::SlowStart:
            f = (2.0f - u) * u * u;
            break;
        case EaseLaw::Both:
            f = (3.0f - 2.0f * u) * u * u;
            break;
        case EaseLaw::None:
            break;
    }
    return f * flight;
}

bool SCOCameraSystemIterator::RecalcPosAtTimeSum(ULong time) {
    if (!GoToNextWayPoint(time)) {
        pCameraSystemIRTS->DeactivateObject(Self, Self, 1);
        return false;
    }

    // Both ends of the segment exist: GoToNextWayPoint has just found them. They are used within
    // this call only, while the path holds them, so no reference is taken.
    bool ignored = false;
    ISCO_CSWayPoint* here = GetWayPointNo(static_cast<int>(ActualWayPointIndex), ignored);
    ISCO_CSWayPoint* next = GetWayPointNo(static_cast<int>(ActualWayPointIndex + 1), ignored);
    if (!here || !next) return false;

    float elapsed = static_cast<float>(time - ActualWayPointTime);
    if (ActualWayPointIndex == 0) {
        // The camera stands at the first waypoint for its pause.
        const float startPause = static_cast<float>(here->GetPauseTime());
        elapsed = elapsed < startPause ? 0.0f : elapsed - startPause;
    }
    // Beyond the flight time the camera stands at the far end while the pause there runs.
    const float flight = static_cast<float>(here->GetTime2Next());
    if (elapsed > flight) elapsed = flight;

    bool easeInHere = false, easeOutHere = false, easeInNext = false, easeOutNext = false;
    here->GetEaseInOut(easeInHere, easeOutHere);
    next->GetEaseInOut(easeInNext, easeOutNext);
    const EaseLaw law = SelectEaseLaw(easeInHere, easeOutHere, easeInNext);
    if (law != EaseLaw::None) elapsed = EaseTime(law, elapsed, static_cast<float>(here->GetTime2Next()));

    const float distance = here->CalcDistanceAtTime(elapsed);

    CInterfacePtr<ISCO_CSPath> path(Path);
    if (!path) return false;
    const COrientation sample = path->CalcOrientationAtDistanceSum(distance);

    // A sample without a finite eye position or field of view (a path fitted through broken
    // attribute values) places nothing: the camera keeps the last good eye.
    if (!IsFinite(sample.Position) || !std::isfinite(sample.FOV)) return false;
    EyeFOV = sample.FOV;

    Point3f look = sample.View;
    if (!MovingDestination.IsNull()) {
        CInterfacePtr<RtsObject> destination(MovingDestination);
        if (destination) look = destination->GetObjectPos()->Origin - sample.Position;
    }

    // Written directly: the camera's frame is no edit, so nobody is notified.
    ObjectPos.Orientation = cameraFrame(look, sample.Roll, ObjectPos.Orientation);
    ObjectPos.Origin = sample.Position;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Activation and camera control

void SCOCameraSystemIterator::Activate(Handle, ULong time) {
    if (!GrabCamera) return;
    CInterfacePtr<ISCO_CameraControl> camera(Handle(pCameraSystemIRTS->GetCamera()));
    if (!camera) return;
    if (!camera->SetMaster(&Self.Guid)) return;

    ActualWayPointIndex = 0;
    ActualWayPointTime = time;
    ActivateObjectsBefore(0);
    // The objects of the first gap come alive when playback leaves waypoint 0.
    ObjectsActivated = false;
    {
        CInterfacePtr<ISCO_CSPath> path(Path);
        if (path) path->RefreshCubicData();
    }
    camera.Release();
}

void SCOCameraSystemIterator::Deactivate(Handle, ULong) {
    if (!GrabCamera) return;
    CInterfacePtr<ISCO_CameraControl> camera(Handle(pCameraSystemIRTS->GetCamera()));
    if (!camera) return;
    camera->RemoveMaster(&Self.Guid);
}

bool SCOCameraSystemIterator::AquireControl(Handle, Handle) { return true; }

_CCoordSystem<float> SCOCameraSystemIterator::GetEyeCoordSystem(ULong, float& fov) {
    fov = EyeFOV;
    return *GetObjectPos();
}

ULong SCOCameraSystemIterator::GetEyeCount() { return 1; }
