#pragma once
/// Flights recorded as tables: what `camsys fly` prints and what the studio serves, computed in
/// one place so that both give the same numbers.
///
/// A recorded flight leaves the scene as it found it. An editor that plays a flight must not
/// keep what the flight did to its objects: the iterator writes every frame into its own
/// "ObjectPos", moves its waypoint index and remembers the last field of view, and the game
/// camera keeps the last eye it read. After the flight the host therefore puts a fresh instance
/// of the iterator in place (made by its factory and loaded from the record it had before the
/// flight, exactly as loading the scene would), and resets the camera. A second flight of the
/// same scene is the same bytes as the first, and as `camsys fly` of the saved scene.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/Geometry.h"
#include "framework/Guid.h"
#include "framework/Types.h"

namespace host {

class Host;

/// One tick of a flight: the eye as the game camera read it after the tick, with the
/// iterator's waypoint index and segment start ("ActualWayPointIndex", "ActualWayPointTime").
struct FlightTick {
    ULong time = 0;
    ULong waypoint = 0;
    ULong segmentStart = 0;
    _CCoordSystem<float> eye;
    float fov = 1.0f;
};

/// What the runtime reported while a flight ran, in the order it happened.
struct FlightEvent {
    enum class Kind { Activate, Deactivate, Message };
    ULong time = 0;
    Kind kind = Kind::Message;
    std::string detail;  ///< the target's name, or "Location: text" for a message
};

/// "activate", "deactivate" (the activation log's words, `activationWord`) or "message".
const char* eventWord(FlightEvent::Kind kind);

/// A place in the runtime's activation log and message log: what lies before it is taken.
struct EventCursor {
    std::size_t activations = 0;
    std::size_t messages = 0;
};

/// The cursor past everything the runtime of `host` has logged so far.
EventCursor eventCursorAtEnd(const Host& host);

/// Appends what the runtime logged from `cursor` on to `out`, activations and messages as one
/// list in the order they happened (the runtime numbers both in one sequence), and moves
/// `cursor` past it.
void takeEvents(const Host& host, EventCursor& cursor, std::vector<FlightEvent>& out);

/// How to fly: the activation time, the time between ticks and the most ticks to run.
struct FlightOptions {
    ULong start = 0;
    ULong step = 16;
    std::size_t maxTicks = 100000;
};

/// A whole recorded flight.
struct FlightRecording {
    std::vector<FlightTick> ticks;
    std::vector<FlightEvent> events;
    bool hitLimit = false;     ///< `maxTicks` ran out before the iterator was deactivated
    bool cameraTaken = false;  ///< the game camera took the iterator as master at the activation
};

/// A flight recorded a part at a time: an editor shows the first ticks of a long flight while
/// the rest is still being flown.
struct PartialFlight {
    FlightRecording recording;
    bool ended = false;     ///< the iterator was deactivated, or `maxTicks` ticks are recorded
    bool resumable = true;  ///< its activation allows resuming (see `FrameSampler`)
};

/// `sampleFlight` and `recordFlight` for an editor that asks for many frames of one flight
/// (scrubbing, playing, editing): the same ticks to the bit, without the cost of flying from
/// the activation every time.
///
/// A frame flown from the activation costs a refit of the path and a walk of every segment
/// before its time, and the iterator walks the path's child list from the start for each of
/// them: at waypoint k of a long path that is k^2 child visits. The sampler remembers where
/// the iterator stood after the Runs it has seen (every tick of a recorded flight, both Runs
/// of every sample) and starts the next sample from there instead: the iterator's segment set
/// through its attribute table and the camera given to it as its activation would.
///
/// Why that is the same frame. A frame is the activation, a Run at the tick before and one at
/// its time (see `sampleFlight`). The iterator's progress is a chain of segment states (index,
/// start time) fixed by the scene and the activation time; a Run at t moves along the chain
/// past every segment whose end is not after t. A state reached by Runs at times no later than
/// t (as plain unsigned numbers, which is how the iterator compares times, so a clock that
/// wrapped in between is covered) is one that a single Run at t passes through as well, and
/// the fresh iterator placed there has the eye and field of view it has after the activation.
/// Skipping the activation is exact only when nothing it did matters to the frame: its refit
/// left the path as a refit now would (the scene is unchanged, so the caller calls `forget` on
/// every change that does not refit the path through the editor's path), the camera accepted
/// the iterator, and it and the skipped segments activated nothing but plain host objects.
/// Where a literal activation shows otherwise, every sample of that flight is flown from the
/// activation.
///
/// A frame is a tick's row wherever the tick's eye does not hang on the eyes before it. It
/// does where the iterator falls back on the last eye (a sample it cannot place, a look
/// straight up or down): there the flight's row and the frame can differ.
///
/// A flight flown on in parts (`extend`) must be the whole flight's rows in every case, so it
/// resumes with the whole state a Run depends on: the segment, and the eye the last tick left
/// (the iterator's "ObjectPos", where its fallbacks start) with its field of view. The sampler
/// sets the segment through the attribute table and the eye as "ObjectPos", gives the iterator
/// the camera as its activation would, and runs the last tick again (which activates the
/// current gap's objects again, and leaves the field of view, which cannot be set, as that Run
/// makes it). Only when the camera then reads the last tick's eye and field of view to the bit
/// does it fly on; else it flies from the activation.
///
/// One flight (iterator and activation time) at a time; another starts afresh.
class FrameSampler {
public:
    /// `recordFlight`, remembering where each tick left the iterator.
    FlightRecording record(Host& host, const Handle& iterator, const FlightOptions& options);
    /// Flies `flight` (the first ticks of the flight of `options`, or none) on until it holds
    /// `ticks` ticks or has ended: resumed from its last tick where that holds (see above),
    /// else flown again from the activation. The events of the new ticks are added; those of
    /// the last tick's second Run were recorded with it.
    void extend(Host& host, const Handle& iterator, const FlightOptions& options, PartialFlight& flight,
                std::size_t ticks);
    /// `sampleFlight`, resumed from the latest state remembered that it may start from.
    FlightTick sample(Host& host, const Handle& iterator, ULong start, ULong step, ULong time);
    /// The scene changed outside the editor's refitting path: nothing remembered holds.
    void forget();

