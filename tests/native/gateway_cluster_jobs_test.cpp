// Firmware jobs among three gateway processes sharing simulated units through a real etcd: a
// job runs only on its units' owner, passed there whole, every gateway lists it, and once its
// owner is killed mid-update the others show it interrupted, with what the unit needs next; a
// Continue through any gateway reaches it while its owner runs it, and is refused once it is gone.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <map>
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

TEST_F(GatewayClusterJobsTest, AJobIsPassedToItsOwnerAndShownInterruptedOnceTheOwnerIsKilled) {
    const std::vector<std::string> three{"g1", "g2", "g3"};
    for (const std::string& id : three) Join(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(three); }, kLimit)) << json(Owners()).dump();
    std::map<std::string, std::string> some;  // a unit of each gateway
    for (const auto& [name, owner] : Owners()) some[owner] = name;
    ASSERT_EQ(some.size(), 3u);
    const std::string unit = some["g2"];
    std::string image(3000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    const std::string path = "/api/firmware?controller=main&units=";

    // Never split: the client is told which units go to which gateway.
    const auto split = Client("g1").Post((path + unit + "," + some["g3"]).c_str(), image,
                                         "application/octet-stream");
    ASSERT_TRUE(split);
    EXPECT_EQ(split->status, 409);
    const json owners = json::parse(split->body)["owners"];
    ASSERT_EQ(owners.size(), 2u) << split->body;
    for (std::size_t i = 0; i < owners.size(); ++i) {
        const std::string owner = i == 0 ? "g2" : "g3";
        EXPECT_EQ(owners[i]["gateway"], owner);
        EXPECT_EQ(owners[i]["url"], "http://127.0.0.1:" + std::to_string(ports[owner]));
        EXPECT_EQ(owners[i]["units"], json::array({some[owner]}));
    }
    EXPECT_EQ(json::parse(Client("g1").Get("/api/jobs")->body)["jobs"], json::array());

    // Passed whole to the units' one owner, which runs it as its own.
    const auto started =
        Client("g1").Post((path + unit).c_str(), image, "application/octet-stream");
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
    // A Continue through any gateway reaches the job where it runs.
    for (const std::string& gateway : {"g1", "g3"}) {
        const auto continued = Client(gateway).Post(("/api/jobs/" + id + "/continue").c_str(), "{}",
                                                    "application/json");
        ASSERT_TRUE(continued);
        EXPECT_EQ(continued->status, 200) << gateway << " " << continued->body;
        EXPECT_EQ(json::parse(continued->body)["job"], id) << continued->body;
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
        const auto continued = Client(gateway).Post(("/api/jobs/" + id + "/continue").c_str(), "{}",
                                                    "application/json");
        ASSERT_TRUE(continued);
        EXPECT_EQ(continued->status, 503) << continued->body;
        EXPECT_EQ(continued->get_header_value("Retry-After"), "1");
        EXPECT_NE(json::parse(continued->body)["error"].get<std::string>().find("interrupted"),
                  std::string::npos)
            << continued->body;
    }
}

}  // namespace
}  // namespace gateway_cluster_jobs_test
}  // namespace vantrel
