#pragma once
/// \file
/// The render engine's utility interface, reached through the global `REU` that the host's
/// render-engine library exports and the plug-in imports.

#include "Geometry.h"

/// [host imp] Drawing helpers of the render engine. Only `DrawLine` (slot 40) and `DrawArrow`
/// (slot 42) are called by the module; what the engine makes of widths, sizes, colours and
/// flags is its own business. Unnamed slots are placeholders.
class IRenderEngineUtility {
public:
    virtual void Placeholder0() {}
    virtual void Placeholder1() {}
    virtual void Placeholder2() {}
    virtual void Placeholder3() {}
    virtual void Placeholder4() {}
    virtual void Placeholder5() {}
    virtual void Placeholder6() {}
    virtual void Placeholder7() {}
    virtual void Placeholder8() {}
    virtual void Placeholder9() {}
    virtual void Placeholder10() {}
    virtual void Placeholder11() {}
    virtual void Placeholder12() {}
    virtual void Placeholder13() {}
    virtual void Placeholder14() {}
    virtual void Placeholder15() {}
    virtual void Placeholder16() {}
    virtual void Placeholder17() {}
    virtual void Placeholder18() {}
    virtual void Placeholder19() {}
    virtual void Placeholder20() {}
    virtual void Placeholder21() {}
    virtual void Placeholder22() {}
    virtual void Placeholder23() {}
    virtual void Placeholder24() {}
    virtual void Placeholder25() {}
    virtual void Placeholder26() {}
    virtual void Placeholder27() {}
    virtual void Placeholder28() {}
    virtual void Placeholder29() {}
    virtual void Placeholder30() {}
    virtual void Placeholder31() {}
    virtual void Placeholder32() {}
    virtual void Placeholder33() {}
    virtual void Placeholder34() {}
    virtual void Placeholder35() {}
    virtual void Placeholder36() {}
    virtual void Placeholder37() {}
    virtual void Placeholder38() {}
    virtual void Placeholder39() {}
    /// Slot 40. A line from `a` to `b`, `widthA` wide at `a` and `widthB` at `b`, colour RGBA.
    virtual void DrawLine(const _Point3<float>* a, const _Point3<float>* b, float widthA, float widthB,
                          const float* rgba, int flag) = 0;
    virtual void Placeholder41() {}
    /// Slot 42. An arrow from `start` to `tip` with three sizes and two RGBA colours.
    virtual void DrawArrow(const _Point3<float>* start, const _Point3<float>* tip, float size1, float size2,
                           float size3, const float* rgba1, const float* rgba2, int flag) = 0;

protected:
    ~IRenderEngineUtility() = default;
};

/// The render engine's utility object, exported by the host's render-engine library.
extern __attribute__((visibility("default"))) IRenderEngineUtility* REU;
