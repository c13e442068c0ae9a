#pragma once
/// The studio's HTTP transport: serves the compiled page and hands requests under /api/ to the
/// API, after the guard's checks. The only part of the studio that knows the HTTP library.

#include <memory>
#include <string>

namespace studio {

class Api;
class Guard;

class HttpAdapter {
public:
    /// `api` and `guard` outlive the adapter. `level`: the scene's level as a binary glTF
    /// (.glb), served as GET /api/level; empty: none.
    HttpAdapter(Api& api, const Guard& guard, std::string level = {});
    ~HttpAdapter();
    HttpAdapter(const HttpAdapter&) = delete;
    HttpAdapter& operator=(const HttpAdapter&) = delete;

    /// Binds the listening socket (port 0: any free one); returns the port. Throws
    /// std::runtime_error when it cannot.
    int bind(const std::string& address, int port);
    /// Serves until `stop` (from any thread). Requires `bind`.
    void run();
    void stop();

private:
    struct Server;
    std::unique_ptr<Server> server_;
};

}  // namespace studio
