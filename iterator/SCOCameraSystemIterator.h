#pragma once
/// The object that flies the game camera along a camera path.

#include "framework/CameraInterfaces.h"
#include "framework/RtsObject.h"

/// [plug imp] Camera iterator: names a path, remembers the current waypoint and the time its
/// segment began, and on every tick places its own coordinate system where the camera is.
///
/// Declaration order is the table order (see SCOCameraSystemWaypoint).
class SCOCameraSystemIterator : public RtsObject, public ISCO_Master, public ISCO_HasEye {
public:
    SCOCameraSystemIterator(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor);
    SCOCameraSystemIterator(const SCOCameraSystemIterator& other);
    SCOCameraSystemIterator& operator=(const SCOCameraSystemIterator& other);

    // Primary table: RtsObject's operations replaced here.
    int Serialize(IClassStorage* storage) override;
    void Activate(Handle sender, ULong time) override;
    void Deactivate(Handle sender, ULong time) override;
    ULong Run(ULong time) override;
    bool IsPosValid() const override;
    ~SCOCameraSystemIterator() override;
    bool GetParentAttr(ULong index, Attribute* attr, char* className) override;

    // Primary table, slots 34 on.
    virtual bool GetPath(void* value);
    virtual bool SetPath(void* value);
    virtual bool GetActualWayPointIndex(void* value);
    virtual bool SetActualWayPointIndex(void* value);
    virtual bool GetActualWayPointTime(void* value);
    virtual bool SetActualWayPointTime(void* value);
    virtual bool GetRelativeTo(void* value);
    virtual bool SetRelativeTo(void* value);
    virtual bool GetRelativeTo2(void* value);
    virtual bool SetRelativeTo2(void* value);
    virtual bool GetMovingDestination(void* value);
    virtual bool SetMovingDestination(void* value);
    virtual bool GetGrabCamera(void* value);
    virtual bool SetGrabCamera(void* value);

    // ISCO_Unknown, shared by every interface part.
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override;
    void ReleaseInterface() override;

    // ISCO_Master
    bool AquireControl(Handle a, Handle b) override;

    // ISCO_HasEye
    _CCoordSystem<float> GetEyeCoordSystem(ULong eye, float& fov) override;
    ULong GetEyeCount() override;

    /// True while running: `ActualWayPointIndex` is not 0xFFFFFFFF.
    bool IsValid() const;

    // Static accessors held by the attribute records.
    static bool GetPathX(RtsObject* object, void* value);
    static bool SetPathX(RtsObject* object, void* value);
    static bool GetActualWayPointIndexX(RtsObject* object, void* value);
    static bool SetActualWayPointIndexX(RtsObject* object, void* value);
    static bool GetActualWayPointTimeX(RtsObject* object, void* value);
    static bool SetActualWayPointTimeX(RtsObject* object, void* value);
    static bool GetRelativeToX(RtsObject* object, void* value);
    static bool SetRelativeToX(RtsObject* object, void* value);
    static bool GetRelativeTo2X(RtsObject* object, void* value);
    static bool SetRelativeTo2X(RtsObject* object, void* value);
    static bool GetMovingDestinationX(RtsObject* object, void* value);
    static bool SetMovingDestinationX(RtsObject* object, void* value);
    static bool GetGrabCameraX(RtsObject* object, void* value);
    static bool SetGrabCameraX(RtsObject* object, void* value);

    static constexpr ULong kNotRunning = 0xFFFFFFFF;

    // Fields, in declaration order.
    float EyeFOV = 1.0f;                      ///< field-of-view value of the last tick (1.0, neutral, before)
    bool ObjectsActivated = false;            ///< the objects before the next waypoint are activated
    Handle Path;                              ///< the path flown
    ULong ActualWayPointIndex = kNotRunning;  ///< current waypoint among the switched-on ones
    ULong ActualWayPointTime = 0;             ///< clock time at which the current segment began
    Handle RelativeTo;                        ///< kept and persisted; not read
    Handle RelativeTo2;                       ///< kept and persisted; not read
    Handle MovingDestination;                 ///< when set, the object the camera looks at
    bool GrabCamera = true;                   ///< whether activation takes the game camera

private:
    /// The time law of a flight, chosen by the ease flags of its two waypoints.
    enum class EaseLaw { None, SlowEnd, SlowStart, Both };

    /// Brings the index and the segment start time up to `time`; true while a segment with a
    /// following waypoint holds it.
    bool GoToNextWayPoint(ULong time);
    /// One placement of the camera; true when it was placed.
    bool RecalcPosAtTimeSum(ULong time);
    /// Switched-on waypoint number `n` (no reference of its own); `last`: none follows it.
    ISCO_CSWayPoint* GetWayPointNo(int n, bool& last);
    /// Activates the other objects standing after exactly `n` switched-on waypoints.
    void ActivateObjectsBefore(ULong n);
    /// The law for waypoint n's EaseIn and EaseOut and waypoint n+1's EaseIn.
    static EaseLaw SelectEaseLaw(bool easeInHere, bool easeOutHere, bool easeInNext);
    /// The eased time within a flight of length `flight`, for `elapsed` in [0, flight].
    static float EaseTime(EaseLaw law, float elapsed, float flight);

    friend struct IteratorTestAccess;
};
