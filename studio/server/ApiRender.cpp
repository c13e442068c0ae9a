// The API of a render: its settings, the frames to render, and the bytes, progress and end the
// page sends back (see Render.h).

#include <filesystem>
#include <nlohmann/json.hpp>

#include "flight/ContactSheet.h"
#include "flight/FlightAnalysis.h"
#include "flight/FlightAnalysisInput.h"
#include "studio/server/Api.h"
#include "studio/server/ApiErrors.h"
#include "studio/server/Query.h"
#include "studio/server/StudioServer.h"

namespace studio {

namespace {

using Json = nlohmann::json;

Json jsonBody(const Request& request) {
    const std::string type = lowerCase(request.headers.contentType);
    if (!request.body.empty() && type.rfind("application/json", 0) != 0)
        throw BadRequest("the body must be JSON (Content-Type: application/json)");
    Json body = request.body.empty() ? Json::object() : Json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) throw BadRequest("the body must be a JSON object");
    return body;
}

std::string renderJson(const RenderTask& task) {
    const RenderTask::Progress p = task.progress();
    static const char* const kStates[] = {"running", "finished", "failed", "cancelled"};
    Json json = {{"output", task.output().empty() ? Json() : Json(task.output())},
                 {"state", kStates[static_cast<int>(p.state)]},
                 {"done", p.done},
                 {"total", p.total},
                 {"bytes", p.bytes}};
    if (!p.error.empty()) json["error"] = p.error;
    return JsonObject().value("settings", renderSettingsJson(task.settings())).value("progress", json.dump()).json();
}

/// The ticks of `flight` whose time since `start` lies in [from, to].
void keepRange(host::FlightRecording& flight, ULong start, std::optional<ULong> from, std::optional<ULong> to) {
    std::erase_if(flight.ticks, [&](const host::FlightTick& tick) {
        const ULong since = ULong(tick.time - start);
        return (from && since < *from) || (to && since > *to);
    });
}

}  // namespace

RenderTask& Api::renderTask() const {
    if (!render_) throw NotFound("no render has been started");
    return *render_;
}

std::string Api::getRender(const Request& request, const std::string&) {
    Query(request, {});
    return renderJson(renderTask());
}

/// A render the page starts: written beside the scene's file under `name`, or with a null
/// `name` kept by the page (a download; frames, being many files, cannot be).
std::string Api::startRender(const Request& request, const std::string&) {
    Query(request, {});
    const Json body = jsonBody(request);
    const auto name = body.find("name");
    const auto settings = body.find("settings");
    if (name == body.end() || !(name->is_string() || name->is_null()) || settings == body.end())
        throw BadRequest("a render needs \"name\" (a file name beside the scene, or null) and \"settings\"");
    const std::string file = name->is_null() ? std::string() : name->get<std::string>();
    const std::filesystem::path scene(file_.file());
    if (name->is_string() && (file.empty() || file.find('/') != std::string::npos || file[0] == '.'))
        throw BadRequest("\"name\" must be a plain file name (no folders, not hidden), not \"" + file + "\"");
    if (!file.empty() && file == scene.filename().string())
        throw BadRequest("\"" + file + "\" is the scene's own file; choose another name");
    if (render_ && render_->progress().state == RenderTask::State::Running)
        throw Conflict("a render is running; cancel it first", {});
    const RenderSettings parsed = renderSettingsFromJson(settings->dump());
    if (file.empty() && parsed.format == RenderFormat::Frames)
        throw BadRequest("frames are a folder of files: they need a \"name\" to be written beside the scene");
    // A clip replaces only a file of its own kind: never a scene, a level or anything else there.
    const std::string extension = parsed.format == RenderFormat::Mp4    ? ".mp4"
                                  : parsed.format == RenderFormat::WebM ? ".webm"
                                  : parsed.format == RenderFormat::Sheet ? ".png"
                                                                         : "";
    if (!file.empty() && !extension.empty() &&
        (file.size() <= extension.size() || lowerCase(file.substr(file.size() - extension.size())) != extension))
        throw BadRequest("\"" + file + "\" must end in " + extension + " for " + renderFormatWord(parsed.format));
    try {
        render_ = std::make_shared<RenderTask>(parsed, file.empty() ? file : (scene.parent_path() / file).string());
    } catch (const std::runtime_error& error) {
        throw BadRequest(error.what());
    }
    return renderJson(*render_);
}

