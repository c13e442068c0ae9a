#include "fuzz/FuzzBodies.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "framework/InterfacePtr.h"
#include "framework/RenderEngine.h"
#include "host/Host.h"
#include "iterator/SCOCameraSystemIterator.h"
#include "module/InProcessModule.h"
#include "path/SCOCameraSystemPath.h"
#include "tests/support/LiteralBox.h"
#include "tests/support/PathTestAccess.h"

namespace fuzz {
namespace {

/// Longest path (in the path's distance measure) that the bodies refit. A refit samples the box
/// every 0.25 units, so a path of length L costs 4L evaluations (up to 2^24 when L is huge, about
/// a second): beyond this the bodies leave out what refits, to keep every input fast.
constexpr double kMaxRefitLength = 2e4;
/// Longest path whose box is also computed by the literal walk (n resolves per sample). Far
/// below 2^22 every sample distance is an exact multiple of 0.25, so a longer path brings more
/// samples of the same kind, not a new case; the walk took the largest share of every input.
constexpr float kMaxLiteralLength = 1e3f;
/// Longest part (in DistanceSum) whose drawing is recorded, and counted.
constexpr float kMaxRecordedDrawing = 1e5f;
constexpr float kMaxCountedDrawing = 4e6f;
/// Ticks of a flight, and of the direct `Run` calls before it.
constexpr std::size_t kFlightTicks = 48;
constexpr int kDirectTicks = 4;
/// Record frames, attribute edits.
constexpr int kMaxFrames = 8;
constexpr int kMaxEdits = 32;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz: contract broken: %s\n", what);
    std::abort();
}

void require(bool holds, const char* what) {
    if (!holds) fail(what);
}

/// Reads the input front to back; beyond its end every read gives zeros.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool empty() const { return position_ >= bytes_.size(); }
    std::uint8_t u8() { return position_ < bytes_.size() ? bytes_[position_++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | u8() << 8);
    }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(u8()) << (8 * i);
        return value;
    }
    /// The next `count` bytes, zero-filled beyond the end.
    std::vector<std::uint8_t> bytes(std::size_t count) {
        std::vector<std::uint8_t> out(count, 0);
        for (auto& b : out) b = u8();
        return out;
    }
    /// Up to `count` bytes as they are (fewer at the end).
    std::span<const std::uint8_t> take(std::size_t count) {
        count = std::min(count, bytes_.size() - std::min(position_, bytes_.size()));
        const auto part = bytes_.subspan(position_, count);
        position_ += count;
        return part;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

/// Counts the lines of a drawing instead of recording them.
class CountingRenderer final : public IRenderEngineUtility {
public:
    void DrawLine(const _Point3<float>*, const _Point3<float>*, float, float, const float*, int) override { ++lines; }
    void DrawArrow(const _Point3<float>*, const _Point3<float>*, float, float, float, const float*, const float*,
                   int) override {
        ++arrows;
    }
    std::size_t lines = 0, arrows = 0;
};

/// The scene both bodies work on, in a host of its own:
///
///   world (bounds registry)
///     path: w0, inside (plain), w1, ..., w(n-1)
///     outside (plain)
///     iterator (Path = path, MovingDestination = outside when asked)
///   camera
struct Scene {
    Scene(int wayPointCount, bool movingDestination) {
        camera = host.createCamera();
        world = host.createRegistry("world");
        path = host.create("SCOCameraSystemPath", "path", world);
        for (int k = 0; k < wayPointCount; ++k) {
            if (k == 1) inside = host.createPlain("inside", {5, 1, 0}, path);
            const Handle w = host.create("SCOCameraSystemWaypoint", "w" + std::to_string(k), path);
            _CCoordSystem<float> frame;
            frame.RotateZ(0.3 * k);
            // Four units apart: the literal box, the costliest check, samples the path every
            // quarter unit, so the scene's own length sets the pace of every input that keeps it.
            frame.Origin = {4.0f * static_cast<float>(k), 2.5f * static_cast<float>(k % 2), 5};
            host.setObjectPos(w, frame);
            wayPoints.push_back(w);
        }
        // Near the last waypoint, which looks at it: the view vector is Range times the forward
        // axis, so a far target would make the last segment, and every literal walk, long.
        outside = host.createPlain("outside", {14, 6, 7}, world);
        host.setReference(wayPoints.back(), "PointsTo", outside);
        iterator = host.create("SCOCameraSystemIterator", "iterator", world);
        host.setReference(iterator, "Path", path);
        if (movingDestination) host.setReference(iterator, "MovingDestination", outside);
        host.afterLoadAll();
    }

    SCOCameraSystemPath& pathObject() { return *static_cast<SCOCameraSystemPath*>(host.object(path)); }
    SCOCameraSystemIterator& iteratorObject() { return *static_cast<SCOCameraSystemIterator*>(host.object(iterator)); }

    /// The length a refit would give the path now, in double: the waypoints brought up to date
    /// (`Refresh`), then 0.1 + the sum over consecutive switched-on waypoints of
    /// |eye step| + |view step| + 0.1. NaN or infinite when the positions are.
    double refitLength() {
        pathObject().Refresh();
        double total = 0.1;
        bool first = true;
        std::array<double, 6> previous{};
        for (const Handle& child : host.descriptor(path)->children()) {
            CInterfacePtr<ISCO_CSWayPoint> w(child);
            if (!w || !w->IsOn()) continue;
            std::array<double, 6> now;
            for (int i = 0; i < 6; ++i) now[i] = w->GetPara(i);
            if (!first) {
                const double eye = std::hypot(now[0] - previous[0], now[1] - previous[1], now[2] - previous[2]);
                const double view = std::hypot(now[3] - previous[3], now[4] - previous[4], now[5] - previous[5]);
                total += eye + view + 0.1;
            }
            first = false;
            previous = now;
        }
        return total;
    }
    /// Whether refitting now costs a bounded, small number of box samples. A NaN or infinite
    /// length samples nothing at all.
    bool refitAffordable() {
        const double length = refitLength();
        return !(std::isfinite(length) && length > kMaxRefitLength);
    }

    host::Host host{&SetIRTS, &GetObjectFactories};
    Handle camera, world, path, inside, outside, iterator;
    std::vector<Handle> wayPoints;
};

/// The eye as the camera reads it: the nine orientation values, the origin and the field of view.
using Eye = std::array<float, 13>;

Eye eyeValues(const _CCoordSystem<float>& frame, float fov) {
    Eye e;
    std::memcpy(e.data(), &frame.Orientation, 9 * sizeof(float));
    std::memcpy(e.data() + 9, &frame.Origin, 3 * sizeof(float));
    e[12] = fov;
    return e;
}

Eye iteratorEye(Scene& scene) {
    float fov = 0;
    const _CCoordSystem<float> frame = scene.iteratorObject().GetEyeCoordSystem(0, fov);
    return eyeValues(frame, fov);
}

/// Playback never makes a non-finite eye value: each value is finite or, bit for bit, the one
/// held before (a tick that cannot place the camera keeps the last eye).
void checkEye(const Eye& before, const Eye& now, const char* what) {
    for (std::size_t i = 0; i < now.size(); ++i)
        require(std::isfinite(now[i]) || std::memcmp(&now[i], &before[i], sizeof(float)) == 0, what);
}

/// The waypoints' own operations, as the path and the iterator call them.
void useWayPoints(Scene& scene) {
    for (const Handle& h : scene.wayPoints) {
        CInterfacePtr<ISCO_CSWayPoint> w(h);
        if (!w) continue;
        for (int i = -1; i <= 8; ++i) (void)w->GetPara(i);
        bool easeIn = false, easeOut = false;
        w->GetEaseInOut(easeIn, easeOut);
        COrientation sample;
        w->CalcOrientationAtDistance(1.5f, sample);
        (void)w->CalcDistanceAtTime(250.0f);
        (void)w->GetDistanceSum();
        (void)w->GetTime2Next();
        (void)w->GetPauseTime();
    }
}

/// A refit through the path's interface; the box it leaves must be the literal walk's, bit for
/// bit, whenever the literal walk is cheap enough to run.
void refitAndCheckBox(Scene& scene) {
    SCOCameraSystemPath& path = scene.pathObject();
    {
        CInterfacePtr<ISCO_CSPath> fit(scene.path);
        require(static_cast<bool>(fit), "the path does not answer ISCO_CSPath");
        fit->RefreshCubicData();
    }
    const float total = testing_support::LastDistanceSum(path);
    if (!(total <= kMaxLiteralLength)) return;
    PathTestAccess::box(path);
    const _Point3<float> lo = path.MinBound, hi = path.MaxBound;
    const testing_support::Box literal = testing_support::LiteralBox(path);
    require(std::memcmp(&lo, &literal.min, sizeof lo) == 0 && std::memcmp(&hi, &literal.max, sizeof hi) == 0,
            "the box differs from the literal walk's");
}

/// Evaluation at the edges of the scales and beyond, the bounds, and the drawing.
void evaluateAndDraw(Scene& scene) {
    SCOCameraSystemPath& path = scene.pathObject();
    const float total = testing_support::LastDistanceSum(path);
    const float inf = std::numeric_limits<float>::infinity();
    for (float d : {-1.0f, 0.0f, 0.05f, 0.1f, total * 0.5f, total, total + 100.0f, NAN, inf, -inf})
        (void)path.CalcOrientationAtDistanceSum(d);
    for (float t : {-1.0f, 0.0f, 500.0f, 1e9f, NAN, inf}) (void)path.CalcPosAtTimeSum(t);
    _Point3<float> lo, hi, centre;
    float radius = 0;
    path.GetBBox(&lo, &hi);
    path.GetBSphere(&centre, &radius);

    // The drawing samples every 32 units of each part of the path, up to the part's last
    // DistanceSum: into the recorder while that stays small (a few thousand lines), into a
    // counter up to some 10^5 lines a part, and beyond that the path is not drawn at all (as it
    // is not refitted beyond kMaxRefitLength): a part of absurd extent draws up to 2^24 lines,
    // and inputs of that kind took most of the fuzzer's time (one of them 13 s).
    float extent = 0.0f;
    for (const Handle& h : scene.wayPoints)
        if (CInterfacePtr<ISCO_CSWayPoint> w(h); w)
            if (const float sum = w->GetDistanceSum(); std::isfinite(sum)) extent = std::max(extent, std::fabs(sum));
    if (extent <= kMaxRecordedDrawing) {
        (void)scene.host.drawScene();
        return;
    }
    CountingRenderer counter;
    IRenderEngineUtility* const saved = REU;
    REU = &counter;
    if (extent <= kMaxCountedDrawing) path.Draw3D(nullptr);
    for (const Handle& w : scene.wayPoints)
        if (CInterfacePtr<ISCO_GCDrawSelf> self(w); self) self->Draw3D(nullptr);
    REU = saved;
}

/// A few ticks of the iterator as it stands (index and start time as loaded or set), then a
/// bounded flight through the host; every eye obeys `checkEye`.
void fly(Scene& scene, ULong start, ULong step, bool refits) {
    SCOCameraSystemIterator& it = scene.iteratorObject();
    Eye before = iteratorEye(scene);
    for (int k = 0; k < kDirectTicks; ++k) {
        it.Run(start + static_cast<ULong>(k) * step);
        const Eye now = iteratorEye(scene);
        checkEye(before, now, "a tick made a non-finite eye");
        before = now;
    }
    scene.host.runtime().deliverRequests();
    // Activation refits the path.
    if (!refits) return;
    before = iteratorEye(scene);
    Eye cameraBefore = before;
    scene.host.fly(scene.iterator, start, step, kFlightTicks,
                   [&](ULong, std::size_t, const _CCoordSystem<float>& frame, float fov) {
                       const Eye now = eyeValues(frame, fov);
                       checkEye(cameraBefore, now, "the camera read a non-finite eye");
                       cameraBefore = now;
                   });
}

void exercise(Scene& scene, ULong start, ULong step) {
    useWayPoints(scene);
    const bool refits = scene.refitAffordable();
    if (refits) refitAndCheckBox(scene);
    evaluateAndDraw(scene);
    fly(scene, start, step, refits);
}

// ---------------------------------------------------------------------------------------------
// Seeds

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putF32(std::vector<std::uint8_t>& out, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, sizeof v);
    putU32(out, v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Records

namespace {
/// Objects a record frame can go to: w0..w3, the path, the iterator, a plain object.
constexpr int kRecordWayPoints = 4;
std::vector<Handle> recordTargets(const Scene& scene) {
    std::vector<Handle> targets = scene.wayPoints;
    targets.push_back(scene.path);
    targets.push_back(scene.iterator);
    targets.push_back(scene.outside);
    return targets;
}
}  // namespace

void fuzzRecords(std::span<const std::uint8_t> input) {
    Reader in(input);
    const ULong start = in.u32();
    const ULong step = in.u32();
    Scene scene(kRecordWayPoints, false);
    const std::vector<Handle> targets = recordTargets(scene);

    for (int frame = 0; frame < kMaxFrames && !in.empty(); ++frame) {
        const Handle target = targets[in.u8() % targets.size()];
        const std::size_t length = in.u16();
        const auto record = in.take(length);
        if (!scene.host.load(target, record)) continue;  // half-loaded objects are used all the same
        // What loaded saves, and the saved record loads and saves again to the same bytes.
        const auto saved = scene.host.save(target);
        require(saved.has_value(), "a loaded object does not save");
        require(scene.host.load(target, *saved), "a saved record does not load");
        const auto again = scene.host.save(target);
        require(again.has_value() && *again == *saved, "save, load, save changes the record");
    }

    // AfterLoad registers the objects and refits the path.
    if (scene.refitAffordable()) scene.host.afterLoadAll();
    exercise(scene, start, step);
}

std::vector<std::vector<std::uint8_t>> recordSeeds() {
    Scene scene(kRecordWayPoints, false);
    const std::vector<Handle> targets = recordTargets(scene);
    std::vector<std::vector<std::uint8_t>> seeds;
    std::vector<std::uint8_t> all;
    putU32(all, 1000);
    putU32(all, 16);
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const auto record = scene.host.save(targets[t]);
        if (!record) continue;
        std::vector<std::uint8_t> one;
        putU32(one, 1000);
        putU32(one, 16);
        for (auto* out : {&one, &all}) {
            out->push_back(static_cast<std::uint8_t>(t));
            putU16(*out, static_cast<std::uint16_t>(record->size()));
            out->insert(out->end(), record->begin(), record->end());
        }
        seeds.push_back(std::move(one));
    }
    seeds.push_back(std::move(all));
    return seeds;
}

// ---------------------------------------------------------------------------------------------
// Attributes

namespace {
/// Objects an edit can go to: the waypoints, the path, the iterator, the two plain objects.
std::vector<Handle> editTargets(const Scene& scene) {
    std::vector<Handle> targets = scene.wayPoints;
    for (const Handle& h : {scene.path, scene.iterator, scene.inside, scene.outside}) targets.push_back(h);
    return targets;
}
}  // namespace

void fuzzAttributes(std::span<const std::uint8_t> input) {
    Reader in(input);
    const int wayPointCount = 3 + in.u8() % 3;
    const bool movingDestination = (in.u8() & 1) != 0;
    const ULong start = in.u32();
    const ULong step = in.u32();
    Scene scene(wayPointCount, movingDestination);
    const std::vector<Handle> targets = editTargets(scene);

    for (int edit = 0; edit < kMaxEdits && !in.empty(); ++edit) {
        const Handle target = targets[in.u8() % targets.size()];
        const std::vector<host::AttributeInfo> attributes = scene.host.attributes(target);
        const std::uint8_t pick = in.u8();
        const std::uint8_t mode = in.u8();
        if (attributes.empty()) continue;
        const Attribute& record = attributes[pick % attributes.size()].record;
        const std::string name = record.Name;
        switch (record.Type) {
            case kTypeBool:
                scene.host.setBool(target, name, (in.u8() & 1) != 0);
                break;
            case kTypeFloat:
            case kTypeULong:
                scene.host.setAttribute(target, name, in.bytes(4));
                break;
            case kTypePoint:
                scene.host.setAttribute(target, name, in.bytes(12));
                break;
            case kTypeObjectPos:
                scene.host.setAttribute(target, name, in.bytes(48));
                break;
            case kTypeGuidRef: {
                // An object of the scene, none, or a GUID that names nothing.
                const std::size_t choice = in.u8() % (targets.size() + 2);
                Handle reference;
                if (choice < targets.size()) reference = targets[choice];
                if (choice == targets.size() + 1)
                    reference = Handle(_GUID{0xDEADBEEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}});
                scene.host.setReference(target, name, reference);
                break;
            }
            default:
                fail("an attribute of an unknown type");
        }
        // The editor's notification refits the path when a waypoint changed.
        if ((mode & 1) != 0 && scene.refitAffordable()) {
            scene.host.notifyAttributeChanged(target, name);
            if ((mode & 2) != 0) scene.host.notifyPositionChanged(target);
        }
    }
    exercise(scene, start, step);
}

