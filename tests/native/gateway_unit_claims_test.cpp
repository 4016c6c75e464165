// One gateway's claims against a real etcd, its units on fake links: it claims every unit while
// alone, and when another member appears it lets that member's share go, each only once its
// link is closed, and keeps a unit whose firmware update runs until the update has ended.
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>

#include "gateway/cluster/rendezvous.h"
#include "gateway/cluster/unit_claims.h"
#include "tests/support/etcd_server.h"
#include "tests/support/fake_unit_link.h"
#include "tests/support/running_gateway.h"

namespace vantrel::gateway::cluster {
namespace gateway_unit_claims_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::WaitUntil;

constexpr seconds kLimit{10};
const std::string kPrefix = "/claims/";

class UnitClaimsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(etcd.Running()) << etcd.Error();
        for (int i = 1; i <= 8; ++i) {
            const std::string unit = "u" + std::to_string(i);
            names.push_back(unit);
            units.Add(unit, clients::Target{unit, false, 0}, nullptr);
        }
        units.Start();
        claims.Start();
    }
    void TearDown() override {
        claims.Stop();
        units.Stop();
    }

    std::string OwnerOf(const std::string& unit) {
        const auto read = client.Get(kPrefix + "owners/" + unit);
        if (!read.Ok() || read.Value().kvs.empty()) return "";
        return nlohmann::json::parse(read.Value().kvs.front().value).value("id", "");
    }
    bool Up(const std::string& unit) { return units.Find(unit)->Snapshot().link == LinkState::Up; }

    testing::EtcdServer etcd;
    EtcdClient client{{etcd.Place()}, milliseconds(2000)};
    Units units{WaitableClock::System(),
                [](const clients::Target&, const std::atomic<int32_t>&) {
                    return std::make_unique<testing::FakeUnitLink>();
                },
                [] {
                    MonitorOptions options;
                    options.driven = false;
                    return options;
                }()};
    UnitClaims claims{client,
                      {{etcd.Place()}, kPrefix, seconds(2), {"a", "http://127.0.0.1:1"}, {}},
                      units,
                      WaitableClock::System(),
                      nullptr};
    /// Starts a command on `unit` that holds its link until `release` is ready (marked a
    /// firmware update when `firmware`), once it has begun.
    void Hold(const std::string& unit, std::shared_future<void> release, bool firmware) {
        // Shared: the command may still be inside set_value as this returns.
        auto begun = std::make_shared<std::promise<void>>();
        ASSERT_EQ(units.Find(unit)->Submit({[begun, release](UnitLink&) {
                                                begun->set_value();
                                                release.wait();
                                                return false;
                                            },
                                            [](CommandEnd) {}, nullptr, firmware}),
                  Queued::kYes);
        begun->get_future().wait();
    }

    std::vector<std::string> names;
};

TEST_F(UnitClaimsTest, AMembersShareIsLetGoOnceClosedButNotDuringAFirmwareUpdate) {
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& unit : names) {
                if (OwnerOf(unit) != "a" || !Up(unit)) return false;
            }
            return true;
        },
        kLimit));
    EXPECT_EQ(claims.OwnerOf("u1").where, Ownership::kHere);
    EXPECT_EQ(claims.Figures().unitsOwned, names.size());

    std::vector<std::string> moving;
    for (const std::string& unit : names) {
        if (RendezvousOwner({"a", "b"}, unit) == "b") moving.push_back(unit);
    }
    ASSERT_GE(moving.size(), 2U);  // these names give b a share
    const std::string updating = moving.front();
    std::promise<void> updated;
    std::shared_future<void> ended = updated.get_future().share();
    ASSERT_NO_FATAL_FAILURE(Hold(updating, ended, true));

    ASSERT_TRUE(client.Put(kPrefix + "members/b", R"({"id":"b","url":"http://127.0.0.1:2"})").Ok());
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (std::size_t i = 1; i < moving.size(); ++i) {
                if (OwnerOf(moving[i]) != "" || !units.Find(moving[i])->Parked()) return false;
            }
            return true;
        },
        kLimit));
    EXPECT_EQ(claims.OwnerOf(moving[1]).where, Ownership::kNobody);
    EXPECT_EQ(OwnerOf(updating), "a");
    EXPECT_TRUE(Up(updating));
    for (const std::string& unit : names) {
        if (RendezvousOwner({"a", "b"}, unit) == "a") {
            EXPECT_EQ(OwnerOf(unit), "a") << unit;
        }
    }

    updated.set_value();
    ASSERT_TRUE(WaitUntil([&] { return OwnerOf(updating).empty(); }, kLimit));
    EXPECT_TRUE(units.Find(updating)->Parked());
}

// The guard lets lines through while any lease is held: a link still busy with a command when
// the lease was lost would send on under the next one, to a unit another gateway owns by then.
TEST_F(UnitClaimsTest, ALostLeaseIsReplacedOnlyOnceEveryLinkIsClosed) {
    ASSERT_TRUE(WaitUntil([&] { return OwnerOf("u1") == "a" && Up("u1"); }, kLimit));
    std::promise<void> finish;
    std::shared_future<void> finished = finish.get_future().share();
    // Ends the command however the test ends, so that the units can stop.
    std::unique_ptr<std::promise<void>, void (*)(std::promise<void>*)> ending(
        &finish, [](std::promise<void>* promise) { promise->set_value(); });
    ASSERT_NO_FATAL_FAILURE(Hold("u1", finished, false));

    const std::string lease = claims.Signature()["lease"];
    ASSERT_FALSE(client.Revoke(static_cast<LeaseId>(std::stoull(lease, nullptr, 16))));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& unit : names) {
                if (unit != "u1" && !units.Find(unit)->Parked()) return false;
            }
            return !claims.MayWrite();
        },
        kLimit));
    EXPECT_FALSE(WaitUntil([&] { return claims.MayWrite(); }, seconds(1)));
    EXPECT_FALSE(units.Find("u1")->Parked());

    ending.reset();  // the command ends
    ASSERT_TRUE(WaitUntil([&] { return claims.MayWrite(); }, kLimit));
    ASSERT_TRUE(WaitUntil([&] { return OwnerOf("u1") == "a" && Up("u1"); }, kLimit));
    EXPECT_NE(claims.Signature()["lease"], lease);
}

}  // namespace
}  // namespace gateway_unit_claims_test
}  // namespace vantrel::gateway::cluster
