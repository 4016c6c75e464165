// The Winsock console stream under Wine, against a listener of the test's own on 127.0.0.1.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "unit/tcp_stream.h"

namespace vantrel {
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

TEST_F(TcpStreamWin32Test, RefusedAndBlankAddressesFail) {
    closesocket(m_listener);  // nothing listens on the port any more
    m_listener = INVALID_SOCKET;
    EXPECT_FALSE(stream.Connect("127.0.0.1", m_port));
    EXPECT_FALSE(stream.Connect("0.0.0.0", m_port));
    EXPECT_EQ(stream.Send("x", 1), -1);
}

}  // namespace
}  // namespace vantrel
