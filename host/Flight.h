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
#include <string>
#include <vector>

#include "host/Host.h"

namespace host {

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

/// "activate", "deactivate" or "message".
const char* eventWord(FlightEvent::Kind kind);

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
    bool hitLimit = false;  ///< `maxTicks` ran out before the iterator was deactivated
};

/// The CSV header line of a flight, without the line end:
/// "time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov".
extern const char* const kFlightColumns[15];

/// Flies `iterator` as `Host::fly` does (the scene needs a game camera) and records every tick
/// and event; then restores the iterator and the camera (see above). Throws std::invalid_argument
/// when `iterator` names no plug-in object.
FlightRecording recordFlight(Host& host, const Handle& iterator, const FlightOptions& options);

/// The eye at `time` of a flight activated at `start` and ticked every `step`, exactly as the
/// camera shows it at that tick without flying the ticks before: activation at `start`, one
/// `Run` at the tick before (`time - step`, when that is not before `start`) and one at `time`,
/// each followed by the camera's read; a single `Run` may pass several segments. The tick before
/// matters where the camera holds its last eye: at the tick after the end of the path and at a
/// sample that cannot be placed. Then the same restoring as `recordFlight`. At a tick's time it
/// equals that tick of the recorded flight.
FlightTick sampleFlight(Host& host, const Handle& iterator, ULong start, ULong step, ULong time);

/// The flight as CSV: the header, then one line per tick; floats as `formatFloat` writes them.
std::string flightCsv(const FlightRecording& flight);

}  // namespace host
