// The Winsock console stream under Wine, against a listener of the test's own on 127.0.0.1.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "unit/tcp_stream.h"

namespace vantrel {
namespace tcp_stream_win32_test {
namespace {

using namespace std::chrono_literals;

class TcpStreamWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof addr;
        ASSERT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(m_listener, 4), 0);
        ASSERT_EQ(getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length), 0);
        m_port = ntohs(addr.sin_port);
    }
    void TearDown() override {
        closesocket(m_listener);
        WSACleanup();
    }

    SOCKET m_listener = INVALID_SOCKET;
    uint16_t m_port = 0;
    std::atomic<int32_t> stop{0};
    TcpStream stream{stop, SystemClock::Instance()};
};

TEST_F(TcpStreamWin32Test, CarriesBytesBothWays) {
    ASSERT_TRUE(stream.Connect("127.0.0.1", m_port));
    SOCKET peer = accept(m_listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    EXPECT_EQ(stream.Send("STA1\r\n", 6), 6);
    char got[16] = {};
    EXPECT_EQ(recv(peer, got, sizeof got, 0), 6);
    EXPECT_STREQ(got, "STA1\r\n");
    EXPECT_EQ(send(peer, "12\r\n", 4, 0), 4);
    char reply[450];
    EXPECT_EQ(stream.Receive(reply, sizeof reply), 4);
    closesocket(peer);
    EXPECT_EQ(stream.Receive(reply, sizeof reply), 0);
    stream.Close();
    stream.Close();
}

TEST_F(TcpStreamWin32Test, ReceiveFailsSoonAfterTheStopFlag) {
    ASSERT_TRUE(stream.Connect("127.0.0.1", m_port));
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = 1;
    });
    auto start = std::chrono::steady_clock::now();
    char reply[450];
    EXPECT_EQ(stream.Receive(reply, sizeof reply), -1);
    stopper.join();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 800ms);
}

// The real clock, counting the stream's looks at it: a wait that spins looks at it on every
// turn, one that waits in slices about ten times a second.
class CountingClock : public Clock {
  public:
    void Sleep(Duration pause) override { SystemClock::Instance().Sleep(pause); }
    TimePoint Now() override {
        ++looks;
        return SystemClock::Instance().Now();
    }
    std::atomic<int> looks{0};
};

// Winsock reports urgent data in select's error set until it is read, though recv and send
// would block: waits that took that for readiness turned for their whole time limit. (Wine
// shows it to the wait of a blocked send; a receive's wait did not turn there even before.)
TEST_F(TcpStreamWin32Test, UrgentDataMakesNoWaitSpinAndNeverReachesTheReader) {
    CountingClock clock;
    TcpStream counted{stop, clock};
    ASSERT_TRUE(counted.Connect("127.0.0.1", m_port));
    SOCKET peer = accept(m_listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_EQ(send(peer, "!", 1, MSG_OOB), 1);
    std::thread replier([&] {
        std::this_thread::sleep_for(500ms);
        send(peer, "12\r\n", 4, 0);
    });
    char reply[450];
    const int n = counted.Receive(reply, sizeof reply);
    replier.join();
    EXPECT_EQ(std::string(reply, n > 0 ? n : 0), "12\r\n");
    EXPECT_LT(clock.looks.load(), 20);

    // A send that fills the socket while the peer reads nothing for a while, with urgent data
    // pending again.
    ASSERT_EQ(send(peer, "!", 1, MSG_OOB), 1);
    const std::vector<char> bulk(16 << 20, 'x');
    std::thread reader([&] {
        std::this_thread::sleep_for(500ms);
        std::vector<char> sink(1 << 16);
        for (std::size_t got = 0; got < bulk.size();) {
            const int r = recv(peer, sink.data(), static_cast<int>(sink.size()), 0);
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
    });
    clock.looks = 0;
    EXPECT_EQ(counted.Send(bulk.data(), static_cast<int>(bulk.size())),
              static_cast<int>(bulk.size()));
    reader.join();
    EXPECT_LT(clock.looks.load(), 200);
    closesocket(peer);
}

TEST_F(TcpStreamWin32Test, RefusedAndBlankAddressesFail) {
    closesocket(m_listener);  // nothing listens on the port any more
    m_listener = INVALID_SOCKET;
    EXPECT_FALSE(stream.Connect("127.0.0.1", m_port));
    EXPECT_FALSE(stream.Connect("0.0.0.0", m_port));
    EXPECT_EQ(stream.Send("x", 1), -1);
}

}  // namespace
}  // namespace tcp_stream_win32_test
}  // namespace vantrel
