#pragma once
/// The moments a contact sheet shows of a flight: the shot list a reviewer reads in a glance.

#include <string>
#include <vector>

#include "flight/FlightAnalysis.h"

namespace host {

/// One cell of a contact sheet: a clock time to fly a frame at, and what happens there.
struct SheetMoment {
    ULong time = 0;
    std::string label;  ///< e.g. "start · W1", "W3", "before cut · W4", "after cut · W5", "end · W6"
};

/// The start, every waypoint reached, both sides of every cut and the end of the flight that
/// `analysis` measured on `input` (ticks `step` ms apart), in order of time: a cut is shown by
/// the tick before it and the tick that shows it. Moments at one time share a cell, their labels
/// joined. The end, and what falls on it, is shown 1 ms before the path ends: the Run that
/// ends a flight shows the eye of the Run before it. Waypoints are named as the analysis knows
/// them; none for a flight without ticks.
std::vector<SheetMoment> contactSheetMoments(const FlightAnalysisInput& input, const FlightAnalysis& analysis,
                                             ULong step);

}  // namespace host
