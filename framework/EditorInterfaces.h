#pragma once
/// \file
/// Interfaces of the host's editor and visibility system: bounds, bounds registry, drawing and
/// edit feedback.

#include "ScoInterfaces.h"

/// Draw context passed to `Draw3D` / `Draw2D`; opaque, the module does not use it.
class IGC_DrawSelfParameter;

/// [plug imp] Identifier 5: an axis-aligned box and a sphere around the object.
class ISCO_BoundingBox : public ISCO_Unknown {
public:
    virtual void GetBBox(_Point3<float>* min, _Point3<float>* max) = 0;  ///< Slot 3.
    virtual void GetBSphere(_Point3<float>* center, float* radius) = 0;  ///< Slot 4.
    virtual void PotentiallyVisible() = 0;                               ///< Slot 5.

protected:
    ~ISCO_BoundingBox() = default;
};

/// [host imp] Identifier 7: a host object that keeps track of the bounds of objects registered
/// with it. Results are not used by the module.
class ISCO_BoundsRegistry : public ISCO_Unknown {
public:
    virtual void RegistryOp3() {}
    virtual void RegistryOp4() {}
    virtual void RegistryOp5() {}
    virtual void RegistryOp6() {}
    virtual void RegistryOp7() {}
    virtual void RegistryOp8() {}
    virtual bool RegisterObject(Handle object) = 0;    ///< Slot 9.
    virtual bool UnregisterObject(Handle object) = 0;  ///< Slot 10.
    virtual bool UpdateObject(Handle object) = 0;      ///< Slot 11.

protected:
    ~ISCO_BoundsRegistry() = default;
};

/// [plug imp] Identifier 38: the object draws itself in the editor.
class ISCO_GCDrawSelf : public ISCO_Unknown {
public:
    virtual void Draw3D(IGC_DrawSelfParameter* context) = 0;  ///< Slot 3.
    virtual void Draw2D(IGC_DrawSelfParameter* context) = 0;  ///< Slot 4.

protected:
    ~ISCO_GCDrawSelf() = default;
};

/// [plug imp] Identifier 55: notifications from the editor. Of the two pairs whose order only
/// the host's declaration settles, we put `OnOpen` before `OnClose` and `GetDefaultScriptCode`
/// before `GetDefaultScriptName`; the module's bodies of each pair are identical anyway.
class ISCO_ScenewrightFeedback : public ISCO_Unknown {
public:
    virtual void OnOpen() = 0;                                        ///< Slot 3.
    virtual void OnClose() = 0;                                       ///< Slot 4.
    virtual void OnConsoleChar(char c, int x, int y) = 0;             ///< Slot 5.
    virtual void OnConsoleLButton(int x, int y) = 0;                  ///< Slot 6.
    virtual void OnAttributChanged(char* name) = 0;                   ///< Slot 7.
    virtual void OnPositionChanged() = 0;                             ///< Slot 8.
    virtual char* GetDefaultScriptCode(int index, char* buffer) = 0;  ///< Slot 9.
    virtual char* GetDefaultScriptName(int index, char* buffer) = 0;  ///< Slot 10.

protected:
    ~ISCO_ScenewrightFeedback() = default;
};

/// [host imp] The editor, from `IRTS::GetEditor`. Only slot 13 is called by the module.
class IEditor {
public:
    virtual void EditorOp0() {}
    virtual void EditorOp1() {}
    virtual void EditorOp2() {}
    virtual void EditorOp3() {}
    virtual void EditorOp4() {}
    virtual void EditorOp5() {}
    virtual void EditorOp6() {}
    virtual void EditorOp7() {}
    virtual void EditorOp8() {}
    virtual void EditorOp9() {}
    virtual void EditorOp10() {}
    virtual void EditorOp11() {}
    virtual void EditorOp12() {}
    /// Slot 13. An attribute of the object `objectRef` (from `LookupObject`) changed.
    virtual void AttributeChanged(ULong objectRef, const char* attributeName) = 0;

protected:
    ~IEditor() = default;
};

/// [host imp] The attribute type registry, from `IRTS::GetTypeRegistry`.
class ITypeRegistry {
public:
    /// Slot 0. Byte size of one value of `typeCode` into `*byteSize`; false for unknown codes.
    /// The module passes 0 for the three other arguments.
    virtual bool GetTypeInfo(ULong typeCode, void* reserved1, std::int32_t* byteSize, void* reserved2,
                             void* reserved3) = 0;

protected:
    ~ITypeRegistry() = default;
};

template <>
inline constexpr ULong kInterfaceId<ISCO_BoundingBox> = kIdBoundingBox;
template <>
inline constexpr ULong kInterfaceId<ISCO_BoundsRegistry> = kIdBoundsRegistry;
template <>
inline constexpr ULong kInterfaceId<ISCO_GCDrawSelf> = kIdGCDrawSelf;
template <>
inline constexpr ULong kInterfaceId<ISCO_ScenewrightFeedback> = kIdScenewrightFeedback;
