#include "studio/server/Render.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "studio/server/ApiErrors.h"

namespace studio {

namespace {

using Json = nlohmann::json;

constexpr std::pair<RenderFormat, const char*> kFormatWords[] = {
    {RenderFormat::Mp4, "mp4"}, {RenderFormat::WebM, "webm"}, {RenderFormat::Frames, "frames"}, {RenderFormat::Sheet, "sheet"}};

/// Where the directive of a frame pattern is: its start and length; npos when there is not one.
std::pair<std::size_t, std::size_t> patternDirective(const std::string& pattern) {
    const std::size_t at = pattern.find('%');
    if (at == std::string::npos) return {std::string::npos, 0};
    std::size_t end = at + 1;
    while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
    if (end >= pattern.size() || pattern[end] != 'd' || end - at > 3) return {std::string::npos, 0};
    if (end > at + 1 && pattern[at + 1] != '0') return {std::string::npos, 0};
    return {at, end + 1 - at};
}

}  // namespace

const char* renderFormatWord(RenderFormat format) {
    for (const auto& [f, word] : kFormatWords)
        if (f == format) return word;
    return "mp4";
}

std::string framePatternProblem(const std::string& pattern) {
    const auto [at, length] = patternDirective(pattern);
    if (at == std::string::npos)
        return "the frames' name \"" + pattern + "\" needs one %d or %0Nd (N up to 9) for the frame's number";
    if (pattern.find('%', at + length) != std::string::npos)
        return "the frames' name \"" + pattern + "\" has more than one %";
    if (pattern.find('/') != std::string::npos) return "the frames' name \"" + pattern + "\" must not name a folder";
    if (pattern.size() < 4 || pattern.compare(pattern.size() - 4, 4, ".png") != 0)
        return "the frames' name \"" + pattern + "\" must end in .png";
    return {};
}

std::string frameFileName(const std::string& pattern, std::size_t index) {
    const auto [at, length] = patternDirective(pattern);
    const std::string spec = pattern.substr(at, length - 1) + "zu";
    char number[32];
    std::snprintf(number, sizeof number, spec.c_str(), index);
    return pattern.substr(0, at) + number + pattern.substr(at + length);
}

std::string renderSettingsProblem(const RenderSettings& s) {
    const auto side = [](int n) { return n >= 16 && n <= kMaxRenderSide && n % 2 == 0; };
    if (!side(s.width) || !side(s.height))
        return "the size must be WIDTHxHEIGHT, each an even number from 16 to " + std::to_string(kMaxRenderSide) +
               ", not " + std::to_string(s.width) + "x" + std::to_string(s.height);
    if (!(s.fps > 0 && s.fps <= kMaxRenderFps))
        return "the frame rate must be above 0 and at most " + std::to_string(int(kMaxRenderFps)) + " frames a second";
    if (!(s.vfov >= 1 && s.vfov <= 179)) return "the vertical field of view must be from 1 to 179 degrees";
    if (s.from && s.to && *s.to < *s.from) return "--to must not be before --from";
    const int most = s.format == RenderFormat::WebM ? 63 : 51;
    if (s.crf != -1 && (s.crf < 0 || s.crf > most))
        return "--crf must be from 0 (best) to " + std::to_string(most) + " for " + renderFormatWord(s.format);
    if (s.format == RenderFormat::Frames) return framePatternProblem(s.framePattern);
    return {};
}

std::string renderSettingsJson(const RenderSettings& s) {
    Json json = {{"format", renderFormatWord(s.format)}, {"width", s.width},       {"height", s.height},
                 {"fps", s.fps},                         {"vfov", s.vfov},         {"overlay", s.overlay},
                 {"showPath", s.showPath},               {"crf", s.crf},           {"start", s.start},
                 {"framePattern", s.framePattern},               {"timings", s.timings}};
    json["iterator"] = s.iterator.empty() ? Json() : Json(s.iterator);
    json["from"] = s.from ? Json(*s.from) : Json();
    json["to"] = s.to ? Json(*s.to) : Json();
    return json.dump();
}

RenderSettings renderSettingsFromJson(std::string_view text) {
    const Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) throw BadRequest("the render's settings must be a JSON object");
    RenderSettings s;
    for (const auto& [key, value] : json.items()) {
        const auto whole = [&](auto& out, double low, double high) {
            if (!value.is_number_integer() || value.get<double>() < low || value.get<double>() > high)
                throw BadRequest("\"" + key + "\" must be a whole number from " + std::to_string(std::int64_t(low)) +
                                 " to " + std::to_string(std::int64_t(high)));
            out = value.get<std::remove_reference_t<decltype(out)>>();
        };
        const auto flag = [&](bool& out) {
            if (!value.is_boolean()) throw BadRequest("\"" + key + "\" must be true or false");
            out = value.get<bool>();
        };
        const auto number = [&](double& out) {
            if (!value.is_number()) throw BadRequest("\"" + key + "\" must be a number");
            out = value.get<double>();
        };
        if (key == "format") {
            bool known = false;
            for (const auto& [f, word] : kFormatWords)
                if (value.is_string() && value.get<std::string>() == word) s.format = f, known = true;
            if (!known) throw BadRequest("\"format\" must be \"mp4\", \"webm\", \"frames\" or \"sheet\"");
        } else if (key == "width") whole(s.width, 0, kMaxRenderSide);
        else if (key == "height") whole(s.height, 0, kMaxRenderSide);
        else if (key == "fps") number(s.fps);
        else if (key == "vfov") number(s.vfov);
        else if (key == "overlay") flag(s.overlay);
        else if (key == "showPath") flag(s.showPath);
        else if (key == "timings") flag(s.timings);
        else if (key == "crf") whole(s.crf, -1, 63);
        else if (key == "start") whole(s.start, 0, 0xFFFFFFFFu);
        else if ((key == "from" || key == "to") && !value.is_null()) {
            ULong t = 0;
            whole(t, 0, 0xFFFFFFFFu);
            (key == "from" ? s.from : s.to) = t;
        } else if (key == "iterator" && value.is_string()) s.iterator = value.get<std::string>();
        else if (key == "framePattern" && value.is_string()) s.framePattern = value.get<std::string>();
        else if (!value.is_null()) throw BadRequest("unknown key \"" + key + "\" in the render's settings");
    }
    if (const std::string problem = renderSettingsProblem(s); !problem.empty()) throw BadRequest(problem);
    return s;
}

