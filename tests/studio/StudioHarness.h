#pragma once
/// The studio's server over a host of its own, called without a socket: what the studio tests
/// ask of it.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <utility>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "studio/server/StudioServer.h"

namespace studio_test {

/// What the shell command prints on its standard output; `errors` redirects its standard error
/// (dropped unless asked for, e.g. with "2>&1").
inline std::string commandOutput(const std::string& command, const std::string& errors = "2>/dev/null") {
    std::string out;
    FILE* pipe = popen((command + " " + errors).c_str(), "r");
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    if (pipe) pclose(pipe);
    return out;
}

/// A host with a scene and a game camera, and a studio over it. The constructor of a test's own
/// kind loads the scene into `host`, then calls `serve`.
class StudioHarness {
public:
    StudioHarness(const StudioHarness&) = delete;
    StudioHarness& operator=(const StudioHarness&) = delete;

    /// The answer's status and its body as JSON (discarded when it is none).
    std::pair<int, nlohmann::json> call(const std::string& method, const std::string& target,
                                        const std::string& body = {}) {
        const auto [status, text] = server->call(method, target, body);
        return {status, nlohmann::json::parse(text, nullptr, false)};
    }
    /// The body of GET `target`.
    std::string text(const std::string& target) { return server->call("GET", target).second; }

    host::Host host{&SetIRTS, &GetObjectFactories};
    std::unique_ptr<studio::StudioServer> server;

protected:
    StudioHarness() = default;
    /// The options a studio started on `file` has by default.
    static studio::StudioOptions optionsFor(const std::filesystem::path& file) {
        return {file.string(), "", "127.0.0.1", 0, false};
    }
    /// Gives the host its game camera and starts the studio over it.
    void serve(studio::StudioOptions options, host::OptionalLevel level = {}) {
        host.createCamera("", true);
        server = std::make_unique<studio::StudioServer>(host, std::move(options), std::move(level));
    }
};

/// A test on a copy of the example's scene, `file` ("scene.json"), in a scratch `folder` of its
/// own, removed afterwards.
class ExampleCopyTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("camsys-studio-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(folder);
        file = folder / "scene.json";
        std::filesystem::copy_file(CAMSYS_EXAMPLES "/flythrough.json", file);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path folder, file;
};

}  // namespace studio_test
