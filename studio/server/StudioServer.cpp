#include "studio/server/StudioServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>

#include "framework/InterfacePtr.h"
#include "base/AtomicFile.h"
#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "flight/lint/Lint.h"
#include "scene/SceneEditor.h"
#include "scene/AttributeValues.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneFile.h"
#include "scene/SceneTree.h"
#include "scene/ScoFile.h"
#include "studio/server/Assets.h"
#include "studio/server/StudioJson.h"

namespace studio {

namespace {

constexpr const char* kJson = "application/json";
using Json = nlohmann::json;
using host::jsonString;

/// A request the studio cannot serve as asked: answered with 400 and the reason.
struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};
/// A change that would overwrite what someone else did (a stale revision, a file changed on
/// disk): answered with 409, the reason and `fields` (a JSON object's members, without braces).
struct Conflict : std::runtime_error {
    Conflict(const std::string& reason, std::string extra) : std::runtime_error(reason), fields(std::move(extra)) {}
    std::string fields;
};
/// Nothing is at the path: 404.
struct NotFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// 256 random bits as 64 hex digits.
std::string makeToken() {
    std::random_device device;
    std::string token;
    for (int i = 0; i < 8; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(device()));
        token += word;
    }
    return token;
}

/// Compares in time independent of where the texts differ, so the answer's timing tells an
/// attacker nothing about how much of a guessed token was right.
bool sameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

/// Sends `bytes` as they are; they must outlive the response (the page's embedded files do).
///
/// cpp-httplib compresses a text body on the fly, with brotli at its highest quality when the
/// browser accepts that: about a second for the page's script and a fifth of one for a flight.
/// A server on the same machine as its browser gains nothing from compressing its answers, and
/// the page's files are compressed once when the page is built. A body handed over through a
/// provider of known length goes out unchanged. (Errors keep `set_content`: they are short, and
/// the error handler looks at the body.)
void sendAsIs(httplib::Response& response, std::string_view bytes, const char* type) {
    if (bytes.empty()) {
        response.set_content(std::string(), type);
        return;
    }
    response.set_content_provider(bytes.size(), type,
                                  [bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      return sink.write(bytes.data() + offset, length);
                                  });
}

/// `sendAsIs` of a body the response keeps.
void sendAsIs(httplib::Response& response, std::string body, const char* type) {
    auto kept = std::make_shared<const std::string>(std::move(body));
    if (kept->empty()) {
        response.set_content(std::string(), type);
        return;
    }
    response.set_content_provider(kept->size(), type,
                                  [kept](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      return sink.write(kept->data() + offset, length);
                                  });
}

/// Whether an Accept-Encoding header ("gzip, deflate, br;q=0.5") accepts `coding`: named
/// (case-insensitive) with a weight other than zero.
bool acceptsCoding(std::string_view header, std::string_view coding) {
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        const std::size_t semicolon = item.find(';');
        std::string_view name = item.substr(0, semicolon);
        std::string_view params = semicolon == std::string_view::npos ? std::string_view() : item.substr(semicolon + 1);
        auto trim = [](std::string_view& t) {
            while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
            while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
        };
        trim(name);
        if (lower(std::string(name)) != coding) continue;
        trim(params);
        if (params.size() >= 2 && (params[0] == 'q' || params[0] == 'Q') && params[1] == '=') {
            // "q=0", "q=0.0", "q=0.000": refused.
            const std::string_view weight = params.substr(2);
            if (!weight.empty() && weight.find_first_not_of("0.") == std::string_view::npos) return false;
        }
        return true;
    }
    return false;
}