RenderTask::RenderTask(RenderSettings settings, std::string output)
    : settings_(std::move(settings)), output_(std::move(output)) {
    if (output_.empty()) return;
    if (settings_.format == RenderFormat::Frames)
        folder_ = std::make_unique<host::StagedFolder>(output_);
    else
        file_ = std::make_unique<host::StagedFile>(output_);
}

void RenderTask::write(std::uint64_t offset, std::string_view bytes, std::optional<std::size_t> frame) {
    std::lock_guard lock(mutex_);
    if (progress_.state != State::Running) throw Conflict("the render has ended", {});
    if (output_.empty()) throw Conflict("this render's bytes stay in the page: the studio writes no file for it", {});
    if (frame.has_value() != (folder_ != nullptr))
        throw BadRequest(folder_ ? "a frame's bytes need \"frame\", its number" : "this render writes one file, not frames");
    if (folder_)
        folder_->writeAt(frameFileName(settings_.framePattern, *frame), offset, bytes);
    else
        file_->writeAt(offset, bytes);
    progress_.bytes += bytes.size();
}

void RenderTask::progress(std::size_t done, std::size_t total) {
    std::lock_guard lock(mutex_);
    progress_.done = done;
    progress_.total = total;
    changed();
}

void RenderTask::finish(const RenderTimings& timings) {
    std::lock_guard lock(mutex_);
    if (progress_.state != State::Running) throw Conflict("the render has ended", {});
    try {
        if (folder_) folder_->commit();
        else if (file_) file_->commit();
    } catch (const std::runtime_error& error) {
        folder_.reset();
        file_.reset();
        progress_.state = State::Failed;
        progress_.error = error.what();
        changed();
        throw;
    }
    progress_.state = State::Finished;
    progress_.timings = timings;
    changed();
}

void RenderTask::fail(std::string why) { ended(State::Failed, std::move(why)); }

void RenderTask::cancel() { ended(State::Cancelled, "cancelled"); }

void RenderTask::ended(State state, std::string why) {
    std::lock_guard lock(mutex_);
    if (progress_.state != State::Running) return;
    // The staged output goes with its owner: nothing of it stays.
    file_.reset();
    folder_.reset();
    progress_.state = state;
    progress_.error = std::move(why);
    changed();
}

RenderTask::Progress RenderTask::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

RenderTask::Progress RenderTask::waitForChange(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const std::uint64_t seen = changes_;
    change_.wait_for(lock, timeout, [&] { return changes_ != seen; });
    return progress_;
}

void RenderTask::changed() {
    ++changes_;
    change_.notify_all();
}

}  // namespace studio
