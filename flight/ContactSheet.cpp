#include "flight/ContactSheet.h"

#include <algorithm>

namespace host {

namespace {

std::string waypointName(const FlightAnalysisInput& input, ULong index) {
    return index < input.waypoints.size() ? input.waypoints[index].name : "waypoint " + std::to_string(index);
}

}  // namespace

std::vector<SheetMoment> contactSheetMoments(const FlightAnalysisInput& input, const FlightAnalysis& analysis,
                                             ULong step) {
    const std::vector<FlightTick>& ticks = input.ticks;
    if (ticks.empty()) return {};
    const ULong first = ticks.front().time;
    // Places by the ms since the first tick, so that a clock that wraps keeps the order.
    struct Placed {
        ULong since;
        std::string label;
    };
    std::vector<Placed> placed;
    const auto at = [&](ULong time, std::string label) { placed.push_back({ULong(time - first), std::move(label)}); };
    at(first, "start · " + waypointName(input, ticks.front().waypoint));
    for (const FlightMark& mark : analysis.marks) {
        if (mark.kind == FlightMark::Kind::Waypoint) {
            at(mark.time, waypointName(input, mark.waypoint));
        } else if (mark.kind == FlightMark::Kind::Cut) {
            const ULong before = ULong(mark.time - first) >= step ? ULong(mark.time - step) : first;
            at(before, "before cut · " + waypointName(input, mark.waypoint));
            at(mark.time, "after cut · " + waypointName(input, mark.waypoint + 1));
        }
    }
    at(ticks.back().time, "end · " + waypointName(input, ticks.back().waypoint));
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.since < b.since; });

    // The Run that ends the flight shows the eye of the Run before it, as the camera holds it:
    // what lies at or after the path's end is shown 1 ms before it, where the camera has arrived.
    // The end lies after the tick before the last; the last waypoint reached there marks it.
    if (ticks.size() >= 2) {
        const ULong before = ULong(ticks[ticks.size() - 2].time - first);
        ULong end = ULong(ticks.back().time - first);
        for (const FlightMark& mark : analysis.marks)
            if (const ULong since = ULong(mark.time - first); since > before && since < end) end = since;
        for (Placed& p : placed)
            if (p.since >= end) p.since = end - 1;
    }

    std::vector<SheetMoment> moments;
    for (Placed& p : placed) {
        const ULong time = ULong(first + p.since);
        if (!moments.empty() && moments.back().time == time) {
            // The start and its first waypoint, a cut that lands on a waypoint: one cell.
            std::string& label = moments.back().label;
            if (label.find(p.label) == std::string::npos && p.label.find(label) == std::string::npos)
                label += " · " + p.label;
            else if (p.label.size() > label.size())
                label = p.label;
            continue;
        }
        moments.push_back({time, std::move(p.label)});
    }
    return moments;
}

}  // namespace host
