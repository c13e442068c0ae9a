#include "studio/server/HttpAdapter.h"

#include <httplib.h>
#include <sys/socket.h>

#include <memory>
#include <optional>

#include "studio/server/Api.h"
#include "studio/server/Assets.h"
#include "studio/server/Guard.h"
#include "studio/server/StudioServer.h"

namespace studio {

namespace {

constexpr const char* kJson = "application/json";

/// Sends `bytes` as they are (they must outlive the response): a body of known length from a
/// provider goes out uncompressed, where `set_content` would compress it on every request.
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
        if (lowerCase(std::string(name)) != coding) continue;
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

/// The API's request of an HTTP request; the body only with `withBody`.
Request requestFromHttp(const httplib::Request& http, bool withBody) {
    Request request;
    request.method = http.method;
    request.path = http.path;
    request.query.insert(http.params.begin(), http.params.end());
    if (withBody) request.body = http.body;
    request.headers.host = http.get_header_value("Host");
    if (http.has_header("Origin")) request.headers.origin = http.get_header_value("Origin");
    request.headers.fetchSite = http.get_header_value("Sec-Fetch-Site");
    request.headers.authorization = http.get_header_value("Authorization");
    request.headers.contentType = http.get_header_value("Content-Type");
    return request;
}

}  // namespace

struct HttpAdapter::Server {
    Api& api;
    const Guard& guard;
    std::string level;
    httplib::Server http;

    void configure();
    void handleErrors();
    void servePage();
    void serveApi();
};

HttpAdapter::HttpAdapter(Api& api, const Guard& guard, std::string level)
    : server_(new Server{api, guard, std::move(level), {}}) {
    server_->configure();
}

HttpAdapter::~HttpAdapter() { stop(); }

void HttpAdapter::Server::configure() {
    http.set_payload_max_length(kMaxBodyBytes);
    // Each open connection holds a pool thread until it goes quiet: enough threads, and idle
    // ones let go soon, so connections left open cannot starve the page.
    http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    http.set_keep_alive_timeout(2);
    http.set_read_timeout(2);
    // Headers and body go out in separate writes: without this, Nagle holds the body back for
    // the client's delayed acknowledgement.
    http.set_tcp_nodelay(true);
    http.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
         "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (const std::optional<std::string> reason = guard.refusal(requestFromHttp(request, false))) {
            response.status = 403;
            response.set_content(errorJson(*reason), kJson);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    handleErrors();
    servePage();
    serveApi();
}

void HttpAdapter::Server::handleErrors() {
    // Errors keep `set_content`: they are short, and this handler looks at the body.
    http.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty()) return;
        response.set_content(
            errorJson(response.status == 404 ? "nothing is at " + request.path : "the request cannot be served"),
            kJson);
    });
    http.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
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
}

void HttpAdapter::Server::servePage() {
    for (const Asset& asset : pageAssets()) {
        http.Get(std::string(asset.path), [&asset](const httplib::Request& request, httplib::Response& response) {
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
}

void HttpAdapter::Server::serveApi() {
    // The level goes as the file it is, not as JSON; a scene without one answers 204 (no
    // content). Behind the guard like every request under /api/.
    http.Get("/api/level", [this](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        if (level.empty())
            response.status = 204;
        else
            sendAsIs(response, std::string_view(level), "model/gltf-binary");
    });
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Answer answer = api.serve(requestFromHttp(request, true));
        response.status = answer.status;
        response.set_header("Cache-Control", "no-store");
        if (answer.status == 200)
            sendAsIs(response, std::move(answer.body), kJson);
        else
            response.set_content(answer.body, kJson);
    };
    const std::string pattern = R"(/api/.*)";
    http.Get(pattern, handler);
    http.Post(pattern, handler);
    http.Patch(pattern, handler);
    http.Delete(pattern, handler);
}

int HttpAdapter::bind(const std::string& address, int port) {
    // The library's compiled-in listen backlog of five drops connections that arrive together;
    // listen again with the system's limit.
    socket_t listening = INVALID_SOCKET;
    server_->http.set_socket_options([&listening](socket_t fd) {
        httplib::default_socket_options(fd);
        listening = fd;
    });
    int bound = port;
    if (port == 0) {
        bound = server_->http.bind_to_any_port(address);
        if (bound <= 0) throw std::runtime_error("cannot listen on " + address);
    } else if (!server_->http.bind_to_port(address, port)) {
        throw std::runtime_error("cannot listen on " + urlHost(address) + ":" + std::to_string(port) +
                                 " (in use? --port 0 picks a free one)");
    }
    if (listening != INVALID_SOCKET) ::listen(listening, SOMAXCONN);
    server_->http.set_socket_options(httplib::default_socket_options);  // `listening` ends here
    return bound;
}

void HttpAdapter::run() { server_->http.listen_after_bind(); }

void HttpAdapter::stop() {
    if (server_->http.is_running()) server_->http.stop();
}

}  // namespace studio
