// Three gateway processes sharing simulated units through a real etcd: each unit owned by
// exactly the gateway rendezvous hashing gives it, taken over when its owner dies, handed to a
// gateway that joins, and nothing driven while etcd is gone, until it is back; any gateway
// lists every unit and passes a command to the unit's owner.
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

#include "gateway/cluster/rendezvous.h"
#include "tests/support/etcd_server.h"
#include "tests/support/gateway_cluster.h"
#include "tests/support/gateway_process.h"
#include "tests/support/temp_file.h"
#include "tests/support/test_authority.h"
#include "unit/buttons.h"
#include "unit/command_table.h"

namespace vantrel {
namespace {

using nlohmann::json;
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

    json Audit(const std::string& id, const std::string& unit) {
        const auto reply = Client(id).Get(("/api/audit?unit=" + unit).c_str());
        return reply ? json::parse(reply->body)["entries"] : json();
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

    const auto killed = std::chrono::steady_clock::now();
    gateways["g2"]->Signal(SIGKILL);
    const std::vector<std::string> two{"g1", "g3"};
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(two); }, kLimit)) << json(Owners()).dump();
    // The lease's time to live, then a claim and a connection.
    EXPECT_LT(testing::SecondsSince(killed), kTtl.count() + 3.0);
    for (const std::string& unit : lost) {
        EXPECT_EQ(Press(gateway::cluster::RendezvousOwner(two, unit), unit), 200) << unit;
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

// etcd not there yet at boot may pass: the service manager is told to start it again.
TEST(GatewayClusterStartTest, AGatewayWhoseEtcdDoesNotAnswerExitsToBeStartedAgain) {
    const std::vector<int> ports = testing::FreeLoopbackPorts(2);
    testing::GatewayProcess gateway({"--listen", "127.0.0.1:" + std::to_string(ports[0]), "--etcd",
                                     "http://127.0.0.1:" + std::to_string(ports[1])});
    EXPECT_EQ(gateway.Exit(testing::GatewayCluster::kLimit), EX_TEMPFAIL);
    EXPECT_NE(gateway.Errors().find("etcd"), std::string::npos) << gateway.Errors();
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
        {"--etcd-password-file", password.Path()}};
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
}  // namespace vantrel
