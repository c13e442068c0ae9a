#include "studio/server/Api.h"

#include <algorithm>
#include <cctype>

#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "flight/lint/Lint.h"
#include "studio/server/ApiErrors.h"
#include "studio/server/Query.h"
#include "studio/server/StudioServer.h"

namespace studio {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

Api::Api(Session& session, FileState& file) : session_(session), file_(file) {}

const std::vector<Api::Route>& Api::routes() {
    static const std::vector<Route> table = {
        {"GET", "/api/scene", &Api::getScene},
        {"GET", "/api/draw", &Api::getDraw},
        {"GET", "/api/flight", &Api::getFlight},
        {"GET", "/api/frame", &Api::getFrame},
        {"GET", "/api/analysis", &Api::getAnalysis},
        {"GET", "/api/lint", &Api::getLint},
        {"POST", "/api/lint/fix", &Api::fixLint},
        {"GET", "/api/messages", &Api::getMessages},
        {"GET", "/api/status", &Api::getStatus},
        {"GET", "/api/history", &Api::getHistory},
        {"POST", "/api/objects", &Api::createObject},
        {"POST", "/api/undo", &Api::undo},
        {"POST", "/api/redo", &Api::redo},
        {"POST", "/api/save", &Api::save},
        {"POST", "/api/reload", &Api::reload},
        {"GET", "/api/scene/file", &Api::getSceneFile},
        {"GET", "/api/recovery", &Api::getRecovery},
        {"GET", "/api/recovery/scene", &Api::getRecoveredScene},
        {"POST", "/api/recovery/apply", &Api::applyRecovery},
        {"POST", "/api/recovery/discard", &Api::discardRecovery},
        {"POST", "/api/objects/{name}/move", &Api::moveObject},
        {"POST", "/api/paths/{name}/retime", &Api::retimePath},
        {"POST", "/api/batch", &Api::applyBatch},
        {"POST", "/api/moves", &Api::addMove},
        {"GET", "/api/objects/{name}/referrers", &Api::getReferrers},
        {"PATCH", "/api/objects/{name}", &Api::patchObject},
        {"DELETE", "/api/objects/{name}", &Api::deleteObject},
        {"GET", "/api/render", &Api::getRender},
        {"POST", "/api/render", &Api::startRender},
        {"GET", "/api/render/frames", &Api::getRenderFrames},
        {"POST", "/api/render/data", &Api::writeRender},
        {"POST", "/api/render/progress", &Api::renderProgress},
        {"POST", "/api/render/finish", &Api::finishRender},
        {"POST", "/api/render/fail", &Api::failRender},
    };
    return table;
}

Answer Api::serve(const Request& request) {
    std::lock_guard lock(mutex_);
    gestureStep_ = false;
    const std::uint64_t revision = session_.editor().revision();
    Answer answered = answer(request);
    // A change is journaled at once, a drag's step at most every kJournalGestureGap: by a later
    // request (the frames that follow each step) or by the server's catch-up.
    file_.keepJournal(gestureStep_ || session_.editor().revision() == revision);
    return answered;
}

void Api::keepJournal(bool soon) {
    std::lock_guard lock(mutex_);
    file_.keepJournal(soon);
}

Answer Api::answer(const Request& request) {
    try {
        return {200, route(request)};
    } catch (const BadRequest& error) {
        return {400, errorJson(error.what())};
    } catch (const host::InputError& error) {
        return {400, errorJson(error.what(), error.object(), error.attribute())};
    } catch (const Conflict& error) {
        return {409, errorObject(error.what()).members(error.fields).json()};
    } catch (const NotFound& error) {
        return {404, errorJson(error.what())};
    }
}

std::string Api::route(const Request& request) {
    const std::string& path = request.path;
    for (const Route& route : routes()) {
        if (request.method != route.method) continue;
        const std::size_t hole = route.pattern.find("{name}");
        if (hole == std::string_view::npos) {
            if (path == route.pattern) return (this->*route.handler)(request, {});
            continue;
        }
        const std::string_view head = route.pattern.substr(0, hole), tail = route.pattern.substr(hole + 6);
        if (path.size() > head.size() + tail.size() && path.starts_with(head) && path.ends_with(tail))
            return (this->*route.handler)(request, path.substr(head.size(), path.size() - head.size() - tail.size()));
    }
    throw NotFound("nothing is at " + request.method + " " + path);
}

Handle Api::iteratorOf(const Query& query) const {
    const std::string* name = query.text("iterator");
    if (!name) {
        if (session_.current().IsNull()) throw BadRequest("the scene has no iterator to fly");
        return session_.current();
    }
    const Handle found = session_.iteratorNamed(*name);
    if (found.IsNull()) throw BadRequest("no iterator is named \"" + *name + "\"");
    return found;
}

host::FlightOptions Api::flightOptions(const Query& query) const {
    host::FlightOptions o;
    o.start = query.time("start", 0);
    o.step = query.time("step", 16);
    if (o.step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
    o.maxTicks = static_cast<std::size_t>(query.number("maxTicks", 100000, 1, kMaxFlightTicks));
    return o;
}

std::string Api::getScene(const Request& request, const std::string&) {
    Query(request, {});
    return sceneJson(session_.host(), file_.file(), session_.iterators(), session_.current());
}

std::string Api::getDraw(const Request& request, const std::string&) {
    Query(request, {});
    return session_.draw();
}

/// The whole flight, or with "fromTick" and "ticks" a part of it: the ticks from that one on
/// (at most that many), with "fromTick", "complete" (no tick after these) and the scene's
/// "revision"; the flight's events come with the part that completes it. A long flight arrives
/// part by part while it is flown, and every part is the same bytes as those rows of the whole.
std::string Api::getFlight(const Request& request, const std::string&) {
    const Query query(request, {"iterator", "start", "step", "maxTicks", "encoding", "fromTick", "ticks"});
    const std::string* encoding = query.text("encoding");
    if (encoding && *encoding != "f32" && *encoding != "json")
        throw BadRequest("query parameter \"encoding\" must be \"f32\" or \"json\"");
    const bool f32 = encoding && *encoding == "f32";
    const Handle iterator = iteratorOf(query);
    const host::FlightOptions o = flightOptions(query);
    const std::string name = session_.host().nameOf(iterator);
    if (!query.text("fromTick") && !query.text("ticks"))
        return flightJson(session_.flight(iterator, o).recording, name, f32);
    const auto from = static_cast<std::size_t>(query.number("fromTick", 0, 0, kMaxFlightTicks));
    const auto count = static_cast<std::size_t>(query.number("ticks", kMaxFlightTicks, 1, kMaxFlightTicks));
    const host::PartialFlight& flown = session_.flight(iterator, o, from + count);
    const std::vector<host::FlightTick>& ticks = flown.recording.ticks;
    host::FlightRecording part;
    const std::size_t begin = std::min(from, ticks.size()), end = std::min(from + count, ticks.size());
    part.ticks.assign(ticks.begin() + static_cast<std::ptrdiff_t>(begin),
                      ticks.begin() + static_cast<std::ptrdiff_t>(end));
    const bool complete = flown.ended && end == ticks.size();
    if (complete) {
        part.events = flown.recording.events;
        part.hitLimit = flown.recording.hitLimit;
    }
    // The revision tells a page whether all its parts are of one scene.
    return flightObject(part, name, f32)
        .number("fromTick", begin)
        .flag("complete", complete)
        .number("revision", session_.editor().revision())
        .json();
}

std::string Api::getFrame(const Request& request, const std::string&) {
    const Query query(request, {"iterator", "start", "step", "t"});
    const Handle iterator = iteratorOf(query);
    const ULong start = query.time("start", 0);
    const ULong step = query.time("step", 16);
    if (step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
    if (!query.text("t")) throw BadRequest("query parameter \"t\" (the time of the frame) is missing");
    return session_.frame(iterator, start, step, query.time("t", 0));
}

std::string Api::getAnalysis(const Request& request, const std::string&) {
    const Query query(request, {"iterator", "start", "step", "maxTicks"});
    const Handle iterator = iteratorOf(query);
    const host::FlightRecording& recorded = session_.flight(iterator, flightOptions(query)).recording;
    host::FlightAnalysisInput input = host::flightAnalysisInput(session_.host(), iterator, recorded.ticks);
    input.level = session_.level();
    return analysisJson(input, host::analyseFlight(input));
}

/// `camsys lint` of the scene as it stands, as JSON: every iterator's flight, or the one named.
/// The flights are the studio's own (the page's flight of the same options is reused), so the
/// findings are the tool's for the saved scene; a finding with a fix names it ("fix", its label).
std::string Api::getLint(const Request& request, const std::string&) {
    const Query query(request, {"iterator", "start", "step"});
    host::LintOptions o;
    o.level = session_.level();
    if (query.text("iterator")) o.iterator = iteratorOf(query);
    o.start = query.time("start", 0);
    o.step = query.time("step", 16);
    if (o.step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
    return host::lintJson(host::lintScene(session_.host(), o,
                                          [&](const Handle& iterator, const host::FlightOptions& f) {
                                              return session_.flight(iterator, f).recording;
                                          }),
                          true);
}

std::string Api::getMessages(const Request& request, const std::string&) {
    Query(request, {});
    return messagesJson(session_.sceneMessages());
}

std::string Api::getStatus(const Request& request, const std::string&) {
    Query(request, {});
    return file_.status();
}

}  // namespace studio
