#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/lease.h"
#include "tests/support/etcd_server.h"
#include "tests/support/manual_clock.h"
#include "tests/support/running_gateway.h"

namespace vantrel::gateway::cluster {
namespace lease_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::WaitUntil;

/// etcd as the lease sees it: a grant of 6 s, and renewals answered as the test says.
class FakeLeases : public LeaseService {
  public:
    std::function<EtcdResult<seconds>()> renewal = [] { return seconds(6); };
    std::atomic<int> renewals{0};
    std::atomic<LeaseId> revoked{0};

    EtcdResult<GrantedLease> Grant(seconds ttl) override { return GrantedLease{42, ttl}; }
    EtcdResult<seconds> KeepAlive(LeaseId) override {
        auto answer = renewal();
        ++renewals;
        return answer;
    }
    std::optional<EtcdError> Revoke(LeaseId lease) override {
        revoked = lease;
        return std::nullopt;
    }
};

class LeaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(lease.Start());
        start = clock.Now();
    }
    /// Moves the clock on to the next renewal, and waits until its answer is taken.
    void Renewal(int count) {
        ASSERT_TRUE(WaitUntil([&] { return clock.Waiting() == 1; }, seconds(5)));
        clock.Advance(seconds(2));
        ASSERT_TRUE(
            WaitUntil([&] { return etcd.renewals == count && clock.Waiting() == 1; }, seconds(5)));
    }

    FakeLeases etcd;
    testing::ManualClock clock;
    Lease lease{etcd, clock, {seconds(6), milliseconds(1000)}};
    Clock::TimePoint start;
};

TEST_F(LeaseTest, IsHeldUntilTheLastAnsweredRenewalWasSentPlusItsTimeToLiveLessTheMargin) {
    EXPECT_EQ(lease.Deadline(), start + seconds(5));
    Renewal(1);  // sent 2 s in, a third of the time to live
    EXPECT_EQ(lease.Deadline(), start + seconds(7));
    EXPECT_TRUE(lease.Held(start + milliseconds(6999)));
    EXPECT_FALSE(lease.Held(start + seconds(7)));
}

TEST_F(LeaseTest, APauseBetweenARenewalAndItsAnswerIsNotCountedAsHeld) {
    // The process stops for 10 s after sending: etcd took the renewal at once, then let the
    // lease expire while the answer waited. The renewal sent at once after it is not answered.
    etcd.renewal = [this, paused = false]() mutable {
        if (paused) return EtcdResult<seconds>(EtcdError{EtcdFault::kUnreachable, "cut off"});
        paused = true;
        clock.Advance(seconds(10));
        return EtcdResult<seconds>(seconds(6));
    };
    Renewal(2);
    EXPECT_EQ(lease.Deadline(), start + seconds(7));
    EXPECT_FALSE(lease.Held(clock.Now()));
}

TEST_F(LeaseTest, RenewalsUnansweredLetTheDeadlinePassAndAnAnsweredOneBringsItBack) {
    etcd.renewal = [] { return EtcdResult<seconds>(EtcdError{EtcdFault::kUnreachable, "down"}); };
    Renewal(1);
    Renewal(2);
    EXPECT_EQ(lease.Deadline(), start + seconds(5));
    EXPECT_FALSE(lease.Held(clock.Now() + seconds(1)));
    etcd.renewal = [] { return EtcdResult<seconds>(seconds(6)); };
    Renewal(3);  // sent 6 s in
    EXPECT_EQ(lease.Deadline(), start + seconds(11));
}

TEST_F(LeaseTest, ALeaseGoneFromEtcdIsHeldNoLongerNorRenewed) {
    etcd.renewal = [] { return EtcdResult<seconds>(EtcdError{EtcdFault::kNoLease, "gone"}); };
    ASSERT_TRUE(WaitUntil([&] { return clock.Waiting() == 1; }, seconds(5)));
    clock.Advance(seconds(2));
    ASSERT_TRUE(WaitUntil([&] { return !lease.Held(start); }, seconds(5)));
    EXPECT_EQ(etcd.renewals, 1);
}

TEST(LeaseOnEtcd, RenewalsKeepItsKeysPastTheirTimeToLiveAndTheyGoWithIt) {
    testing::EtcdServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    EtcdClient client{{server.Place()}, milliseconds(2000)};
    auto lease = std::make_unique<Lease>(client, WaitableClock::System(),
                                         Lease::Timing{seconds(2), milliseconds(200)});
    ASSERT_FALSE(lease->Start());
    const auto granted = lease->Deadline();
    ASSERT_TRUE(client.Put("/owned", "me", lease->Id()).Ok());
    // A renewal sent past the first time to live has come back.
    ASSERT_TRUE(
        WaitUntil([&] { return lease->Deadline() > granted + milliseconds(2500); }, seconds(8)));
    EXPECT_TRUE(lease->Held(WaitableClock::System().Now()));
    EXPECT_EQ(client.Get("/owned").Value().kvs.size(), 1u);
    lease.reset();
    EXPECT_TRUE(client.Get("/owned").Value().kvs.empty());
}

}  // namespace
}  // namespace lease_test
}  // namespace vantrel::gateway::cluster
