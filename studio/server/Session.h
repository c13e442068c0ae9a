#pragma once
/// What the studio holds of the scene between requests: the iterators, the editor with its undo
/// history, the flights and frames flown, the drawing last sent, and the runtime's messages.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "flight/Flight.h"
#include "geometry/LevelGeometry.h"
#include "host/Host.h"
#include "scene/SceneEditor.h"
#include "studio/server/StudioJson.h"

namespace studio {

class Session {
public:
    /// Finds the iterators of the scene in `host`; the first is in use.
    explicit Session(host::Host& host);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    host::Host& host() { return host_; }
    const host::Host& host() const { return host_; }
    host::SceneEditor& editor() { return editor_; }
    const host::SceneEditor& editor() const { return editor_; }
    /// The level the flights are checked against (null: none); it outlives the session.
    const host::LevelGeometry* level() const { return level_.get(); }
    void setLevel(std::shared_ptr<const host::LevelGeometry> level) { level_ = std::move(level); }
    /// Every object of the scene with an eye, in scene order.
    const std::vector<Handle>& iterators() const { return iterators_; }
    /// The iterator in use (null when the scene has none).
    const Handle& current() const { return current_; }
    void setCurrent(const Handle& iterator) { current_ = iterator; }
    /// The iterator named `name`, or null.
    Handle iteratorNamed(const std::string& name) const;
    /// The scene object named `name`; InputError when there is none.
    Handle sceneObject(const std::string& name, const char* role = "object") const;

    /// The flight of `options` flown to at least `ticks` ticks (or to its end).
    const host::PartialFlight& flight(const Handle& iterator, const host::FlightOptions& options,
                                      std::size_t ticks = std::numeric_limits<std::size_t>::max());
    /// A flight with tick k at `timeOf(k)` (see `recordFlightAt`), not kept.
    host::FlightRecording flightAt(const Handle& iterator, ULong start, const std::function<ULong(std::size_t)>& timeOf,
                                   std::size_t maxTicks);
    /// One frame as JSON.
    std::string frame(const Handle& iterator, ULong start, ULong step, ULong time);
    /// The whole drawing as JSON, remembered as the drawing last sent.
    std::string draw();
    /// What the runtime reported outside of flights.
    const std::vector<host::MessageRecord>& sceneMessages();

    /// Runs `change` (an edit through the editor, answering its effect) and answers with the new
    /// revision, `extra`, the drawing and the messages the change caused. The later steps of a
    /// gesture (a drag) carry only what changed in the drawing since the step before
    /// ("drawChanges"): the page that sent that step holds its drawing.
    template <typename Change>
    JsonObject changed(Change change, const JsonObject& extra = {}, const std::string& gesture = {}) {
        const std::size_t from = beginChange();
        const host::EditEffect effect = change();
        return endChange(effect, from, extra, gesture);
    }

private:
    void takeSceneMessages();
    /// The scene drawn now, into the buffer of `spareCalls_`.
    host::SceneDrawing drawScene();
    /// Keeps `sent` as the drawing last sent; its predecessor's calls become the spare buffer.
    void keepDrawing(host::SceneDrawing sent);
    void findIterators();
    std::size_t beginChange();
    JsonObject endChange(host::EditEffect effect, std::size_t from, const JsonObject& extra,
                         const std::string& gesture);

    /// Runs `work` (a flight or a frame) and leaves what it reported out of the scene's messages.
    template <typename Work>
    auto sandboxed(Work work) {
        takeSceneMessages();
        struct Skip {
            Session& session;
            ~Skip() { session.sortedMessages_ = session.host_.messages().size(); }
        } skip{*this};
        return work();
    }

    struct FlightKey {
        Handle iterator;
        host::FlightOptions options;
        bool operator==(const FlightKey& other) const {
            return iterator == other.iterator && options.start == other.options.start &&
                   options.step == other.options.step && options.maxTicks == other.options.maxTicks;
        }
    };
    struct FrameKey {
        Handle iterator;
        ULong start = 0, step = 0, time = 0;
        bool operator==(const FrameKey& other) const {
            return iterator == other.iterator && start == other.start && step == other.step && time == other.time;
        }
    };

    host::Host& host_;
    std::shared_ptr<const host::LevelGeometry> level_;
    std::vector<Handle> iterators_;
    Handle current_;
    /// What the runtime reported outside of flights (loading, drawing), and how much of its
    /// log has been sorted so far: a flight's own messages belong to that flight's answer.
    std::vector<host::MessageRecord> sceneMessages_;
    std::size_t sortedMessages_ = 0;
    /// The last flight flown, as far as it was flown: parts of a long flight are flown on demand,
    /// the analysis flies it to its end.
    std::optional<FlightKey> flightKey_;
    host::PartialFlight flight_;
    /// Frames start from where flights and earlier frames left the iterator. Every change of
    /// the scene that does not go through the editor's refitting path must call its `forget`.
    host::FrameSampler frames_;
    /// The last frame answered, until the scene changes: pages that show one playhead (several
    /// tabs, a second screen) ask for the same frame within the same display period.
    std::optional<FrameKey> frameKey_;
    std::string frame_;
    /// Every change goes through the editor, with undo.
    host::SceneEditor editor_;
    /// The drawing last sent, and the gesture (with its object) whose step it answered.
    host::SceneDrawing lastDrawing_;
    /// The calls of the drawing before it: the next drawing is recorded into their buffer.
    std::vector<host::DrawCall> spareCalls_;
    std::string drawGesture_;
};

}  // namespace studio
