#pragma once
/// \file
/// Interfaces between the camera classes and between the iterator and the host's game camera.

#include "COrientation.h"
#include "ScoInterfaces.h"

/// [plug imp] Identifier 26: what the path and the iterator read from a waypoint.
class ISCO_CSWayPoint : public ISCO_Unknown {
public:
    virtual ULong GetTime2Next() = 0;                                               ///< Slot 3.
    virtual float GetDistanceSum() = 0;                                             ///< Slot 4.
    virtual float GetDistance2Next() = 0;                                           ///< Slot 5.
    virtual void SetDistance2Next(float distance) = 0;                              ///< Slot 6.
    virtual ULong GetPauseTime() = 0;                                               ///< Slot 7.
    virtual bool IsOn() = 0;                                                        ///< Slot 8.
    virtual void GetEaseInOut(bool& easeIn, bool& easeOut) = 0;                     ///< Slot 9.
    virtual void CalcOrientationAtDistance(float distance, COrientation& out) = 0;  ///< Slot 10.
    virtual float CalcDistanceAtTime(float time) = 0;                               ///< Slot 11.
    virtual void SetData(COrientation& cubic, COrientation& quadratic, COrientation& linear,
                         COrientation& constant) = 0;  ///< Slot 12.
    virtual float GetPara(int index) = 0;              ///< Slot 13.
    virtual void Refresh() = 0;                        ///< Slot 14.

protected:
    ~ISCO_CSWayPoint() = default;
};

/// [plug imp] Identifier 24: fitting and evaluating a path.
class ISCO_CSPath : public ISCO_Unknown {
public:
    virtual void RefreshCubicData() = 0;                                    ///< Slot 3.
    virtual COrientation CalcOrientationAtDistanceSum(float distance) = 0;  ///< Slot 4.
    virtual COrientation CalcPosAtTimeSum(float time) = 0;                  ///< Slot 5.

protected:
    ~ISCO_CSPath() = default;
};

/// [plug imp] Identifier 33: the camera asks its would-be controller.
class ISCO_Master : public ISCO_Unknown {
public:
    virtual bool AquireControl(Handle a, Handle b) = 0;  ///< Slot 3.

protected:
    ~ISCO_Master() = default;
};

/// [plug imp] Identifier 48: where the camera reads its eye.
class ISCO_HasEye : public ISCO_Unknown {
public:
    /// Slot 3. The eye's frame; `fov` receives the field-of-view value.
    virtual _CCoordSystem<float> GetEyeCoordSystem(ULong eye, float& fov) = 0;
    /// Slot 4.
    virtual ULong GetEyeCount() = 0;

protected:
    ~ISCO_HasEye() = default;
};

/// [host imp] Identifier 62: the host's game camera, reached through `IRTS::GetCamera`.
class ISCO_CameraControl : public ISCO_Unknown {
public:
    /// Slot 3. True when the camera now takes the object named by `master` as its controller.
    virtual bool SetMaster(const _GUID* master) = 0;
    virtual void CameraOp4() {}
    /// Slot 5. The object named by `master` gives the camera back.
    virtual void RemoveMaster(const _GUID* master) = 0;

protected:
    ~ISCO_CameraControl() = default;
};

template <>
inline constexpr ULong kInterfaceId<ISCO_CSWayPoint> = kIdCSWayPoint;
template <>
inline constexpr ULong kInterfaceId<ISCO_CSPath> = kIdCSPath;
template <>
inline constexpr ULong kInterfaceId<ISCO_Master> = kIdMaster;
template <>
inline constexpr ULong kInterfaceId<ISCO_HasEye> = kIdHasEye;
template <>
inline constexpr ULong kInterfaceId<ISCO_CameraControl> = kIdCameraControl;
