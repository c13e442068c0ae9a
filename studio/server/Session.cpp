#include "studio/server/Session.h"

#include <algorithm>

#include "framework/InterfacePtr.h"
#include "scene/SceneTree.h"

namespace studio {

Session::Session(host::Host& host) : host_(host), editor_(host) {
    findIterators();
    takeSceneMessages();
}

Handle Session::iteratorNamed(const std::string& name) const {
    for (const Handle& it : iterators_)
        if (host_.nameOf(it) == name) return it;
    return Handle();
}

Handle Session::sceneObject(const std::string& name, const char* role) const {
    const Handle found = host_.find(name);
    if (!found.IsNull() && host::isSceneObject(host_, found)) return found;
    throw host::InputError("", name, "", std::string("no ") + role + " of the scene is named \"" + name + "\"");
}

const host::PartialFlight& Session::flight(const Handle& iterator, const host::FlightOptions& options,
                                           std::size_t ticks) {
    const FlightKey key{iterator, options};
    if (!flightKey_ || !(*flightKey_ == key)) {
        flightKey_.reset();
        flight_ = {};
        flightKey_ = key;
    }
    try {
        sandboxed([&] { frames_.extend(host_, iterator, options, flight_, ticks); });
    } catch (...) {
        flightKey_.reset();
        throw;
    }
    return flight_;
}

host::FlightRecording Session::flightAt(const Handle& iterator, ULong start,
                                        const std::function<ULong(std::size_t)>& timeOf, std::size_t maxTicks) {
    return sandboxed([&] { return host::recordFlightAt(host_, iterator, start, timeOf, maxTicks); });
}

std::string Session::frame(const Handle& iterator, ULong start, ULong step, ULong time) {
    const FrameKey key{iterator, start, step, time};
    if (frameKey_ && *frameKey_ == key) return frame_;
    frameKey_.reset();
    frame_ = frameJson(sandboxed([&] { return frames_.sample(host_, iterator, start, step, time); }));
    frameKey_ = key;
    return frame_;
}

std::string Session::draw() {
    keepDrawing(drawScene());
    drawGesture_.clear();
    return drawJson(host_, lastDrawing_);
}

host::SceneDrawing Session::drawScene() {
    host::SceneDrawing drawing = host_.drawScene(std::move(spareCalls_));
    takeSceneMessages();
    return drawing;
}

void Session::keepDrawing(host::SceneDrawing sent) {
    spareCalls_ = std::move(lastDrawing_.calls);
    lastDrawing_ = std::move(sent);
}

const std::vector<host::MessageRecord>& Session::sceneMessages() {
    takeSceneMessages();
    return sceneMessages_;
}

void Session::takeSceneMessages() {
    const auto& log = host_.messages();
    sceneMessages_.insert(sceneMessages_.end(), log.begin() + static_cast<std::ptrdiff_t>(sortedMessages_), log.end());
    sortedMessages_ = log.size();
}

std::size_t Session::beginChange() {
    takeSceneMessages();
    return host_.messages().size();
}

JsonObject Session::endChange(host::EditEffect effect, std::size_t from, const JsonObject& extra,
                              const std::string& gesture) {
    // No cached flight survives a change; frames resume only where the times of the flight
    // cannot have changed.
    flightKey_.reset();
    frameKey_.reset();
    // Moving waypoints makes and removes no objects: the iterators stay (a long path's scene
    // tree is not walked again on every step of a drag).
    if (effect != host::EditEffect::WaypointPositions) {
        frames_.forget();
        findIterators();
    }
    const std::vector<host::MessageRecord> caused(host_.messages().begin() + static_cast<std::ptrdiff_t>(from),
                                                  host_.messages().end());
    JsonObject answer;
    answer.number("revision", editor_.revision()).members(extra);
    if (!gesture.empty() && gesture == drawGesture_) {
        host::SceneDrawing drawing = drawScene();
        answer.value("drawChanges", drawJson(host_, drawing, &lastDrawing_));
        keepDrawing(std::move(drawing));
    } else {
        answer.value("draw", draw());
        drawGesture_ = gesture;
    }
    return std::move(answer.value("messages", messageList(caused)));
}

void Session::findIterators() {
    const Handle was = current_;
    iterators_.clear();
    for (const Handle& object : host::sceneObjects(host_))
        if (host_.runtime().kind(object) == host::ObjectKind::Module && object.GetInterface(kIdHasEye, nullptr))
            iterators_.push_back(object);
    const bool still = std::any_of(iterators_.begin(), iterators_.end(), [&](const Handle& h) { return h == was; });
    current_ = still ? was : iterators_.empty() ? Handle() : iterators_.front();
}

}  // namespace studio
