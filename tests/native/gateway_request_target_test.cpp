// Who may reach a route is decided by the route a request lands on, never by how its target
// looks: a target that is not a path lands nowhere, and a gateway left without tokens on an
// address that needs them serves nothing that needs a role, whatever the Host says.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gateway/api/api.h"
#include "gateway/net/http_server.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"
#include "tests/support/tokenless_gateway.h"

namespace vantrel {
namespace gateway_request_target_test {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

constexpr const char* kViewer = "wall-token-0123456789";

// A gateway on 127.0.0.3 whose tokens file holds one viewer's token.
class GatewayRequestTargetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        chmod(tokens.Path().c_str(), 0600);
        gw = std::make_unique<testing::RunningGateway>(
            1, "127.0.0.3", std::nullopt, sim::Faults{},
            [&](gateway::GatewayOptions& o) { o.tokensFile = tokens.Path(); });
        ASSERT_TRUE(gw->started) << gw->error;
        port = gw->service->Port();
    }
    // The request line and any headers as given, then Host; the status, the response in `text`.
    int Status(const std::string& head, std::string* text = nullptr) const {
        RawClient client("127.0.0.3", port);
        client.Send(head + "\r\nHost: 127.0.0.3:" + std::to_string(port) + "\r\n\r\n");
        return client.Response(milliseconds(2000), text);
    }

    testing::TempFile tokens{"gateway-tokens-target", std::string("wall viewer ") + kViewer + "\n"};
    std::unique_ptr<testing::RunningGateway> gw;
    int port = 0;
};

TEST_F(GatewayRequestTargetTest, ATargetThatIsNotAPathIsRefusedAndHoldsNoStream) {
    for (const std::string target : {"Xapi/audit", "Xapi/units", "Xmetrics", "Xapi/whoami",
                                     "Xapi/events", "*", "http://127.0.0.3/api/audit"}) {
        SCOPED_TRACE(target);
        std::string text;
        EXPECT_EQ(Status("GET " + target + " HTTP/1.1", &text), 400);
        EXPECT_NE(text.find("the request target is not a path"), std::string::npos) << text;
    }
    // As many such streams as the gateway holds, kept open: a viewer's stream still has room.
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 256; ++i) {
        held.push_back(std::make_unique<RawClient>("127.0.0.3", port));
        held.back()->Send("GET Xapi/events HTTP/1.1\r\nHost: 127.0.0.3\r\n\r\n");
    }
    EXPECT_EQ(held.back()->Response(milliseconds(2000)), 400);
    RawClient viewer("127.0.0.3", port);
    viewer.Send(std::string("GET /api/events HTTP/1.1\r\nHost: 127.0.0.3\r\n"
                            "Authorization: Bearer ") +
                kViewer + "\r\n\r\n");
    const std::string& head = viewer.ReadFor(milliseconds(300));  // a stream never ends
    EXPECT_EQ(head.rfind("HTTP/1.1 200 ", 0), 0u) << head;
}

// The route a path is taken by answers for it: another method is told what the path takes, and a
// path no route takes is not found, token or none.
TEST_F(GatewayRequestTargetTest, APathTakesOnlyItsRoutesMethodsAndNoRouteIsNotFound) {
    std::string text;
    EXPECT_EQ(Status("GET /api/units/127.0.60.1/press/mute HTTP/1.1", &text), 405);
    EXPECT_EQ(RawClient::Field(text, "allow"), "POST");
    EXPECT_EQ(Status("POST /api/meta HTTP/1.1\r\nContent-Length: 0", &text), 405);
    EXPECT_EQ(RawClient::Field(text, "allow"), "GET, HEAD");
    EXPECT_EQ(Status("DELETE /index.html HTTP/1.1", &text), 405);
    EXPECT_EQ(RawClient::Field(text, "allow"), "GET, HEAD");
    EXPECT_EQ(Status("GET /api/audit/x HTTP/1.1", &text), 404);
    EXPECT_NE(text.find("nothing at /api/audit/x"), std::string::npos) << text;
    EXPECT_EQ(Status("GET /api/units HTTP/1.1"), 401);
}

// As after a reload that left it none: no request that needs a role is served as the loopback
// "local" admin, even one naming the loopback address as its Host. The page is still served.
TEST(GatewayNoTokensTest, NoTokensOnAnAddressThatNeedsThemServeNothingThatNeedsARole) {
    testing::TokenlessGateway gateway("127.0.0.3");
    ASSERT_TRUE(gateway.Listening()) << gateway.Error();
    const int port = gateway.Port();

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
}  // namespace gateway_request_target_test
}  // namespace vantrel
