// The group command routes over HTTP: their status codes, who may send them, and units picked
// by name and by label, with a gateway whose group limit is one unit.
#include <httplib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_group_routes_test {
namespace {

using nlohmann::json;

TEST(GatewayGroupRoutesTest, EachStatusOfTheGroupRoutes) {
    testing::TempFile tokens("group-tokens",
                             "wall viewer wall-token-0123456789\n"
                             "desk operator desk-token-0123456789\n");
    chmod(tokens.Path().c_str(), 0600);
    testing::RunningGateway gw(2, "127.0.0.3", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        o.tokensFile = tokens.Path();
        o.groupLimit = 1;
        o.described = {{"127.0.60.1", "desk-1", {{"site", "a"}}},
                       {"127.0.60.2", "", {{"site", "b"}}}};
    });
    ASSERT_TRUE(gw.started) << gw.error;
    httplib::Client client = gw.Client();
    auto post = [&](const std::string& path, const std::string& body, const char* token,
                    const char* type = "application/json") {
        httplib::Headers headers;
        if (token) headers.emplace("Authorization", std::string("Bearer ") + token);
        const auto reply = client.Post(path.c_str(), headers, body, type);
        return reply ? std::make_pair(reply->status, json::parse(reply->body, nullptr, false))
                     : std::make_pair(0, json());
    };
    const char* desk = "desk-token-0123456789";
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            const auto [status, body] =
                post("/api/groups/level/volume", R"({"select":"desk-1","value":10})", desk);
            return status == 200 && body["units"][0]["status"] == 200;
        },
        std::chrono::milliseconds(5000)));

    EXPECT_EQ(post("/api/groups/press/solo-left", R"({"select":"all"})", nullptr).first, 401);
    EXPECT_EQ(
        post("/api/groups/press/solo-left", R"({"select":"all"})", "wall-token-0123456789").first,
        403);
    const auto [tooMany, why] = post("/api/groups/press/solo-left", R"({"select":"all"})", desk);
    EXPECT_EQ(tooMany, 400);
    EXPECT_NE(why.value("error", "").find("2"), std::string::npos) << why;
    EXPECT_EQ(post("/api/groups/network", R"({"select":"site=a","mode":"dhcp"})", desk).first, 403);
    EXPECT_EQ(post("/api/groups/press/solo-left", R"({"select":"site=c"})", desk).first, 400);
    EXPECT_EQ(post("/api/groups/press/no-such", R"({"select":"site=a"})", desk).first, 404);
    EXPECT_EQ(post("/api/groups/press/solo-left", "x", desk, "text/plain").first, 415);
    EXPECT_EQ(client.Get("/api/groups/press/solo-left")->status, 405);

    const auto [status, body] =
        post("/api/groups/level/volume", R"({"select":"all","confirm":2,"value":12})", desk);
    ASSERT_EQ(status, 200) << body;
    ASSERT_EQ(body["units"].size(), 2u);
    for (const json& unit : body["units"]) {
        EXPECT_EQ(unit["status"], 200) << unit;
        EXPECT_EQ(unit["level"], 12) << unit;
        EXPECT_EQ(unit["after"]["levels"][0], 12) << unit;
    }
}

}  // namespace
}  // namespace gateway_group_routes_test
}  // namespace vantrel
