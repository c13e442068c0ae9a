#include "flight/Retime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "base/InputError.h"
#include "framework/CameraInterfaces.h"
#include "framework/InterfacePtr.h"
#include "scene/ObjectEdit.h"
#include "scene/SceneEditor.h"

namespace host {

namespace {

constexpr double kLargestTime = 4294967295.0;

/// A switched-on waypoint of the path: its name, time and accumulated distance.
struct Knot {
    Handle handle;
    std::string name;
    ULong time2Next = 0;
    double distanceSum = 0;
};

std::vector<Knot> knotsOf(Host& host, const Handle& path, const std::string& pathName) {
    Descriptor* container = host.descriptor(path);
    if (!container || !CInterfacePtr<ISCO_CSPath>(path)) throw InputError("", pathName, "", "not a camera path");
    std::vector<Knot> knots;
    for (const Handle& child : std::vector<Handle>(container->children())) {
        CInterfacePtr<ISCO_CSWayPoint> waypoint(child);
        if (!waypoint || !waypoint->IsOn()) continue;
        knots.push_back({child, host.nameOf(child), waypoint->GetTime2Next(), waypoint->GetDistanceSum()});
    }
    return knots;
}

/// Index of the switched-on waypoint `name`, or `fallback` for an empty name.
std::size_t knotIndex(const std::vector<Knot>& knots, const std::string& name, std::size_t fallback,
                      const std::string& pathName, const char* option) {
    if (name.empty()) return fallback;
    for (std::size_t k = 0; k < knots.size(); ++k)
        if (knots[k].name == name) return k;
    throw InputError("", pathName, option, name + " is not a switched-on waypoint of the path");
}

ULong checkedTime(double ms, const RetimeSegment& segment) {
    if (!(ms <= kLargestTime))
        throw InputError("", segment.name, "Time2Next",
                         "the segment would take " + std::to_string(std::llround(std::min(ms, 1e18))) +
                             " ms, beyond the 32-bit time");
    return static_cast<ULong>(ms);
}

/// Time proportional to distance at `speed` units per second, each segment rounded on its own.
void timeBySpeed(std::vector<RetimeSegment>& segments, double speed) {
    for (RetimeSegment& s : segments)
        if (s.before != 0) s.after = std::max<ULong>(1, checkedTime(std::round(1000.0 * s.step / speed), s));
}

/// The run's total shared by the steps. Rounding the accumulated times (not each segment) keeps
/// the total exactly and every knot within half a millisecond of the straight line; each
/// segment keeps at least 1 ms, for 0 would make it a cut.
void timeEvenly(std::vector<RetimeSegment>& segments, std::uint64_t total, const std::string& pathName) {
    double distance = 0;
    std::uint64_t count = 0;
    for (const RetimeSegment& s : segments)
        if (s.before != 0) distance += s.step, ++count;
    if (count == 0) return;
    if (total < count)
        throw InputError("", pathName, "Time2Next",
                         "a total of " + std::to_string(total) + " ms cannot give " + std::to_string(count) +
                             " segments 1 ms each");
    double travelled = 0;
    std::uint64_t given = 0, left = count;
    for (RetimeSegment& s : segments) {
        if (s.before == 0) continue;
        travelled += s.step;
        --left;
        const double target = left == 0 ? double(total) : std::round(double(total) * travelled / distance);
        const double most = double(total - given - left);
        const double ms = std::clamp(target - double(given), 1.0, most);
        s.after = static_cast<ULong>(ms);
        given += s.after;
    }
}

}  // namespace

RetimePlan planRetime(Host& host, const Handle& path, const RetimeOptions& options) {
    RetimePlan plan;
    plan.path = path;
    plan.pathName = host.nameOf(path);
    if (options.speed && !(std::isfinite(*options.speed) && *options.speed > 0))
        throw InputError("", plan.pathName, "speed",
                         "the speed must be a finite number above 0 (units per second); it is " +
                             std::to_string(*options.speed));
    const std::vector<Knot> knots = knotsOf(host, path, plan.pathName);
    if (knots.empty()) return plan;
    const std::size_t first = knotIndex(knots, options.from, 0, plan.pathName, "from");
    const std::size_t last = knotIndex(knots, options.to, knots.size() - 1, plan.pathName, "to");
    if (last < first) throw InputError("", plan.pathName, "to", options.to + " comes before " + options.from);

    for (std::size_t k = first; k < last; ++k) {
        const Knot& knot = knots[k];
        plan.segments.push_back({knot.handle, knot.name, knot.time2Next, 0, knots[k + 1].distanceSum - knot.distanceSum});
        plan.totalBefore += knot.time2Next;
    }
    if (options.speed)
        timeBySpeed(plan.segments, *options.speed);
    else
        timeEvenly(plan.segments, plan.totalBefore, plan.pathName);
    for (const RetimeSegment& s : plan.segments) plan.totalAfter += s.after;
    return plan;
}

void applyRetime(SceneEditor& editor, const RetimePlan& plan) {
    std::vector<std::pair<Handle, std::string>> edits;
    for (const RetimeSegment& s : plan.segments) {
        if (s.after == s.before) continue;
        edits.emplace_back(s.waypoint, attributeEditJson("Time2Next", s.after));
    }
    editor.editAll("retime " + plan.pathName, edits);
}

std::vector<Handle> scenePaths(const std::vector<Handle>& scene) {
    std::vector<Handle> paths;
    for (const Handle& object : scene)
        if (CInterfacePtr<ISCO_CSPath>(object)) paths.push_back(object);
    return paths;
}

}  // namespace host
