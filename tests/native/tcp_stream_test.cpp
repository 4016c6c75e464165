#include "unit/tcp_stream.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/listener.h"
#include "tests/support/stepping_clock.h"

namespace vantrel {
namespace tcp_stream_test {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using testing::Listener;

Ms Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start);
}

class TcpStreamTest : public ::testing::Test {
  protected:
    std::atomic<int32_t> stop{0};
    TcpStream stream{stop, SystemClock::Instance()};
};

TEST_F(TcpStreamTest, ConnectFailsWhenNothingListensOrTheAddressIsBlank) {
    EXPECT_FALSE(stream.Connect("127.0.0.31", 23));
    EXPECT_FALSE(stream.Connect("0.0.0.0", 23));
    EXPECT_FALSE(stream.Connect("not an address", 23));
    EXPECT_EQ(stream.Receive(nullptr, 0), -1);
    EXPECT_EQ(stream.Send("x", 1), -1);
}

TEST_F(TcpStreamTest, CarriesBytesBothWaysAndSeesThePeerClose) {
    Listener listener("127.0.0.32", 4);
    ASSERT_TRUE(listener.ok());
    ASSERT_TRUE(stream.Connect("127.0.0.32", 23));
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(stream.Send("STA1\r\n", 6), 6);
    char got[16] = {};
    EXPECT_EQ(recv(peer, got, sizeof got, 0), 6);
    EXPECT_STREQ(got, "STA1\r\n");
    EXPECT_EQ(send(peer, "12\r\n", 4, 0), 4);
    char reply[450];
    EXPECT_EQ(stream.Receive(reply, sizeof reply), 4);
    close(peer);
    EXPECT_EQ(stream.Receive(reply, sizeof reply), 0);
    // A send into a closed connection fails rather than raising SIGPIPE.
    int result = 0;
    for (int i = 0; i < 10 && result != -1; ++i) {
        result = stream.Send("BTN1\r\n", 6);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(result, -1);
}

TEST_F(TcpStreamTest, ReceiveFromASilentPeerGivesUpAfterTheTimeLimit) {
    Listener listener("127.0.0.33", 4);
    ASSERT_TRUE(listener.ok());
    testing::SteppingClock clock(1000ms);
    TcpStream fast(stop, clock);
    ASSERT_TRUE(fast.Connect("127.0.0.33", 23));
    char reply[450];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fast.Receive(reply, sizeof reply), -1);
    // Three 100 ms slices of real waiting: the limit is measured on the stream's clock.
    EXPECT_GE(Since(start), 250ms);
    EXPECT_LT(Since(start), 1000ms);
}

TEST_F(TcpStreamTest, ReceiveFailsWithin100MsOfTheStopFlag) {
    Listener listener("127.0.0.34", 4);
    ASSERT_TRUE(listener.ok());
    ASSERT_TRUE(stream.Connect("127.0.0.34", 23));
    std::chrono::steady_clock::time_point stoppedAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stoppedAt = std::chrono::steady_clock::now();
        stop = 1;
    });
    auto start = std::chrono::steady_clock::now();
    char reply[450];
    EXPECT_EQ(stream.Receive(reply, sizeof reply), -1);
    const auto returnedAt = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_GE(returnedAt - start, 250ms);
    // Measured from the flag, not from the start: on a loaded machine the stopper itself may
    // wake late. One 100 ms slice, and room for the loaded machine.
    EXPECT_LT(returnedAt - stoppedAt, 300ms);
}

TEST_F(TcpStreamTest, DataAlreadyWaitingIsReadEvenAfterTheStopFlag) {
    Listener listener("127.0.0.35", 4);
    ASSERT_TRUE(listener.ok());
    ASSERT_TRUE(stream.Connect("127.0.0.35", 23));
    int peer = listener.Accept();
    send(peer, "S", 1, 0);
    stop = 1;
    char reply[450];
    EXPECT_EQ(stream.Receive(reply, sizeof reply), 1);
    close(peer);
}

TEST_F(TcpStreamTest, ConnectThatHangsEndsWithin100MsOfTheStopFlag) {
    // A backlog of 0 takes one connection; the kernel then drops further attempts' SYNs, so
    // the next connect hangs as it would towards a unit that does not answer.
    Listener listener("127.0.0.36", 0);
    ASSERT_TRUE(listener.ok());
    TcpStream filler(stop, SystemClock::Instance());
    ASSERT_TRUE(filler.Connect("127.0.0.36", 23));
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = 1;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stream.Connect("127.0.0.36", 23));
    stopper.join();
    EXPECT_GE(Since(start), 250ms);
    EXPECT_LT(Since(start), 500ms);
}

TEST_F(TcpStreamTest, ConnectThatHangsEndsAtItsLimitWhenGivenOne) {
    Listener listener("127.0.0.37", 0);
    ASSERT_TRUE(listener.ok());
    TcpStream filler(stop, SystemClock::Instance());
    ASSERT_TRUE(filler.Connect("127.0.0.37", 23));
    testing::SteppingClock clock(1000ms);
    TcpStream limited(stop, clock);
    limited.SetConnectLimit(3000ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(limited.Connect("127.0.0.37", 23));
    // Three 100 ms slices of real waiting: the limit is measured on the stream's clock.
    EXPECT_GE(Since(start), 250ms);
    EXPECT_LT(Since(start), 1000ms);
    // Without one, a connect still waits on the stop flag alone.
    limited.SetConnectLimit(std::nullopt);
    std::thread stopper([&] {
        std::this_thread::sleep_for(600ms);
        stop = 1;
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(limited.Connect("127.0.0.37", 23));
    stopper.join();
    EXPECT_GE(Since(start), 550ms);
}

}  // namespace
}  // namespace tcp_stream_test
}  // namespace vantrel
