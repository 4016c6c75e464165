// The gateway's network side against hostile and careless clients, over real loopback sockets:
// requests a page of another site makes, bodies that do not end, clients that trickle or idle,
// and stopping whatever clients do.
#include <sys/resource.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/gateway_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_network_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using testing::RawClient;
using Clock = std::chrono::steady_clock;

std::string Request(const std::string& method, const std::string& path, const std::string& host,
                    const std::string& extra = "", const std::string& body = "") {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra;
    // A plain JSON body unless the test frames the body itself.
    if (method == "POST" && extra.find("Content-") == std::string::npos &&
        extra.find("Transfer-Encoding") == std::string::npos) {
        text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n";
    }
    return text + "\r\n" + body;
}

// A chunked body of `size` bytes, in 64 KiB chunks, and its end.
std::string Chunked(std::size_t size) {
    std::string text;
    const std::string chunk(64 * 1024, 'x');
    for (std::size_t sent = 0; sent < size; sent += chunk.size()) {
        const std::size_t n = std::min(chunk.size(), size - sent);
        char head[32];
        std::snprintf(head, sizeof head, "%zx\r\n", n);
        text += head + chunk.substr(0, n) + "\r\n";
    }
    return text + "0\r\n\r\n";
}

double Median(std::vector<double> seconds) {
    std::nth_element(seconds.begin(), seconds.begin() + seconds.size() / 2, seconds.end());
    return seconds[seconds.size() / 2];
}

int Status(testing::RunningGateway& gw, const std::string& text, std::string* response = nullptr) {
    RawClient client(gw.host, gw.service->Port());
    client.Send(text);
    return client.Response(milliseconds(5000), response);
}

// Without a token only the gateway's own loopback name is served, and a page of another site
// may neither command a unit nor hold an event stream, whatever its name resolves to.
TEST(GatewayBrowserRulesTest, OnlyItsOwnNameAndOriginAreServed) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const std::string port = std::to_string(gw.service->Port());
    const std::string own = "127.0.0.1:" + port, foreign = "attacker.example:" + port;
    const std::string press = "/api/units/127.0.60.1/press/mix-down";
    gw.units[0]->log.Clear();

    EXPECT_EQ(Status(gw, Request("GET", "/api/units", foreign)), 421);
    EXPECT_EQ(
        Status(gw, Request("POST", press, foreign, "Origin: http://" + foreign + "\r\n", "{}")),
        421);
    EXPECT_EQ(Status(gw, Request("POST", press, own, "Origin: http://" + foreign + "\r\n", "{}")),
              403);
    EXPECT_EQ(Status(gw, Request("GET", "/api/events", own, "Origin: http://" + foreign + "\r\n")),
              403);
    EXPECT_EQ(Status(gw, Request("POST", "/index.html", own, "", "{}")), 405);
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 0);

    // Its own page, by either loopback name.
    EXPECT_EQ(Status(gw, Request("POST", press, "localhost:" + port,
                                 "Origin: http://localhost:" + port + "\r\n", "{}")),
              200);
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 1);
    std::string page, api;
    EXPECT_EQ(Status(gw, Request("GET", "/", own), &page), 200);
    EXPECT_EQ(RawClient::Field(page, "content-security-policy"),
              "default-src 'self'; frame-ancestors 'none'");
    EXPECT_EQ(RawClient::Field(page, "x-content-type-options"), "nosniff");
    EXPECT_EQ(Status(gw, Request("GET", "/api/units", "[::1]:" + port), &api), 200);
    EXPECT_EQ(RawClient::Field(api, "cache-control"), "no-store");
    EXPECT_EQ(RawClient::Field(api, "x-content-type-options"), "nosniff");
}

