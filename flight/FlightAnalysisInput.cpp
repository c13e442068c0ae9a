#include "flight/FlightAnalysisInput.h"

#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "host/Host.h"

namespace host {

namespace {

/// Where the object named by the reference attribute `name` of `object` stands.
std::optional<_Point3<float>> referencedPosition(const Host& host, const Handle& object, std::string_view name) {
    const std::optional<Handle> target = host.getReference(object, name);
    if (!target || target->IsNull()) return std::nullopt;
    const std::optional<_CCoordSystem<float>> frame = host.getObjectPos(*target);
    if (!frame) return std::nullopt;
    return frame->Origin;
}

}  // namespace

FlightAnalysisInput flightAnalysisInput(const Host& host, const Handle& iterator, std::vector<FlightTick> ticks) {
    FlightAnalysisInput input;
    input.ticks = std::move(ticks);
    input.destination = referencedPosition(host, iterator, "MovingDestination");
    const std::optional<Handle> path = host.getReference(iterator, "Path");
    Descriptor* container = path ? host.descriptor(*path) : nullptr;
    if (!container) return input;
    // The iterator counts the switched-on waypoints of the child list, in order; so do we.
    // The flight stops at a waypoint whose next waypoint child is off (the iterator looks one ahead).
    for (const Handle& child : container->children()) {
        CInterfacePtr<ISCO_CSWayPoint> waypoint(child);
        if (waypoint && !waypoint->IsOn() && !input.waypoints.empty()) input.waypoints.back().ends = true;
        if (!waypoint || !waypoint->IsOn()) continue;
        input.waypoints.push_back({host.nameOf(child), waypoint->GetTime2Next(), waypoint->GetPauseTime(),
                                   referencedPosition(host, child, "PointsTo")});
    }
    return input;
}

}  // namespace host