/// The frames to render, flown by the plug-in: one Run at each frame's own time. A video's
/// frame k is at start + round(k * 1000 / fps) until the tick that ends the flight, kept where
/// it lies in the render's range; a sheet's are its moments, each with its "labels" entry. With
/// the names of the waypoints by index ("waypoints") for what the frames show over them.
std::string Api::getRenderFrames(const Request& request, const std::string&) {
    Query(request, {});
    const RenderSettings& s = renderTask().settings();
    Handle iterator = session_.current();
    if (!s.iterator.empty()) iterator = session_.iteratorNamed(s.iterator);
    if (iterator.IsNull()) throw BadRequest(s.iterator.empty() ? "the scene has no iterator to fly"
                                                               : "no iterator is named \"" + s.iterator + "\"");
    const std::string name = session_.host().nameOf(iterator);
    host::FlightRecording frames;
    Json labels = Json::array();
    if (s.format == RenderFormat::Sheet) {
        host::FlightOptions options;
        options.start = s.start;
        options.maxTicks = kMaxFlightTicks;
        const host::FlightRecording& flown = session_.flight(iterator, options).recording;
        const host::FlightAnalysisInput input = host::flightAnalysisInput(session_.host(), iterator, flown.ticks);
        const std::vector<host::SheetMoment> moments =
            host::contactSheetMoments(input, host::analyseFlight(input), options.step);
        frames = session_.flightAt(iterator, s.start, [&](std::size_t k) { return moments[k].time; }, moments.size());
        for (std::size_t k = 0; k < frames.ticks.size() && k < moments.size(); ++k) labels.push_back(moments[k].label);
    } else {
        const double fps = s.fps;
        const ULong start = s.start;
        frames = session_.flightAt(iterator, s.start, [=](std::size_t k) { return host::frameTime(start, fps, k); },
                                   kMaxFlightTicks);
        keepRange(frames, s.start, s.from, s.to);
    }
    Json waypoints = Json::array();
    for (const host::FlightWaypoint& w : host::flightAnalysisInput(session_.host(), iterator, {}).waypoints)
        waypoints.push_back(w.name);
    return flightObject(frames, name, true).value("labels", labels.dump()).value("waypoints", waypoints.dump()).json();
}

/// A piece of the output: the body's bytes at "offset" (of frame "frame"'s file for frames).
std::string Api::writeRender(const Request& request, const std::string&) {
    const Query query(request, {"offset", "frame"});
    if (lowerCase(request.headers.contentType) != "application/octet-stream")
        throw BadRequest("the render's bytes must come as application/octet-stream");
    const std::uint64_t offset = query.number("offset", 0, 0, std::uint64_t(1) << 40);
    std::optional<std::size_t> frame;
    if (query.text("frame")) frame = static_cast<std::size_t>(query.number("frame", 0, 0, kMaxFlightTicks));
    try {
        renderTask().write(offset, request.body, frame);
    } catch (const std::runtime_error& error) {
        // A disk that is full or gone: the render cannot complete, and its owner hears why.
        if (dynamic_cast<const BadRequest*>(&error) || dynamic_cast<const Conflict*>(&error)) throw;
        renderTask().fail(error.what());
        throw BadRequest(error.what());
    }
    return "{}";
}

std::string Api::renderProgress(const Request& request, const std::string&) {
    Query(request, {});
    const Json body = jsonBody(request);
    const auto count = [&](const char* key) {
        const auto found = body.find(key);
        if (found == body.end() || !found->is_number_unsigned()) throw BadRequest(std::string("\"") + key + "\" must be a whole number");
        return found->get<std::size_t>();
    };
    renderTask().progress(count("done"), count("total"));
    return renderJson(renderTask());
}

std::string Api::finishRender(const Request& request, const std::string&) {
    Query(request, {});
    const Json body = jsonBody(request);
    RenderTimings timings;
    if (const auto given = body.find("timings"); given != body.end() && given->is_object()) {
        const auto ms = [&](const char* key) {
            const auto found = given->find(key);
            return found != given->end() && found->is_number() ? found->get<double>() : 0.0;
        };
        timings = {ms("render"), ms("readback"), ms("encode"), ms("transfer"), ms("total")};
    }
    try {
        renderTask().finish(timings);
    } catch (const std::runtime_error& error) {
        if (dynamic_cast<const Conflict*>(&error)) throw;
        throw BadRequest(error.what());
    }
    return renderJson(renderTask());
}

std::string Api::failRender(const Request& request, const std::string&) {
    Query(request, {});
    const Json body = jsonBody(request);
    const auto error = body.find("error");
    const bool cancelled = body.value("cancelled", false);
    if (cancelled)
        renderTask().cancel();
    else
        renderTask().fail(error != body.end() && error->is_string() ? error->get<std::string>() : "the page failed");
    return renderJson(renderTask());
}

}  // namespace studio
