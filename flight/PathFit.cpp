#include "flight/PathFit.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "base/Vec.h"
#include "host/Host.h"
#include "host/HostObjects.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneTree.h"

namespace host {

namespace {

Vec3 position(const _CCoordSystem<float>& eye) { return vec3FromPoint(eye.Origin); }
/// Column `k` of the orientation: 0 right, 1 forward, 2 up.
Vec3 axis(const _CCoordSystem<float>& eye, int k) {
    return {eye.Orientation.m[0][k], eye.Orientation.m[1][k], eye.Orientation.m[2][k]};
}

/// The angle between two view directions in degrees, atan2(|f x g|, f . g) (well conditioned
/// where they nearly agree).
double viewAngle(const _CCoordSystem<float>& a, const _CCoordSystem<float>& b) {
    const Vec3 f = axis(a, 1), g = axis(b, 1);
    return std::atan2(norm(cross(f, g)), dot(f, g)) * 180.0 / kPi;
}

/// The roll (degrees) that the iterator's frame needs to turn its unrolled up axis into the
/// eye's. The iterator builds s = f x (0, 0, 1) / |.|, u = s x f and rolls by r:
/// u' = cos r u - sin r s; so cos r = U . u and sin r = -U . s for the eye's up axis U.
/// A view straight up or down has no unrolled frame: `otherwise` then.
double rollOf(const _CCoordSystem<float>& eye, double otherwise) {
    const Vec3 f = axis(eye, 1), up = axis(eye, 2);
    const Vec3 side = cross(f, {0, 0, 1});
    const double length = norm(side);
    if (!(length > 1e-6)) return otherwise;
    const Vec3 s = scale(side, 1.0 / length);
    const Vec3 u = cross(s, f);
    return std::atan2(-dot(up, s), dot(up, u)) * 180.0 / kPi;
}

[[noreturn]] void refuse(const std::string& file, const std::string& where, const std::string& why) {
    throw InputError(file, where, "", why);
}

}  // namespace

void checkRecording(const std::vector<RecordedEye>& samples, const std::string& file) {
    if (samples.size() < 2)
        refuse(file, "",
               "a recording of " + std::to_string(samples.size()) +
                   " sample(s) has no move to fit; it takes two at least");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const RecordedEye& s = samples[i];
        const std::string where = "sample " + std::to_string(i) + " (time " + std::to_string(s.time) + ")";
        const float* values = &s.eye.Origin.x;
        bool finite = std::isfinite(s.fov) && s.fov > 0;
        for (int k = 0; k < 3; ++k) finite = finite && std::isfinite(values[k]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) finite = finite && std::isfinite(s.eye.Orientation.m[r][c]);
        if (!finite) refuse(file, where, "has a value that is not a finite number (or a field of view <= 0)");
        // The path's waypoints carry the factor 1 / fov, which must be a float too.
        if (!std::isfinite(1.0f / s.fov)) refuse(file, where, "has a field of view too small to invert");
        for (int k = 0; k < 3; ++k) {
            const Vec3 a = axis(s.eye, k), b = axis(s.eye, (k + 1) % 3);
            if (std::fabs(norm(a) - 1) > 1e-3 || std::fabs(dot(a, b)) > 1e-3)
                refuse(file, where, "has an orientation that is no rotation (its columns are not unit and orthogonal)");
        }
        if (i == 0) continue;
        const ULong step = s.time - samples[i - 1].time;
        if (step == 0 || step >= 0x80000000u)
            refuse(file, where,
                   "does not come after time " + std::to_string(samples[i - 1].time) +
                       ": the times of a recording must increase");
    }
}

