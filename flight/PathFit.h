#pragma once
/// The free-flight recorder: a camera move recorded elsewhere (a CSV in `camsys fly`'s columns,
/// or the samples of a glTF camera animation, both read in exchange/) becomes an editable path
/// of far fewer waypoints, whose own flight, flown by the plug-in, stays within a tolerance of
/// the recording.

#include <cstddef>
#include <string>
#include <vector>

#include "framework/Geometry.h"
#include "framework/Types.h"

namespace host {

class Host;

/// One sample of a recorded camera move: the clock time (ms, 32-bit, may wrap), the eye (its
/// orientation's columns are the camera's right, forward and up axes) and the field-of-view
/// value (the factor the game camera reads).
struct RecordedEye {
    ULong time = 0;
    _CCoordSystem<float> eye;
    float fov = 1.0f;
};

/// Refuses (InputError naming `file`) a recording that cannot become a path: fewer than two
/// samples, a value that is not finite, times that do not increase (as 32-bit clock times:
/// each step forward by less than 2^31), an orientation that is not a rotation.
void checkRecording(const std::vector<RecordedEye>& samples, const std::string& file);

struct PathFitOptions {
    double tolerance = 0.25;  ///< largest distance of the path's eye from the recorded one
    double angle = 1.0;       ///< largest angle (degrees) between their view directions
    std::size_t maxWaypoints = 100000;
};

struct PathFitResult {
    std::string sceneJson;  ///< the path "Flight" of the waypoints and the iterator "Cam", as `sceneToJson` writes it
    std::size_t waypoints = 0;  ///< how many the path has
    std::size_t parts = 0;      ///< pieces between cuts (a jump of the eye)
    double worstDistance = 0;   ///< largest distance of its flight from the recording
    double worstAngle = 0;      ///< largest angle between the view directions (degrees)
    std::size_t rounds = 0;     ///< fits flown
    bool withinTolerance = false;
};

/// Chooses waypoints among the samples and fits a path through them, refining until its flight
/// stays within the tolerances at every sample: the ends of every part first; then, every
/// round, the path is built in `host` (whose scene is replaced; it needs a game camera), flown
/// by the plug-in at the recording's own times, and each stretch between two neighbouring
/// waypoints whose flight leaves the tolerance gets a waypoint at its worst sample. Positions,
/// orientations, `Roll` (unwrapped to the nearest turn of its neighbour), `FOVFac` and
/// `Time2Next` come from the recording; a jump of the eye ten times the median step (and longer
/// than four tolerances) is a cut (`Time2Next` 0, the time to the next sample as the next
/// waypoint's `PauseTime`). The path is flown at the times since the first sample (its flight
/// starts at 0). It stops short of the tolerance when half the samples are waypoints.
PathFitResult fitPathToRecording(Host& host, const std::vector<RecordedEye>& samples, const PathFitOptions& options);

}  // namespace host
