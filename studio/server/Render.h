#pragma once
/// A render of the camera's view to a clip: what to render, where the result goes and how far
/// it is. The page renders the frames with its own renderer (in the user's browser, or in the
/// headless browser `camsys render` starts), encodes them and sends the bytes back in pieces;
/// the studio writes them under a temporary name and puts the result in place when the page
/// says it is complete. Whoever started the render waits on it here.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/AtomicFile.h"
#include "framework/Types.h"

namespace studio {

/// What a render makes: H.264 in MP4, VP9 in WebM, a PNG per frame, or one PNG of the shot list.
enum class RenderFormat { Mp4, WebM, Frames, Sheet };

/// "mp4", "webm", "frames", "sheet".
const char* renderFormatWord(RenderFormat format);

struct RenderSettings {
    RenderFormat format = RenderFormat::Mp4;
    int width = 1280;
    int height = 720;
    double fps = 30;
    double vfov = 60;               ///< the base vertical field of view, degrees, at fov 1
    std::optional<ULong> from{};    ///< the first frame's time, ms since the activation
    std::optional<ULong> to{};      ///< the last frame's time, ms since the activation
    bool overlay = false;           ///< time code, tick, waypoint and findings burnt in
    bool showPath = false;          ///< the path's lines as the editor draws them
    int crf = -1;                   ///< quality as a quantizer (0 best; H.264 to 51, VP9 to 63); -1: the encoder's
    std::string iterator{};         ///< empty: the studio's iterator in use
    ULong start = 0;                ///< the activation time
    std::string framePattern = "%05d.png";  ///< the name of frame k of `Frames`
    /// Each stage waits for the one before, so that the page measures each on its own (slower).
    bool timings = false;
};

inline constexpr int kMaxRenderSide = 4096;
inline constexpr double kMaxRenderFps = 240;

/// Why `settings` cannot be rendered, in the words of the command's options; empty when they can.
std::string renderSettingsProblem(const RenderSettings& settings);

/// The settings as JSON for the page; `renderSettingsFromJson` reads them back (BadRequest).
std::string renderSettingsJson(const RenderSettings& settings);
RenderSettings renderSettingsFromJson(std::string_view json);

/// The name of frame `index` by `pattern` (one printf directive for a whole number, %d or %0Nd).
std::string frameFileName(const std::string& pattern, std::size_t index);
/// Why `pattern` cannot name frames; empty when it can.
std::string framePatternProblem(const std::string& pattern);

/// Where the page's time went, in ms: drawing frames, reading them back, encoding and sending
/// the bytes on (each as the render loop waited for it), and the whole render on the page.
struct RenderTimings {
    double render = 0;
    double readback = 0;
    double encode = 0;
    double transfer = 0;
    double total = 0;
};

/// One render in progress. Safe to use from the server's threads and the one that waits.
class RenderTask {
public:
    enum class State { Running, Finished, Failed, Cancelled };
    struct Progress {
        State state = State::Running;
        std::size_t done = 0;      ///< frames rendered
        std::size_t total = 0;     ///< frames in all (0: not known yet)
        std::string error{};       ///< why it failed
        RenderTimings timings{};   ///< the page's measures of its stages, once finished
        std::uint64_t bytes = 0;   ///< bytes written
    };

    /// Opens the output (a file, or for `Frames` a folder): throws std::runtime_error when it
    /// cannot be written. `output` is shown in messages as given. An empty `output` is a render
    /// whose bytes the page keeps (a download): it refuses every write and finishes with no file.
    RenderTask(RenderSettings settings, std::string output);

    const RenderSettings& settings() const { return settings_; }
    const std::string& output() const { return output_; }

    /// `bytes` at `offset` of the output, or of frame `frame`'s file.
    void write(std::uint64_t offset, std::string_view bytes, std::optional<std::size_t> frame = std::nullopt);
    void progress(std::size_t done, std::size_t total);
    /// The output is complete: it is put in place. Throws std::runtime_error when it cannot be.
    void finish(const RenderTimings& timings);
    /// The page could not complete it (`why`); nothing is written.
    void fail(std::string why);
    /// Stopped by the user (or an interrupted `camsys render`); nothing is written.
    void cancel();

    Progress progress() const;
    /// Waits at most `timeout` for a change of the progress; returns it.
    Progress waitForChange(std::chrono::milliseconds timeout);

private:
    void changed();
    void ended(State state, std::string why);
    RenderSettings settings_;
    std::string output_;
    mutable std::mutex mutex_;
    std::condition_variable change_;
    std::uint64_t changes_ = 0;
    Progress progress_;
    std::unique_ptr<host::StagedFile> file_;
    std::unique_ptr<host::StagedFolder> folder_;
};

}  // namespace studio