/// The address as it stands in a URL's authority (IPv6 in brackets).
std::string urlHost(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

bool isWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

/// A query's parameters, checked against what the endpoint takes: an unknown or repeated
/// parameter is a mistake worth reporting rather than ignoring.
class Query {
public:
    Query(const httplib::Request& request, std::initializer_list<std::string_view> known) {
        for (const auto& [key, value] : request.params) {
            if (key == "token") continue;
            if (std::find(known.begin(), known.end(), key) == known.end())
                throw BadRequest("unknown query parameter \"" + key + "\"");
            if (!values_.emplace(key, value).second) throw BadRequest("query parameter \"" + key + "\" given twice");
        }
    }

    const std::string* text(const std::string& key) const {
        const auto found = values_.find(key);
        return found == values_.end() ? nullptr : &found->second;
    }

    /// A whole number from `low` to `high`, or `otherwise` when absent.
    std::uint64_t number(const std::string& key, std::uint64_t otherwise, std::uint64_t low, std::uint64_t high) const {
        const std::string* value = text(key);
        if (!value) return otherwise;
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
        if (value->empty() || ec != std::errc() || end != value->data() + value->size() || n < low || n > high)
            throw BadRequest("query parameter \"" + key + "\" must be a whole number from " + std::to_string(low) +
                             " to " + std::to_string(high) + ", not \"" + *value + "\"");
        return n;
    }

    ULong time(const std::string& key, ULong otherwise) const {
        return static_cast<ULong>(number(key, otherwise, 0, 0xFFFFFFFFu));
    }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace

bool isLoopback(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

struct StudioServer::State {
    State(host::Host& h, StudioOptions o) : host(h), options(std::move(o)) {}

    host::Host& host;
    StudioOptions options;
    std::vector<Handle> iterators;  ///< every object of the scene with an eye, in scene order
    Handle current;                 ///< the iterator in use
    std::string token;
    int port = 0;
    std::set<std::string> allowedHosts;  ///< values of the Host header that name this server
    httplib::Server server;

    /// One request at a time against the host.
    std::mutex mutex;
    /// What the runtime reported outside of flights (loading, drawing), and how much of its
    /// log has been sorted so far: a flight's own messages belong to that flight's answer.
    std::vector<host::MessageRecord> sceneMessages;
    std::size_t sortedMessages = 0;

    /// The last flight flown, for the analysis that follows it.
    struct FlightKey {
        Handle iterator;
        host::FlightOptions options;
        bool operator==(const FlightKey& other) const {
            return iterator == other.iterator && options.start == other.options.start &&
                   options.step == other.options.step && options.maxTicks == other.options.maxTicks;
        }
    };
    std::optional<FlightKey> cachedKey;
    /// The flight of `cachedKey` as far as it was flown: parts of a long flight are flown on
    /// demand, the analysis flies it to its end.
    host::PartialFlight cached;
    /// Frames start from where flights and earlier frames left the iterator. Every change of
    /// the scene that does not go through the editor's refitting path must call its `forget`.
    host::FrameSampler frames;
    /// The last frame answered, until the scene changes: pages that show one playhead (several
    /// tabs, a second screen) ask for the same frame within the same display period.
    struct FrameKey {
        Handle iterator;
        ULong start = 0, step = 0, time = 0;
        bool operator==(const FrameKey& other) const {
            return iterator == other.iterator && start == other.start && step == other.step && time == other.time;
        }
    };
    std::optional<FrameKey> lastFrameKey;
    std::string lastFrame;
    /// Every change goes through the editor, with undo.
    host::SceneEditor editor{host};
    /// The drawing last sent, and the gesture (with its object) whose step it answered.
    host::SceneDrawing lastDrawing;
    std::string drawGesture;
    /// The file the scene came from (or was last saved to), its format, and its bytes as loaded
    /// or saved (none when it could not be read): a file that differs from these changed on disk.
    std::string file;
    bool sco = false;
    std::optional<std::string> fileBytes;
    std::uint64_t savedRevision = 0;

    // -- Requests -----------------------------------------------------------------------------

    void takeSceneMessages() {
        const auto& log = host.messages();
        sceneMessages.insert(sceneMessages.end(), log.begin() + static_cast<std::ptrdiff_t>(sortedMessages), log.end());
        sortedMessages = log.size();
    }

    /// Runs `work` (a flight or a frame) and leaves what it reported out of the scene's messages.
    template <typename Work>
    auto sandboxed(Work work) {
        takeSceneMessages();
        struct Skip {
            State& state;
            ~Skip() { state.sortedMessages = state.host.messages().size(); }
        } skip{*this};
        return work();
    }

    Handle iteratorOf(const Query& query) const {
        const std::string* name = query.text("iterator");
        if (!name) {
            if (current.IsNull()) throw BadRequest("the scene has no iterator to fly");
            return current;
        }
        for (const Handle& it : iterators)
            if (host.nameOf(it) == *name) return it;
        throw BadRequest("no iterator is named \"" + *name + "\"");
    }

    host::FlightOptions flightOptions(const Query& query) const {
        host::FlightOptions o;
        o.start = query.time("start", 0);
        o.step = query.time("step", 16);
        if (o.step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
        o.maxTicks = static_cast<std::size_t>(query.number("maxTicks", 100000, 1, kMaxFlightTicks));
        return o;
    }

    /// The flight of `o` flown to at least `ticks` ticks (or to its end).
    const host::PartialFlight& flight(const Handle& iterator, const host::FlightOptions& o,
                                      std::size_t ticks = std::numeric_limits<std::size_t>::max()) {
        const FlightKey key{iterator, o};
        if (!cachedKey || !(*cachedKey == key)) {
            cachedKey.reset();
            cached = {};
            cachedKey = key;
        }
        try {
            sandboxed([&] { frames.extend(host, iterator, o, cached, ticks); });
        } catch (...) {
            cachedKey.reset();
            throw;
        }
        return cached;
    }

    std::string getScene() { return sceneJson(host, options.sceneFile, iterators, current); }

    std::string getDraw() {
        lastDrawing = host.drawScene();
        takeSceneMessages();
        drawGesture.clear();
        return drawJson(host, lastDrawing);
    }

    /// The whole flight, or with "fromTick" and "ticks" a part of it: the ticks from that one on
    /// (at most that many), with "fromTick", "complete" (no tick after these) and the scene's
    /// "revision"; the flight's
    /// events come with the part that completes it. A long flight arrives part by part while
    /// it is flown, and every part is the same bytes as those rows of the whole flight.
    std::string getFlight(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "maxTicks", "encoding", "fromTick", "ticks"});
        const std::string* encoding = query.text("encoding");
        if (encoding && *encoding != "f32" && *encoding != "json")
            throw BadRequest("query parameter \"encoding\" must be \"f32\" or \"json\"");
        const bool f32 = encoding && *encoding == "f32";
        const Handle iterator = iteratorOf(query);
        const host::FlightOptions o = flightOptions(query);
        if (!query.text("fromTick") && !query.text("ticks"))
            return flightJson(flight(iterator, o).recording, host.nameOf(iterator), f32);
        const auto from = static_cast<std::size_t>(query.number("fromTick", 0, 0, kMaxFlightTicks));
        const auto count = static_cast<std::size_t>(query.number("ticks", kMaxFlightTicks, 1, kMaxFlightTicks));
        const host::PartialFlight& flown = flight(iterator, o, from + count);
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
        std::string answer = flightJson(part, host.nameOf(iterator), f32);
        answer.pop_back();
        // The revision tells a page whether all its parts are of one scene.
        return answer + ",\"fromTick\":" + std::to_string(begin) + ",\"complete\":" + (complete ? "true" : "false") +
               ",\"revision\":" + std::to_string(editor.revision()) + "}";
    }

    std::string getFrame(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "t"});
        const Handle iterator = iteratorOf(query);
        const ULong start = query.time("start", 0);
        const ULong step = query.time("step", 16);
        if (step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
        if (!query.text("t")) throw BadRequest("query parameter \"t\" (the time of the frame) is missing");
        const ULong time = query.time("t", 0);
        const FrameKey key{iterator, start, step, time};
        if (lastFrameKey && *lastFrameKey == key) return lastFrame;
        lastFrameKey.reset();
        lastFrame = frameJson(sandboxed([&] { return frames.sample(host, iterator, start, step, time); }));
        lastFrameKey = key;
        return lastFrame;
    }

    std::string getAnalysis(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "maxTicks"});
        const Handle iterator = iteratorOf(query);
        const host::FlightRecording& recorded = flight(iterator, flightOptions(query)).recording;
        const host::FlightAnalysisInput input = host::flightAnalysisInput(host, iterator, recorded.ticks);
        return analysisJson(input, host::analyseFlight(input));
    }

    /// `camsys lint` of the scene as it stands, as JSON: every iterator's flight, or the one
    /// named. The flights are the studio's own (the page's flight of the same options is
    /// reused), so the findings are the tool's for the saved scene.
    std::string getLint(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step"});
        host::LintOptions o;
        if (query.text("iterator")) o.iterator = iteratorOf(query);
        o.start = query.time("start", 0);
        o.step = query.time("step", 16);
        if (o.step == 0) throw BadRequest("query parameter \"step\" must be at least 1: time must move");
        return host::lintJson(host::lintScene(host, o, [&](const Handle& iterator, const host::FlightOptions& f) {
            return flight(iterator, f).recording;
        }));
    }

    std::string getMessages() {
        takeSceneMessages();
        return messagesJson(sceneMessages);
    }

    // -- Security -----------------------------------------------------------------------------

    /// Why the request is refused, or nothing when it may go on.
    std::optional<std::string> refusal(const httplib::Request& request) const {
        const std::string hostHeader = lower(request.get_header_value("Host"));
        if (!allowedHosts.contains(hostHeader) &&
            !(isWildcard(options.address) && hostHeader.ends_with(":" + std::to_string(port))))
            return "the request names another host (" + hostHeader + "); open the studio by its printed address";
        if (request.has_header("Origin")) {
            const std::string origin = lower(request.get_header_value("Origin"));
            const bool own = origin.rfind("http://", 0) == 0 && origin.substr(7) == hostHeader;
            if (!own) return "requests from other sites (" + origin + ") are refused";
        }
        if (request.get_header_value("Sec-Fetch-Site") == "cross-site") return "cross-site requests are refused";
        if (request.path.rfind("/api/", 0) == 0 && options.requireToken) {
            std::string given;
            const std::string authorization = request.get_header_value("Authorization");
            if (authorization.rfind("Bearer ", 0) == 0)
                given = authorization.substr(7);
            else if (request.has_param("token"))
                given = request.get_param_value("token");
            if (!sameSecret(given, token)) return "a valid token is required (the token of the printed URL)";
        }
        return std::nullopt;
    }

    void routes() {
        server.set_payload_max_length(kMaxBodyBytes);
        // cpp-httplib serves each connection on a thread of its pool until the connection goes
        // quiet for the read or keep-alive timeout: connections opened and left idle (a crashed
        // tab, a port scan, a careless script) held its default eight threads, and the page's own
        // requests waited up to 14 s behind thirty of them. More threads, and idle ones let go
        // after two seconds; the API itself is served one request at a time anyway.
        server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(2);
        // An answer goes out in more than one write (headers, then the body): with Nagle's
        // algorithm the body waited for the client's delayed acknowledgement of the headers,
        // 40 ms on Linux, on every request of a kept-alive connection.
        server.set_tcp_nodelay(true);
        server.set_default_headers({
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"},
            {"Cross-Origin-Resource-Policy", "same-origin"},
            {"Content-Security-Policy",
             "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
             "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
        });
        server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            if (const std::optional<std::string> reason = refusal(request)) {
                response.status = 403;
                response.set_content(errorJson(*reason), kJson);
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
            if (!response.body.empty()) return;
            response.set_content(
                errorJson(response.status == 404 ? "nothing is at " + request.path : "the request cannot be served"),
                kJson);
        });
        server.set_exception_handler(
            [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
                response.status = 500;
                std::string what = "internal error";
                try {
                    std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                response.set_content(errorJson(what), kJson);
            });

        for (const Asset& asset : pageAssets()) {
            server.Get(std::string(asset.path), [&asset](const httplib::Request& request, httplib::Response& response) {
                const std::string accepted = request.get_header_value("Accept-Encoding");
                std::string_view bytes = asset.bytes;
                if (!asset.brotli.empty() && acceptsCoding(accepted, "br")) {
                    bytes = asset.brotli;
                    response.set_header("Content-Encoding", "br");
                } else if (!asset.gzip.empty() && acceptsCoding(accepted, "gzip")) {
                    bytes = asset.gzip;
                    response.set_header("Content-Encoding", "gzip");
                }
                response.set_header("Vary", "Accept-Encoding");
                sendAsIs(response, bytes, std::string(asset.contentType).c_str());
            });
        }
        for (const char* method : {"GET", "POST", "PATCH", "DELETE"}) {
            const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
                const auto [status, body] = dispatch(request);
                response.status = status;
                response.set_header("Cache-Control", "no-store");
                if (status == 200)
                    sendAsIs(response, body, kJson);
                else
                    response.set_content(body, kJson);
            };
            const std::string pattern = R"(/api/.*)";
            if (std::string_view(method) == "GET") server.Get(pattern, handler);
            if (std::string_view(method) == "POST") server.Post(pattern, handler);
            if (std::string_view(method) == "PATCH") server.Patch(pattern, handler);
            if (std::string_view(method) == "DELETE") server.Delete(pattern, handler);
        }
    }

    /// Serves one API request: the status and the JSON answer. One at a time.
    std::pair<int, std::string> dispatch(const httplib::Request& request) {
        std::lock_guard lock(mutex);
        try {
            return {200, route(request)};
        } catch (const BadRequest& error) {
            return {400, errorJson(error.what())};
        } catch (const host::InputError& error) {
            return {400, errorJson(error.what(), error.object(), error.attribute())};
        } catch (const Conflict& error) {
            std::string body = errorJson(error.what());
            if (!error.fields.empty()) body.insert(body.size() - 1, "," + error.fields);
            return {409, body};
        } catch (const NotFound& error) {
            return {404, errorJson(error.what())};
        }
    }

    std::string route(const httplib::Request& request) {
        const std::string& path = request.path;
        const std::string& method = request.method;
        static const std::string objects = "/api/objects/";
        if (method == "GET") {
            if (path == "/api/scene") return Query(request, {}), getScene();
            if (path == "/api/draw") return Query(request, {}), getDraw();
            if (path == "/api/flight") return getFlight(request);
            if (path == "/api/frame") return getFrame(request);
            if (path == "/api/analysis") return getAnalysis(request);
            if (path == "/api/lint") return getLint(request);
            if (path == "/api/messages") return Query(request, {}), getMessages();
            if (path == "/api/status") return Query(request, {}), getStatus();
            if (path == "/api/history") return Query(request, {}), getHistory();
        } else if (method == "POST") {
            if (path == "/api/objects") return createObject(request);
            if (path == "/api/undo") return undoOrRedo(request, true);
            if (path == "/api/redo") return undoOrRedo(request, false);
            if (path == "/api/save") return save(request);
            if (path == "/api/reload") return reload(request);
            if (path.rfind(objects, 0) == 0 && path.size() > objects.size() + 5 && path.ends_with("/move"))
                return moveObject(request, path.substr(objects.size(), path.size() - objects.size() - 5));
        } else if (method == "PATCH") {
            if (path.rfind(objects, 0) == 0 && path.size() > objects.size())
                return patchObject(request, path.substr(objects.size()));
        } else if (method == "DELETE") {
            if (path.rfind(objects, 0) == 0 && path.size() > objects.size())
                return deleteObject(request, path.substr(objects.size()));
        }
        throw NotFound("nothing is at " + method + " " + path);
    }

    // -- Changes ------------------------------------------------------------------------------

    /// The body of a change: a JSON object (empty: {}). Refused with 409 when it names a revision
    /// other than the scene's.
    Json changeBody(const httplib::Request& request, std::initializer_list<std::string_view> known) {
        // JSON only: a form's body would be read as query parameters, and pages of other sites
        // can post forms (the token stops them too).
        const std::string type = lower(request.get_header_value("Content-Type"));
        if (!request.body.empty() && type.rfind("application/json", 0) != 0)
            throw BadRequest("a change's body must be JSON (Content-Type: application/json)");
        Query(request, {});
        Json body = Json::object();
        if (!request.body.empty()) {
            body = Json::parse(request.body, nullptr, false);
            if (body.is_discarded() || !body.is_object()) throw BadRequest("the body must be a JSON object");
        }
        for (const auto& [key, value] : body.items())
            if (key != "revision" && std::find(known.begin(), known.end(), key) == known.end())
                throw BadRequest("unknown key \"" + key + "\" in the body");
        if (const auto given = body.find("revision"); given != body.end()) {
            if (!given->is_number_unsigned()) throw BadRequest("\"revision\" must be a whole number");
            if (given->get<std::uint64_t>() != editor.revision())
                throw Conflict("the scene has changed since revision " + std::to_string(given->get<std::uint64_t>()) +
                                   " (another tab or script edited it); reload the scene",
                               "\"revision\":" + std::to_string(editor.revision()));
        }
        return body;
    }

    static std::string textOf(const Json& body, const char* key, bool required = false) {
        const auto found = body.find(key);
        if (found == body.end() || found->is_null()) {
            if (required) throw BadRequest(std::string("\"") + key + "\" is missing");
            return {};
        }
        if (!found->is_string()) throw BadRequest(std::string("\"") + key + "\" must be a string");
        return found->get<std::string>();
    }

    /// The scene object named `name`; 400 when there is none.
    Handle sceneObject(const std::string& name, const char* role = "object") const {
        const Handle found = host.find(name);
        if (found.IsNull() || !inScene(found))
            throw host::InputError("", name, "", std::string("no ") + role + " of the scene is named \"" + name + "\"");
        return found;
    }

    bool inScene(const Handle& object) const {
        const host::ObjectKind kind = host.runtime().kind(object);
        return kind == host::ObjectKind::Module || kind == host::ObjectKind::Plain;
    }

    /// Runs a change and answers with the new revision, the drawing and the messages it caused.
    /// The later steps of a gesture (a drag) carry only what changed in the drawing since the
    /// step before ("drawChanges"): the page that sent that step holds its drawing.
    template <typename Change>
    std::string changed(Change change, const std::string& extra = {}, const std::string& gesture = {}) {
        takeSceneMessages();
        const std::size_t from = host.messages().size();
        const host::EditEffect effect = change();
        afterChange(effect);
        const std::vector<host::MessageRecord> caused(host.messages().begin() + static_cast<std::ptrdiff_t>(from),
                                                      host.messages().end());
        std::string answer = "{\"revision\":" + std::to_string(editor.revision()) + extra;
        if (!gesture.empty() && gesture == drawGesture) {
            host::SceneDrawing drawing = host.drawScene();
            takeSceneMessages();
            answer += ",\"drawChanges\":" + drawJson(host, drawing, &lastDrawing);
            lastDrawing = std::move(drawing);
        } else {
            answer += ",\"draw\":" + getDraw();
            drawGesture = gesture;
        }
        answer += ",\"messages\":" + messagesJson(caused).substr(12);
        answer.pop_back();  // messagesJson's closing brace
        return answer + "}";
    }

    /// What every change leaves behind: no cached flight; frames resume only where the times of
    /// the flight cannot have changed; the iterators found again.
    void afterChange(host::EditEffect effect) {
        cachedKey.reset();
        lastFrameKey.reset();
        if (effect != host::EditEffect::WaypointPositions) frames.forget();
        findIterators();
    }

    std::string patchObject(const httplib::Request& request, const std::string& name) {
        const Json body = changeBody(request, {"position", "orientation", "attributes", "name", "gesture"});
        const Handle object = sceneObject(name);
        const std::string gesture = textOf(body, "gesture");
        std::optional<std::string> rename;
        if (body.contains("name")) rename = textOf(body, "name", true);
        return changed(
            [&] {
                return editor.edit(object, request.body, {"name", "gesture", "revision"}, gesture, rename);
            },
            // Only the steps of one gesture answer with the drawing's changes; other edits, the
            // whole drawing.
            {}, gesture.empty() ? std::string() : gesture + "\n" + name);
    }

    std::string createObject(const httplib::Request& request) {
        const Json body = changeBody(
            request, {"class", "name", "parent", "index", "position", "orientation", "attributes", "copyOf"});
        const std::string parentName = textOf(body, "parent");
        const Handle parent = parentName.empty() ? Handle() : sceneObject(parentName, "parent");
        const std::string copyName = textOf(body, "copyOf");
        const Handle copyOf = copyName.empty() ? Handle() : sceneObject(copyName);
        std::size_t index = std::numeric_limits<std::size_t>::max();
        if (const auto at = body.find("index"); at != body.end()) {
            if (!at->is_number_unsigned()) throw BadRequest("\"index\" must be a whole number");
            index = at->get<std::size_t>();
        }
        Handle made;
        std::string answer = changed([&] {
            made = editor.create(textOf(body, "class"), textOf(body, "name"), parent, index, request.body,
                                 {"class", "name", "parent", "index", "copyOf", "revision"}, copyOf);
            return host::EditEffect::Other;
        });
        answer.insert(answer.size() - 1, ",\"object\":" + jsonString(host.nameOf(made)));
        return answer;
    }

    std::string deleteObject(const httplib::Request& request, const std::string& name) {
        changeBody(request, {});
        const Handle object = sceneObject(name);
        return changed([&] {
            editor.remove(object);
            return host::EditEffect::Other;
        });
    }

    std::string moveObject(const httplib::Request& request, const std::string& name) {
        const Json body = changeBody(request, {"parent", "index"});
        const Handle object = sceneObject(name);
        const std::string parentName = textOf(body, "parent");
        const Handle parent = parentName.empty() ? Handle() : sceneObject(parentName, "parent");
        const auto at = body.find("index");
        if (at == body.end() || !at->is_number_unsigned()) throw BadRequest("\"index\" (a whole number) is missing");
        return changed([&] {
            editor.move(object, parent, at->get<std::size_t>());
            return host::EditEffect::Other;
        });
    }

    std::string undoOrRedo(const httplib::Request& request, bool undo) {
        changeBody(request, {});
        const std::vector<std::string> labels = undo ? editor.undoLabels() : editor.redoLabels();
        if (labels.empty()) throw Conflict(undo ? "there is nothing to undo" : "there is nothing to redo", "");
        const std::string label = undo ? labels.back() : labels.front();
        return changed(
            [&] {
                if (undo)
                    editor.undo();
                else
                    editor.redo();
                return host::EditEffect::Other;
            },
            ",\"label\":" + jsonString(label));
    }

    std::string getHistory() const {
        const auto list = [](const std::vector<std::string>& labels) {
            std::string out = "[";
            for (const std::string& label : labels) out += (out.size() > 1 ? "," : "") + jsonString(label);
            return out + "]";
        };
        return "{\"revision\":" + std::to_string(editor.revision()) + ",\"undo\":" + list(editor.undoLabels()) +
               ",\"redo\":" + list(editor.redoLabels()) + "}";
    }

    // -- The file -----------------------------------------------------------------------------

    std::string getStatus() const {
        const bool onDisk = std::filesystem::exists(file);
        return "{\"file\":" + jsonString(file) + ",\"format\":" + jsonString(sco ? "sco" : "json") +
               ",\"revision\":" + std::to_string(editor.revision()) +
               ",\"unsaved\":" + (editor.revision() != savedRevision ? "true" : "false") +
               ",\"changedOnDisk\":" + (!onDisk || readFile(file) != fileBytes ? "true" : "false") + "}";
    }

    static std::optional<std::string> readFileIf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static std::string readFile(const std::string& path) { return readFileIf(path).value_or(std::string()); }

    std::string save(const httplib::Request& request) {
        const Json body = changeBody(request, {"as", "overwrite"});
        bool overwrite = false;
        if (const auto o = body.find("overwrite"); o != body.end()) {
            if (!o->is_boolean()) throw BadRequest("\"overwrite\" must be true or false");
            overwrite = o->get<bool>();
        }
        std::string target = file;
        bool asSco = sco;
        const std::string as = textOf(body, "as");
        if (file == "-" && !body.contains("as"))
            throw BadRequest("the scene came from standard input: save it under a name (save as)");
        if (body.contains("as")) {
            if (as.empty() || as.find('/') != std::string::npos || as.find('\\') != std::string::npos ||
                as.front() == '.' || as.find('\0') != std::string::npos)
                throw BadRequest("save as takes a plain file name in the scene's folder (no folder, no leading dot)");
            const bool json = as.ends_with(".json");
            if (!json && !as.ends_with(".sco")) throw BadRequest("save as takes a name ending in .json or .sco");
            asSco = !json;
            target = (std::filesystem::path(file).parent_path() / as).string();
        }
        if (!overwrite) {
            if (target == file) {
                const std::optional<std::string> now = readFileIf(file);
                if (now != fileBytes)
                    throw Conflict(file + (now ? " changed on disk" : " was removed") +
                                       " since it was loaded or saved; reload it, or save with overwrite",
                                   "\"changedOnDisk\":true");
            } else if (std::filesystem::exists(target)) {
                throw Conflict(target + " exists; save with overwrite to replace it", "\"exists\":true");
            }
        }
        std::string bytes;
        if (asSco) {
            const std::vector<std::uint8_t> image = host::sceneToScoImage(host);
            bytes.assign(image.begin(), image.end());
        } else {
            bytes = host::sceneToJson(host);
        }
        try {
            host::writeFileAtomically(target, bytes);
        } catch (const std::exception& error) {
            throw Conflict(std::string("cannot save: ") + error.what(), "");
        }
        file = target;
        sco = asSco;
        options.sceneFile = target;
        fileBytes = bytes;
        savedRevision = editor.revision();
        return getStatus();
    }

    std::string reload(const httplib::Request& request) {
        changeBody(request, {});
        const std::optional<std::string> bytes = readFileIf(file);
        if (!bytes) throw BadRequest("cannot read " + file);
        std::string answer = changed([&] {
            editor.replace("reload " + std::filesystem::path(file).filename().string(), [&](host::Host& h) {
                const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                                         bytes->size());
                if (host::isScoImage(data))
                    host::loadScoScene(h, data, file);
                else
                    host::loadJsonScene(h, *bytes, file);
            });
            return host::EditEffect::Other;
        });
        fileBytes = *bytes;
        sco = host::isScoImage(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
        savedRevision = editor.revision();
        return answer;
    }

    void findIterators() {
        const Handle was = current;
        iterators.clear();
        for (const host::SceneNode& root : host::sceneTree(host)) {
            // Pre-order, as the scene lists its objects.
            std::vector<const host::SceneNode*> stack{&root};
            while (!stack.empty()) {
                const host::SceneNode* node = stack.back();
                stack.pop_back();
                if (host.runtime().kind(node->object) == host::ObjectKind::Module &&
                    node->object.GetInterface(kIdHasEye, nullptr))
                    iterators.push_back(node->object);
                for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
                    stack.push_back(&*child);
            }
        }
        const bool still = std::any_of(iterators.begin(), iterators.end(), [&](const Handle& h) { return h == was; });
        current = still ? was : iterators.empty() ? Handle() : iterators.front();
    }
};

