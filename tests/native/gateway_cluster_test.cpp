// Three gateway processes sharing simulated units through a real etcd: each unit owned by
// exactly the gateway rendezvous hashing gives it, taken over when its owner dies, handed to a
// gateway that joins, and nothing driven while etcd is gone, until it is back; any gateway
// lists every unit and passes a command, and each unit's part of a group command, to its owner.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sysexits.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "clients/report.h"
#include "gateway/cluster/rendezvous.h"
#include "tests/support/etcd_server.h"
#include "tests/support/gateway_cluster.h"
#include "tests/support/gateway_process.h"
#include "tests/support/line_log_reader.h"
#include "tests/support/listener.h"
#include "tests/support/raw_client.h"
#include "tests/support/temp_file.h"
#include "tests/support/test_authority.h"
#include "unit/buttons.h"
#include "unit/command_table.h"

namespace vantrel {
namespace gateway_cluster_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::WaitUntil;

class GatewayClusterTest : public testing::GatewayCluster {
  protected:
    /// Each unit's `field` as the gateway lists it; empty when it lists a unit twice.
    std::map<std::string, json> Listed(const std::string& id, const std::string& field) {
        std::map<std::string, json> listed;
        const auto reply = Client(id).Get("/api/units");
        if (!reply || reply->status != 200) return listed;
        const json units = json::parse(reply->body)["units"];
        for (const json& unit : units) {
            if (!listed.emplace(unit["unit"], unit[field]).second) return {};
        }
        return listed;
    }

    /// The milliseconds from `since` until each of `ids` first `shows` something, asked every
    /// 20 ms for a second; those that never did are left out.
    std::map<std::string, int> SeenWithinASecond(
        const std::vector<std::string>& ids, std::chrono::steady_clock::time_point since,
        const std::function<bool(const std::string&)>& shows) {
        std::map<std::string, int> seen;
        WaitUntil(
            [&] {
                for (const std::string& id : ids) {
                    if (!seen.count(id) && shows(id)) {
                        seen[id] = static_cast<int>(1000 * testing::SecondsSince(since));
                    }
                }
                return seen.size() == ids.size();
            },
            milliseconds(1000) -
                std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - since));
        return seen;
    }

    /// The gateway's event stream, opened.
    std::unique_ptr<testing::RawClient> Events(const std::string& id) {
        auto stream = std::make_unique<testing::RawClient>("127.0.0.1", ports.at(id));
        const std::string host = "127.0.0.1:" + std::to_string(ports.at(id));
        EXPECT_TRUE(stream->Send("GET /api/events HTTP/1.1\r\nHost: " + host + "\r\n\r\n")) << id;
        return stream;
    }

    /// The unit's states the stream has brought so far, oldest first.
    static std::vector<json> StatesOn(testing::RawClient& stream, const std::string& unit) {
        std::vector<json> states;
        const std::string& text = stream.ReadFor(milliseconds(5));
        for (std::size_t at = text.find("event: unit\ndata: "); at != std::string::npos;
             at = text.find("event: unit\ndata: ", at + 1)) {
            const std::size_t start = at + 18, end = text.find('\n', start);
            if (end == std::string::npos) break;
            json state = json::parse(text.substr(start, end - start), nullptr, false);
            if (state.value("unit", "") == unit) states.push_back(std::move(state));
        }
        return states;
    }

    /// Whether `states` show the link down, then up again on a link made at `after` or later.
    static bool DownThenUp(const std::vector<json>& states, const std::string& after) {
        const auto down = std::find_if(states.begin(), states.end(),
                                       [](const json& state) { return state["link"] == "down"; });
        return std::any_of(down, states.end(), [&](const json& state) {
            return state["link"] == "up" && state["since"].get<std::string>() >= after;
        });
    }

    json Audit(const std::string& id, const std::string& unit) {
        const auto reply = Client(id).Get(("/api/audit?unit=" + unit).c_str());
        return reply ? json::parse(reply->body)["entries"] : json();
    }
    /// That g1 recorded passing the group's part for `unit` on to its owner, and nothing else.
    void ExpectPassed(const std::string& unit, const std::string& owner, const json& group) {
        const json passed = Audit("g1", unit);
        ASSERT_EQ(passed.size(), 1u) << passed;
        EXPECT_EQ(passed[0]["phase"], "passed");
        EXPECT_EQ(passed[0]["to"], owner);
        EXPECT_EQ(passed[0]["group"], group);
    }
};