// Bodies are refused before they are read when they are not wanted or declared too large, and
// counted as they are read when chunked; the scheme of a token is matched in any case.
TEST(GatewayLimitsTest, BodiesAreRefusedBeforeTheyAreReadOrCountedAsTheyCome) {
    const std::string token = "s3cret-token-0123456789";
    testing::RunningGateway gw(1, "127.0.0.3", token);
    ASSERT_TRUE(gw.started) << gw.error;
    const std::string host = "127.0.0.3:" + std::to_string(gw.service->Port());
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    const std::string bearer = "Authorization: bearer " + token + "\r\n";

    // No token, a path that takes no POST: refused at the headers, the body never read.
    for (const char* path : {"/index.html", "/api/units/127.0.60.1/press/mute"}) {
        RawClient client(gw.host, gw.service->Port());
        client.Send(Request("POST", path, host, chunked));
        EXPECT_EQ(client.Response(milliseconds(2000)), path[1] == 'i' ? 405 : 401) << path;
    }
    RawClient declared(gw.host, gw.service->Port());
    declared.Send(Request("POST", "/api/firmware?units=127.0.60.1&controller=main", host,
                          bearer + "Content-Type: application/octet-stream\r\n"
                                   "Content-Length: 67108864\r\n"));
    EXPECT_EQ(declared.Response(milliseconds(2000)), 413);

    EXPECT_EQ(Status(gw, Request("POST", "/api/units/127.0.60.1/press/mute", host,
                                 bearer + chunked + "Content-Type: application/json\r\n",
                                 Chunked(100 * 1024))),
              413);
    EXPECT_EQ(Status(gw, Request("POST", "/api/firmware?units=127.0.60.1&controller=main", host,
                                 bearer + chunked + "Content-Type: application/octet-stream\r\n",
                                 Chunked(9 * 1024 * 1024))),
              413);
    EXPECT_EQ(Status(gw, Request("GET", "/api/units", host, bearer)), 200);
}

// A request that is not HTTP/1.1, or whose head passes its limit, is answered with why; a client
// that asks before sending its body is told to go on, and is then served.
TEST(GatewayLimitsTest, BrokenOrOversizedHeadsAreRefusedAndAnExpectingClientGoesOn) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const std::string host = "127.0.0.1:" + std::to_string(gw.service->Port());
    std::string broken;
    EXPECT_EQ(Status(gw, "GET /api/units HTTP/1.x\r\nHost: " + host + "\r\n\r\n", &broken), 400);
    EXPECT_NE(broken.find("not valid HTTP/1.1"), std::string::npos) << broken;
    EXPECT_EQ(Status(gw, Request("GET", "/api/units", host,
                                 "X-Pad: " + std::string(20 * 1024, 'a') + "\r\n")),
              431);

    RawClient expecting(gw.host, gw.service->Port());
    expecting.Send(Request("POST", "/api/units/127.0.60.1/press/mix-down", host,
                           "Expect: 100-continue\r\nContent-Type: application/json\r\n"
                           "Content-Length: 2\r\n"));
    EXPECT_EQ(expecting.ReadFor(milliseconds(500)), "HTTP/1.1 100 Continue\r\n\r\n");
    expecting.Send("{}");
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            return expecting.ReadFor(milliseconds(50)).find("HTTP/1.1 200 OK") != std::string::npos;
        },
        milliseconds(5000)));
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 1);
}

// Clients that trickle their headers, idle between requests or hold event streams cost the API
// nothing, and the first two are closed at their deadlines; streams stay. Requests on one
// connection go without the delayed-acknowledgement wait.
TEST(GatewayLimitsTest, SlowIdleAndStreamingClientsNeitherHoldTheApiNorOutstayTheirDeadlines) {
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {}, [](gateway::GatewayOptions& o) {
        o.server.headers = milliseconds(800);
        o.server.idle = milliseconds(500);
    });
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const int port = gw.service->Port();
    const std::string host = "127.0.0.1:" + std::to_string(port);

    std::vector<std::unique_ptr<RawClient>> idle, trickling, streams;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<RawClient>(gw.host, port));
        idle.back()->Send(Request("GET", "/metrics", host));
        EXPECT_EQ(idle.back()->Response(milliseconds(2000)), 200);
        trickling.push_back(std::make_unique<RawClient>(gw.host, port));
        trickling.back()->Send("GET /api/units HTTP/1.1\r\nHo");
    }
    // A body that stalls after its first bytes falls behind the least pace a body keeps.
    RawClient stalling(gw.host, port);
    stalling.Send(Request("POST", "/api/units/127.0.60.1/press/mute", host,
                          "Content-Type: application/json\r\nContent-Length: 100000\r\n",
                          "{\"a\": "));
    for (int i = 0; i < 256; ++i) {
        streams.push_back(std::make_unique<RawClient>(gw.host, port));
        streams.back()->Send(Request("GET", "/api/events", host));
    }
    std::string refused;
    EXPECT_EQ(Status(gw, Request("GET", "/api/events", host), &refused), 503) << refused;

    // Held, every request would wait for a hostile client's deadline (800 ms) or for ever. A
    // median tells that from a loaded machine's odd slow reply.
    std::vector<double> took;
    for (int i = 0; i < 20; ++i) {
        const auto sent = Clock::now();
        const auto reply = gw.Client().Get("/api/units");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        took.push_back(testing::SecondsSince(sent));
    }
    EXPECT_LT(Median(took), 0.3);

    // Each is closed at its deadline; the limits here only bound the wait for one never closed.
    EXPECT_TRUE(trickling.back()->ClosedWithin(milliseconds(3000)));
    EXPECT_TRUE(stalling.ClosedWithin(milliseconds(3000)));
    EXPECT_TRUE(idle.back()->ClosedWithin(milliseconds(3000)));
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            return streams.back()->ReadFor(milliseconds(50)).find("event: unit") !=
                   std::string::npos;
        },
        milliseconds(3000)));
    EXPECT_FALSE(streams.back()->ClosedWithin(milliseconds(200)));

    // Twenty requests on one connection: each reply is written at once, not held for an
    // acknowledgement (40 ms each when the head and the body went as two writes).
    RawClient keptAlive(gw.host, port);
    took.clear();
    for (int i = 0; i < 20; ++i) {
        const auto sent = Clock::now();
        keptAlive.Send(Request("GET", "/api/units/127.0.60.1", host));
        ASSERT_EQ(keptAlive.Response(milliseconds(1000)), 200);
        took.push_back(testing::SecondsSince(sent));
    }
    EXPECT_LT(Median(took), 0.02);

    // A burst waits in the listen queue rather than on a SYN sent again: the backlog is wide.
    std::FILE* ss = popen(("ss -Hltn 'sport = :" + std::to_string(port) + "'").c_str(), "r");
    char line[256] = {};
    ASSERT_TRUE(ss && std::fgets(line, sizeof line, ss));
    pclose(ss);
    int queued = 0, backlog = 0;
    std::sscanf(line, "%*s %d %d", &queued, &backlog);
    EXPECT_GE(backlog, 128) << line;
}

