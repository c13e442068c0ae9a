#include "studio/server/StudioServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>

#include "framework/InterfacePtr.h"
#include "host/Flight.h"
#include "host/FlightAnalysis.h"
#include "host/SceneFile.h"
#include "studio/server/Assets.h"
#include "studio/server/StudioJson.h"

namespace studio {

namespace {

constexpr const char* kJson = "application/json";

/// A request the studio cannot serve as asked: answered with 400 and the reason.
struct BadRequest : std::runtime_error {
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
    host::FlightRecording cached;
    /// Frames start from where flights and earlier frames left the iterator. Every change of
    /// the scene that does not go through the editor's refitting path must call its `forget`.
    host::FrameSampler frames;

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
        if (!name) return current;
        for (const Handle& it : iterators)
            if (host.nameOf(it) == *name) return it;
        throw BadRequest("no iterator is named \"" + *name + "\"");
    }

    host::FlightOptions flightOptions(const Query& query) const {
        host::FlightOptions o;
        o.start = query.time("start", 0);
        o.step = query.time("step", 16);
        o.maxTicks = static_cast<std::size_t>(query.number("maxTicks", 100000, 1, kMaxFlightTicks));
        return o;
    }

    const host::FlightRecording& flight(const Handle& iterator, const host::FlightOptions& o) {
        const FlightKey key{iterator, o};
        if (cachedKey && *cachedKey == key) return cached;
        cachedKey.reset();
        cached = sandboxed([&] { return frames.record(host, iterator, o); });
        cachedKey = key;
        return cached;
    }

    std::string getScene() { return sceneJson(host, options.sceneFile, iterators, current); }

    std::string getDraw() {
        host::SceneDrawing drawing = host.drawScene();
        takeSceneMessages();
        return drawJson(host, drawing);
    }

    std::string getFlight(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "maxTicks", "encoding"});
        const std::string* encoding = query.text("encoding");
        if (encoding && *encoding != "f32" && *encoding != "json")
            throw BadRequest("query parameter \"encoding\" must be \"f32\" or \"json\"");
        const Handle iterator = iteratorOf(query);
        return flightJson(flight(iterator, flightOptions(query)), host.nameOf(iterator),
                          encoding && *encoding == "f32");
    }

    std::string getFrame(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "t"});
        const Handle iterator = iteratorOf(query);
        const ULong start = query.time("start", 0);
        const ULong step = query.time("step", 16);
        if (!query.text("t")) throw BadRequest("query parameter \"t\" (the time of the frame) is missing");
        const ULong time = query.time("t", 0);
        return frameJson(sandboxed([&] { return frames.sample(host, iterator, start, step, time); }));
    }

    std::string getAnalysis(const httplib::Request& request) {
        const Query query(request, {"iterator", "start", "step", "maxTicks"});
        const Handle iterator = iteratorOf(query);
        const host::FlightRecording& recorded = flight(iterator, flightOptions(query));
        const host::FlightAnalysisInput input = host::flightAnalysisInput(host, iterator, recorded.ticks);
        return analysisJson(input, host::analyseFlight(input));
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
        server.set_keep_alive_timeout(5);
        server.set_read_timeout(10);
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
        api("/api/scene", [this](const httplib::Request& r) {
            Query(r, {});
            return getScene();
        });
        api("/api/draw", [this](const httplib::Request& r) {
            Query(r, {});
            return getDraw();
        });
        api("/api/flight", [this](const httplib::Request& r) { return getFlight(r); });
        api("/api/frame", [this](const httplib::Request& r) { return getFrame(r); });
        api("/api/analysis", [this](const httplib::Request& r) { return getAnalysis(r); });
        api("/api/messages", [this](const httplib::Request& r) {
            Query(r, {});
            return getMessages();
        });
    }

    /// A GET endpoint answering JSON; a BadRequest becomes 400 with its reason.
    template <typename Body>
    void api(const std::string& path, Body body) {
        server.Get(path, [this, body](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex);
            response.set_header("Cache-Control", "no-store");
            try {
                sendAsIs(response, body(request), kJson);
            } catch (const BadRequest& error) {
                response.status = 400;
                response.set_content(errorJson(error.what()), kJson);
            }
        });
    }
};

StudioServer::StudioServer(host::Host& host, StudioOptions options)
    : state_(std::make_unique<State>(host, std::move(options))) {
    State& s = *state_;
    for (const host::SceneNode& root : host::sceneTree(host)) {
        // Pre-order, as the scene lists its objects.
        std::vector<const host::SceneNode*> stack{&root};
        while (!stack.empty()) {
            const host::SceneNode* node = stack.back();
            stack.pop_back();
            if (host.runtime().kind(node->object) == host::ObjectKind::Module &&
                node->object.GetInterface(kIdHasEye, nullptr))
                s.iterators.push_back(node->object);
            for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
                stack.push_back(&*child);
        }
    }
    if (s.iterators.empty()) throw std::invalid_argument("the scene has no iterator");
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
    if (s.options.port == 0) {
        s.port = s.server.bind_to_any_port(address);
        if (s.port <= 0) throw std::runtime_error("cannot listen on " + address);
    } else {
        if (!s.server.bind_to_port(address, s.options.port))
            throw std::runtime_error("cannot listen on " + urlHost(address) + ":" + std::to_string(s.options.port) +
                                     " (in use? --port 0 picks a free one)");
        s.port = s.options.port;
    }
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

}  // namespace studio
