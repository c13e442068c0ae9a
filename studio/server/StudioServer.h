#pragma once
/// The studio: a local HTTP server over a host that holds a loaded scene. It serves the page
/// (compiled into the program) and a JSON API that the page, scripts and tests use alike: the
/// scene and its attribute tables, the editor's drawing, flights, single frames and the
/// analysis of a flight, all computed by the plug-in through the host.
///
/// A local server is an attack surface: it binds to the loopback address unless told otherwise,
/// every API request must carry a random token, requests naming a foreign Host or Origin are
/// refused (DNS rebinding, cross-site requests from other pages), bodies are bounded, and no
/// part of a request path reaches the file system.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geometry/LevelGeometry.h"
#include "host/Host.h"
#include "scene/SceneLevel.h"
#include "studio/server/Render.h"

namespace studio {

struct StudioOptions {
    std::string sceneFile;              ///< the file the scene came from, as shown to the user
    std::string iterator;               ///< the iterator in use; empty: the first of the scene
    std::string address = "127.0.0.1";  ///< the address to bind to
    int port = 8765;                    ///< 0: any free port
    bool requireToken = true;           ///< false: any local program may use the API
    bool journal = false;               ///< keep the recovery journal of unsaved changes (Journal.h)
    /// The level the scene flies through, as a binary glTF (.glb) in the file's own axes (+y
    /// up), placed; the page turns it to the world's +z up. Empty: none.
    std::string level{};
    /// The same level's triangles for the checks and the analysis (clearance, target in sight).
    std::shared_ptr<const host::LevelGeometry> levelGeometry{};
    /// The render the page at `renderUrl` makes (`camsys render`); none: the studio as usual.
    std::shared_ptr<RenderTask> render{};
};

/// Threads that serve connections (each connection holds one while it is open).
inline constexpr std::size_t kServerThreads = 64;
/// Largest request body accepted, in bytes.
inline constexpr std::size_t kMaxBodyBytes = 1 << 20;
/// Most ticks one flight request may ask for.
inline constexpr std::size_t kMaxFlightTicks = 1000000;

/// True for an address only this machine can reach (127.0.0.0/8, ::1, "localhost").
bool isLoopback(const std::string& address);

/// [host imp] The studio's server. Requests are served one at a time against the host: the
/// host and the plug-in are single-threaded, like an editor's main loop.
class StudioServer {
public:
    /// `host` holds the loaded scene with a game camera and outlives the server; `level` is the
    /// level its file names, which saves write back. Throws std::invalid_argument when
    /// `options.iterator` names no iterator of the scene.
    StudioServer(host::Host& host, StudioOptions options, host::OptionalLevel level = {});
    ~StudioServer();
    StudioServer(const StudioServer&) = delete;
    StudioServer& operator=(const StudioServer&) = delete;

    /// Binds the listening socket; returns the port. Throws std::runtime_error when it cannot.
    int bind();
    /// Serves until `stop` (from any thread). Requires `bind`.
    void run();
    void stop();

    /// Serves one API request without a socket, as the listening server would after its checks
    /// of token, Host and Origin (for benchmarks, tests and fuzzing): `target` is the path with
    /// an optional query ("/api/frame?t=100"; no percent escapes), `body` JSON or empty, or of
    /// `contentType` when one is given (a render's bytes). Returns the status and the JSON answer.
    std::pair<int, std::string> call(const std::string& method, const std::string& target,
                                     const std::string& body = {}, const std::string& contentType = {});

    /// What to tell the user about a journal of unsaved changes that an earlier session left
    /// beside the scene's file; empty when there is none.
    std::string foundJournalNote() const;
    /// Applies that journal as a change that can be undone (the scene then has unsaved changes)
    /// and says what it did. Throws std::runtime_error with the reason when it may not be
    /// applied (made to another version of the file) or cannot be.
    std::string recover();
    /// Removes that journal and says so. Throws std::runtime_error when it cannot.
    std::string discardRecovery();

    /// The URL to open, with the token when one is required.
    std::string url() const;
    /// The name of the iterator in use; empty when the scene has none.
    std::string iterator() const;
    /// The URL of the page that makes the render of the options.
    std::string renderUrl() const;
    const std::string& token() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace studio