namespace {

/// One waypoint of the path being fitted: a sample, and how it takes part.
struct Chosen {
    std::size_t sample;
    bool cutAfter = false;  ///< the last of its part: Time2Next 0, the next waypoint waits
};

/// One waypoint's values, in the order a scene file lists them.
struct WaypointValues {
    std::string name;
    const RecordedEye* sample;
    float roll;
    ULong time2Next, pause;
};

/// The waypoints at `chosen` (sorted samples) and a hold waypoint after the last one: without
/// it the flight would end at the last waypoint's time, and the iterator shows the tick before
/// on the tick that ends a flight.
std::vector<WaypointValues> waypointsOf(const std::vector<RecordedEye>& samples, const std::vector<Chosen>& chosen) {
    std::vector<WaypointValues> waypoints;
    double roll = 0;
    const auto waypoint = [&](std::string name, std::size_t i, ULong time2Next, ULong pause) {
        // The nearest turn to the roll before, so that the spline does not spin the long way.
        const double raw = rollOf(samples[i].eye, roll);
        roll = raw + 360.0 * std::round((roll - raw) / 360.0);
        waypoints.push_back({std::move(name), &samples[i], static_cast<float>(roll), time2Next, pause});
    };
    // The hold lasts one step of the recording (its last).
    const std::size_t lastSample = chosen.back().sample;
    const ULong step = lastSample > 0 ? samples[lastSample].time - samples[lastSample - 1].time : 1000;
    for (std::size_t n = 0; n < chosen.size(); ++n) {
        const std::size_t i = chosen[n].sample;
        const bool last = n + 1 == chosen.size();
        ULong time2Next = last ? step : static_cast<ULong>(samples[chosen[n + 1].sample].time - samples[i].time);
        if (chosen[n].cutAfter) time2Next = 0;
        const ULong pause = n > 0 && chosen[n - 1].cutAfter ? samples[i].time - samples[chosen[n - 1].sample].time : 0;
        waypoint("W" + std::to_string(n), i, time2Next, pause);
    }
    waypoint("Hold", lastSample, 1000, 0);
    return waypoints;
}

/// Refuses a value the plug-in would not take (it takes every value written here).
void expect(bool taken, const std::string& object, const std::string& attribute) {
    if (!taken) throw InputError("(the imported path)", object, attribute, "the object refused the value");
}

/// Replaces the scene in `host` by the path "Flight" of `waypoints` and the iterator "Cam"
/// flying it, built as loading its scene file builds it: every object created first, in
/// pre-order; then each one's position before its attributes, in the file's order; then
/// `AfterLoad` on each in pre-order.
void buildPath(Host& host, const std::vector<WaypointValues>& waypoints) {
    removeScene(host);

    std::vector<Handle> made = {host.create("SCOCameraSystemPath", "Flight")};
    for (const WaypointValues& w : waypoints) made.push_back(host.create("SCOCameraSystemWaypoint", w.name, made[0]));
    const Handle iterator = host.create("SCOCameraSystemIterator", "Cam");
    made.push_back(iterator);

    for (std::size_t k = 0; k < waypoints.size(); ++k) {
        const WaypointValues& w = waypoints[k];
        const Handle& handle = made[k + 1];
        _CCoordSystem<float> frame;
        frame.Origin = w.sample->eye.Origin;
        frame.Orientation = w.sample->eye.Orientation;
        expect(host.setObjectPos(handle, frame), w.name, "ObjectPos");
        expect(host.setFloat(handle, "Range", 1.0f), w.name, "Range");
        expect(host.setFloat(handle, "Roll", w.roll), w.name, "Roll");
        expect(host.setFloat(handle, "FOVFac", 1.0f / w.sample->fov), w.name, "FOVFac");
        expect(host.setULong(handle, "Time2Next", w.time2Next), w.name, "Time2Next");
        if (w.pause) expect(host.setULong(handle, "PauseTime", w.pause), w.name, "PauseTime");
    }
    expect(host.setReference(iterator, "Path", made[0]), "Cam", "Path");
    for (const Handle& handle : made) host.afterLoad(handle);
}

/// The eyes the camera shows in the flight of the iterator "Cam" at the recording's times:
/// activated at the first, ticked at every one.
std::vector<_CCoordSystem<float>> flyAtSampleTimes(Host& host, const std::vector<RecordedEye>& samples) {
    const Handle iterator = host.find("Cam");
    GameCamera* camera = host.camera();
    camera->reset();
    // At the times since the first sample: a recording across the clock's wrap would otherwise
    // meet the iterator's unsigned comparisons (see Known limits in the README).
    host.activate(iterator, 0);
    host.runtime().deliverRequests();
    std::vector<_CCoordSystem<float>> eyes;
    eyes.reserve(samples.size());
    for (const RecordedEye& s : samples) {
        host.tick(iterator, s.time - samples.front().time);
        eyes.push_back(camera->eye());
    }
    host.runtime().discardRequests();
    camera->reset();
    return eyes;
}

}  // namespace