TEST_F(GatewayClusterTest, EachUnitIsOwnedOnceAndAKilledOwnersUnitsAreTakenOver) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit)) << json(Owners()).dump();
    std::map<std::string, int> counts;
    for (const auto& [unit, owner] : Owners()) ++counts[owner];
    for (const std::string& id : three) {
        ASSERT_GT(counts[id], 0) << id;  // these names and units give each gateway a share
        EXPECT_EQ(Metric(id, "vantrel_gateway_units_owned"), counts[id]) << id;
        EXPECT_EQ(Metric(id, "vantrel_gateway_members"), 3) << id;
        EXPECT_EQ(Metric(id, "vantrel_gateway_lease_held"), 1) << id;
        EXPECT_EQ(Metric(id, "vantrel_gateway_units_unowned"), 0) << id;
    }
    // A Prometheus scraping all three sees each unit's own series once.
    for (const auto& sim : sims) {
        int exported = 0;
        for (const std::string& id : three) {
            const auto metrics = Client(id).Get("/metrics");
            ASSERT_TRUE(metrics);
            exported +=
                metrics->body.find("vantrel_up{unit=\"" + sim->address + "\"") != std::string::npos;
        }
        EXPECT_EQ(exported, 1) << sim->address;
    }
    std::vector<std::string> lost;
    for (const auto& [unit, owner] : Owners()) {
        if (owner == "g2") lost.push_back(unit);
    }
    const std::vector<std::string> two{"g1", "g3"};
    std::map<std::string, std::unique_ptr<testing::RawClient>> streams;
    for (const std::string& id : two) {
        streams[id] = Events(id);
        ASSERT_TRUE(
            WaitUntil([&] { return !StatesOn(*streams[id], lost.front()).empty(); }, kLimit));
    }

    const std::string killedAt = clients::TimeText(std::chrono::system_clock::now());
    const auto killed = std::chrono::steady_clock::now();
    gateways["g2"]->Signal(SIGKILL);
    // A stream open throughout shows each lost unit undriven, then up under its new owner, on
    // the survivor that hears of it only from that owner.
    for (const std::string& unit : lost) {
        const std::string other =
            gateway::cluster::RendezvousOwner(two, unit) == "g1" ? "g3" : "g1";
        EXPECT_TRUE(WaitUntil([&] { return DownThenUp(StatesOn(*streams[other], unit), killedAt); },
                              kLimit))
            << unit << " on " << other;
    }
    RecordProperty("takeover_streamed_ms", static_cast<int>(1000 * testing::SecondsSince(killed)));
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(two); }, kLimit)) << json(Owners()).dump();
    // The lease's time to live, then a claim and a connection.
    EXPECT_LT(testing::SecondsSince(killed), kTtl.count() + 3.0);
    // Through either survivor, once its view has the new owner (503 until then asks again).
    for (const std::string& unit : lost) {
        for (const std::string& id : two) {
            int status = 503;
            WaitUntil([&] { return (status = Press(id, unit)) != 503; }, seconds(2));
            EXPECT_EQ(status, 200) << unit << " through " << id;
        }
    }
}

TEST_F(GatewayClusterTest, AStoppedGatewaysUnitsMoveAtOnceAndAJoiningOneTakesItsShare) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));

    // A gateway stopped as the service manager stops it gives its lease back: its units move
    // before the time to live could have run out.
    const auto stopped = std::chrono::steady_clock::now();
    gateways["g3"]->Signal(SIGTERM);
    ASSERT_EQ(gateways["g3"]->Exit(kLimit), 0);
    const std::vector<std::string> two{"g1", "g2"};
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(two); }, kLimit));
    EXPECT_LT(testing::SecondsSince(stopped), static_cast<double>(kTtl.count()));

    // Units that stay where they are answer throughout the hand-over to the one that joins.
    const std::vector<std::string> joined{"g1", "g2", "g4"};
    std::vector<std::string> staying;
    for (const auto& sim : sims) {
        const std::string owner = gateway::cluster::RendezvousOwner(two, sim->address);
        if (gateway::cluster::RendezvousOwner(joined, sim->address) == owner) {
            staying.push_back(sim->address);
        }
    }
    ASSERT_FALSE(staying.empty());
    Join("g4");
    int pressed = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string& unit = staying[pressed++ % staying.size()];
            EXPECT_EQ(Press(gateway::cluster::RendezvousOwner(two, unit), unit), 200) << unit;
            return SpreadOver(joined);
        },
        kLimit));
    EXPECT_GT(Metric("g4", "vantrel_gateway_units_owned"), 0);
}

