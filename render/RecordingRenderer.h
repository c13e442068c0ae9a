#pragma once
/// The stand-in render engine: it draws nothing and records every call, in order, so that tests
/// can check what an object drew and a later renderer can turn the calls into a picture.

#include <array>
#include <cstddef>
#include <vector>

#include "framework/RenderEngine.h"

namespace host {

/// Which utility operation a recorded call went to.
enum class DrawKind { Line, Arrow };

/// One recorded `DrawLine` or `DrawArrow` call. Fields an operation does not have stay zero.
struct DrawCall {
    DrawKind kind = DrawKind::Line;
    _Point3<float> from{0, 0, 0};    ///< first point (line) or start (arrow)
    _Point3<float> to{0, 0, 0};      ///< second point (line) or tip (arrow)
    float widthFrom = 0;             ///< line width at `from`
    float widthTo = 0;               ///< line width at `to`
    std::array<float, 3> sizes{};    ///< the arrow's three sizes
    std::array<float, 4> colour{};   ///< RGBA of the line, first colour of the arrow
    std::array<float, 4> colour2{};  ///< second colour of the arrow
    int flag = 0;
};

/// [host imp] Records every drawing call instead of drawing.
class RecordingRenderer final : public IRenderEngineUtility {
public:
    void DrawLine(const _Point3<float>* a, const _Point3<float>* b, float widthA, float widthB, const float* rgba,
                  int flag) override;
    void DrawArrow(const _Point3<float>* start, const _Point3<float>* tip, float size1, float size2, float size3,
                   const float* rgba1, const float* rgba2, int flag) override;

    /// At most this many calls are kept: a path with absurd coordinates (1e30) asks for some
    /// 2^24 lines, and an editor's recorder must not grow without bound.
    static constexpr std::size_t kMaxCalls = std::size_t{1} << 20;

    /// The calls since the last `clear`, in the order they were made (the first `kMaxCalls`).
    const std::vector<DrawCall>& calls() const { return calls_; }
    /// Calls made beyond `kMaxCalls` since the last `clear`, not kept.
    std::size_t dropped() const { return dropped_; }
    void clear() {
        calls_.clear();
        dropped_ = 0;
    }
    /// Exchanges the calls kept with `other`: a drawing of a long path taken on every step of a
    /// drag is recorded into a buffer of its own and handed over, not copied.
    void swapCalls(std::vector<DrawCall>& other) { calls_.swap(other); }

private:
    /// Where the next call goes (value-initialised), or null beyond `kMaxCalls`.
    DrawCall* nextCall() {
        if (calls_.size() < kMaxCalls) return &calls_.emplace_back();
        ++dropped_;
        return nullptr;
    }

    std::vector<DrawCall> calls_;
    std::size_t dropped_ = 0;
};

/// The recorder `REU` points at unless the host points it elsewhere.
RecordingRenderer& defaultRecorder();

}  // namespace host
