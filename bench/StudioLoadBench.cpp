// The studio's server under load, over loopback as browsers reach it: 50 clients poll /api/frame
// at 60 Hz at the playhead of a playing flight (50 viewers of one scene), while one client drags
// a waypoint of a 1,000-waypoint path at 60 Hz (PATCH of its position, the page's drag gesture).
// Reports every request's latency: count, failures, p50, p99 and the maximum, per kind.
//
//   camsys_studio_load [--seconds 60] [--pollers 50] [--waypoints 1000]
//
// Exits 1 when a request failed.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Heap.h"
#include "host/Host.h"
#include "module/InProcessModule.h"
#include "scene/JsonSceneReader.h"
#include "studio/server/StudioServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kFramePeriod = std::chrono::microseconds(16667);

/// A path of n waypoints 40 units apart, zigzagging, with an iterator on it.
std::string sceneJson(int n) {
    std::ostringstream out;
    out << R"({"objects":[{"name":"Path","class":"SCOCameraSystemPath","children":[)";
    for (int k = 0; k < n; ++k)
        out << (k ? "," : "") << R"({"name":"W)" << k << R"(","class":"SCOCameraSystemWaypoint","position":[)" << 40 * k
            << ',' << 10 * (k % 2) << ",5]}";
    out << R"(]},{"name":"Cam","class":"SCOCameraSystemIterator","attributes":{"Path":"Path"}}]})";
    return out.str();
}

/// Latencies of one kind of request, gathered from many threads.
struct Latencies {
    std::mutex mutex;
    std::vector<double> milliseconds;
    double worst = 0, worstAt = 0;  ///< the longest wait, and when it was sent (ms after the start)
    std::atomic<std::size_t> failures{0};
    std::string firstFailure;

    void add(double ms, double sentAt) {
        std::lock_guard lock(mutex);
        milliseconds.push_back(ms);
        if (ms > worst) worst = ms, worstAt = sentAt;
    }
    void fail(const std::string& what) {
        std::lock_guard lock(mutex);
        if (failures++ == 0) firstFailure = what;
    }
    void print(const char* kind) {
        std::sort(milliseconds.begin(), milliseconds.end());
        auto at = [&](double q) {
            return milliseconds.empty() ? 0.0
                                        : milliseconds[std::min(milliseconds.size() - 1,
                                                                static_cast<std::size_t>(q * milliseconds.size()))];
        };
        std::printf("| %s | %zu | %zu | %.2f | %.2f | %.2f | %.0f |\n", kind, milliseconds.size(), failures.load(),
                    at(0.5), at(0.99), worst, worstAt);
        if (failures) std::printf("  first failure: %s\n", firstFailure.c_str());
    }
    /// Sends one request (`send` returns cpp-httplib's result) and records how it went; `start`
    /// is the run's start, for the time the request was sent.
    template <class Send>
    void time(Clock::time_point start, Send send) {
        const auto sent = Clock::now();
        const httplib::Result answer = send();
        const auto done = Clock::now();
        if (!answer)
            fail("transport: " + httplib::to_string(answer.error()));
        else if (answer->status != 200)
            fail(std::to_string(answer->status) + " " + answer->body);
        else
            add(std::chrono::duration<double, std::milli>(done - sent).count(),
                std::chrono::duration<double, std::milli>(sent - start).count());
    }
};

/// A kept-alive connection to the server, without Nagle's delay, as a browser's.
std::unique_ptr<httplib::Client> connect(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    return client;
}

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60, pollers = 50, waypoints = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--seconds")
            seconds = value;
        else if (option == "--pollers")
            pollers = value;
        else if (option == "--waypoints")
            waypoints = value;
        else {
            std::fprintf(stderr, "usage: camsys_studio_load [--seconds S] [--pollers N] [--waypoints N]\n");
            return 2;
        }
    }
    host::keepFreedHeap();
    host::Host host(&SetIRTS, &GetObjectFactories);
    host::loadJsonScene(host, sceneJson(waypoints), "load.json");
    host.createCamera("", true);
    studio::StudioServer server(host, {"load.json", "", "127.0.0.1", 0, true});
    const int port = server.bind();
    std::thread serving([&] { server.run(); });
    const httplib::Headers auth = {{"Authorization", "Bearer " + server.token()}};

    // The flight lasts (n - 1) seconds of the scene's clock (Time2Next 1000 per segment); the
    // playhead plays it in real time, from the middle, as a page that was scrubbed there.
    const double flightMs = (waypoints - 1) * 1000.0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    // The page's timeline steps through the flight's ticks (every 16 units from 0).
    auto playhead = [&] {
        const double t = flightMs / 2 + since(start);
        const auto ms = static_cast<unsigned long>(t < flightMs ? t : flightMs - 1);
        return ms - ms % 16;
    };

    Latencies frames, drags;
    std::vector<std::thread> threads;
    for (int p = 0; p < pollers; ++p) {
        threads.emplace_back([&, p] {
            const auto client = connect(port);
            // Spread over the frame period, as independent pages would be.
            auto next = start + kFramePeriod * p / pollers;
            while (next < end) {
                std::this_thread::sleep_until(next);
                next += kFramePeriod;
                frames.time(start, [&] { return client->Get("/api/frame?t=" + std::to_string(playhead()), auth); });
            }
        });
    }
    threads.emplace_back([&] {
        const auto client = connect(port);
        const std::string target = "/api/objects/W" + std::to_string(waypoints / 2);
        const float x = 40.0f * static_cast<float>(waypoints / 2);
        auto next = start;
        for (int step = 0; next < end; ++step) {
            std::this_thread::sleep_until(next);
            next += kFramePeriod;
            const std::string body =
                "{\"position\":[" + std::to_string(x + static_cast<float>(step % 32)) + ",0,5],\"gesture\":\"drag\"}";
            drags.time(start, [&] { return client->Patch(target, auth, body, "application/json"); });
        }
    });
    for (std::thread& t : threads) t.join();
    server.stop();
    serving.join();

    std::printf("%d s, %d pollers at 60 Hz, one drag at 60 Hz, n = %d\n\n", seconds, pollers, waypoints);
    std::printf(
        "| request | count | failed | p50 ms | p99 ms | max ms | max sent at ms |\n"
        "|---|---:|---:|---:|---:|---:|---:|\n");
    frames.print("GET /api/frame");
    drags.print("PATCH (drag)");
    return frames.failures || drags.failures ? 1 : 0;
}
