#pragma once
/// The studio's JSON API without a transport: a request in, a status and a JSON body out. The
/// HTTP adapter, tests, benchmarks and fuzzers all call it the same way.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "studio/server/FileState.h"
#include "studio/server/Render.h"
#include "studio/server/Session.h"

namespace studio {

/// Of the request's headers, those the API and its guard read (absent: empty).
struct RequestHeaders {
    std::string host;
    std::optional<std::string> origin;
    std::string fetchSite;  ///< Sec-Fetch-Site
    std::string authorization;
    std::string contentType;
};

/// One request: `query` holds the decoded parameters in key order, repeats kept.
struct Request {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> query;
    std::string body;
    RequestHeaders headers;
};

/// A status and its JSON body.
struct Answer {
    int status = 200;
    std::string body;
};

/// `text` in lower case (ASCII): header values compare without case.
std::string lowerCase(std::string text);

class Query;

class Api {
public:
    Api(Session& session, FileState& file);

    /// Serves one request under `/api/`, one at a time (from any thread): 200 with the answer,
    /// 400, 404 or 409 with {"error": ...}. Other exceptions are faults and pass through.
    Answer serve(const Request& request);
    /// Writes the recovery journal where a drag's steps left it behind (`soon`: only once
    /// kJournalGestureGap has passed), between requests.
    void keepJournal(bool soon);
    /// The render the page is to make (`camsys render`), before the server serves.
    void setRender(std::shared_ptr<RenderTask> render) { render_ = std::move(render); }

private:
    struct Route {
        const char* method;
        /// The path, or with a "{name}" the path's start and end around a non-empty name.
        std::string_view pattern;
        std::string (Api::*handler)(const Request& request, const std::string& name);
    };
    static const std::vector<Route>& routes();
    std::string route(const Request& request);
    Answer answer(const Request& request);

    std::string getScene(const Request& request, const std::string&);
    std::string getDraw(const Request& request, const std::string&);
    std::string getFlight(const Request& request, const std::string&);
    std::string getFrame(const Request& request, const std::string&);
    std::string getAnalysis(const Request& request, const std::string&);
    std::string getLint(const Request& request, const std::string&);
    std::string fixLint(const Request& request, const std::string&);
    std::string getMessages(const Request& request, const std::string&);
    std::string getStatus(const Request& request, const std::string&);
    std::string getHistory(const Request& request, const std::string&);
    std::string createObject(const Request& request, const std::string&);
    std::string patchObject(const Request& request, const std::string& name);
    std::string deleteObject(const Request& request, const std::string& name);
    std::string getReferrers(const Request& request, const std::string& name);
    std::string moveObject(const Request& request, const std::string& name);
    std::string retimePath(const Request& request, const std::string& name);
    std::string applyBatch(const Request& request, const std::string&);
    std::string addMove(const Request& request, const std::string&);
    std::string undo(const Request& request, const std::string&);
    std::string redo(const Request& request, const std::string&);
    std::string undoOrRedo(const Request& request, bool undo);
    std::string save(const Request& request, const std::string&);
    std::string reload(const Request& request, const std::string&);
    std::string getSceneFile(const Request& request, const std::string&);
    std::string getRecovery(const Request& request, const std::string&);
    std::string getRecoveredScene(const Request& request, const std::string&);
    std::string applyRecovery(const Request& request, const std::string&);
    std::string discardRecovery(const Request& request, const std::string&);
    std::string getRender(const Request& request, const std::string&);
    std::string startRender(const Request& request, const std::string&);
    std::string getRenderFrames(const Request& request, const std::string&);
    std::string writeRender(const Request& request, const std::string&);
    std::string renderProgress(const Request& request, const std::string&);
    std::string finishRender(const Request& request, const std::string&);
    std::string failRender(const Request& request, const std::string&);
    RenderTask& renderTask() const;

    Handle iteratorOf(const Query& query) const;
    host::FlightOptions flightOptions(const Query& query) const;

    Session& session_;
    FileState& file_;
    std::mutex mutex_;
    bool gestureStep_ = false;  ///< the request being served is a drag's step
    std::shared_ptr<RenderTask> render_;  ///< the render last started, if any
};

}  // namespace studio