// Out of descriptors, both listeners wait a while before they accept again rather than spin
// a thread of the loop; the clients that waited are served once descriptors are free.
TEST(GatewayLimitsTest, AListenerOutOfDescriptorsWaitsInsteadOfSpinning) {
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {}, [](gateway::GatewayOptions& o) {
        o.ember = gateway::EmberOptions{"127.0.0.1", 0, {}, false};
    });
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const int port = gw.service->Port(), emberPort = gw.service->EmberPort();
    auto connect = [](int fd, int to) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(to));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    };
    auto cpuSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    };
    // The clients' sockets are made first; then no descriptor is left to accept them with.
    const int http = socket(AF_INET, SOCK_STREAM, 0), ember = socket(AF_INET, SOCK_STREAM, 0);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    const bool connected = connect(http, port) && connect(ember, emberPort);
    const double before = cpuSeconds();
    std::this_thread::sleep_for(milliseconds(500));
    const double used = cpuSeconds() - before;
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(connected);
    EXPECT_LT(used, 0.15);

    const timeval limit{5, 0};
    setsockopt(http, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = Request("GET", "/api/units", "127.0.0.1:" + std::to_string(port));
    ASSERT_EQ(send(http, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    char head[12] = {};
    EXPECT_EQ(recv(http, head, sizeof head, MSG_WAITALL), 12);
    EXPECT_EQ(std::string(head, sizeof head), "HTTP/1.1 200");
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            const auto metrics = gw.Client().Get("/metrics");
            return metrics && metrics->body.find("vantrel_ember_clients 1") != std::string::npos;
        },
        milliseconds(2000)));
    close(http);
    close(ember);
}

// A static address passes the rules the panel's Apply has, before anything reaches the unit.
TEST(GatewayCommandLimitsTest, AnAddressTheUnitCouldNotBeReachedAtIsRefusedUnsent) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    gw.units[0]->log.Clear();
    for (const char* mask : {"255.0.255.0", "0.0.0.0"}) {
        const auto reply = gw.Post(
            "/api/units/127.0.60.1/network",
            {{"mode", "static"}, {"ip", "127.0.60.1"}, {"mask", mask}, {"gateway", "0.0.0.0"}});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 400) << mask;
        EXPECT_EQ(json::parse(reply->body)["error"], "Invalid IP address or mask!");
    }
    // One the unit would take but be stranded by is refused unless forced.
    const auto stranding = gw.Post("/api/units/127.0.60.1/network", {{"mode", "static"},
                                                                     {"ip", "127.0.60.1"},
                                                                     {"mask", "255.255.0.0"},
                                                                     {"gateway", "127.0.60.254"}});
    ASSERT_TRUE(stranding);
    EXPECT_EQ(stranding->status, 400);
    EXPECT_EQ(json::parse(stranding->body)["error"],
              "the IP is a loopback address (127.0.0.0/8): the unit would be stranded; send "
              "\"force\": true to set it all the same");
    for (const std::string& line : gw.units[0]->log.Lines("tcp")) {
        EXPECT_EQ(line.find("MASK"), std::string::npos) << line;
    }
    EXPECT_EQ(gw.units[0]->unit.State().mask, 0xFFFFFF00u);
}

