#include "flight/MovePresets.h"

#include <cmath>
#include <limits>

#include "base/InputError.h"
#include "geometry/LevelGeometry.h"
#include "host/Host.h"
#include "scene/EditEntry.h"
#include "scene/SceneEditor.h"

namespace host {

namespace {

struct KindName {
    MoveKind kind;
    const char* word;
    const char* stem;  ///< of the new objects' names
};
constexpr KindName kKinds[] = {{MoveKind::Orbit, "orbit", "Orbit"},
                               {MoveKind::Dolly, "dolly", "Dolly"},
                               {MoveKind::Crane, "crane", "Crane"},
                               {MoveKind::FlyThrough, "fly-through", "FlyThrough"},
                               {MoveKind::Follow, "follow", "Follow"}};

/// More waypoints than any move needs; keeps a mistyped --turns from filling the memory.
constexpr double kMaxWaypoints = 100000;

/// How a planned waypoint looks: at the move's target, along the move, or as given.
enum class Look { Target, Ahead, Given };

struct Station {
    MoveWaypoint waypoint;
    Look look = Look::Ahead;
};

[[noreturn]] void refuse(const std::string& file, const std::string& option, const std::string& reason) {
    throw InputError(file, "", option, reason);
}

void requirePositive(double value, const std::string& file, const char* option) {
    if (!std::isfinite(value) || value <= 0) refuse(file, option, "must be a number above 0");
}

Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

/// Where `place` is: its point, or its object's position.
Vec3 placePosition(const Host& host, const MovePlace& place, const std::string& file, const char* option) {
    if (place.object.empty()) return place.point;
    const Handle object = host.find(place.object);
    const auto frame = object.IsNull() ? std::nullopt : host.getObjectPos(object);
    if (!frame) refuse(file, option, "\"" + place.object + "\" names no object with a position");
    return vec3FromPoint(frame->Origin);
}

std::vector<Station> orbitStations(const MoveOptions& o, const Vec3& centre, const std::string& file) {
    requirePositive(o.radius, file, "--radius");
    requirePositive(o.turns, file, "--turns");
    if (!std::isfinite(o.height)) refuse(file, "--height", "must be a number");
    if (o.perTurn < 3) refuse(file, "--per-turn", "must be 3 or more (a turn needs three waypoints to be round)");
    const double segments = std::round(o.turns * o.perTurn);
    if (segments > kMaxWaypoints) refuse(file, "--turns", "makes more than 100000 waypoints");
    const std::size_t n = std::size_t(std::max(1.0, segments));
    const double sweep = 2 * kPi * o.turns * (o.clockwise ? -1 : 1);
    std::vector<Station> stations(n + 1);
    for (std::size_t k = 0; k <= n; ++k) {
        const double angle = sweep * double(k) / double(n);
        stations[k].waypoint.position = {centre[0] + o.radius * std::cos(angle), centre[1] + o.radius * std::sin(angle),
                                         centre[2] + o.height};
        stations[k].look = Look::Target;
    }
    return stations;
}

/// A straight move from `from` to `to`, looking at the target when there is one.
std::vector<Station> lineStations(const Vec3& from, const Vec3& to, bool targeted, const std::string& file) {
    if (norm(sub(to, from)) == 0) refuse(file, "--to", "is where the move starts");
    const Look look = targeted ? Look::Target : Look::Ahead;
    return {Station{{.position = from}, look}, Station{{.position = to}, look}};
}

std::vector<Station> followStations(const Host& host, const MoveOptions& o, const std::string& file) {
    const Handle path = host.find(o.path);
    Descriptor* container = path.IsNull() ? nullptr : host.descriptor(path);
    if (!container || host.className(path) != "SCOCameraSystemPath")
        refuse(file, "--path", "\"" + o.path + "\" names no path");
    std::vector<Station> stations;
    for (const Handle& child : container->children()) {
        if (host.className(child) != "SCOCameraSystemWaypoint" || !host.getBool(child, "IsOn").value_or(false))
            continue;
        const auto frame = host.getObjectPos(child);
        if (!frame) continue;
        Station s;
        s.look = Look::Given;
        MoveWaypoint& w = s.waypoint;
        w.position = add(vec3FromPoint(frame->Origin), o.offset);
        w.orientation = frame->Orientation;
        const std::optional<Handle> target = host.getReference(child, "PointsTo");
        if (target && !target->IsNull() && host.getObjectPos(*target)) w.pointsTo = host.nameOf(*target);
        w.range = host.getFloat(child, "Range").value_or(1);
        w.roll = host.getFloat(child, "Roll").value_or(0);
        w.fovFac = host.getFloat(child, "FOVFac").value_or(1);
        w.time2Next = host.getULong(child, "Time2Next").value_or(1000);
        w.pauseTime = host.getULong(child, "PauseTime").value_or(0);
        stations.push_back(s);
    }
    if (stations.size() < 2) refuse(file, "--path", "\"" + o.path + "\" has fewer than two waypoints that are on");
    return stations;
}

/// Where every station looks: at the target (by `PointsTo` when it is an object), or along the
/// move, the direction from the station before to the one after.
void aim(std::vector<Station>& stations, const std::optional<MovePlace>& target, const Vec3& targetPoint) {
    for (std::size_t i = 0; i < stations.size(); ++i) {
        MoveWaypoint& w = stations[i].waypoint;
        Vec3 forward;
        switch (stations[i].look) {
            case Look::Given:
                continue;
            case Look::Target:
                forward = sub(targetPoint, w.position);
                if (norm(forward) > 0) {
                    w.range = float(norm(forward));
                    if (!target->object.empty()) w.pointsTo = target->object;
                    break;
                }
                [[fallthrough]];
            case Look::Ahead:
                forward = sub(stations[std::min(i + 1, stations.size() - 1)].waypoint.position,
                              stations[i == 0 ? 0 : i - 1].waypoint.position);
                w.range = 1;
                break;
        }
        w.orientation = orientationLookingAlong(forward);
    }
}

}  // namespace

const char* moveKindWord(MoveKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.word;
    return "";
}

std::optional<MoveKind> moveKindFromWord(std::string_view word) {
    for (const KindName& k : kKinds)
        if (word == k.word) return k.kind;
    return std::nullopt;
}

_CMatrix3<float> orientationLookingAlong(const Vec3& forward) {
    const double length = norm(forward);
    const Vec3 f = length > 0 ? scale(forward, 1 / length) : Vec3{0, 1, 0};
    Vec3 r = cross(f, {0, 0, 1});
    r = norm(r) > 1e-9 ? scale(r, 1 / norm(r)) : Vec3{1, 0, 0};
    const Vec3 u = cross(r, f);
    const Vec3 w = cross(f, u);
    return _CMatrix3<float>(float(w[0]), float(f[0]), float(u[0]), float(w[1]), float(f[1]), float(u[1]),
                            float(w[2]), float(f[2]), float(u[2]));
}

bool liftClear(const LevelGeometry& level, Vec3& p, double clearance) {
    const Vec3 start = p;
    // Each step goes at least a thousandth up, so this ends above the level's top.
    for (int step = 0; step < 100000; ++step) {
        if (level.inside(p)) {
            const auto hit = level.firstHit(p, add(p, {0, 0, 1e6}));
            p[2] += (hit ? hit->distance : 0) + 1e-3;
            continue;
        }
        const double distance = level.nearest(p, clearance).distance;
        if (distance >= clearance) break;
        p[2] += std::max(clearance - distance, 1e-3);
    }
    return p != start;
}

MovePlan planMove(const Host& host, const MoveOptions& o, const LevelGeometry* level, const std::string& file) {
    if (o.speed) requirePositive(*o.speed, file, "--speed");
    if (!std::isfinite(o.clearance) || o.clearance < 0) refuse(file, "--clearance", "must be a number, 0 or above");
    const Vec3 target = o.target ? placePosition(host, *o.target, file, "--target") : Vec3{0, 0, 0};
    std::vector<Station> stations;
    switch (o.kind) {
        case MoveKind::Orbit:
            if (!o.target) refuse(file, "--target", "an orbit needs a target");
            stations = orbitStations(o, target, file);
            break;
        case MoveKind::Dolly:
            if (!o.from || !o.to) refuse(file, o.from ? "--to" : "--from", "a dolly needs --from and --to");
            stations = lineStations(*o.from, *o.to, o.target.has_value(), file);
            break;
        case MoveKind::Crane:
            if (!o.target) refuse(file, "--target", "a crane needs a target to keep in view");
            if (!o.from || (!o.to && !o.toHeight)) refuse(file, o.from ? "--to" : "--from", "a crane needs --from and --to");
            stations = lineStations(*o.from, o.to ? *o.to : Vec3{(*o.from)[0], (*o.from)[1], *o.toHeight}, true, file);
            break;
        case MoveKind::FlyThrough:
            if (o.through.size() < 2) refuse(file, "--through", "a fly-through needs two places or more");
            for (const MovePlace& place : o.through) {
                const Vec3 p = placePosition(host, place, file, "--through");
                if (!stations.empty() && stations.back().waypoint.position == p)
                    refuse(file, "--through", "two places in a row are the same point");
                stations.push_back({{.position = p}, Look::Ahead});
            }
            break;
        case MoveKind::Follow:
            stations = followStations(host, o, file);
            break;
    }
    for (const Station& s : stations)
        for (double c : s.waypoint.position)
            if (!std::isfinite(c)) refuse(file, "", "the move leaves the range of numbers");

    MovePlan plan;
    if (level)
        for (Station& s : stations) plan.lifted += liftClear(*level, s.waypoint.position, o.clearance) ? 1 : 0;
    aim(stations, o.target, target);
    // A follow keeps the path's times unless a speed is given; every segment takes a millisecond
    // at least, since a Time2Next of 0 would cut.
    const bool timed = o.speed || o.kind != MoveKind::Follow;
    const double speed = o.speed.value_or(kDefaultMoveSpeed);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        MoveWaypoint& w = stations[i].waypoint;
        if (timed && i + 1 < stations.size()) {
            const double length = norm(sub(stations[i + 1].waypoint.position, w.position));
            const double ms = std::round(1000 * length / speed);
            if (!(ms < 4e9)) refuse(file, "--speed", "makes a segment longer than the clock counts");
            w.time2Next = ULong(std::max(1.0, ms));
        }
        // The flight stands every pause, the first and the last included, and flies every
        // segment but the last waypoint's.
        plan.duration += w.pauseTime + (i + 1 < stations.size() ? w.time2Next : 0);
        plan.waypoints.push_back(w);
    }
    return plan;
}