StudioServer::StudioServer(host::Host& host, StudioOptions options)
    : state_(std::make_unique<State>(host, std::move(options))) {
    State& s = *state_;
    s.findIterators();
    if (s.iterators.empty()) throw std::invalid_argument("the scene has no iterator");
    s.file = s.options.sceneFile;
    if (const std::optional<std::string> bytes = State::readFileIf(s.file)) {
        s.fileBytes = bytes;
        s.sco = host::isScoImage(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
    }
    s.current = s.iterators.front();
    if (!s.options.iterator.empty()) {
        const auto found = std::find_if(s.iterators.begin(), s.iterators.end(),
                                        [&](const Handle& h) { return host.nameOf(h) == s.options.iterator; });
        if (found == s.iterators.end())
            throw std::invalid_argument("no iterator of the scene is named \"" + s.options.iterator + "\"");
        s.current = *found;
    }
    if (s.options.requireToken) s.token = makeToken();
    s.takeSceneMessages();
    s.routes();
}

StudioServer::~StudioServer() { stop(); }

int StudioServer::bind() {
    State& s = *state_;
    const std::string& address = s.options.address;
    if (s.options.port < 0 || s.options.port > 65535) throw std::runtime_error("the port must be from 0 to 65535");
    // cpp-httplib listens with a backlog of five, compiled into Debian's library: a page, a
    // second tab and a few scripts connecting at once overflowed it, and the dropped SYNs came
    // back after the kernel's one-second retry. Listen again with the system's limit.
    socket_t listening = INVALID_SOCKET;
    s.server.set_socket_options([&listening](socket_t fd) {
        httplib::default_socket_options(fd);
        listening = fd;
    });
    if (s.options.port == 0) {
        s.port = s.server.bind_to_any_port(address);
        if (s.port <= 0) throw std::runtime_error("cannot listen on " + address);
    } else {
        if (!s.server.bind_to_port(address, s.options.port))
            throw std::runtime_error("cannot listen on " + urlHost(address) + ":" + std::to_string(s.options.port) +
                                     " (in use? --port 0 picks a free one)");
        s.port = s.options.port;
    }
    if (listening != INVALID_SOCKET) ::listen(listening, SOMAXCONN);
    s.server.set_socket_options(httplib::default_socket_options);  // `listening` ends here
    const std::string suffix = ":" + std::to_string(s.port);
    s.allowedHosts = {lower(urlHost(address)) + suffix};
    if (isLoopback(address))
        for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) s.allowedHosts.insert(name + suffix);
    return s.port;
}

void StudioServer::run() { state_->server.listen_after_bind(); }

void StudioServer::stop() {
    if (state_->server.is_running()) state_->server.stop();
}

std::string StudioServer::url() const {
    const State& s = *state_;
    const std::string address = isWildcard(s.options.address) ? "127.0.0.1" : s.options.address;
    std::string url = "http://" + urlHost(address) + ":" + std::to_string(s.port) + "/";
    if (s.options.requireToken) url += "?token=" + s.token;
    return url;
}

const std::string& StudioServer::token() const { return state_->token; }

std::pair<int, std::string> StudioServer::call(const std::string& method, const std::string& target,
                                               const std::string& body) {
    httplib::Request request;
    request.method = method;
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) {
        std::string_view query = std::string_view(target).substr(question + 1);
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            const std::size_t eq = pair.find('=');
            request.params.emplace(std::string(pair.substr(0, eq)),
                                   eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
    }
    request.body = body;
    if (!body.empty()) request.set_header("Content-Type", "application/json");
    return state_->dispatch(request);
}

}  // namespace studio
