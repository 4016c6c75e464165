// HEAD is answered as GET without the body, wherever GET is: same status and headers, the GET's
// Content-Length, and nothing on the wire that the next response on the connection would be
// read from.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_head_test {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

constexpr milliseconds kLimit{3000};

class GatewayHeadTest : public ::testing::Test {
  protected:
    // Up first: a unit that comes up between the GET and the HEAD changes the length.
    void SetUp() override {
        ASSERT_TRUE(gw.started) << gw.error;
        ASSERT_TRUE(gw.AllUp());
    }
    std::string Request(const std::string& method, const std::string& path) const {
        return method + " " + path +
               " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(gw.service->Port()) + "\r\n\r\n";
    }
    testing::RunningGateway gw{1};
};

TEST_F(GatewayHeadTest, HeadIsGetWithoutItsBodyAndLeavesTheConnectionInStep) {
    for (const std::string path : {"/api/units", "/api/units/127.0.60.1", "/index.html",
                                   "/api/openapi.json", "/metrics", "/api/units/nowhere"}) {
        SCOPED_TRACE(path);
        RawClient client("127.0.0.1", gw.service->Port());
        std::string get;
        std::string head;
        std::string after;
        // Pipelined: a body after the HEAD's head would be read as the next response.
        ASSERT_TRUE(client.Send(Request("GET", path) + Request("HEAD", path) +
                                Request("GET", "/api/whoami")));
        const int status = client.Response(kLimit, &get);
        EXPECT_EQ(client.HeadResponse(kLimit, &head), status);
        EXPECT_EQ(client.Response(kLimit, &after), 200) << after;
        EXPECT_NE(after.find("\"role\":\"admin\""), std::string::npos) << after;

        const std::string getHead = get.substr(0, get.find("\r\n\r\n") + 4);
        EXPECT_EQ(head.size() - head.find("\r\n\r\n"), 4u) << head;
        // The metrics are live (a poll's age, say), so their length may change between the two.
        if (path == "/metrics") {
            EXPECT_GT(std::atoi(RawClient::Field(head, "content-length").c_str()), 0) << head;
        } else {
            EXPECT_EQ(RawClient::Field(head, "content-length"),
                      std::to_string(get.size() - getHead.size()));
        }
        for (const char* name : {"content-type", "cache-control", "x-content-type-options",
                                 "content-security-policy"}) {
            EXPECT_EQ(RawClient::Field(head, name), RawClient::Field(getHead, name)) << name;
        }
    }
}

TEST_F(GatewayHeadTest, AHeadOfTheEventStreamEndsAtItsHeadAndHoldsNoStream) {
    RawClient client("127.0.0.1", gw.service->Port());
    std::string head;
    ASSERT_TRUE(client.Send(Request("HEAD", "/api/events") + Request("GET", "/api/units")));
    EXPECT_EQ(client.HeadResponse(kLimit, &head), 200);
    EXPECT_EQ(RawClient::Field(head, "content-type"), "text/event-stream");
    EXPECT_EQ(RawClient::Field(head, "content-length"), "");
    std::string next;
    EXPECT_EQ(client.Response(kLimit, &next), 200) << next;
    EXPECT_NE(next.find("\"units\""), std::string::npos) << next;
}

TEST_F(GatewayHeadTest, APathWithoutGetRefusesHeadWithoutABodyAndGetPathsAllowIt) {
    RawClient client("127.0.0.1", gw.service->Port());
    std::string refused;
    std::string allowed;
    ASSERT_TRUE(client.Send(Request("HEAD", "/api/units/127.0.60.1/press/mute") +
                            Request("PUT", "/api/units") + Request("GET", "/api/meta")));
    EXPECT_EQ(client.HeadResponse(kLimit, &refused), 405);
    EXPECT_EQ(RawClient::Field(refused, "allow"), "POST");
    EXPECT_EQ(client.Response(kLimit, &allowed), 405);
    EXPECT_EQ(RawClient::Field(allowed, "allow"), "GET, HEAD, POST");
    EXPECT_EQ(client.Response(kLimit), 200);
}

}  // namespace
}  // namespace gateway_head_test
}  // namespace vantrel