std::vector<std::vector<std::uint8_t>> attributeSeeds() {
    // An edit names its attribute by position in the object's list as the host walks it (for a
    // waypoint PointsTo, Range, Roll, FOVFac, Time2Next, EaseIn, EaseOut, IsOn, PauseTime, then
    // the base's ObjectPos); the seeds look each position up by the attribute's name.
    Scene scene(3, false);
    const std::vector<Handle> targets = editTargets(scene);
    auto indexOf = [&](const Handle& object, std::string_view attribute) {
        const auto list = scene.host.attributes(object);
        for (std::size_t i = 0; i < list.size(); ++i)
            if (attribute == list[i].record.Name) return static_cast<std::uint8_t>(i);
        fail("a seed names an unknown attribute");
    };
    auto header = [](std::uint8_t wayPoints, std::uint8_t flags) {
        std::vector<std::uint8_t> out{wayPoints, flags};
        putU32(out, 0);
        putU32(out, 16);
        return out;
    };
    std::vector<std::vector<std::uint8_t>> seeds;
    seeds.push_back(header(0, 0));  // the scene as it is
    {
        auto s = header(1, 1);  // four waypoints, moving destination
        s.insert(s.end(), {1, indexOf(targets[1], "Range"), 1});
        putF32(s, 25.0f);
        s.insert(s.end(), {0, indexOf(targets[0], "Time2Next"), 1});
        putU32(s, 0);  // a cut
        s.insert(s.end(), {2, indexOf(targets[2], "EaseIn"), 1, 1});
        s.insert(s.end(), {1, indexOf(targets[1], "IsOn"), 1, 0});
        seeds.push_back(std::move(s));
    }
    {
        auto s = header(2, 0);  // five waypoints, non-finite values
        s.insert(s.end(), {0, indexOf(targets[0], "Roll"), 1});
        putF32(s, NAN);
        s.insert(s.end(), {2, indexOf(targets[2], "FOVFac"), 1});
        putF32(s, 0.0f);
        s.insert(s.end(), {1, indexOf(targets[1], "ObjectPos"), 3});
        for (float f : {1e30f, 2.0f, -3.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}) putF32(s, f);
        seeds.push_back(std::move(s));
    }
    {
        auto s = header(0, 1);  // the iterator's own fields and the path's flag
        const std::uint8_t iterator = static_cast<std::uint8_t>(scene.wayPoints.size() + 1);
        s.insert(s.end(), {iterator, indexOf(scene.iterator, "ActualWayPointIndex"), 0});
        putU32(s, 1);
        s.insert(s.end(), {iterator, indexOf(scene.iterator, "GrabCamera"), 0, 0});
        s.insert(s.end(), {static_cast<std::uint8_t>(iterator - 1), indexOf(scene.path, "ShowPath"), 0, 1});
        s.insert(s.end(), {0, indexOf(targets[0], "PointsTo"), 1, static_cast<std::uint8_t>(iterator + 1)});
        seeds.push_back(std::move(s));
    }
    return seeds;
}

}  // namespace fuzz
