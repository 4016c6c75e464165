#include "presenters/net_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "presenters/control_ids.h"
#include "presenters/post_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_stream.h"
#include "tests/support/recording_view.h"

namespace vantrel {
namespace net_link_test {
namespace {

using Events = std::vector<std::string>;
using namespace std::chrono_literals;

// Waits for a condition that another thread brings about; false after 5 s.
template <typename Condition>
bool Eventually(Condition condition) {
    auto end = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A link whose thread cannot start: the start says so, or throws what it may throw.
class RefusingLink : public NetLink {
  public:
    RefusingLink(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock, int how)
        : NetLink(state, view, stream, clock), m_how(how) {}

  protected:
    bool StartThread(std::function<void()>) override {
        if (m_how == 1) throw std::bad_alloc();
        if (m_how == 2)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        return false;
    }

  private:
    int m_how;
};

class NetLinkTest : public ::testing::Test {
  protected:
    NetLinkTest() { view.PresetAddress(kConnectAddress, 0x7F000009); }

    // A unit that logs in and answers code 25.
    void QueueSessionStart() {
        for (const char* reply : {"hello", "password: ", "Login OK\r\n", "\1\2\3\4\5\6"}) {
            stream.QueueReply(reply);
        }
        stream.QueueReply(std::string("\0\0\0\x14\0\x80\x80\x80\0", 9));
        for (int i = 0; i < 3; ++i) stream.QueueReply("\x7F\0\0\x09");
        stream.QueueReply("S");
    }

    testing::FakeClock clock;
    testing::FakeStream stream{clock};
    testing::RecordingView view;
    PanelState state;
};

TEST_F(NetLinkTest, ConnectLightsConnectAndRunsASessionUntilDisconnect) {
    NetLink link(state, view, stream, clock);
    QueueSessionStart();
    link.OnConnect();
    EXPECT_EQ(view.Calls().at(0), "picture 1049 250");
    EXPECT_EQ(view.Calls().at(1), "picture 1050 228");
    ASSERT_TRUE(Eventually([&] { return view.Called("bar 1010 20"); }));
    ASSERT_TRUE(Eventually([&] { return state.m_nCommand == 0; }));

    // Idle: a stored code is taken at once.
    PostCommand(state, 8, view);
    ASSERT_TRUE(Eventually([&] { return stream.Sent().back() == "BTN8\r\n"; }));

    view.ClearCalls();
    link.OnDisconnect();
    link.Stop();
    // The handler's calls and the session's end each show the link down; the two threads'
    // calls may interleave.
    Events calls = view.Calls();
    for (const char* call : {"text 1008 Disconnect!", "picture 1049 227", "picture 1050 251"}) {
        EXPECT_EQ(std::count(calls.begin(), calls.end(), call), 2) << call;
    }
    EXPECT_EQ(calls.size(), 6u);
    EXPECT_EQ(stream.Events().back(), "close");
}

TEST_F(NetLinkTest, ConnectWhileASessionRunsDoesNothing) {
    NetLink link(state, view, stream, clock);
    QueueSessionStart();
    link.OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Called("bar 1010 20"); }));
    view.ClearCalls();
    link.OnConnect();
    EXPECT_TRUE(view.Calls().empty());
    link.Stop();
    EXPECT_EQ(stream.Events().front(), "connect 127.0.0.9:23");
    int connects = 0;
    for (const std::string& e : stream.Events()) connects += e.rfind("connect", 0) == 0;
    EXPECT_EQ(connects, 1);
}

TEST_F(NetLinkTest, RefusedConnectionLeavesTheLinkReadyForAnotherConnect) {
    NetLink link(state, view, stream, clock);
    stream.RefuseConnect();
    link.OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Text(kStatusText) == "Connect to device fail."; }));
    ASSERT_TRUE(Eventually([&] { return state.m_bLinkDown == 1; }));
    link.OnConnect();  // waits for the failed session's thread, then starts another
    link.Stop();
    int connects = 0;
    for (const std::string& e : stream.Events()) connects += e.rfind("connect", 0) == 0;
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(view.Calls().back(), "picture 1050 251");
}

TEST_F(NetLinkTest, ThreadThatCannotStartPutsTheLinkBackDown) {
    for (int how : {0, 1, 2}) {
        view.ClearCalls();
        RefusingLink link(state, view, stream, clock, how);
        link.OnConnect();
        EXPECT_EQ(state.m_bLinkDown, 1);
        EXPECT_EQ(view.Calls(), (Events{"picture 1049 250", "picture 1050 228",
                                        "text 1008 Connect to device fail.", "picture 1049 227",
                                        "picture 1050 251"}))
            << how;
        EXPECT_TRUE(stream.Events().empty());
    }
}

TEST_F(NetLinkTest, StopEndsAnIdleSessionAndReturnsOnlyWhenItsThreadHasEnded) {
    NetLink link(state, view, stream, clock);
    QueueSessionStart();
    link.OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Called("bar 1010 20"); }));
    ASSERT_TRUE(Eventually([&] { return state.m_nCommand == 0; }));
    link.Stop();
    EXPECT_EQ(state.m_bLinkDown, 1);
    EXPECT_EQ(view.Text(kStatusText), "Disconnect!");  // the session's own end has run
    link.Stop();
}

}  // namespace
}  // namespace net_link_test
}  // namespace vantrel
