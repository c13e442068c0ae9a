#pragma once
/// One point of a camera flight, placed in the scene as a child of a camera path.

#include <cstddef>
#include <new>

#include "framework/CameraInterfaces.h"
#include "framework/EditorInterfaces.h"
#include "framework/RtsObject.h"

/// [plug imp] Waypoint: where the camera looks from here, roll, field-of-view factor, flight time
/// to the next waypoint, pause, ease flags, and the curve segment that begins here.
///
/// Declaration order is the table order: the primary table continues RtsObject's at slot 34 with
/// the attribute accessors; the overriders of the other interfaces' operations come after them,
/// so whatever this compiler appends for them lands behind the last accessor.
class SCOCameraSystemWaypoint : public RtsObject,
                                public ISCO_BoundingBox,
                                public ISCO_GCDrawSelf,
                                public ISCO_CSWayPoint,
                                public ISCO_ScenewrightFeedback {
public:
    SCOCameraSystemWaypoint(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor);
    SCOCameraSystemWaypoint(const SCOCameraSystemWaypoint& other);
    SCOCameraSystemWaypoint& operator=(const SCOCameraSystemWaypoint& other);

    /// Waypoints are placed so that the ISCO_CSWayPoint part begins a cache line: a walk over a
    /// path's children calls IsOn on every waypoint it passes, and the part's table pointer and
    /// IsOnFlag then come in one line instead of two.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* object) noexcept;
    static void operator delete(void* object, const std::nothrow_t&) noexcept;  ///< a constructor threw

    // Primary table: RtsObject's operations replaced here.
    int Serialize(IClassStorage* storage) override;
    void Activate(Handle sender, ULong time) override;
    void Deactivate(Handle sender, ULong time) override;
    bool IsPosValid() const override;
    ~SCOCameraSystemWaypoint() override;
    bool GetParentAttr(ULong index, Attribute* attr, char* className) override;

    // Primary table, slots 34 on: the attribute accessors.
    virtual bool GetPointsTo(void* value);
    virtual bool SetPointsTo(void* value);
    virtual bool GetRange(void* value);
    virtual bool SetRange(void* value);
    virtual bool GetRoll(void* value);
    virtual bool SetRoll(void* value);
    virtual bool GetFOVFac(void* value);
    virtual bool SetFOVFac(void* value);
    virtual bool GetTime2Next(void* value);
    virtual bool SetTime2Next(void* value);
    virtual bool GetEaseIn(void* value);
    virtual bool SetEaseIn(void* value);
    virtual bool GetEaseOut(void* value);
    virtual bool SetEaseOut(void* value);
    virtual bool GetIsOn(void* value);
    virtual bool SetIsOn(void* value);
    virtual bool GetPauseTime(void* value);
    virtual bool SetPauseTime(void* value);

    // ISCO_Unknown, shared by every interface part.
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override;
    void ReleaseInterface() override;

    // ISCO_BoundingBox
    void GetBBox(_Point3<float>* min, _Point3<float>* max) override;
    void GetBSphere(_Point3<float>* center, float* radius) override;
    void PotentiallyVisible() override;

    // ISCO_GCDrawSelf
    void Draw3D(IGC_DrawSelfParameter* context) override;
    void Draw2D(IGC_DrawSelfParameter* context) override;

    // ISCO_CSWayPoint
    ULong GetTime2Next() override;
    float GetDistanceSum() override;
    float GetDistance2Next() override;
    void SetDistance2Next(float distance) override;
    ULong GetPauseTime() override;
    bool IsOn() override;
    void GetEaseInOut(bool& easeIn, bool& easeOut) override;
    void CalcOrientationAtDistance(float distance, COrientation& out) override;
    float CalcDistanceAtTime(float time) override;
    void SetData(COrientation& cubic, COrientation& quadratic, COrientation& linear, COrientation& constant) override;
    float GetPara(int index) override;
    void Refresh() override;

    // ISCO_ScenewrightFeedback
    void OnOpen() override;
    void OnClose() override;
    void OnConsoleChar(char c, int x, int y) override;
    void OnConsoleLButton(int x, int y) override;
    void OnAttributChanged(char* name) override;
    void OnPositionChanged() override;
    char* GetDefaultScriptCode(int index, char* buffer) override;
    char* GetDefaultScriptName(int index, char* buffer) override;

    /// The destination point in world coordinates: position + Range * forward axis.
    _Point3<float> GetDestPoint();

    // Static accessors held by the attribute records.
    static bool GetPointsToX(RtsObject* object, void* value);
    static bool SetPointsToX(RtsObject* object, void* value);
    static bool GetRangeX(RtsObject* object, void* value);
    static bool SetRangeX(RtsObject* object, void* value);
    static bool GetRollX(RtsObject* object, void* value);
    static bool SetRollX(RtsObject* object, void* value);
    static bool GetFOVFacX(RtsObject* object, void* value);
    static bool SetFOVFacX(RtsObject* object, void* value);
    static bool GetTime2NextX(RtsObject* object, void* value);
    static bool SetTime2NextX(RtsObject* object, void* value);
    static bool GetEaseInX(RtsObject* object, void* value);
    static bool SetEaseInX(RtsObject* object, void* value);
    static bool GetEaseOutX(RtsObject* object, void* value);
    static bool SetEaseOutX(RtsObject* object, void* value);
    static bool GetIsOnX(RtsObject* object, void* value);
    static bool SetIsOnX(RtsObject* object, void* value);
    static bool GetPauseTimeX(RtsObject* object, void* value);
    static bool SetPauseTimeX(RtsObject* object, void* value);

    // Members, in order.
    Handle PointsTo;         ///< object the camera looks at from here (null: none)
    float Range = 1.0f;      ///< distance to the destination point along the forward axis
    float Roll = 0.0f;       ///< camera roll here, degrees
    float FOVFac = 1.0f;     ///< field-of-view factor; the path fits its reciprocal
    ULong Time2Next = 1000;  ///< flight time to the next waypoint
    bool EaseIn = false;
    bool EaseOut = false;
    bool IsOnFlag = true;         ///< the "IsOn" attribute (the name IsOn is the interface operation's)
    ULong PauseTime = 0;          ///< pause here
    float Distance2Next = 0.0f;   ///< segment length in the path's distance measure (set by the path)
    COrientation CubicData[4]{};  ///< cubic, quadratic, linear, constant coefficient records

private:
    /// Aims the waypoint at world point `p`: sets Range and the rotation (columns right,
    /// forward, up, with world up +z).
    void _SetDestPoint(_Point3<float> p);

    friend struct WaypointTestAccess;
};
