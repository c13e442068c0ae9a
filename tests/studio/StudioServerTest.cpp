// The studio's HTTP API, through cpp-httplib's client, on the bundled example: what it lists and
// flies against the scene file and `camsys fly`, and what it refuses.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "studio/server/StudioJson.h"
#include "tests/studio/StudioHarness.h"
#include "tests/support/CamsysRun.h"

namespace {

using namespace studio_test;
using testing_support::kFlythrough;

/// What `camsys <command> <example> <arguments>` prints.
std::string camsys(const std::string& command, const std::string& arguments) {
    return commandOutput("'" CAMSYS_EXE "' " + command + " '" + kFlythrough + "' " + arguments);
}

/// The bits of a cell as `camsys fly` prints it or the API answers it: whole numbers (the tick
/// and the clock) as they are, the others as their float's bits.
std::uint64_t cellBits(const std::string& cell, bool whole) {
    return whole ? std::stoull(cell) : std::bit_cast<std::uint32_t>(std::strtof(cell.c_str(), nullptr));
}
std::uint64_t cellBits(const Json& cell, bool whole) {
    return whole ? cell.get<std::uint64_t>() : std::bit_cast<std::uint32_t>(asFloat(cell));
}

/// A new connection to `port` on the loopback address; -1 when refused.
int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// The example in a studio that requires its token, served on a port of its own.
class StudioServerTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = studio_.server->bind();
        thread_ = std::thread([this] { studio_.server->run(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_bearer_token_auth(studio_.server->token().c_str());
    }
    void TearDown() override {
        studio_.server->stop();
        thread_.join();
    }

    /// GET `path` with the token; the status and the parsed body.
    std::pair<int, Json> get(const std::string& path) {
        const httplib::Result result = client_->Get(path);
        return result ? std::pair(result->status, Json::parse(result->body, nullptr, false)) : std::pair(0, Json());
    }

    Studio studio_{kFlythrough, [](studio::StudioOptions& options) { options.requireToken = true; }};
    int port_ = 0;
    std::thread thread_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(StudioServerTest, SceneListingMatchesTheFile) {
    Json file;
    std::ifstream(kFlythrough) >> file;
    const auto [status, scene] = get("/api/scene");
    ASSERT_EQ(status, 200);
    EXPECT_EQ(scene["iterators"], Json::array({"Cam", "Chase"}));
    EXPECT_EQ(scene["iterator"], "Cam");

    // The file's objects in pre-order, with their parents.
    std::vector<std::pair<Json, std::string>> expected;
    const auto walk = [&](auto& self, const Json& list, const std::string& parent) -> void {
        for (const Json& object : list) {
            expected.emplace_back(object, parent);
            if (object.contains("children")) self(self, object["children"], object["name"]);
        }
    };
    walk(walk, file["objects"], "");
    const Json& listed = scene["objects"];
    ASSERT_EQ(listed.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [object, parent] = expected[i];
        const Json& entry = listed[i];
        SCOPED_TRACE(object["name"].get<std::string>());
        EXPECT_EQ(entry["name"], object["name"]);
        EXPECT_EQ(entry["class"], object.value("class", Json()));
        EXPECT_EQ(entry["parent"], parent.empty() ? Json() : Json(parent));
        const Json position = object.value("position", Json::array({0, 0, 0}));
        for (int k = 0; k < 3; ++k) EXPECT_EQ(asFloat(entry["position"][k]), asFloat(position[k]));
        // Every attribute the file sets reads back through the table with that value; the table
        // ends with the base class's "ObjectPos", whose origin is the position.
        const Json& table = entry["attributes"];
        ASSERT_FALSE(table.empty());
        EXPECT_EQ(table.back()["name"], "ObjectPos");
        EXPECT_EQ(table.back()["type"], 10);
        EXPECT_EQ(table.back()["value"]["position"], entry["position"]);
        const Json attributes = object.value("attributes", Json::object());
        for (const auto& [name, value] : attributes.items()) {
            const auto found =
                std::find_if(table.begin(), table.end(), [&](const Json& a) { return a["name"] == name; });
            ASSERT_NE(found, table.end()) << name;
            if (value.is_number_float())
                EXPECT_EQ(asFloat((*found)["value"]), asFloat(value)) << name;
            else
                EXPECT_EQ((*found)["value"], value) << name;
        }
    }
    // Aiming moved W0 to look at the tower: its listed orientation is no longer the identity.
    EXPECT_NE(listed[5]["orientation"], Json::array({1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST_F(StudioServerTest, FlightAndFramesEqualCamsysFly) {
    // Cell for cell, to the bit. (The float32 columns the page reads, edit.test.mjs compares with
    // `camsys fly` of the edited example.)
    const std::vector<std::uint8_t> before = studio_.image();
    const std::pair<std::string, std::string> flights[] = {
        {"--iterator Cam", "?iterator=Cam"},
        {"--iterator Chase --start 1000 --step 33", "?iterator=Chase&start=1000&step=33"}};
    for (const auto& [arguments, query] : flights) {
        SCOPED_TRACE(arguments);
        std::vector<std::vector<std::string>> rows;
        for (const std::string& line : testing_support::split(camsys("fly", arguments)))
            rows.push_back(testing_support::split(line, ','));
        ASSERT_GT(rows.size(), 100u);
        const auto [status, flight] = get("/api/flight" + query);
        ASSERT_EQ(status, 200);
        ASSERT_EQ(flight["rows"], rows.size() - 1);
        const std::vector<std::string>& columns = rows[0];
        EXPECT_EQ(flight["columns"], Json(columns));
        EXPECT_FALSE(flight["hitLimit"]);
        EXPECT_EQ(flight["events"].back()["kind"], "deactivate");
        for (std::size_t c = 0; c < columns.size(); ++c)
            for (std::size_t r = 1; r < rows.size(); ++r)
                ASSERT_EQ(cellBits(flight["data"][columns[c]][r - 1], c < 2), cellBits(rows[r][c], c < 2))
                    << columns[c] << " row " << r;
        // A frame at a tick's time is that tick's row: the first, inside a pause, across a cut, the last.
        for (const std::size_t r :
             {std::size_t{1}, std::size_t{20}, rows.size() / 2, rows.size() * 3 / 4, rows.size() - 1}) {
            const auto [frameStatus, frame] = get("/api/frame" + query + "&t=" + rows[r][0]);
            ASSERT_EQ(frameStatus, 200);
            for (std::size_t c = 0; c < columns.size(); ++c)
                EXPECT_EQ(cellBits(frame[columns[c]], c < 2), cellBits(rows[r][c], c < 2))
                    << columns[c] << " row " << r;
        }
    }
    // Flying and sampling left every record of the scene as it was.
    EXPECT_EQ(studio_.image(), before);
}

TEST_F(StudioServerTest, DrawingAndAnalysis) {
    const auto [drawStatus, draw] = get("/api/draw");
    ASSERT_EQ(drawStatus, 200);
    const host::SceneDrawing drawing = studio_.host.drawScene();
    std::size_t lines = 0, arrows = 0;
    std::set<std::string> drawers;
    for (const Json& group : draw["groups"]) {
        drawers.insert(group["object"]);
        ASSERT_EQ(group["lines"]["from"].size(), group["lines"]["to"].size());
        ASSERT_EQ(group["lines"]["colour"].size(), 4 * group["lines"]["flag"].size());
        lines += group["lines"]["flag"].size();
        arrows += group["arrows"].size();
    }
    std::size_t recordedArrows = 0;
    for (const host::DrawCall& call : drawing.calls) recordedArrows += call.kind == host::DrawKind::Arrow;
    EXPECT_EQ(lines + arrows, drawing.calls.size());
    EXPECT_EQ(arrows, recordedArrows);
    EXPECT_TRUE(drawers.contains("Flight"));
    EXPECT_TRUE(drawers.contains("W0"));
    EXPECT_EQ(draw["labels"].size(), 8u);  // every waypoint, the switched-off one too

    const auto [status, analysis] = get("/api/analysis");
    ASSERT_EQ(status, 200);
    const auto [flightStatus, flight] = get("/api/flight");
    EXPECT_EQ(analysis["data"]["time"], flight["data"]["time"]);
    std::map<std::string, std::vector<std::string>> marks;
    for (const Json& mark : analysis["marks"]) marks[mark["kind"]].push_back(mark["name"]);
    // (The waypoints' and pauses' marks, the timeline's tests check on the page.)
    EXPECT_EQ(marks["cut"], (std::vector<std::string>{"W4"}));
    EXPECT_TRUE(analysis["data"]["speed"][0].is_null());
    EXPECT_GT(analysis["data"]["speed"][100].get<double>(), 0);
}

TEST_F(StudioServerTest, RefusesForeignRequestsAndBadQueries) {
    const std::vector<std::uint8_t> before = studio_.image();
    httplib::Client bare("127.0.0.1", port_);
    const auto status = [&](httplib::Client& client, const std::string& path, const httplib::Headers& headers = {}) {
        const httplib::Result result = client.Get(path, headers);
        return result ? result->status : 0;
    };
    // The token: required for the API, by header or query; not for the page.
    EXPECT_EQ(status(bare, "/api/scene"), 403);
    // Tokens one character off, at either end, by query and by header: every character counts.
    const std::string token = studio_.server->token();
    std::string first = token, last = token;
    first.front() = first.front() == '0' ? '1' : '0';
    last.back() = last.back() == '0' ? '1' : '0';
    for (const std::string& wrong : {first, last}) {
        EXPECT_EQ(status(bare, "/api/scene?token=" + wrong), 403);
        EXPECT_EQ(status(bare, "/api/scene", {{"Authorization", "Bearer " + wrong}}), 403);
    }
    EXPECT_EQ(status(bare, "/api/scene?token=" + studio_.server->token()), 200);
    EXPECT_EQ(status(bare, "/api/scene", {{"Authorization", "Bearer x" + studio_.server->token()}}), 403);
    // (The page's files without it, every page test asks for.)
    EXPECT_EQ(status(bare, "/"), 200);
    // Host and Origin: only this server's own address, by any loopback name.
    EXPECT_EQ(status(*client_, "/", {{"Host", "evil.example:" + std::to_string(port_)}}), 403);
    EXPECT_EQ(status(*client_, "/api/scene", {{"Host", "127.0.0.1:1"}}), 403);
    EXPECT_EQ(status(*client_, "/api/scene", {{"Host", "localhost:" + std::to_string(port_)}}), 200);
    EXPECT_EQ(status(*client_, "/api/scene", {{"Origin", "http://evil.example"}}), 403);
    EXPECT_EQ(status(*client_, "/api/scene", {{"Origin", "null"}}), 403);
    EXPECT_EQ(status(*client_, "/api/scene", {{"Origin", "http://127.0.0.1:" + std::to_string(port_)}}), 200);
    // No path reaches the file system.
    EXPECT_EQ(status(bare, "/assets/../../etc/passwd"), 404);
    EXPECT_EQ(status(bare, "/etc/passwd"), 404);

    // Bad queries: 400 with the reason, nothing flown.
    for (const std::string path :
         {"/api/flight?iterator=Nobody", "/api/flight?maxTicks=0", "/api/flight?maxTicks=99999999",
          "/api/flight?step=-1", "/api/flight?start=4294967296", "/api/flight?encoding=f64", "/api/flight?speed=2",
          "/api/flight?step=1&step=2", "/api/frame", "/api/frame?t=1x", "/api/frame?iterator=Tower&t=0",
          "/api/scene?x=1"}) {
        const auto [code, body] = get(path);
        EXPECT_EQ(code, 400) << path;
        EXPECT_TRUE(body.contains("error")) << path;
    }
    EXPECT_EQ(studio_.image(), before);
}

TEST_F(StudioServerTest, PageCompressedOnceAnswersAsTheyAre) {
    // The page's files as the browser accepts them, compressed when the page was built; the
    // API's answers never (compressing them on the fly costs more than it saves on one machine).
    httplib::Client raw("127.0.0.1", port_);
    raw.set_decompress(false);
    raw.set_bearer_token_auth(studio_.server->token().c_str());
    const auto fetch = [&](httplib::Client& client, const std::string& path, const std::string& accept) {
        const httplib::Result result = client.Get(path, {{"Accept-Encoding", accept}});
        EXPECT_TRUE(result && result->status == 200) << path << " " << accept;
        return result ? std::pair{result->get_header_value("Content-Encoding"), result->body}
                      : std::pair{std::string(), std::string()};
    };
    const auto [plainCoding, plain] = fetch(raw, "/assets/studio.js", "identity");
    EXPECT_EQ(plainCoding, "");
    EXPECT_GT(plain.size(), 100000u);
    const auto [brCoding, br] = fetch(raw, "/assets/studio.js", "gzip, deflate, br");
    EXPECT_EQ(brCoding, "br");
    EXPECT_LT(br.size(), plain.size() / 3);
    const auto [gzCoding, gz] = fetch(raw, "/assets/studio.js", "gzip, br;q=0");
    EXPECT_EQ(gzCoding, "gzip");
    EXPECT_EQ(gz.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(fetch(raw, "/assets/studio.css", "br;q=0.0, gzip;q=0").first, "");
    // What a client decodes is the file itself (br, as the browser asks, every page test decodes).
    httplib::Client decoding("127.0.0.1", port_);
    EXPECT_EQ(fetch(decoding, "/", "gzip").second, fetch(raw, "/", "identity").second);

    for (const char* path : {"/api/scene", "/api/flight", "/api/draw"}) {
        const auto [coding, body] = fetch(raw, path, "gzip, deflate, br");
        EXPECT_EQ(coding, "") << path;
        EXPECT_FALSE(Json::parse(body, nullptr, false).is_discarded()) << path;
    }
}

/// Sends `request` on a new connection and reads the status of the answer: 0 when the server
/// closed the connection or said nothing within `timeout`. (The connection is not half-closed:
/// cpp-httplib takes a client that stopped sending for gone and answers nothing.)
int rawStatus(int port, const std::string& request, int timeoutMs = 2000) {
    const int fd = connectLoopback(port);
    if (fd < 0) return -1;
    const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    // All of it, or what the server read before it answered an oversized request and stopped reading.
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char head[16] = {};
    const ssize_t got = ::recv(fd, head, 12, MSG_WAITALL);  // less on a timeout or a closed connection
    ::close(fd);
    if (got < 12 || std::strncmp(head, "HTTP/1.", 7) != 0) return 0;
    return std::atoi(head + 9);
}

TEST_F(StudioServerTest, TenThousandMalformedRequestsChangeNothing) {
    // What a hostile or broken local program might send, over real connections: random methods
    // and paths, bodies that are no JSON object or name nothing, bodies over the limit, headers
    // of 100 kB, bytes that are no HTTP at all, with idle connections held open throughout.
    // Every answer is a refusal (4xx), none is a server error, and afterwards the scene is as it
    // was and the server still serves. Forty idle connections (more than a small pool of
    // threads) first delay no request: the next one is answered at once.
    const std::vector<std::uint8_t> before = studio_.image();
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i) {
        const int fd = connectLoopback(port_);
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
    }
    client_->set_read_timeout(1, 0);
    EXPECT_EQ(get("/api/status").first, 200) << "a request waited behind idle connections";
    std::mt19937 random(20261207u);
    auto pick = [&](const auto& list) {
        return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random)];
    };
    auto bytes = [&](std::size_t count) {
        std::string text(count, '\0');
        for (char& c : text) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        return text;
    };
    const std::vector<std::string> methods = {"GET",  "POST",    "PATCH", "DELETE", "PUT",
                                              "HEAD", "OPTIONS", "BREW",  "get",    ""};
    // Paths and bodies separated by spaces.
    std::vector<std::string> paths = testing_support::split(
        "/api/objects/W1 /api/objects/Nobody /api/objects/W1/move /api/objects /api/undo /api/redo /api/save "
        "/api/reload /api/frame?t= /api/flight?maxTicks=-1 /api/scene?x=%ZZ /../../etc/passwd /assets/%2e%2e/x * "
        "/api/objects/%00",
        ' ');
    paths.push_back("/api/" + std::string(3000, 'a'));
    std::vector<std::string> bodies = testing_support::split(
        R"({ [] null "x" {"position":[1,2 {"position":"up"} {"attributes":{"Nope":1}} {"revision":-1} {"name":7} )"
        R"({"class":"NoSuchClass","name":"X"} {"parent":"Nobody","index":0} {"path":"/etc/passwd"} )"
        R"({"attributes":{"Time2Next":-5}} )"
        "\xff\xfe{}",
        ' ');
    bodies.push_back(std::string(100, '{'));
    std::map<int, int> statuses;
    const std::string auth = "Authorization: Bearer " + studio_.server->token() + "\r\n";
    const std::string hostLine = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    for (int i = 0; i < 10000; ++i) {
        std::string request;
        switch (i % 8) {
            case 0:  // no HTTP at all, ended as a request would be
                request = bytes(1 + i % 200) + "\r\n\r\n";
                break;
            case 1:  // a body over the limit
                request = "POST /api/objects HTTP/1.1\r\n" + hostLine + auth + "Content-Type: application/json\r\n" +
                          "Content-Length: " + std::to_string(studio::kMaxBodyBytes + 1 + i) + "\r\n\r\n" +
                          std::string(studio::kMaxBodyBytes + 1 + i, '[');
                break;
            case 2:  // a header of 100 kB
                request =
                    "GET /api/status HTTP/1.1\r\n" + hostLine + "X-Junk: " + std::string(100000, 'j') + "\r\n\r\n";
                break;
            default: {  // a request line, headers and a body, mostly wrong
                const std::string body = pick(bodies);
                request = pick(methods) + " " + pick(paths) + " HTTP/1.1\r\n" + hostLine +
                          (i % 3 ? auth : std::string()) + "Content-Type: application/json\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            }
        }
        const int status = rawStatus(port_, request);
        ++statuses[status];
        if (status != 0 && (status < 400 || status >= 500)) {
            ADD_FAILURE() << "request " << i << " answered " << status << ": " << request.substr(0, 200);
            break;
        }
    }
    for (const int fd : idle) ::close(fd);
    std::string summary;
    for (const auto& [status, count] : statuses) summary += " " + std::to_string(status) + ":" + std::to_string(count);
    std::printf("statuses (0: closed without an answer):%s\n", summary.c_str());
    EXPECT_EQ(statuses[413], 1250);
    EXPECT_GT(statuses[400], 2500);
    EXPECT_EQ(statuses[-1], 0) << "connections refused";
    EXPECT_EQ(statuses[0], 0) << "requests left without an answer";
    EXPECT_EQ(studio_.image(), before);
    EXPECT_EQ(get("/api/status").first, 200);
}

TEST_F(StudioServerTest, LintIsTheToolsLint) {
    // The same findings, byte for byte, as `camsys lint --json` of the file, but for the label of
    // a finding's fix (the page's tests read those, and the findings of one iterator); the
    // flights it needs are the studio's own.
    const httplib::Result result = client_->Get("/api/lint");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    std::string body = result->body;
    for (const Json& finding : Json::parse(body)) {
        if (!finding.contains("fix")) continue;
        const std::string said = ",\"fix\":" + finding["fix"].dump();
        body.erase(body.find(said), said.size());
    }
    EXPECT_EQ(body, camsys("lint --json", ""));
    EXPECT_EQ(get("/api/lint?maxTicks=5").first, 400);
    EXPECT_EQ(get("/api/lint?iterator=Tower").first, 400);
}

TEST(StudioJson, Base64) {
    EXPECT_EQ(studio::base64("", 0), "");
    EXPECT_EQ(studio::base64("f", 1), "Zg==");
    EXPECT_EQ(studio::base64("fo", 2), "Zm8=");
    EXPECT_EQ(studio::base64("foobar", 6), "Zm9vYmFy");
    const std::uint8_t high[3] = {0xFF, 0xFE, 0x80};
    EXPECT_EQ(studio::base64(high, 3), "//6A");
}

}  // namespace