TEST_F(GatewayClusterTest, WithEtcdGoneReadsGoOnCommandsAreRefusedAndItRecoversByItself) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));
    const std::string unit = sims.front()->address;
    const std::string owner = gateway::cluster::RendezvousOwner(three, unit);
    ASSERT_EQ(Press(owner, unit), 200);
    // The audit log says which gateway did it, under which lease.
    const auto audit = Client(owner).Get(("/api/audit?unit=" + unit).c_str());
    ASSERT_TRUE(audit);
    const json entry = json::parse(audit->body)["entries"].at(0);
    EXPECT_EQ(entry["gateway"]["id"], owner) << entry;
    EXPECT_TRUE(entry["gateway"]["lease"].is_string()) << entry;

    const auto gone = std::chrono::steady_clock::now();
    etcd.Stop();
    ASSERT_TRUE(WaitUntil([&] { return Press(owner, unit) == 503; }, kLimit));
    EXPECT_LT(testing::SecondsSince(gone), kTtl.count() + 1.0);
    EXPECT_EQ(Metric(owner, "vantrel_gateway_lease_held"), 0);
    const auto read = Client(owner).Get(("/api/units/" + unit).c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200);

    ASSERT_TRUE(etcd.Start()) << etcd.Error();
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!SpreadOver(three)) return false;
            return Press(gateway::cluster::RendezvousOwner(three, unit), unit) == 200;
        },
        kLimit));
}

TEST_F(GatewayClusterTest, AnyGatewayListsEveryUnitAndPassesACommandToItsOwnerToRunOnce) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));
    std::map<std::string, json> allUp;
    for (const auto& sim : sims) allUp[sim->address] = "up";
    for (const std::string& id : three) {
        EXPECT_TRUE(WaitUntil([&] { return Listed(id, "link") == allUp; }, kLimit))
            << id << ": " << json(Listed(id, "link")).dump();
    }

    testing::SimulatedUnit& sim = *sims.front();
    const std::string owner = gateway::cluster::RendezvousOwner(three, sim.address);
    const std::string front = owner == "g1" ? "g2" : "g1";
    const auto pressed = Client(front).Post(
        ("/api/units/" + sim.address + "/press/mix-down").c_str(), "{}", "application/json");
    ASSERT_TRUE(pressed);
    ASSERT_EQ(pressed->status, 200) << pressed->body;
    EXPECT_EQ(json::parse(pressed->body)["confirmation"], "confirmed") << pressed->body;
    EXPECT_EQ(sim.unit.State().mixDown, 1);
    // The owner ran it: its begun and ended entries are in its audit log, not the front's.
    const json ran = Audit(owner, sim.address);
    EXPECT_EQ(ran.size(), 2u) << ran;
    for (const json& entry : ran) EXPECT_EQ(entry["gateway"]["id"], owner) << entry;
    EXPECT_EQ(Audit(front, sim.address), json::array());

    // Its new state shows on every gateway, as its owner published it; the line came once.
    for (const std::string& id : three) {
        EXPECT_TRUE(WaitUntil([&] { return Listed(id, "mixDown")[sim.address] == 1; }, kLimit))
            << id;
    }
    const std::vector<std::string> lines = sim.log.Lines("tcp");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), CommandFor(FindButton("mix-down")->code).text),
              1);
}

