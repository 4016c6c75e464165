// Who may reach a route is decided by the route a request lands on, never by how its target
// looks: a target that is not a path lands nowhere, and a gateway left without tokens on an
// address that needs them serves nothing that needs a role, whatever the Host says.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gateway/api.h"
#include "gateway/http_server.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

constexpr const char* kViewer = "wall-token-0123456789";

// A GET of `target` as sent, without a token unless given; its status, the response in `text`.
int Get(const std::string& host, int port, const std::string& target, std::string* text = nullptr,
        const char* token = nullptr) {
    RawClient client(host, port);
    std::string request =
        "GET " + target + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) + "\r\n";
    if (token) request += std::string("Authorization: Bearer ") + token + "\r\n";
    client.Send(request + "\r\n");
    if (target.find("events") != std::string::npos && token) {  // a stream never ends
        const std::string& head = client.ReadFor(milliseconds(300));
        return head.size() > 12 ? std::atoi(head.c_str() + 9) : -1;
    }
    return client.Response(milliseconds(2000), text);
}

TEST(GatewayRequestTargetTest, ATargetThatIsNotAPathIsRefusedAndHoldsNoStream) {
    testing::TempFile tokens("gateway-tokens-target-" + std::to_string(getpid()),
                             std::string("wall viewer ") + kViewer + "\n");
    chmod(tokens.Path().c_str(), 0600);
    testing::RunningGateway gw(1, "127.0.0.3", std::nullopt, {},
                               [&](gateway::GatewayOptions& o) { o.tokensFile = tokens.Path(); });
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->Port();
    for (const std::string target : {"Xapi/audit", "Xapi/units", "Xmetrics", "Xapi/whoami",
                                     "Xapi/events", "*", "http://127.0.0.3/api/audit"}) {
        SCOPED_TRACE(target);
        std::string text;
        EXPECT_EQ(Get(gw.host, port, target, &text), 400);
        EXPECT_NE(text.find("the request target is not a path"), std::string::npos) << text;
    }
    // As many such streams as the gateway holds, kept open: a viewer's stream still has room.
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 256; ++i) {
        held.push_back(std::make_unique<RawClient>(gw.host, port));
        held.back()->Send("GET Xapi/events HTTP/1.1\r\nHost: 127.0.0.3\r\n\r\n");
    }
    EXPECT_EQ(held.back()->Response(milliseconds(2000)), 400);
    EXPECT_EQ(Get(gw.host, port, "/api/events", nullptr, kViewer), 200);
}

// As after a reload that left it none: no request that needs a role is served as the loopback
// "local" admin, even one naming the loopback address as its Host. The page is still served.
TEST(GatewayRequestTargetTest, NoTokensOnAnAddressThatNeedsThemServeNothingThatNeedsARole) {
    gateway::Units units;
    gateway::EventHub hub{4};
    gateway::FirmwareJobs jobs{units, hub};
    gateway::Tokens tokens;
    gateway::AuditLog audit;
    gateway::Api api{units, hub, jobs, tokens, audit};
    gateway::HttpServer server{api, gateway::ServerLimits{}};
    std::string error;
    ASSERT_TRUE(server.Listen("127.0.0.3", 0, error)) << error;
    const int port = server.Port();
    api.SetListening(port, false, true);
    server.Start();

    RawClient loopbackName("127.0.0.3", port);
    loopbackName.Send("GET /api/audit HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                      "\r\n\r\n");
    std::string text;
    EXPECT_EQ(loopbackName.Response(milliseconds(2000), &text), 503);
    EXPECT_NE(text.find("no tokens"), std::string::npos) << text;
    for (const char* path : {"/api/units", "/api/whoami", "/metrics", "/api/events"}) {
        RawClient client("127.0.0.3", port);
        client.Send(std::string("GET ") + path +
                    " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n\r\n");
        EXPECT_EQ(client.Response(milliseconds(2000)), 503) << path;
    }
    RawClient page("127.0.0.3", port);
    page.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
    EXPECT_EQ(page.Response(milliseconds(2000)), 200);
}

}  // namespace
}  // namespace vantrel
