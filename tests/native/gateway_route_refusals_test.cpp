// Every route of the table, whatever it serves, is refused alike before it is served: without
// a token it needs (401), at a Host that is not the gateway's without tokens (421), with headers
// over their limit (431), with a body over its route's limit (413) or of a type no route takes
// (415), and on an address that needs tokens, with none (503). Taken from the table, so
// that a route added later is refused as these are, and its replies meet the API document.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "gateway/api/api.h"
#include "gateway/net/http_server.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"
#include "tests/support/tokenless_gateway.h"

namespace vantrel {
namespace gateway_route_refusals_test {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

constexpr milliseconds kLimit{3000};
constexpr const char* kAdmin = "rack-admin-0123456789";

// A request path for a route's pattern, each `{...}` given a value the gateway knows.
std::string PathOf(const gateway::Route& route) {
    static const std::map<std::string, std::string> kValues{{"{unit}", "127.0.60.1"},
                                                            {"{button}", "mute"},
                                                            {"{name}", "volume"},
                                                            {"{id}", "1"},
                                                            {"{file}", "index.html"}};
    std::string path = route.pattern;
    for (const auto& [name, value] : kValues) {
        if (const auto at = path.find(name); at != std::string::npos) {
            path.replace(at, name.size(), value);
        }
    }
    return path;
}

// The status of one request, alone on its connection, to the gateway at `host`:`port`.
int Status(const std::string& host, int port, const std::string& request) {
    RawClient client(host, port);
    client.Send(request);
    return client.Response(kLimit);
}

TEST(GatewayRouteRefusalsTest, EveryRouteIsRefusedWithoutItsTokenOrOverItsLimits) {
    testing::TempFile tokens{"gateway-tokens-refusals", std::string("rack admin ") + kAdmin + "\n"};
    chmod(tokens.Path().c_str(), 0600);
    testing::RunningGateway gw(1, "127.0.0.3", std::nullopt, sim::Faults{},
                               [&](gateway::GatewayOptions& o) { o.tokensFile = tokens.Path(); });
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->Port();
    const std::string host = "Host: 127.0.0.3:" + std::to_string(port) + "\r\n";
    const std::string admin = std::string("Authorization: Bearer ") + kAdmin + "\r\n";

    for (const gateway::Route& route : gateway::Api::Routes()) {
        const std::string line = std::string(route.method) + " " + PathOf(route) + " HTTP/1.1\r\n";
        SCOPED_TRACE(line);
        const bool post = std::string(route.method) == "POST";
        const std::string empty = post ? "Content-Length: 0\r\n" : "";
        EXPECT_EQ(Status("127.0.0.3", port, line + host + empty + "\r\n") == 401,
                  route.least.has_value());
        EXPECT_EQ(
            Status("127.0.0.3", port,
                   line + host + admin + "X-Filler: " + std::string(17 * 1024, 'x') + "\r\n\r\n"),
            431);
        if (post) {
            EXPECT_EQ(
                Status("127.0.0.3", port,
                       line + host + admin + "Content-Type: application/json\r\n" +
                           "Content-Length: " + std::to_string(route.bodyLimit + 1) + "\r\n\r\n"),
                413);
            EXPECT_EQ(Status("127.0.0.3", port,
                             line + host + admin +
                                 "Content-Type: text/plain\r\nContent-Length: 2\r\n\r\n{}"),
                      415);
        }
    }
}

TEST(GatewayRouteRefusalsTest, WithoutTokensEveryRouteIsRefusedAtAnotherHost) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->Port();
    for (const gateway::Route& route : gateway::Api::Routes()) {
        const std::string post = std::string(route.method) == "POST" ? "Content-Length: 0\r\n" : "";
        EXPECT_EQ(Status("127.0.0.1", port,
                         std::string(route.method) + " " + PathOf(route) +
                             " HTTP/1.1\r\nHost: vantrel.example:" + std::to_string(port) + "\r\n" +
                             post + "\r\n"),
                  421)
            << route.pattern;
    }
}

TEST(GatewayRouteRefusalsTest, OnAnAddressThatNeedsTokensNoneServeNoRouteThatNeedsARole) {
    testing::TokenlessGateway gateway("127.0.0.3");
    ASSERT_TRUE(gateway.Listening()) << gateway.Error();
    const int port = gateway.Port();
    for (const gateway::Route& route : gateway::Api::Routes()) {
        const std::string post = std::string(route.method) == "POST" ? "Content-Length: 0\r\n" : "";
        EXPECT_EQ(Status("127.0.0.3", port,
                         std::string(route.method) + " " + PathOf(route) +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                             post + "\r\n") == 503,
                  route.least.has_value())
            << route.pattern;
    }
}

}  // namespace
}  // namespace gateway_route_refusals_test
}  // namespace vantrel
