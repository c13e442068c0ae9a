#include "studio/server/StudioServer.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "studio/server/Api.h"
#include "studio/server/ApiErrors.h"
#include "studio/server/FileState.h"
#include "studio/server/Guard.h"
#include "studio/server/HttpAdapter.h"
#include "studio/server/Session.h"

namespace studio {

struct StudioServer::State {
    State(host::Host& host, StudioOptions o, host::OptionalLevel level)
        : options(std::move(o)),
          session(host),
          file(session, options.sceneFile, options.journal, std::move(level)),
          api(session, file),
          guard(options.address, options.requireToken),
          http(api, guard, std::move(options.level)) {}

    StudioOptions options;
    Session session;
    FileState file;
    Api api;
    Guard guard;
    HttpAdapter http;
    int port = 0;
};

StudioServer::StudioServer(host::Host& host, StudioOptions options, host::OptionalLevel level) {
    auto state = std::make_unique<State>(host, std::move(options), std::move(level));
    Session& session = state->session;
    session.setLevel(state->options.levelGeometry);
    if (state->options.render) state->api.setRender(state->options.render);
    // A scene without an iterator opens too: the page offers to add one.
    if (!session.iterators().empty()) session.setCurrent(session.iterators().front());
    const std::string& wanted = state->options.iterator;
    if (!wanted.empty()) {
        const Handle found = session.iteratorNamed(wanted);
        if (found.IsNull()) throw std::invalid_argument("no iterator of the scene is named \"" + wanted + "\"");
        session.setCurrent(found);
    }
    state_ = std::move(state);
}

StudioServer::~StudioServer() { stop(); }

int StudioServer::bind() {
    State& s = *state_;
    if (s.options.port < 0 || s.options.port > 65535) throw std::runtime_error("the port must be from 0 to 65535");
    s.port = s.http.bind(s.options.address, s.options.port);
    s.guard.listening(s.port);
    return s.port;
}

namespace {

/// Journals a drag's last steps when no request follows them: looks every quarter of
/// kJournalGestureGap, until destroyed.
class JournalCatchUp {
public:
    explicit JournalCatchUp(Api& api)
        : thread_([this, &api] {
              std::unique_lock lock(mutex_);
              while (!stopped_.wait_for(lock, kJournalGestureGap / 4, [&] { return !running_; })) api.keepJournal(true);
          }) {}
    ~JournalCatchUp() {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        stopped_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool running_ = true;
    std::thread thread_;
};

}  // namespace

void StudioServer::run() {
    {
        const JournalCatchUp catchUp(state_->api);
        state_->http.run();
    }
    // Stopped with unsaved changes: they stay in the journal for the next start.
    state_->api.keepJournal(false);
}

std::string StudioServer::foundJournalNote() const {
    const FileState& file = state_->file;
    const std::optional<FoundJournal>& found = file.journal().found();
    return found ? studio::foundJournalNote(*found, file.file(), file.version()) : std::string();
}

std::string StudioServer::recover() {
    FileState& file = state_->file;
    const std::optional<FoundJournal> found = file.journal().found();
    try {
        file.recover();
    } catch (const Conflict& error) {
        throw std::runtime_error(error.what());
    } catch (const NotFound& error) {
        throw std::runtime_error(error.what());
    }
    state_->api.keepJournal(false);
    return "recovered the unsaved changes from " + readableTime(found->entry->time) + " in " + found->path +
           "; they are not saved yet (save to keep them, undo takes them back)";
}

std::string StudioServer::discardRecovery() {
    const std::optional<FoundJournal> found = state_->file.journal().found();
    if (!found) return {};
    try {
        state_->file.discardRecovery();
    } catch (const Conflict& error) {
        throw std::runtime_error(error.what());
    }
    return "discarded the unsaved changes in " + found->path;
}

void StudioServer::stop() {
    if (state_) state_->http.stop();
}

std::string StudioServer::url() const {
    const State& s = *state_;
    const std::string address = isWildcard(s.options.address) ? "127.0.0.1" : s.options.address;
    std::string url = "http://" + urlHost(address) + ":" + std::to_string(s.port) + "/";
    if (s.options.requireToken) url += "?token=" + s.guard.token();
    return url;
}

std::string StudioServer::iterator() const {
    const Session& session = state_->session;
    return session.current().IsNull() ? std::string() : session.host().nameOf(session.current());
}

std::string StudioServer::renderUrl() const {
    const std::string page = url();
    return page + (page.find('?') == std::string::npos ? "?" : "&") + "render=1";
}

const std::string& StudioServer::token() const { return state_->guard.token(); }

std::pair<int, std::string> StudioServer::call(const std::string& method, const std::string& target,
                                               const std::string& body, const std::string& contentType) {
    Request request;
    request.method = method;
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) {
        std::string_view query = std::string_view(target).substr(question + 1);
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            const std::size_t eq = pair.find('=');
            request.query.emplace(std::string(pair.substr(0, eq)),
                                  eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
    }
    request.body = body;
    if (!contentType.empty()) request.headers.contentType = contentType;
    else if (!body.empty()) request.headers.contentType = "application/json";
    Answer answer = state_->api.serve(request);
    return {answer.status, std::move(answer.body)};
}

}  // namespace studio
