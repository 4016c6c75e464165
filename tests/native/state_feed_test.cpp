#include <gtest/gtest.h>

#include "gateway/cluster/etcd_store.h"
#include "gateway/cluster/state_feed.h"
#include "tests/support/etcd_server.h"
#include "tests/support/running_gateway.h"

namespace vantrel::gateway::cluster {
namespace state_feed_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

std::string OwnerKey(const std::string& unit) {
    return std::string(kDefaultEtcdPrefix) + "owners/" + unit;
}

// One gateway's feed, and the states it was told of. It holds a unit while its owner key
// holds `id`.
struct Feed {
    Feed(EtcdClient& etcd, const HttpPlace& member, const std::string& id)
        : feed(
              etcd, {member}, kDefaultEtcdPrefix, milliseconds(2000),
              [id](const std::string& unit) {
                  return std::optional(Hold{Condition::ValueOf(OwnerKey(unit), id), 0});
              },
              [this](const std::string& unit, const json& state) {
                  std::lock_guard<std::mutex> lock(mutex);
                  told.emplace_back(unit, state);
              }) {}
    // Shown, and told: the feed tells of a state just after it shows it.
    bool Shows(const std::string& unit, const json& state, milliseconds within) {
        return testing::WaitUntil(
            [&] { return feed.StateOf(unit) == state && Told(unit, state) > 0; }, within);
    }
    std::size_t Told(const std::string& unit, const json& state) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::count(told.begin(), told.end(), std::pair(unit, state));
    }

    std::mutex mutex;
    std::vector<std::pair<std::string, json>> told;
    StateFeed feed;  // last: it tells from its threads once made
};

class StateFeedTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(etcd.Running()) << etcd.Error(); }

    void Own(const std::string& unit, const std::string& id) {
        ASSERT_TRUE(client.Put(OwnerKey(unit), id).Ok());
    }

    std::int64_t Revision(const std::string& unit) {
        const auto read = client.Get(std::string(kDefaultEtcdPrefix) + "state/" + unit);
        return read.Ok() && !read.Value().kvs.empty() ? read.Value().kvs[0].modRevision : 0;
    }

    static json State(const std::string& unit, const std::string& link) {
        return {{"unit", unit}, {"link", link}};
    }

    testing::EtcdServer etcd;
    EtcdClient client{{etcd.Place()}, milliseconds(2000)};
};

TEST_F(StateFeedTest, AStatePublishedByItsOwnerShowsOnEveryGatewayWithinASecond) {
    Feed owner(client, etcd.Place(), "gw1"), other(client, etcd.Place(), "gw2");
    Own("a", "gw1");
    owner.feed.Changed("a", State("a", "up").dump());
    EXPECT_TRUE(other.Shows("a", State("a", "up"), milliseconds(1000)));
    EXPECT_EQ(other.Told("a", State("a", "up")), 1u);
    EXPECT_EQ(other.feed.States().size(), 1u);

    // One that starts later reads what is there.
    Feed late(client, etcd.Place(), "gw3");
    EXPECT_TRUE(late.Shows("a", State("a", "up"), milliseconds(1000)));
    EXPECT_EQ(late.Told("a", State("a", "up")), 1u);
}

TEST_F(StateFeedTest, AStateIsPutOnlyWhenEtcdHoldsAnotherOne) {
    Feed owner(client, etcd.Place(), "gw1"), other(client, etcd.Place(), "gw2");
    Own("a", "gw1");
    Own("b", "gw1");
    owner.feed.Changed("a", State("a", "up").dump());
    ASSERT_TRUE(other.Shows("a", State("a", "up"), milliseconds(1000)));
    const std::int64_t put = Revision("a");

    owner.feed.Changed("a", State("a", "up").dump());
    owner.feed.Changed("b", State("b", "up").dump());  // after "a", in the same turn or a later
    ASSERT_TRUE(other.Shows("b", State("b", "up"), milliseconds(1000)));
    EXPECT_EQ(Revision("a"), put);
    EXPECT_EQ(other.Told("a", State("a", "up")), 1u);

    // A unit handed to another gateway and back: its state there is not the one put here
    // before, so the same state is put again.
    Own("a", "gw2");
    other.feed.Changed("a", State("a", "down").dump());
    ASSERT_TRUE(owner.Shows("a", State("a", "down"), milliseconds(1000)));
    Own("a", "gw1");
    owner.feed.Changed("a", State("a", "up").dump());
    EXPECT_TRUE(other.Shows("a", State("a", "up"), milliseconds(1000)));
}

TEST_F(StateFeedTest, AStateStillOnItsWayWhenTheUnitMovedIsNotPutOverTheNewOwners) {
    Feed old(client, etcd.Place(), "gw1"), next(client, etcd.Place(), "gw2");
    Own("a", "gw2");
    Own("b", "gw1");
    next.feed.Changed("a", State("a", "up").dump());
    ASSERT_TRUE(old.Shows("a", State("a", "up"), milliseconds(1000)));

    old.feed.Changed("a", State("a", "down").dump());  // the old owner's link closing, late
    old.feed.Changed("b", State("b", "up").dump());    // after "a", in the same turn or a later
    ASSERT_TRUE(next.Shows("b", State("b", "up"), milliseconds(1000)));
    EXPECT_EQ(client.Get(std::string(kDefaultEtcdPrefix) + "state/a").Value().kvs.at(0).value,
              State("a", "up").dump());
    EXPECT_EQ(next.Told("a", State("a", "down")), 0u);
}

TEST_F(StateFeedTest, TheLastStatesStayWhileEtcdIsGoneAndTheFeedResumesWhenItReturns) {
    Feed owner(client, etcd.Place(), "gw1"), other(client, etcd.Place(), "gw2");
    Own("a", "gw1");
    owner.feed.Changed("a", State("a", "up").dump());
    ASSERT_TRUE(other.Shows("a", State("a", "up"), milliseconds(1000)));

    etcd.Stop();
    owner.feed.Changed("a", State("a", "down").dump());
    EXPECT_EQ(other.feed.StateOf("a"), State("a", "up"));
    ASSERT_TRUE(etcd.Start()) << etcd.Error();
    EXPECT_TRUE(other.Shows("a", State("a", "down"), milliseconds(10000)));
}

}  // namespace
}  // namespace state_feed_test
}  // namespace vantrel::gateway::cluster