PathFitResult fitPathToRecording(Host& host, const std::vector<RecordedEye>& samples, const PathFitOptions& options) {
    checkRecording(samples, "");
    if (!host.camera()) host.createCamera("", true);

    // Cuts: a step of the eye ten times the median step (of those that move) and longer than
    // four tolerances is a jump, not a move.
    std::vector<double> steps;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const double d = norm(sub(position(samples[i].eye), position(samples[i - 1].eye)));
        if (d > 0) steps.push_back(d);
    }
    double median = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        median = steps[steps.size() / 2];
    }
    std::set<std::size_t> cutAfter;  // sample indices that end a part
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const double d = norm(sub(position(samples[i].eye), position(samples[i - 1].eye)));
        if (d > 10 * median && d > 4 * options.tolerance) cutAfter.insert(i - 1);
    }

    std::set<std::size_t> chosen = {0, samples.size() - 1};
    for (const std::size_t i : cutAfter) chosen.insert({i, i + 1});

    PathFitResult result;
    result.parts = cutAfter.size() + 1;
    for (;;) {
        std::vector<Chosen> list;
        for (const std::size_t i : chosen) list.push_back({i, cutAfter.contains(i)});
        buildPath(host, waypointsOf(samples, list));
        const std::vector<_CCoordSystem<float>> eyes = flyAtSampleTimes(host, samples);
        ++result.rounds;

        // The worst sample of every stretch between neighbouring waypoints, by the larger of its
        // distance and angle as shares of their tolerances.
        result.worstDistance = result.worstAngle = 0;
        std::vector<std::size_t> insert;
        std::size_t worst = 0;
        double worstScore = 0;
        const auto score = [&](double distance, double angle) {
            return std::max(distance / options.tolerance, angle / options.angle);
        };
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double distance = norm(sub(position(eyes[i]), position(samples[i].eye)));
            const double angle = viewAngle(eyes[i], samples[i].eye);
            result.worstDistance = std::max(result.worstDistance, std::isfinite(distance) ? distance : INFINITY);
            result.worstAngle = std::max(result.worstAngle, std::isfinite(angle) ? angle : 180.0);
            const double s = std::isfinite(distance) && std::isfinite(angle) ? score(distance, angle) : INFINITY;
            if (!chosen.contains(i) && s > worstScore) {
                worstScore = s;
                worst = i;
            }
            // A stretch ends at the next chosen sample: its worst joins if out of tolerance.
            if (chosen.contains(i + 1) || i + 1 == samples.size()) {
                if (worstScore > 1) insert.push_back(worst);
                worstScore = 0;
            }
        }
        result.withinTolerance = result.worstDistance <= options.tolerance && result.worstAngle <= options.angle;
        // A recording so rough that every other sample would be a waypoint is no path worth
        // fitting further (and each fit flies it whole): the fit so far, outside the tolerance.
        if (insert.empty() || chosen.size() + 1 >= options.maxWaypoints || chosen.size() > samples.size() / 2) {
            // Written as a load of the file finds it: built afresh, not as the flight left it.
            buildPath(host, waypointsOf(samples, list));
            result.sceneJson = sceneToJson(host);
            result.waypoints = chosen.size() + 1;
            return result;
        }
        for (const std::size_t i : insert) chosen.insert(i);
    }
}

}  // namespace host
