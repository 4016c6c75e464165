// The lease guard on a unit's transport: once the gateway's lease may have expired, nothing it
// would send reaches the console or the serial port, whatever the link was doing.
#include <gtest/gtest.h>

#include <chrono>

#include "gateway/cluster/lease.h"
#include "gateway/fleet/write_guard.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_stream.h"
#include "tests/support/manual_clock.h"
#include "tests/support/recording_serial.h"

namespace vantrel::gateway {
namespace gateway_write_guard_test {
namespace {

using cluster::EtcdError;
using cluster::EtcdFault;
using cluster::EtcdResult;
using cluster::GrantedLease;
using cluster::LeaseId;
using std::chrono::milliseconds;
using std::chrono::seconds;

/// etcd granting a lease and then out of reach: no renewal comes back.
class UnreachableAfterGrant : public cluster::LeaseService {
  public:
    EtcdResult<GrantedLease> Grant(seconds ttl) override { return GrantedLease{7, ttl}; }
    EtcdResult<seconds> KeepAlive(LeaseId) override {
        return EtcdError{EtcdFault::kUnreachable, "cut off"};
    }
    std::optional<EtcdError> Revoke(LeaseId) override { return std::nullopt; }
};

class WriteGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(lease.Start()); }

    UnreachableAfterGrant etcd;
    testing::ManualClock clock;
    cluster::Lease lease{etcd, clock, {seconds(3), milliseconds(500)}};
    MayWrite mayWrite = [this] { return lease.Held(clock.Now()); };
};

TEST_F(WriteGuardTest, AConsoleSendPastTheLeasesDeadlineNeverReachesTheStream) {
    testing::FakeClock streamClock;
    auto inner = std::make_unique<testing::FakeStream>(streamClock);
    testing::FakeStream& stream = *inner;
    GuardedStream guarded(std::move(inner), mayWrite);
    ASSERT_TRUE(guarded.Connect("127.0.0.5", 23));
    EXPECT_EQ(guarded.Send("a\r", 2), 2);

    clock.Advance(milliseconds(2499));  // the deadline: granted at 0, 3 s less the margin
    EXPECT_EQ(guarded.Send("b\r", 2), 2);
    clock.Advance(milliseconds(1));
    EXPECT_EQ(guarded.Send("c\r", 2), kTransferFailed);
    EXPECT_FALSE(guarded.Connect("127.0.0.5", 23));
    EXPECT_EQ(stream.Sent(), (std::vector<std::string>{"a\r", "b\r"}));
    EXPECT_EQ(stream.Events().front(), "connect 127.0.0.5:23");
    EXPECT_EQ(stream.Events().size(), 3U);  // the one connect and the two sends
}

TEST_F(WriteGuardTest, ASerialWriteOrOpenPastTheLeasesDeadlineNeverReachesThePort) {
    testing::SerialTrace trace;
    GuardedDevice guarded(std::make_unique<testing::RecordingSerial>(trace), mayWrite);
    ASSERT_NE(
        guarded.Open(3, 9600, ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None, false),
        kInvalidPort);
    EXPECT_EQ(guarded.Write("x", 1), 1);
    const std::size_t before = trace.size();

    clock.Advance(seconds(3));
    EXPECT_EQ(guarded.Write("y", 1), kTransferFailed);
    EXPECT_FALSE(guarded.SetBreak());
    guarded.SetRts();
    EXPECT_EQ(
        guarded.Open(3, 9600, ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None, false),
        kInvalidPort);
    EXPECT_EQ(trace.size(), before);
}

}  // namespace
}  // namespace gateway_write_guard_test
}  // namespace vantrel::gateway