// The program ends within 3 s of a stop signal whatever its clients hold open: a trickle, an
// event stream, an idle connection. A firmware update that runs is let finish first, and stderr
// names its unit; a second signal stops it.
TEST(GatewayProgramStopTest, AStopEndsItWithinThreeSecondsButLetsARunningUpdateFinish) {
    testing::SimulatedUnit unit("127.0.60.1");
    ASSERT_TRUE(unit.Start());
    const std::vector<std::string> arguments{"--unit",          "127.0.60.1", "--listen",
                                             "127.0.0.1:18024", "--poll",     "1"};
    const std::string host = "127.0.0.1:18024";
    {
        testing::GatewayProcess gateway(arguments);
        ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
        RawClient trickle("127.0.0.1", 18024), stream("127.0.0.1", 18024), idle("127.0.0.1", 18024);
        trickle.Send("GET / HTTP/1.1\r\nHo");
        stream.Send(Request("GET", "/api/events", host));
        idle.Send(Request("GET", "/metrics", host));
        EXPECT_EQ(idle.Response(milliseconds(2000)), 200);
        const auto start = Clock::now();
        gateway.Signal(SIGTERM);
        EXPECT_EQ(gateway.Exit(milliseconds(3000)), 0);
        EXPECT_LT(testing::SecondsSince(start), 3.0);
        EXPECT_TRUE(stream.ClosedWithin(milliseconds(100)));
    }

    testing::GatewayProcess gateway(arguments);
    ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
    httplib::Client client("127.0.0.1", 18024);
    testing::Recording(client);
    ASSERT_TRUE(
        testing::Reaches(client, "/api/units/127.0.60.1", "/link", "up", milliseconds(5000)));
    std::string image(3000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 3 + 1);
    const auto started = client.Post("/api/firmware?units=127.0.60.1&controller=main", image,
                                     "application/octet-stream");
    ASSERT_TRUE(started && started->status == 202);
    const std::string job = "/api/jobs/" + json::parse(started->body)["job"].get<std::string>();
    ASSERT_TRUE(testing::Reaches(client, job, "/units/0/state", "running", milliseconds(5000)));
    gateway.Signal(SIGTERM);
    EXPECT_FALSE(gateway.Exit(milliseconds(1000)));
    EXPECT_NE(gateway.Errors().find("waiting for the firmware updates of 127.0.60.1"),
              std::string::npos)
        << gateway.Errors();
    EXPECT_EQ(gateway.Exit(milliseconds(20000)), 0);
    const std::vector<std::uint8_t> flash = unit.unit.MainFlash();
    EXPECT_EQ(std::string(flash.begin(), flash.end()), image);

    // A second signal stops the update, which never finishes.
    testing::GatewayProcess again(arguments);
    ASSERT_TRUE(again.Serving(milliseconds(5000)));
    httplib::Client second("127.0.0.1", 18024);
    testing::Recording(second);
    ASSERT_TRUE(
        testing::Reaches(second, "/api/units/127.0.60.1", "/link", "up", milliseconds(5000)));
    ASSERT_EQ(second
                  .Post("/api/firmware?units=127.0.60.1&controller=main", std::string(3000, 'z'),
                        "application/octet-stream")
                  ->status,
              202);
    ASSERT_TRUE(
        testing::Reaches(second, "/api/jobs/1", "/units/0/state", "running", milliseconds(5000)));
    again.Signal(SIGTERM);
    std::this_thread::sleep_for(milliseconds(200));
    const auto start = Clock::now();
    again.Signal(SIGTERM);
    // It stops between the loader's steps: at most the loader's longest fixed pause, 5 s.
    EXPECT_EQ(again.Exit(milliseconds(8000)), 0);
    EXPECT_LT(testing::SecondsSince(start), 8.0);
    EXPECT_NE(unit.unit.MainFlash()[10], 'z');
}

}  // namespace
}  // namespace gateway_network_test
}  // namespace vantrel
