// One command on a group of units, in this process on fake links: which units a selector
// picks, the count a large group needs confirmed, and each unit's outcome whatever the others'.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "tests/support/in_process_gateway.h"

namespace vantrel {
namespace gateway_group_command_test {
namespace {

using nlohmann::json;
using testing::InProcessGateway;
using testing::WaitUntil;

constexpr std::chrono::milliseconds kLimit{10000};

const std::map<std::string, gateway::UnitNaming> kNaming{
    {"a", {"desk-a", {{"site", "x"}}}},
    {"b", {"", {{"site", "x"}}}},
    {"c", {"", {{"site", "x"}, {"role", "spare"}}}},
    {"d", {"", {{"site", "y"}}}},
};

// The audit log's ended entries of the group `id`, by unit.
std::map<std::string, json> GroupEntries(InProcessGateway& gw, const std::string& id) {
    std::map<std::string, json> ended;
    for (const json& entry : gw.audit.Query("", "", 100)) {
        if (entry.value("group", "") == id && entry["phase"] == "ended") {
            ended[entry["unit"]] = entry;
        }
    }
    return ended;
}

// b is never up, and c's exchanges fail once it is: a gets its press all the same.
TEST(GatewayGroupCommandTest, EachSelectedUnitAnswersForItselfAndIsAuditedUnderTheGroup) {
    InProcessGateway gw({"a", "b", "c", "d"}, {}, kNaming);
    gw.Unit("b").Refuse(true);
    gw.Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return gw.Link("a") == gateway::LinkState::Up &&
                   gw.Link("c") == gateway::LinkState::Up && gw.Link("d") == gateway::LinkState::Up;
        },
        kLimit));
    gw.Unit("c").Refuse(true);

    const gateway::HttpResponse response =
        gw.Call("POST", "/api/groups/press/solo-left", R"({"select": "site=x"})");
    ASSERT_EQ(response.status, 200) << response.body;
    const json body = InProcessGateway::Json(response);
    const std::string id = body["group"];
    ASSERT_EQ(body["units"].size(), 3u) << body;
    const json& a = body["units"][0];
    EXPECT_EQ(a["unit"], "a");
    EXPECT_EQ(a["status"], 200);
    EXPECT_EQ(a["outcome"], "done");
    EXPECT_EQ(a["before"]["soloLeft"], 0);
    EXPECT_EQ(a["after"]["soloLeft"], 1);
    EXPECT_EQ(body["units"][1]["unit"], "b");
    EXPECT_EQ(body["units"][1]["status"], 503);
    EXPECT_EQ(body["units"][1]["outcome"], "unavailable");
    EXPECT_TRUE(body["units"][1]["before"].is_null());
    EXPECT_EQ(body["units"][2]["unit"], "c");
    EXPECT_EQ(body["units"][2]["status"], 502);
    EXPECT_EQ(body["units"][2]["outcome"], "failed");
    EXPECT_EQ(gw.Unit("d").Presses(), 0);
    const auto ended = GroupEntries(gw, id);
    EXPECT_EQ(ended.size(), 3u);
    EXPECT_EQ(ended.at("a")["params"], (json{{"button", "solo-left"}}));

    // One after another, the first unit not done stops the rest: c is never sent to.
    const gateway::HttpResponse stopped =
        gw.Call("POST", "/api/groups/press/solo-left", R"({"select": ["c", "desk-a", "b"],
                                                   "stopOnFailure": true})");
    ASSERT_EQ(stopped.status, 200) << stopped.body;
    const json units = InProcessGateway::Json(stopped)["units"];
    EXPECT_EQ(units[0]["outcome"], "done");
    EXPECT_EQ(units[1]["outcome"], "unavailable");
    EXPECT_EQ(units[2]["outcome"], "skipped");
    EXPECT_TRUE(units[2]["status"].is_null());
    const auto second = GroupEntries(gw, InProcessGateway::Json(stopped)["group"]);
    EXPECT_EQ(second.size(), 2u);
    EXPECT_EQ(second.count("c"), 0u);
}

