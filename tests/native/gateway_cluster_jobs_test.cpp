// Firmware jobs among three gateway processes sharing simulated units through a real etcd: a
// job runs only on its units' owner, every gateway lists it, and once its owner is killed
// mid-update the others show it interrupted, with what the unit needs next.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/gateway_cluster.h"

namespace vantrel {
namespace gateway_cluster_jobs_test {
namespace {

using nlohmann::json;
using testing::WaitUntil;

class GatewayClusterJobsTest : public testing::GatewayCluster {
  protected:
    // The loader takes this long to take the image's size: an update lasts long enough to be
    // cut.
    GatewayClusterJobsTest() : GatewayCluster("127.0.64.") {
        unitFaults.loader.lateDownloadMs = 4000;
    }

    /// The job `id` as the gateway lists it; null when it lists it not, or not once.
    json Listed(const std::string& gateway, const std::string& id) {
        const auto reply = Client(gateway).Get("/api/jobs");
        if (!reply || reply->status != 200) return nullptr;
        const json listed = json::parse(reply->body);
        json found;
        for (const json& job : listed["jobs"]) {
            if (job["job"] != id) continue;
            if (!found.is_null()) return nullptr;
            found = job;
        }
        return found;
    }
};

TEST_F(GatewayClusterJobsTest, AJobRunsOnItsOwnerAndIsShownInterruptedOnceTheOwnerIsKilled) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit)) << json(Owners()).dump();
    std::string unit;
    for (const auto& [name, owner] : Owners()) {
        if (owner == "g2") unit = name;
    }
    ASSERT_FALSE(unit.empty());
    std::string image(3000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    const std::string path = "/api/firmware?controller=main&units=" + unit;

    // Not passed on: the job is refused where the unit is not driven, naming its owner.
    const auto elsewhere = Client("g1").Post(path.c_str(), image, "application/octet-stream");
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 409);
    EXPECT_NE(elsewhere->body.find("the gateway g2"), std::string::npos) << elsewhere->body;
    EXPECT_EQ(json::parse(Client("g1").Get("/api/jobs")->body)["jobs"], json::array());

    const auto started = Client("g2").Post(path.c_str(), image, "application/octet-stream");
    ASSERT_TRUE(started);
    ASSERT_EQ(started->status, 202) << started->body;
    const std::string id = json::parse(started->body)["job"].get<std::string>();
    // Every gateway lists the job as its owner runs it, before the owner goes.
    for (const std::string& gateway : three) {
        json job;
        ASSERT_TRUE(WaitUntil(
            [&] {
                job = Listed(gateway, id);
                return !job.is_null() && job["units"][0]["state"] == "running";
            },
            kLimit))
            << gateway << " " << job.dump();
        EXPECT_EQ(job["gateway"], "g2");
        EXPECT_EQ(job["interrupted"], false);
    }

    gateways["g2"]->Signal(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    for (const std::string& gateway : {"g1", "g3"}) {
        json job;
        ASSERT_TRUE(WaitUntil(
            [&] {
                job = Listed(gateway, id);
                return !job.is_null() && job["interrupted"] == true;
            },
            kLimit))
            << gateway << " " << job.dump();
        // The lease's time to live, then the member key's deletion seen.
        EXPECT_LT(testing::SecondsSince(killed), kTtl.count() + 3.0);
        EXPECT_EQ(job["gateway"], "g2");
        EXPECT_EQ(job["finished"], false);
        EXPECT_EQ(job["units"][0]["state"], "interrupted");
        EXPECT_EQ(job["units"][0]["needs"], "restart-update");
        EXPECT_NE(job["units"][0]["error"].get<std::string>().find("start the update again"),
                  std::string::npos);
        const auto read = Client(gateway).Get(("/api/jobs/" + id).c_str());
        ASSERT_TRUE(read);
        EXPECT_EQ(json::parse(read->body), job);
    }
}

}  // namespace
}  // namespace gateway_cluster_jobs_test
}  // namespace vantrel
