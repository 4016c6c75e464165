// The snapshot routes over HTTP, against simulated units: each route's status codes, and the
// least role that each takes.
#include <httplib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "tests/support/memory_store.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_snapshot_routes_test {
namespace {

using nlohmann::json;

constexpr const char* kWall = "wall-token-0123456789";
constexpr const char* kDesk = "desk-token-0123456789";
constexpr const char* kBoss = "boss-token-0123456789";

TEST(GatewaySnapshotRoutesTest, EachStatusAndRoleOfTheSnapshotRoutes) {
    testing::TempFile tokens("snapshot-tokens", std::string("wall viewer ") + kWall +
                                                    "\ndesk operator " + kDesk + "\nboss admin " +
                                                    kBoss + "\n");
    chmod(tokens.Path().c_str(), 0600);
    auto store = std::make_shared<testing::MemoryStore>();
    testing::RunningGateway gw(2, "127.0.0.3", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        o.tokensFile = tokens.Path();
        o.groupLimit = 1;
        o.store = store;
    });
    ASSERT_TRUE(gw.started) << gw.error;
    httplib::Client client = gw.Client();
    auto call = [&](const char* method, const std::string& path, const char* token,
                    const std::string& body = "") {
        httplib::Request request;
        request.method = method;
        request.path = path;
        if (token) request.set_header("Authorization", std::string("Bearer ") + token);
        if (!body.empty()) {
            request.body = body;
            request.set_header("Content-Type", "application/json");
        }
        const auto reply = client.send(request);
        return reply ? std::make_pair(reply->status, json::parse(reply->body, nullptr, false))
                     : std::make_pair(0, json());
    };
    auto status = [&](const char* method, const std::string& path, const char* token,
                      const std::string& body = "") {
        return call(method, path, token, body).first;
    };
    const std::string all = R"({"select": "all", "confirm": 2})";
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            const json units = call("GET", "/api/units", kWall).second.value("units", json());
            return units.size() == 2 && units[0]["link"] == "up" && units[1]["link"] == "up";
        },
        std::chrono::seconds(10)));

    const std::string capture = R"({"name": "morning", "select": "all", "confirm": 2})";
    EXPECT_EQ(status("POST", "/api/snapshots", nullptr, capture), 401);
    EXPECT_EQ(status("POST", "/api/snapshots", kDesk, capture), 403);
    EXPECT_EQ(status("POST", "/api/snapshots", kBoss, R"({"name": "morning", "select": "all"})"),
              400);  // past the group limit without a count
    const auto [created, taken] = call("POST", "/api/snapshots", kBoss, capture);
    ASSERT_EQ(created, 201) << taken;
    EXPECT_EQ(taken["snapshot"]["takenBy"], "boss");
    EXPECT_EQ(status("POST", "/api/snapshots", kBoss, capture), 409);

    EXPECT_EQ(status("GET", "/api/snapshots", nullptr), 401);
    EXPECT_EQ(status("GET", "/api/snapshots", kWall), 200);
    EXPECT_EQ(status("GET", "/api/snapshots/morning", kWall), 200);
    EXPECT_EQ(status("GET", "/api/snapshots/evening", kWall), 404);
    EXPECT_EQ(status("GET", "/api/snapshots/morning/diff", kWall), 200);
    EXPECT_EQ(status("GET", "/api/snapshots/morning/diff?select=site%3Dnone", kWall), 400);
    EXPECT_EQ(status("GET", "/api/snapshots/evening/diff", kWall), 404);

    EXPECT_EQ(status("POST", "/api/snapshots/morning/validate", kWall, all), 403);
    EXPECT_EQ(status("POST", "/api/snapshots/morning/validate", kDesk, all), 200);
    EXPECT_EQ(status("POST", "/api/snapshots/morning/validate", kDesk, R"({"select": "all"})"),
              400);
    EXPECT_EQ(status("POST", "/api/snapshots/morning/apply", kWall, all), 403);
    EXPECT_EQ(status("POST", "/api/snapshots/evening/apply", kDesk, all), 404);
    const auto [applied, outcome] = call("POST", "/api/snapshots/morning/apply", kDesk, all);
    ASSERT_EQ(applied, 200) << outcome;
    for (const json& unit : outcome["units"]) {
        EXPECT_TRUE(unit["done"].get<bool>()) << unit;
        EXPECT_TRUE(unit["steps"].empty()) << unit;  // already as the snapshot
    }

    const std::string undo = json{{"command", outcome["units"][0]["command"]}}.dump();
    EXPECT_EQ(status("POST", "/api/audit/undo", kWall, undo), 403);
    EXPECT_EQ(status("POST", "/api/audit/undo", kDesk, undo), 200);
    EXPECT_EQ(status("POST", "/api/audit/undo", kDesk, R"({"command": "0"})"), 404);
    EXPECT_EQ(status("POST", "/api/audit/undo", kDesk, "[]"), 400);

    const std::string hold = R"({"snapshot": "morning"})";
    EXPECT_EQ(status("PUT", "/api/units/127.0.60.1/desired", kDesk, hold), 403);
    EXPECT_EQ(status("PUT", "/api/units/127.0.60.1/desired", kBoss, hold), 200);
    EXPECT_EQ(status("PUT", "/api/units/127.0.60.9/desired", kBoss, hold), 404);
    EXPECT_EQ(status("GET", "/api/drift", nullptr), 401);
    EXPECT_EQ(status("GET", "/api/drift", kWall), 200);
    EXPECT_EQ(status("DELETE", "/api/snapshots/morning", kBoss), 409);
    EXPECT_EQ(status("PUT", "/api/units/127.0.60.1/desired", kBoss, R"({"snapshot": null})"), 200);

    EXPECT_EQ(status("DELETE", "/api/snapshots/morning", kDesk), 403);
    EXPECT_EQ(status("DELETE", "/api/snapshots/morning", kBoss), 200);
    EXPECT_EQ(status("DELETE", "/api/snapshots/morning", kBoss), 404);
    EXPECT_EQ(status("PUT", "/api/snapshots/morning", kBoss), 405);
}

}  // namespace
}  // namespace gateway_snapshot_routes_test
}  // namespace vantrel
