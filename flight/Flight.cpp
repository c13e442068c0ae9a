#include "flight/Flight.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "base/InputError.h"
#include "host/Host.h"

namespace host {

const char* const kFlightColumns[15] = {"time", "waypoint", "x",   "y",   "z",   "m00", "m01", "m02",
                                        "m10",  "m11",      "m12", "m20", "m21", "m22", "fov"};

const char* eventWord(FlightEvent::Kind kind) {
    switch (kind) {
        case FlightEvent::Kind::Activate:
            return activationWord(ActivationKind::Activate);
        case FlightEvent::Kind::Deactivate:
            return activationWord(ActivationKind::Deactivate);
        case FlightEvent::Kind::Message:
            break;
    }
    return "message";
}

EventCursor eventCursorAtEnd(const Host& host) { return {host.activationLog().size(), host.messages().size()}; }

void takeEvents(const Host& host, EventCursor& cursor, std::vector<FlightEvent>& out) {
    const auto& activations = host.activationLog();
    const auto& messages = host.messages();
    std::size_t& a = cursor.activations;
    std::size_t& m = cursor.messages;
    while (a < activations.size() || m < messages.size()) {
        const bool messageFirst =
            a == activations.size() || (m < messages.size() && messages[m].sequence < activations[a].sequence);
        if (messageFirst) {
            const MessageRecord& message = messages[m++];
            out.push_back({message.time, FlightEvent::Kind::Message, message.location + ": " + message.text});
        } else {
            const ActivationRecord& activation = activations[a++];
            out.push_back({activation.time,
                           activation.kind == ActivationKind::Activate ? FlightEvent::Kind::Activate
                                                                       : FlightEvent::Kind::Deactivate,
                           activation.name});
        }
    }
}

namespace {

/// Collects what the runtime logs from the moment it is made, and afterwards puts the iterator
/// and the camera back as they were (see Flight.h). A flight that throws is restored too.
class FlightSandbox {
public:
    FlightSandbox(Host& host, const Handle& iterator) : host_(host), iterator_(iterator) {
        if (host.runtime().kind(iterator) != ObjectKind::Module)
            throw std::invalid_argument("no plug-in object to fly");
        std::optional<std::vector<std::uint8_t>> record = host.save(iterator);
        if (!record)
            throw std::invalid_argument("the iterator's Serialize failed: it cannot be restored after a flight");
        record_ = std::move(*record);
        events_ = eventCursorAtEnd(host);
        clock_ = host.runtime().now();
        if (GameCamera* camera = host.camera()) camera->reset();
    }
    ~FlightSandbox() {
        // Whatever the flight left queued is the flight's: it is not delivered later.
        Runtime& runtime = host_.runtime();
        runtime.discardRequests();
        host_.reload(iterator_, record_);
        if (GameCamera* camera = host_.camera()) camera->reset();
        runtime.setNow(clock_);
    }
    FlightSandbox(const FlightSandbox&) = delete;
    FlightSandbox& operator=(const FlightSandbox&) = delete;

