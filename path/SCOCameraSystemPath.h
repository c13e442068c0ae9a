#pragma once
/// The container of an ordered set of waypoints: fits, evaluates, bounds and draws a flight.

#include "framework/CameraInterfaces.h"
#include "framework/EditorInterfaces.h"
#include "framework/RtsObject.h"

/// [plug imp] Camera path. Its waypoints are its own children in the host's child list; it keeps
/// no list and no curve of its own: every waypoint holds the segment that begins at it.
///
/// Declaration order is the table order (see SCOCameraSystemWaypoint).
class SCOCameraSystemPath : public RtsObject, public ISCO_GCDrawSelf, public ISCO_CSPath, public ISCO_BoundingBox {
public:
    SCOCameraSystemPath(const CGUID& objectGuid, const CGUID& secondGuid, ISCODescriptor* descriptor);
    SCOCameraSystemPath(const SCOCameraSystemPath& other);
    SCOCameraSystemPath& operator=(const SCOCameraSystemPath& other);

    // Primary table: RtsObject's operations replaced here.
    int Serialize(IClassStorage* storage) override;
    void AfterLoad() override;
    bool IsPosValid() const override;
    ~SCOCameraSystemPath() override;
    bool GetParentAttr(ULong index, Attribute* attr, char* className) override;

    // Primary table, slots 34 on.
    virtual bool GetMinBound(void* value);
    virtual bool SetMinBound(void* value);
    virtual bool GetMaxBound(void* value);
    virtual bool SetMaxBound(void* value);
    virtual bool GetShowPath(void* value);
    virtual bool SetShowPath(void* value);
    /// Calls `Refresh` of every switched-on waypoint, in container order.
    virtual void Refresh();

    // ISCO_Unknown, shared by every interface part.
    bool QueryInterface(ULong id, void** out) override;
    bool GetAttributeInfo(ULong index, Attribute* attr, char* className, bool includeParents) override;
    void ReleaseInterface() override;

    // ISCO_GCDrawSelf
    void Draw3D(IGC_DrawSelfParameter* context) override;
    void Draw2D(IGC_DrawSelfParameter* context) override;

    // ISCO_CSPath
    void RefreshCubicData() override;
    COrientation CalcOrientationAtDistanceSum(float distance) override;
    COrientation CalcPosAtTimeSum(float time) override;

    // ISCO_BoundingBox
    void GetBBox(_Point3<float>* min, _Point3<float>* max) override;
    void GetBSphere(_Point3<float>* center, float* radius) override;
    void PotentiallyVisible() override;

    // Static accessors held by the attribute records.
    static bool GetMinBoundX(RtsObject* object, void* value);
    static bool SetMinBoundX(RtsObject* object, void* value);
    static bool GetMaxBoundX(RtsObject* object, void* value);
    static bool SetMaxBoundX(RtsObject* object, void* value);
    static bool GetShowPathX(RtsObject* object, void* value);
    static bool SetShowPathX(RtsObject* object, void* value);

    // Members, in order.
    CPosition MinBound;    ///< lower corner of the bounding box (world), margin included
    CPosition MaxBound;    ///< upper corner
    bool ShowPath = true;  ///< the path draws itself only while this is true

private:
    /// `GetPara(index)` of every switched-on waypoint into row[0], row[1], ... (at most `count`).
    void FillInValues(double* row, int index, ULong count);
    /// The distance knots D[k] (at most `count`); sets every waypoint's `Distance2Next`.
    void FillInDistanceValues(double* out, ULong count);
    /// The time knots T[k] (at most `count`): the sum of `Time2Next` before waypoint k.
    void FillInTimeValues(double* out, ULong count);
    /// Distance span of the part that begins at `pos`; moves `pos` behind the part.
    float GetDistanceSumPart(ChildPos& pos);
    /// Time span of the part that begins at `pos`; moves `pos` behind the part.
    float GetTimeSumPart(ChildPos& pos);
    /// Total time of the path, T[n-1].
    ULong GetSumTime();
    /// DistanceSum of the last switched-on waypoint, D[n-1] (0 without waypoints).
    float GetSumDistance();
    /// Box around the positions sampled every 0.25 distance units, widened by 1.
    void RecalcBoundingBox();
    /// Number of switched-on waypoints among the children.
    ULong GetWayPointCount();

    /// `GetDistanceSumPart` that also reports the part's first DistanceSum (false: the part has
    /// no switched-on waypoint).
    float measurePart(ChildPos& pos, float* firstSum, bool* found);
    /// The path's own child list (the host's, through the container part).
    RtsObjectContainer& children() { return *this; }

    friend struct PathTestAccess;
};
