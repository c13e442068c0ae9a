// The render engine's library: exports the global REU that the plug-in imports. By default it
// points at a recorder, so every drawing call made by any object in the process can be checked.
#include "render/RecordingRenderer.h"

namespace host {

namespace {

/// Copies a point the caller may have passed as null (bad input must not crash the engine).
_Point3<float> pointAt(const _Point3<float>* p) { return p ? *p : _Point3<float>{0, 0, 0}; }

std::array<float, 4> colourAt(const float* rgba) {
    std::array<float, 4> c{};
    if (rgba)
        for (int i = 0; i < 4; ++i) c[i] = rgba[i];
    return c;
}

RecordingRenderer recorder;

}  // namespace

void RecordingRenderer::DrawLine(const _Point3<float>* a, const _Point3<float>* b, float widthA, float widthB,
                                 const float* rgba, int flag) {
    DrawCall* call = nextCall();
    if (!call) return;
    call->kind = DrawKind::Line;
    call->from = pointAt(a);
    call->to = pointAt(b);
    call->widthFrom = widthA;
    call->widthTo = widthB;
    call->colour = colourAt(rgba);
    call->flag = flag;
}

void RecordingRenderer::DrawArrow(const _Point3<float>* start, const _Point3<float>* tip, float size1, float size2,
                                  float size3, const float* rgba1, const float* rgba2, int flag) {
    DrawCall* call = nextCall();
    if (!call) return;
    call->kind = DrawKind::Arrow;
    call->from = pointAt(start);
    call->to = pointAt(tip);
    call->sizes = {size1, size2, size3};
    call->colour = colourAt(rgba1);
    call->colour2 = colourAt(rgba2);
    call->flag = flag;
}

RecordingRenderer& defaultRecorder() { return recorder; }

}  // namespace host

IRenderEngineUtility* REU = &host::recorder;