// Nothing is sent to any unit unless the whole request passes.
TEST(GatewayGroupCommandTest, ABadSelectorNoMatchOrAnUnconfirmedLargeGroupSendsNothing) {
    InProcessGateway gw({"a", "b", "c", "d"}, {}, kNaming);
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    gw.api.SetGroupLimit(2);
    auto refused = [&](const std::string& body) {
        const gateway::HttpResponse response = gw.Call("POST", "/api/groups/level/volume", body);
        EXPECT_EQ(response.status, 400) << body;
        return InProcessGateway::Json(response).value("error", "");
    };
    refused(R"({"select": "site=z", "value": 5})");
    refused(R"({"select": "site=", "value": 5})");
    refused(R"({"select": ["a", "nowhere"], "value": 5})");
    refused(R"({"select": [], "value": 5})");
    refused(R"({"select": "site=x", "value": 500})");
    EXPECT_NE(refused(R"({"select": "all", "value": 5})").find("4"), std::string::npos);
    refused(R"({"select": "all", "confirm": 3, "value": 5})");
    EXPECT_EQ(gw.Call("POST", "/api/groups/level/loudness", R"({"select": "all"})").status, 404);
    EXPECT_TRUE(gw.audit.Query("", "", 100).empty());

    // role!=spare holds for a unit without the label; two, within the limit, need no count.
    const gateway::HttpResponse picked = gw.Call(
        "POST", "/api/groups/level/volume", R"({"select": "site=x,role!=spare", "step": "up"})");
    ASSERT_EQ(picked.status, 200) << picked.body;
    const json pickedBody = InProcessGateway::Json(picked);
    std::set<std::string> units;
    for (const json& unit : pickedBody["units"]) units.insert(unit["unit"]);
    EXPECT_EQ(units, (std::set<std::string>{"a", "b"}));

    const gateway::HttpResponse confirmed = gw.Call(
        "POST", "/api/groups/level/volume", R"({"select": "all", "confirm": 4, "step": "up"})");
    ASSERT_EQ(confirmed.status, 200) << confirmed.body;
    EXPECT_EQ(InProcessGateway::Json(confirmed)["units"].size(), 4u);
}

// One static address on many units would put them all on one IP. A unit's entry is the answer
// its one-unit route gives (here, a fake whose addresses do not read back).
TEST(GatewayGroupCommandTest, AGroupTakesDhcpButNotAStaticAddress) {
    InProcessGateway gw({"a", "b", "c", "d"}, {}, kNaming);
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    EXPECT_EQ(gw.Call("POST", "/api/groups/network",
                      R"({"select": "site=x", "mode": "static", "ip": "127.0.0.5",
                          "mask": "255.0.0.0", "gateway": "127.0.0.1"})")
                  .status,
              400);
    const gateway::HttpResponse dhcp =
        gw.Call("POST", "/api/groups/network", R"({"select": "site=y", "mode": "dhcp"})");
    ASSERT_EQ(dhcp.status, 200) << dhcp.body;
    const json units = InProcessGateway::Json(dhcp)["units"];
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]["unit"], "d");
    const gateway::HttpResponse one =
        gw.Call("POST", "/api/units/d/network", R"({"mode": "dhcp"})");
    EXPECT_EQ(units[0]["status"], one.status);
    EXPECT_EQ(units[0].value("error", json()), InProcessGateway::Json(one).value("error", json()))
        << units;
}

// A group's factory reset loses every setting of every unit picked, so its count is confirmed
// however few they are; a firmware job picks its units with a selector as a group does.
TEST(GatewayGroupCommandTest, AGroupFactoryResetConfirmsItsCountAndAJobTakesASelector) {
    InProcessGateway gw({"a", "b", "c", "d"}, {}, kNaming);
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    for (const char* body : {R"({"select": "site=y"})", R"({"select": "site=y", "confirm": true})",
                             R"({"select": "site=x", "confirm": 2})"}) {
        EXPECT_EQ(gw.Call("POST", "/api/groups/factory-reset", body).status, 400) << body;
    }
    EXPECT_EQ(gw.Unit("d").Presses(), 0);
    const gateway::HttpResponse reset =
        gw.Call("POST", "/api/groups/factory-reset", R"({"select": "site=y", "confirm": 1})");
    ASSERT_EQ(reset.status, 200) << reset.body;
    EXPECT_EQ(InProcessGateway::Json(reset)["units"][0]["status"], 200) << reset.body;
    EXPECT_EQ(gw.Unit("d").Presses(), 1);
    for (const char* other : {"a", "b", "c"}) EXPECT_EQ(gw.Unit(other).Presses(), 0) << other;

    const std::string image(3000, 'c');
    auto start = [&](const std::string& query) {
        return gw.Call("POST", "/api/firmware?controller=main&" + query, image,
                       "application/octet-stream");
    };
    EXPECT_EQ(start("select=site%3Dz").status, 400);
    EXPECT_EQ(start("units=a&select=site%3Dy").status, 400);
    gw.api.SetGroupLimit(2);
    EXPECT_EQ(start("select=site%3Dx").status, 400);
    const gateway::HttpResponse started = start("select=site%3Dx,role!%3Dspare&confirm=2");
    ASSERT_EQ(started.status, 202) << started.body;
    const json job = InProcessGateway::Json(
        gw.Call("GET", "/api/jobs/" + InProcessGateway::Json(started)["job"].get<std::string>()));
    std::set<std::string> units;
    for (const json& unit : job["units"]) units.insert(unit["unit"]);
    EXPECT_EQ(units, (std::set<std::string>{"a", "b"})) << job;
}

}  // namespace
}  // namespace gateway_group_command_test
}  // namespace vantrel