    /// Moves the events logged since the last call into `out`, in the order they happened.
    void takeEvents(std::vector<FlightEvent>& out) { host::takeEvents(host_, events_, out); }

private:
    Host& host_;
    Handle iterator_;
    std::vector<std::uint8_t> record_;
    EventCursor events_;
    ULong clock_ = 0;
};

/// The tick as the camera holds it now, with the iterator's index and segment start.
FlightTick readTick(const Host& host, const Handle& iterator, ULong time) {
    FlightTick tick;
    tick.time = time;
    tick.waypoint = host.getULong(iterator, "ActualWayPointIndex").value_or(0);
    tick.segmentStart = host.getULong(iterator, "ActualWayPointTime").value_or(0);
    if (const GameCamera* camera = host.camera()) {
        tick.eye = camera->eye();
        tick.fov = camera->fov();
    }
    return tick;
}

}  // namespace

namespace {

/// `recordFlight`, with `observe(tick)` called after every tick is read.
template <typename Observer>
FlightRecording recordFlightObserved(Host& host, const Handle& iterator, const FlightOptions& options,
                                     Observer observe, const TickTimes& timeOf = {}) {
    FlightRecording flight;
    FlightSandbox sandbox(host, iterator);
    const ULong start = options.start, step = options.step;
    const TickTimes steps = [start, step](std::size_t index) { return ULong(start + ULong(index) * step); };
    const FlightResult result = host.fly(iterator, options.start, timeOf ? timeOf : steps, options.maxTicks,
                                         [&](ULong time, std::size_t, const _CCoordSystem<float>&, float) {
                                             flight.ticks.push_back(readTick(host, iterator, time));
                                             observe(flight.ticks.back());
                                             sandbox.takeEvents(flight.events);
                                         });
    sandbox.takeEvents(flight.events);
    flight.hitLimit = result.hitLimit;
    flight.cameraTaken = result.cameraTaken;
    return flight;
}

}  // namespace

FlightRecording recordFlight(Host& host, const Handle& iterator, const FlightOptions& options) {
    return recordFlightObserved(host, iterator, options, [](const FlightTick&) {});
}

FlightRecording recordFlightAt(Host& host, const Handle& iterator, ULong start,
                               const std::function<ULong(std::size_t)>& timeOf, std::size_t maxTicks) {
    FlightOptions options;
    options.start = start;
    options.maxTicks = maxTicks;
    return recordFlightObserved(host, iterator, options, [](const FlightTick&) {}, timeOf);
}

ULong frameTime(ULong start, double fps, std::size_t frame) {
    return ULong(start + static_cast<ULong>(std::llround(static_cast<double>(frame) * 1000.0 / fps)));
}

namespace {

/// The Runs of a sample after its activation (or its resumption), ordered as in `Host::fly`:
/// the tick before `time` when there is one, then `time`, each with its requests and the
/// camera's read. `afterRun(t)` sees the iterator after the Run at t.
template <typename AfterRun>
void runSample(Host& host, const Handle& iterator, ULong start, ULong step, ULong time, AfterRun afterRun) {
    const bool tickBefore = step != 0 && ULong(time - start) >= step;
    for (const ULong tick : {ULong(time - step), time}) {
        if (tick != time && !tickBefore) continue;
        host.tick(iterator, tick);
        afterRun(tick);
    }
}

}  // namespace

FlightTick sampleFlight(Host& host, const Handle& iterator, ULong start, ULong step, ULong time) {
    FlightSandbox sandbox(host, iterator);
    host.activate(iterator, start);
    host.runtime().deliverRequests();
    runSample(host, iterator, start, step, time, [](ULong) {});
    return readTick(host, iterator, time);
}

// ---------------------------------------------------------------------------------------------
// FrameSampler

void FrameSampler::forget() {
    iterator_ = Handle();
    resumable_ = false;
    chain_.clear();
}

void FrameSampler::restartFor(const Handle& iterator, ULong start) {
    if (iterator_ == iterator && start_ == start) return;
    forget();
    iterator_ = iterator;
    start_ = start;
    resumable_ = true;  // until a literal activation shows otherwise
}

bool FrameSampler::activationsInert(const Host& host, std::size_t from) const {
    const auto& log = host.activationLog();
    for (std::size_t i = from; i < log.size(); ++i) {
        const Handle& target = log[i].target;
        if (!(target == iterator_) && host.runtime().kind(target) != ObjectKind::Plain) return false;
    }
    return true;
}

void FrameSampler::remember(const Host& host, ULong latestRun, ULong run) {
    const std::optional<ULong> waypoint = host.getULong(iterator_, "ActualWayPointIndex");
    const std::optional<ULong> segmentStart = host.getULong(iterator_, "ActualWayPointTime");
    const GameCamera* camera = host.camera();
    if (!waypoint || !segmentStart || !camera) {
        resumable_ = false;
        chain_.clear();
        return;
    }
    // A later state under the same key is as far along or farther: it replaces the earlier one.
    chain_[latestRun] = {*waypoint, *segmentStart, run, camera->eye(), camera->fov()};
}

bool FrameSampler::resumeAt(Host& host, const Handle& iterator, const Resume& at) const {
    GameCamera* camera = host.camera();
    if (!camera) return false;
    camera->SetMaster(&iterator.Guid);
    if (!host.setULong(iterator, "ActualWayPointIndex", at.waypoint) ||
        !host.setULong(iterator, "ActualWayPointTime", at.segmentStart))
        throw std::logic_error("the iterator's segment can be read but not set");
    if (!host.setObjectPos(iterator, at.eye)) return false;
    host.tick(iterator, at.run);
    // The eye is twelve floats without padding; bits, so that NaN and -0 compare as they are.
    static_assert(sizeof(_CCoordSystem<float>) == 12 * sizeof(float));
    const _CCoordSystem<float> eye = camera->eye();
    return std::memcmp(&eye, &at.eye, sizeof eye) == 0 &&
           std::bit_cast<std::uint32_t>(camera->fov()) == std::bit_cast<std::uint32_t>(at.fov);
}

void FrameSampler::learnActivation(const Host& host, bool cameraTaken, std::size_t logFrom) {
    if (!cameraTaken || !activationsInert(host, logFrom)) {
        resumable_ = false;
        chain_.clear();
    }
}

FlightRecording FrameSampler::record(Host& host, const Handle& iterator, const FlightOptions& options) {
    restartFor(iterator, options.start);
    const std::size_t logFrom = host.activationLog().size();
    ULong latestRun = 0;
    bool first = true;
    FlightRecording flight = recordFlightObserved(host, iterator, options, [&](const FlightTick& tick) {
        latestRun = first ? tick.time : std::max(latestRun, tick.time);
        first = false;
        if (resumable_) remember(host, latestRun, tick.time);
    });
    learnActivation(host, flight.cameraTaken, logFrom);
    return flight;
}

void FrameSampler::extend(Host& host, const Handle& iterator, const FlightOptions& options, PartialFlight& flight,
                          std::size_t ticks) {
    restartFor(iterator, options.start);
    ticks = std::min(ticks, options.maxTicks);
    FlightRecording& recording = flight.recording;
    if (flight.ended || recording.ticks.size() >= ticks) return;
    const auto fromActivation = [&] {
        FlightOptions part = options;
        part.maxTicks = ticks;
        recording = record(host, iterator, part);
        flight.resumable = flight.resumable && resumable_;
        // Out of ticks at the flight's own limit is its end; at a part's, only a pause.
        flight.ended = !recording.hitLimit || ticks == options.maxTicks;
        recording.hitLimit = recording.hitLimit && ticks == options.maxTicks;
    };
    if (recording.ticks.empty() || !flight.resumable) return fromActivation();

    const FlightTick last = recording.ticks.back();
    const std::size_t flown = recording.ticks.size();
    const std::size_t logFrom = host.activationLog().size();
    std::vector<FlightEvent> events;
    bool held = false;
    {
        FlightSandbox sandbox(host, iterator);
        held = resumeAt(host, iterator, {last.waypoint, last.segmentStart, last.time, last.eye, last.fov});
        std::vector<FlightEvent> again;  // the last tick's, recorded with it
        sandbox.takeEvents(again);
        ULong latestRun = last.time;
        for (ULong time = last.time + options.step; held && recording.ticks.size() < ticks; time += options.step) {
            const bool ended = host.tick(iterator, time);
            recording.ticks.push_back(readTick(host, iterator, time));
            latestRun = std::max(latestRun, time);
            if (resumable_) remember(host, latestRun, time);
            sandbox.takeEvents(events);
            if (ended) {
                flight.ended = true;
                break;
            }
        }
    }
    if (!activationsInert(host, logFrom)) {
        // A gap of the new ticks holds a live object: what it does once activated is not in the
        // states remembered, so this flight is flown as a whole from now on.
        flight.resumable = false;
        resumable_ = false;
        chain_.clear();
    }
    if (!held || !flight.resumable) {
        recording.ticks.resize(flown);
        flight.ended = false;
        return fromActivation();
    }
    recording.events.insert(recording.events.end(), events.begin(), events.end());
    if (!flight.ended && recording.ticks.size() == options.maxTicks) {
        flight.ended = true;
        recording.hitLimit = true;
    }
}

FlightTick FrameSampler::sample(Host& host, const Handle& iterator, ULong start, ULong step, ULong time) {
    restartFor(iterator, start);
    const bool tickBefore = step != 0 && ULong(time - start) >= step;
    const ULong firstRun = tickBefore ? ULong(time - step) : time;

    // The remembered state reached by Runs no later than the first Run of this sample.
    const Resume* resume = nullptr;
    ULong resumeKey = 0;
    if (resumable_) {
        auto it = chain_.upper_bound(firstRun);
        if (it != chain_.begin()) {
            --it;
            resume = &it->second;
            resumeKey = it->first;
        }
    }

    FlightSandbox sandbox(host, iterator);
    const std::size_t logFrom = host.activationLog().size();
    ULong latestRun = resumeKey;
    bool cameraTaken = true;
    resumed_ = resume != nullptr;
    if (resume) {
        // What the activation would have left behind, without its refit of the unchanged path:
        // the camera's master, and the fresh iterator standing at the start of the remembered
        // segment. Its eye is the fresh iterator's, as after the activation.
        const Resume at = *resume;
        if (GameCamera* camera = host.camera()) camera->SetMaster(&iterator.Guid);
        if (!host.setULong(iterator, "ActualWayPointIndex", at.waypoint) ||
            !host.setULong(iterator, "ActualWayPointTime", at.segmentStart))
            throw std::logic_error("the iterator's segment can be read but not set");
    } else {
        host.activate(iterator, start);
        host.runtime().deliverRequests();
        const GameCamera* camera = host.camera();
        cameraTaken = camera && camera->master() == iterator;
        latestRun = firstRun;
    }
    runSample(host, iterator, start, step, time, [&](ULong run) {
        latestRun = std::max(latestRun, run);
        if (resumable_) remember(host, latestRun, run);
    });
    if (!resume)
        learnActivation(host, cameraTaken, logFrom);
    else if (!activationsInert(host, logFrom))
        forget();  // a later gap holds a live object
    return readTick(host, iterator, time);
}

Handle chooseIterator(const Host& host, const std::vector<Handle>& scene, const std::string& file,
                      const std::string& name, const std::string& how) {
    std::vector<Handle> iterators;
    std::string names;
    for (const Handle& handle : scene) {
        if (!handle.GetInterface(kIdHasEye, nullptr)) continue;
        iterators.push_back(handle);
        names += (names.empty() ? "" : ", ") + host.nameOf(handle);
    }
    if (!name.empty()) {
        const auto found =
            std::find_if(scene.begin(), scene.end(), [&](const Handle& h) { return host.nameOf(h) == name; });
        if (found == scene.end())
            throw InputError(file, name, "",
                             "no object has this name (iterators: " + (names.empty() ? "none" : names) + ")");
        if (std::find(iterators.begin(), iterators.end(), *found) == iterators.end())
            throw InputError(file, name, "", "the object is no iterator: it has no eye (ISCO_HasEye)");
        return *found;
    }
    if (iterators.empty()) throw InputError(file, "", "", "the scene has no iterator");
    if (iterators.size() > 1)
        throw InputError(file, "", "",
                         "the scene has " + std::to_string(iterators.size()) + " iterators (" + names +
                             "); choose one " + how);
    return iterators.front();
}

}  // namespace host
