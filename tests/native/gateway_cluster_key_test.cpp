// Two gateway processes sharing simulated units through a real etcd: the headers by which one
// gateway passes a command to another (who passed it, the group it is part of, whom it is for)
// are taken only with the key the cluster keeps in etcd; without it the command is refused,
// neither run nor passed on, and nothing is recorded under the group it names.
#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gateway/cluster/rendezvous.h"
#include "gateway/net/gateway_headers.h"
#include "tests/support/gateway_cluster.h"

namespace vantrel {
namespace gateway_cluster_key_test {
namespace {

using nlohmann::json;
using testing::WaitUntil;

const std::vector<std::string> kTwo{"g1", "g2"};

class GatewayClusterKeyTest : public testing::GatewayCluster {
  protected:
    GatewayClusterKeyTest() : GatewayCluster("127.0.68.") {}

    int PressWith(const std::string& id, const std::string& unit, const httplib::Headers& headers) {
        const auto reply = Client(id).Post(("/api/units/" + unit + "/press/mute").c_str(), headers,
                                           "{}", "application/json");
        return reply ? reply->status : 0;
    }
    json Audit(const std::string& id, const std::string& unit) {
        const auto reply = Client(id).Get(("/api/audit?unit=" + unit).c_str());
        return reply && reply->status == 200 ? json::parse(reply->body)["entries"] : json();
    }
};

TEST_F(GatewayClusterKeyTest, OnlyAGatewayWithTheClustersKeyMayPassACommandForAGroupOrAnother) {
    for (const std::string& id : kTwo) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(kTwo); }, kLimit)) << json(Owners()).dump();
    const auto stored = client.Get(kPrefix + "cluster-key");
    ASSERT_TRUE(stored.Ok() && stored.Value().kvs.size() == 1);
    const std::string key = stored.Value().kvs.front().value;
    EXPECT_EQ(key.size(), 64u);
    const std::string unit = sims.front()->address;
    const std::string owner = gateway::cluster::RendezvousOwner(kTwo, unit);
    const std::string other = owner == "g1" ? "g2" : "g1";
    const int muteBefore = sims.front()->unit.State().muted;

    // Without the key, or with another, to the owner or through the other gateway: refused.
    for (const std::string& to : {owner, other}) {
        for (const httplib::Headers& forged : std::vector<httplib::Headers>{
                 {{gateway::kForwardedBy, other}, {gateway::kPartOf, "forged"}},
                 {{gateway::kPartOf, "forged"}},
                 {{gateway::kOnBehalfOf, "ember 127.0.0.9"}},
                 {{gateway::kForwardedBy, other},
                  {gateway::kPartOf, "forged"},
                  {gateway::kClusterKey, std::string(key.size(), '0')}}}) {
            EXPECT_EQ(PressWith(to, unit, forged), 403) << to;
        }
    }
    EXPECT_EQ(sims.front()->unit.State().muted, muteBefore);
    EXPECT_EQ(Audit(owner, unit), json::array());
    EXPECT_EQ(Audit(other, unit), json::array());

    // With it, the owner records the group, the gateway that passed it and whom it was for.
    const httplib::Headers keyed{{gateway::kForwardedBy, other},
                                 {gateway::kPartOf, "g-7"},
                                 {gateway::kOnBehalfOf, "ember 127.0.0.9"},
                                 {gateway::kClusterKey, key}};
    EXPECT_EQ(PressWith(owner, unit, keyed), 200);
    EXPECT_NE(sims.front()->unit.State().muted, muteBefore);
    const json entries = Audit(owner, unit);
    ASSERT_EQ(entries.size(), 2u) << entries;  // begun and ended
    for (const json& entry : entries) {
        EXPECT_EQ(entry["group"], "g-7");
        EXPECT_EQ(entry["via"], other);
        EXPECT_EQ(entry["who"], "ember");
        EXPECT_EQ(entry["from"], "127.0.0.9");
    }
}

}  // namespace
}  // namespace gateway_cluster_key_test
}  // namespace vantrel