    /// States remembered, and whether the last sample resumed from one (tests, benchmarks).
    std::size_t remembered() const { return chain_.size(); }
    bool lastSampleResumed() const { return resumed_; }

private:
    /// Where a Run at `run` left the iterator, and the eye the camera then read.
    struct Resume {
        ULong waypoint = 0;
        ULong segmentStart = 0;
        ULong run = 0;
        _CCoordSystem<float> eye;
        float fov = 1.0f;
    };
    void restartFor(const Handle& iterator, ULong start);
    bool activationsInert(const Host& host, std::size_t from) const;
    void remember(const Host& host, ULong latestRun, ULong run);
    /// Puts the iterator where `at` says and runs that Run again; true when the camera then
    /// reads `at`'s eye and field of view to the bit.
    bool resumeAt(Host& host, const Handle& iterator, const Resume& at) const;
    void learnActivation(const Host& host, bool cameraTaken, std::size_t logFrom);

    Handle iterator_;
    ULong start_ = 0;
    bool resumable_ = false;
    bool resumed_ = false;
    /// Iterator states by the latest Run time (since the activation) that led to them.
    std::map<ULong, Resume> chain_;
};

/// The columns of a flight's table, as `camsys fly` writes it (exchange/FlightCsv.h) and the
/// studio serves it: "time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov".
extern const char* const kFlightColumns[15];

/// Flies `iterator` as `Host::fly` does (the scene needs a game camera) and records every tick
/// and event; then restores the iterator and the camera (see above). Throws std::invalid_argument
/// when `iterator` names no plug-in object.
FlightRecording recordFlight(Host& host, const Handle& iterator, const FlightOptions& options);

/// `recordFlight` activated at `start` with tick k at `timeOf(k)`: one Run at each time asked
/// for, so every tick is exact at its own time (a video's frames, a contact sheet's moments).
FlightRecording recordFlightAt(Host& host, const Handle& iterator, ULong start,
                               const std::function<ULong(std::size_t)>& timeOf,
                               std::size_t maxTicks);

/// The clock time of a video's frame `frame` at `fps` frames a second from `start`:
/// start + round(frame * 1000 / fps) (modulo 2^32).
ULong frameTime(ULong start, double fps, std::size_t frame);

/// The eye at `time` of a flight activated at `start` and ticked every `step`, exactly as the
/// camera shows it at that tick without flying the ticks before: activation at `start`, one
/// `Run` at the tick before (`time - step`, when that is not before `start`) and one at `time`,
/// each followed by the camera's read; a single `Run` may pass several segments. The tick before
/// matters where the camera holds its last eye: at the tick after the end of the path and at a
/// sample that cannot be placed. Then the same restoring as `recordFlight`. At a tick's time it
/// equals that tick of the recorded flight.
FlightTick sampleFlight(Host& host, const Handle& iterator, ULong start, ULong step, ULong time);

/// The iterator to fly among `scene`'s objects: the one named, else the only object with an eye.
/// Throws InputError naming `file`; for a scene of several, the words end "choose one " + `how`
/// (how the caller's user names one: "with --iterator", "by name").
Handle chooseIterator(const Host& host, const std::vector<Handle>& scene, const std::string& file,
                      const std::string& name, const std::string& how);

}  // namespace host