// Each gateway's links leave from an address of its own, so that a unit's log tells who sent
// each line; the token's holder is who the owners record.
TEST_F(GatewayClusterTest, AGroupCommandSentToOneGatewayRunsEachUnitOnceOnItsOwner) {
    testing::TempFile tokens("cluster-tokens", "engineer admin root-token-0123456789\n");
    chmod(tokens.Path().c_str(), 0600);
    token = "root-token-0123456789";
    auto source = [](const std::string& id) { return "127.0.64." + id.substr(1); };
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) {
        Join(id, {"--tokens-file", tokens.Path(), "--link-source", source(id)});
    }
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));

    const auto pressed =
        Client("g1").Post("/api/groups/press/mix-down", R"({"select": "all"})", "application/json");
    ASSERT_TRUE(pressed);
    ASSERT_EQ(pressed->status, 200) << pressed->body;
    const json answer = json::parse(pressed->body);
    ASSERT_EQ(answer["units"].size(), sims.size()) << answer;
    std::string mixDown = CommandFor(FindButton("mix-down")->code).text;
    mixDown.erase(mixDown.find("\r\n"));  // as the log writes it
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const std::string& unit = sims[i]->address;
        const std::string owner = gateway::cluster::RendezvousOwner(three, unit);
        const json& entry = answer["units"][i];
        EXPECT_EQ(entry["unit"], unit);
        EXPECT_EQ(entry["outcome"], "done") << entry;
        EXPECT_EQ(entry["before"]["mixDown"], 0) << entry;
        EXPECT_EQ(entry["after"]["mixDown"], 1) << entry;
        std::vector<std::string> senders;
        for (const testing::LoggedLine& line : testing::ReadLineLog(LineLogPath(i))) {
            if (line.line == mixDown) senders.push_back(line.address);
        }
        EXPECT_EQ(senders, std::vector<std::string>{source(owner)}) << unit;
        // The owner ran it as the group's part for the token's holder; g1 recorded where it went.
        const json ran = Audit(owner, unit);
        ASSERT_EQ(ran.size(), 2u) << ran;
        EXPECT_EQ(ran[0]["who"], "engineer") << ran[0];
        EXPECT_EQ(ran[0]["group"], answer["group"]) << ran[0];
        if (owner != "g1") ExpectPassed(unit, owner, answer["group"]);
    }
}

// The owners plan and apply each unit's part; with stopOnFailure, one after another.
TEST_F(GatewayClusterTest, ASnapshotAppliedThroughOneGatewaySetsEachUnitOnceOnItsOwnerInOrder) {
    auto source = [](const std::string& id) { return "127.0.64." + id.substr(1); };
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id, {"--link-source", source(id)});
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));
    json held = json::array();
    for (const auto& sim : sims) {
        held.push_back({{"unit", sim->address}, {"name", ""}, {"settings", {{"mixDown", 1}}}});
    }
    const json snapshot{
        {"format", "vantrel-snapshot"},          {"version", 1},     {"name", "on-air"},
        {"takenAt", "2026-12-09T08:00:00.000Z"}, {"takenBy", "ops"}, {"units", held}};
    ASSERT_TRUE(client.Put(kPrefix + "snapshots/on-air", snapshot.dump()).Ok());
    for (const std::string& id : three) {
        ASSERT_TRUE(WaitUntil(
            [&] { return Client(id).Get("/api/snapshots/on-air")->status == 200; }, kLimit));
    }

    const auto planned = Client("g1").Post("/api/snapshots/on-air/validate", R"({"select": "all"})",
                                           "application/json");
    ASSERT_TRUE(planned);
    const json plans = json::parse(planned->body)["units"];
    const auto applied =
        Client("g1").Post("/api/snapshots/on-air/apply",
                          R"({"select": "all", "stopOnFailure": true})", "application/json");
    ASSERT_TRUE(applied);
    ASSERT_EQ(applied->status, 200) << applied->body;
    const json answer = json::parse(applied->body);
    ASSERT_EQ(plans.size(), sims.size()) << planned->body;
    ASSERT_EQ(answer["units"].size(), sims.size()) << answer;
    std::string mixDown = CommandFor(FindButton("mix-down")->code).text;
    mixDown.erase(mixDown.find("\r\n"));
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const std::string& unit = sims[i]->address;
        const std::string owner = gateway::cluster::RendezvousOwner(three, unit);
        EXPECT_EQ(plans[i]["plan"], json::parse(R"([{"setting":"mixDown","live":0,"snapshot":1}])"))
            << plans[i];
        const json& entry = answer["units"][i];
        EXPECT_EQ(entry["unit"], unit);
        EXPECT_EQ(entry["done"], true) << entry;
        EXPECT_EQ(entry["steps"], json::parse(R"([{"setting":"mixDown","state":"done"}])"))
            << entry;
        std::vector<testing::LoggedLine> sent;
        for (const testing::LoggedLine& line : testing::ReadLineLog(LineLogPath(i))) {
            if (line.line == mixDown) sent.push_back(line);
        }
        ASSERT_EQ(sent.size(), 1u) << unit;
        EXPECT_EQ(sent[0].address, source(owner)) << unit;
        EXPECT_GT(sent[0].micros, previous) << unit << " was sent before the unit ahead of it";
        previous = sent[0].micros;
        const json ran = Audit(owner, unit);
        ASSERT_EQ(ran.size(), 2u) << ran;
        for (const json& record : ran) {
            EXPECT_EQ(record["action"], "apply-snapshot") << record;
            EXPECT_EQ(record["group"], answer["group"]) << record;
            EXPECT_EQ(record["command"], entry["command"]) << record;
        }
        if (owner != "g1") ExpectPassed(unit, owner, answer["group"]);
    }
}