AddedMove addMove(Host& host, SceneEditor& editor, MoveKind kind, const MovePlan& plan) {
    std::string stem;
    for (const KindName& k : kKinds)
        if (k.kind == kind) stem = k.stem;
    AddedMove added;
    for (std::size_t n = 1;; ++n) {
        added.path = stem + std::to_string(n);
        added.iterator = added.path + "Cam";
        added.waypoints.clear();
        bool free = host.find(added.path).IsNull() && host.find(added.iterator).IsNull();
        for (std::size_t k = 1; k <= plan.waypoints.size(); ++k) {
            added.waypoints.push_back(added.path + "_W" + std::to_string(k));
            free = free && host.find(added.waypoints.back()).IsNull();
        }
        if (free) break;
    }
    constexpr std::size_t kAppend = std::numeric_limits<std::size_t>::max();
    const Handle path = editor.create("SCOCameraSystemPath", added.path, Handle(), kAppend, "{}", {});
    for (std::size_t k = 0; k < plan.waypoints.size(); ++k) {
        const MoveWaypoint& w = plan.waypoints[k];
        EditEntry entry;
        entry.position = _Point3<float>{float(w.position[0]), float(w.position[1]), float(w.position[2])};
        if (w.pointsTo.empty()) {
            entry.orientation = w.orientation;
            entry.attributes.emplace_back("Range", w.range);
        } else {
            entry.attributes.emplace_back("PointsTo", w.pointsTo);
        }
        if (w.roll != 0) entry.attributes.emplace_back("Roll", w.roll);
        entry.attributes.emplace_back("FOVFac", w.fovFac);
        entry.attributes.emplace_back("Time2Next", w.time2Next);
        if (w.pauseTime != 0) entry.attributes.emplace_back("PauseTime", w.pauseTime);
        editor.create("SCOCameraSystemWaypoint", added.waypoints[k], path, kAppend, editEntryJson(entry), {});
    }
    EditEntry iterator;
    iterator.attributes.emplace_back("Path", added.path);
    editor.create("SCOCameraSystemIterator", added.iterator, Handle(), kAppend, editEntryJson(iterator), {});
    return added;
}

}  // namespace host
