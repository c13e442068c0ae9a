#pragma once
/// The studio's server over a host of its own, called without a socket: what the studio tests
/// ask of it, and the decoding of its answers done here on its own.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"
#include "scene/StarterScene.h"
#include "studio/server/StudioServer.h"
#include "tests/support/TextFiles.h"

namespace studio_test {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testing_support::readText;
using testing_support::writeText;

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

/// A JSON float as the scene format and the API write it: a number or "NaN", "Infinity", "-Infinity".
inline float asFloat(const Json& value) {
    if (value.is_string()) return std::strtof(value.get<std::string>().c_str(), nullptr);
    return static_cast<float>(value.get<double>());
}

/// The 32-bit words (little-endian, as this machine) of a column in standard padded base64: the
/// bits of its floats, or its whole numbers.
inline std::vector<std::uint32_t> base64Words(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        bits = (bits << 6) | static_cast<std::uint32_t>(alphabet.find(c));
        if ((count += 6) >= 8) bytes.push_back(static_cast<char>(bits >> (count -= 8)));
    }
    std::vector<std::uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), 4 * words.size());
    EXPECT_EQ(bytes.size() % 4, 0u) << "a column of 32-bit words";
    return words;
}

/// A host with a scene file and a game camera, and a studio over it, as `camsys studio` opens
/// it: a file that does not exist yet starts from the starter scene. `adjust` changes the default
/// options; `keepLevel` keeps the level the file names, which saving then writes.
struct Studio {
    using Adjust = std::function<void(studio::StudioOptions&)>;
    explicit Studio(const fs::path& file, const Adjust& adjust = {}, bool keepLevel = false) {
        if (fs::exists(file))
            host::loadSceneFile(host, file.string(), &level);
        else
            host::loadStarterScene(host, file.string());
        if (!keepLevel) level.reset();
        studio::StudioOptions options{file.string(), "", "127.0.0.1", 0, false};
        if (adjust) adjust(options);
        host.createCamera("", true);
        server = std::make_unique<studio::StudioServer>(host, std::move(options), level);
    }
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    /// The answer's status and its body as JSON (discarded when it is none).
    std::pair<int, Json> call(const std::string& method, const std::string& target, const std::string& body = {},
                              const std::string& contentType = {}) {
        const auto [status, text] = server->call(method, target, body, contentType);
        return {status, Json::parse(text, nullptr, false)};
    }
    /// The body of GET `target`.
    std::string text(const std::string& target) { return server->call("GET", target).second; }
    /// Every record of the scene (and the level kept), as a .sco file holds them.
    std::vector<std::uint8_t> image() { return host::sceneToScoImage(host, level); }

    host::Host host{&SetIRTS, &GetObjectFactories};
    host::OptionalLevel level;
    std::unique_ptr<studio::StudioServer> server;
};

/// A test on a copy of the example's scene, `file` ("scene.json"), in a scratch `folder` of its
/// own, removed afterwards.
class ExampleCopyTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("camsys-studio-" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
        file = folder / "scene.json";
        fs::copy_file(CAMSYS_EXAMPLES "/flythrough.json", file);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder, file;
};

/// The same with a `studio` over the copy, closed before the folder goes.
class ExampleStudioTest : public ExampleCopyTest {
protected:
    void SetUp() override {
        ExampleCopyTest::SetUp();
        studio = std::make_unique<Studio>(file);
    }
    void TearDown() override {
        studio.reset();
        ExampleCopyTest::TearDown();
    }

    std::unique_ptr<Studio> studio;
};

}  // namespace studio_test