TEST_F(GatewayClusterTest, ASnapshotTakenThroughOneGatewayReadsEveryUnitOnItsOwnerAsItsDiffDoes) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit)) << json(Owners()).dump();
    const auto taken = Client("g1").Post(
        "/api/snapshots", R"({"name": "every-unit", "select": "all"})", "application/json");
    ASSERT_TRUE(taken);
    ASSERT_EQ(taken->status, 201) << taken->body;
    const json answer = json::parse(taken->body);
    ASSERT_EQ(answer["units"].size(), sims.size()) << answer;
    std::map<std::string, json> values;
    for (const json& unit : answer["snapshot"]["units"]) values[unit["unit"]] = unit["settings"];
    for (std::size_t i = 0; i < sims.size(); ++i) {
        EXPECT_EQ(answer["units"][i]["unit"], sims[i]->address);
        EXPECT_EQ(answer["units"][i]["captured"], true) << answer["units"][i];
        EXPECT_TRUE(values.count(sims[i]->address)) << sims[i]->address;
    }
    // Kept once, by g1, as every gateway holds it.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto kept = Client("g2").Get("/api/snapshots/every-unit");
            return kept && json::parse(kept->body) == answer["snapshot"];
        },
        kLimit));

    // A unit g2 drives, changed since: the diff through g1 reads it there, and it alone differs.
    std::string changed;
    for (const auto& [unit, owner] : Owners()) {
        if (owner == "g2") changed = unit;
    }
    ASSERT_FALSE(changed.empty());
    const json was = values[changed]["volume"];
    const int now = was == 10 ? 11 : 10;
    const auto set = Client("g1").Post(("/api/units/" + changed + "/level/volume").c_str(),
                                       json{{"value", now}}.dump(), "application/json");
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, 200) << set->body;
    const auto diff = Client("g1").Get("/api/snapshots/every-unit/diff");
    ASSERT_TRUE(diff);
    ASSERT_EQ(diff->status, 200) << diff->body;
    const json units = json::parse(diff->body)["units"];
    ASSERT_EQ(units.size(), sims.size()) << units;
    for (const json& unit : units) {
        EXPECT_EQ(unit["down"], false) << unit;
        const json differs =
            unit["unit"] == changed
                ? json::array({{{"setting", "volume"}, {"live", now}, {"snapshot", was}}})
                : json::array();
        EXPECT_EQ(unit["differs"], differs) << unit;
    }
}

