// The firmware jobs the gateways publish, as every gateway shows them: a job whose gateway is
// gone, or back under another lease, before it finished is interrupted, each unit saying what
// it needs next by how far its update had gone; what had ended, and a finished job, stay.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "gateway/cluster/shared_jobs.h"

namespace vantrel::gateway::cluster {
namespace cluster_shared_jobs_test {
namespace {

using nlohmann::json;

json Unit(const std::string& name, const std::string& state) {
    return {{"unit", name}, {"state", state}, {"done", 0}, {"total", 0}, {"error", ""}};
}

json Job(const std::string& gateway, const std::string& controller, bool finished, json units) {
    return json::parse(PublishedJob(json{{"job", gateway + "-a-1"},
                                         {"gateway", gateway},
                                         {"controller", controller},
                                         {"finished", finished},
                                         {"interrupted", false},
                                         {"units", std::move(units)}}
                                        .dump(),
                                    "a"));
}

TEST(ClusterSharedJobsTest, AnUnfinishedJobOfAGatewayNoLongerUnderItsLeaseIsInterrupted) {
    const json cut = json::array(
        {Unit("u1", "done"), Unit("u2", "running"), Unit("u3", "queued"), Unit("u4", "failed")});
    const std::map<std::string, json> jobs = SharedJobs(
        {{"live", Job("g1", "main", false, cut)},
         {"main", Job("g2", "main", false, cut)},
         {"net", Job("g2", "net", false, json::array({Unit("u5", "power-cycle")}))},
         {"ended", Job("g2", "main", true, json::array({Unit("u6", "done")}))}},
        [](const std::string& id, const std::string& lease) { return id == "g1" && lease == "a"; });

    // A job its gateway still runs is shown as published, without the lease.
    json live = Job("g1", "main", false, cut);
    live.erase("lease");
    EXPECT_EQ(jobs.at("live"), live);

    // Cut mid-way, the units that had ended keep their outcome; one not begun is untouched.
    json main = jobs.at("main");  // not const: a key missing reads as null
    EXPECT_EQ(main["interrupted"], true);
    EXPECT_EQ(main["finished"], false);
    EXPECT_FALSE(main.contains("lease"));
    EXPECT_EQ(main["units"][0], cut[0]);
    EXPECT_EQ(main["units"][3], cut[3]);
    EXPECT_EQ(main["units"][2]["state"], "interrupted");
    EXPECT_EQ(main["units"][2]["needs"], "start-update");
    json net = jobs.at("net")["units"][0];
    EXPECT_EQ(net["needs"], "restart-update");
    EXPECT_NE(net["error"].get<std::string>().find("power-cycle"), std::string::npos);
    EXPECT_EQ(jobs.at("ended")["interrupted"], false);
}

}  // namespace
}  // namespace cluster_shared_jobs_test
}  // namespace vantrel::gateway::cluster
