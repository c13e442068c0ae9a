#pragma once
/// The analysis input of a flight read from the scene it was flown in: what ties the pure
/// analysis (FlightAnalysis.h) to a `Host`.

#include <vector>

#include "flight/FlightAnalysis.h"

namespace host {

class Host;

/// The analysis input of a flight of `iterator` in `host`'s scene: the switched-on waypoints of
/// the path it names ("Path"), in flight order, with their times and look-at targets, and the
/// position of its "MovingDestination". A missing path gives no waypoints.
FlightAnalysisInput flightAnalysisInput(const Host& host, const Handle& iterator, std::vector<FlightTick> ticks);

}  // namespace host