TEST_F(GatewayClusterTest, ANamingAndASnapshotMadeThroughOneGatewayShowOnTheOthersWithinASecond) {
    const std::vector<std::string> three{"g1", "g2", "g3"}, others{"g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit));
    std::string unit;  // one that g1 drives: a change to another's is made by its owner
    for (const auto& [address, owner] : Owners()) {
        if (owner == "g1") unit = address;
    }

    const json labels{{"room", "studio-b"}};
    const auto relabeled =
        Client("g1").Put(("/api/units/" + unit + "/labels").c_str(),
                         json{{"name", "Desk-4"}, {"labels", labels}}.dump(), "application/json");
    ASSERT_TRUE(relabeled);
    ASSERT_EQ(relabeled->status, 200) << relabeled->body;
    const auto named =
        SeenWithinASecond(others, std::chrono::steady_clock::now(), [&](const std::string& id) {
            return Listed(id, "name")[unit] == "Desk-4" && Listed(id, "labels")[unit] == labels;
        });
    EXPECT_EQ(named.size(), 2u) << json(named).dump();
    RecordProperty("naming_seen_ms", json(named).dump());

    const auto taken = Client("g1").Post(
        "/api/snapshots", json{{"name", "evening"}, {"select", json::array({unit})}}.dump(),
        "application/json");
    ASSERT_TRUE(taken);
    ASSERT_EQ(taken->status, 201) << taken->body;
    const auto saved =
        SeenWithinASecond(others, std::chrono::steady_clock::now(), [&](const std::string& id) {
            const auto listed = Client(id).Get("/api/snapshots");
            return listed && listed->body.find("\"name\":\"evening\"") != std::string::npos;
        });
    EXPECT_EQ(saved.size(), 2u) << json(saved).dump();
    RecordProperty("snapshot_seen_ms", json(saved).dump());
}

// etcd not there yet at boot, or not answering within --etcd-timeout, may pass: the service
// manager is told to start it again.
TEST(GatewayClusterStartTest, AGatewayWhoseEtcdDoesNotAnswerExitsToBeStartedAgain) {
    const std::vector<int> ports = testing::FreeLoopbackPorts(3);
    const auto at = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    testing::GatewayProcess gateway({"--listen", at(ports[0]), "--etcd", "http://" + at(ports[1])});
    EXPECT_EQ(gateway.Exit(testing::GatewayCluster::kLimit), EX_TEMPFAIL);
    EXPECT_NE(gateway.Errors().find("etcd"), std::string::npos) << gateway.Errors();

    // One that takes the connection and never answers.
    const testing::Listener silent("127.0.0.1", 4, ports[2]);
    ASSERT_TRUE(silent.ok());
    testing::GatewayProcess waiting(
        {"--listen", at(ports[0]), "--etcd", "http://" + at(ports[2]), "--etcd-timeout", "300"});
    EXPECT_EQ(waiting.Exit(testing::GatewayCluster::kLimit), EX_TEMPFAIL);
    EXPECT_NE(waiting.Errors().find("no answer within 300 ms"), std::string::npos)
        << waiting.Errors();
}

// Over TLS and as an etcd user it starts; what etcd refuses, and options or files it cannot use,
// end it at once, saying why, with the status the service manager does not restart.
TEST(GatewayClusterStartTest, OverTlsAsAUserItStartsAndWhatCannotServeEndsItSayingWhy) {
    const testing::TestAuthority authority, other(false);
    testing::EtcdServer etcd({&authority});
    ASSERT_TRUE(authority.Made() && other.Made()) << authority.Log() << other.Log();
    ASSERT_TRUE(etcd.Running() && etcd.EnableAuth("gw", "gw-secret", "/vantrel/")) << etcd.Error();
    testing::TempFile password("etcd-password", "gw-secret\n"), wrong("etcd-wrong", "guess\n");
    chmod(password.Path().c_str(), 0600);
    chmod(wrong.Path().c_str(), 0600);
    const std::string listen = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPorts(1)[0]);
    const std::vector<std::pair<std::string, std::string>> given{
        {"--listen", listen},
        {"--etcd", etcd.Url()},
        {"--etcd-cacert", authority.Authority()},
        {"--etcd-cert", authority.ClientCertificate()},
        {"--etcd-key", authority.ClientKey()},
        {"--etcd-user", "gw"},
        {"--etcd-password-file", password.Path()},
        {"--etcd-timeout", testing::GatewayCluster::kEtcdTimeout}};
    // The options given, but for one option's value when named.
    const auto with = [&](const std::string& option = "", const std::string& value = "") {
        std::vector<std::string> arguments;
        for (const auto& [name, kept] : given) {
            arguments.insert(arguments.end(), {name, name == option ? value : kept});
        }
        return arguments;
    };
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {with("--etcd-cacert", other.Authority()), "the certificate it showed"},
        {with("--etcd-password-file", wrong.Path()), "refused the user gw"},
        {with("--etcd-cacert", "/nowhere.pem"), "the authorities /nowhere.pem: no such file"},
        {with("--etcd", etcd.Url() + ",http://127.0.0.1:2379"), "mixes http:// and https://"},
    };
    {
        testing::GatewayProcess serving(with());
        EXPECT_TRUE(serving.Serving(testing::GatewayCluster::kLimit)) << serving.Errors();
    }
    // All at once, as each takes a while to start.
    std::vector<std::unique_ptr<testing::GatewayProcess>> ended;
    for (const auto& refusal : refused) {
        ended.push_back(std::make_unique<testing::GatewayProcess>(refusal.first));
    }
    for (std::size_t i = 0; i < ended.size(); ++i) {
        EXPECT_EQ(ended[i]->Exit(testing::GatewayCluster::kLimit), 2) << refused[i].second;
        EXPECT_NE(ended[i]->Errors().find(refused[i].second), std::string::npos)
            << ended[i]->Errors();
    }
}

}  // namespace
}  // namespace gateway_cluster_test
}  // namespace vantrel
