// The network session against the simulated unit over real loopback sockets: each test has its
// own 127.0.0.x on port 23. The session's pauses go through a fake clock; the socket waits are
// real.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "presenters/control_ids.h"
#include "presenters/net_link.h"
#include "presenters/post_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_view.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/stepping_clock.h"
#include "unit/tcp_stream.h"

namespace vantrel {
namespace session_sim_test {
namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

const Lines kStartLines = {"admin\r\n",  "846\r\n",      "READMAC\r\n",     "STA1\r\n",
                           "READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n", "IPMODE\r\n"};

class SessionSimTest : public ::testing::Test {
  protected:
    // Starts a unit on address with the given faults, and a link whose socket waits measure
    // their time limit on streamClock.
    void Open(const std::string& address, const sim::Faults& faults = {},
              Clock& streamClock = SystemClock::Instance()) {
        sim = std::make_unique<testing::SimulatedUnit>(address, faults);
        ASSERT_TRUE(sim->Start()) << sim->console.Error();
        stream = std::make_unique<TcpStream>(state.m_bLinkDown.Atomic(), streamClock);
        link = std::make_unique<NetLink>(state, view, *stream, clock);
        view.PresetAddress(kConnectAddress, testing::AddressValue(address));
    }
    // Connects and waits until code 25 has been served.
    void ConnectAndStart() {
        link->OnConnect();
        ASSERT_TRUE(Eventually([&] { return view.Called("text 1008 Login success!"); }));
        // Code 25 is stored before its first line goes out, so once the unit has its last
        // line, a clear slot means the pass is ending.
        ASSERT_TRUE(sim->log.WaitForCount(kStartLines.size(), 5000ms));
        ASSERT_TRUE(Eventually([&] { return state.m_nCommand == 0 || state.m_bLinkDown; }));
        PassOver();
    }
    // The slot is cleared before the pass's refresh, which the pass makes holding the stream:
    // once the stream is free, the pass that cleared it is over.
    void PassOver() { std::lock_guard<std::mutex> over(state.m_streamUse); }
    // Posts a code, waits until the session has finished it and the unit has its lines.
    void Serve(uint8_t code, size_t linesAfter) {
        PostCommand(state, code, view);
        ASSERT_TRUE(Eventually([&] { return state.m_nCommand == 0; })) << int(code);
        PassOver();
        ASSERT_TRUE(sim->log.WaitForCount(linesAfter, 5000ms)) << int(code);
    }
    void TearDown() override {
        if (link) link->Stop();
    }

    testing::FakeClock clock;
    testing::RecordingView view;
    PanelState state;
    std::unique_ptr<testing::SimulatedUnit> sim;
    std::unique_ptr<TcpStream> stream;
    std::unique_ptr<NetLink> link;
};

TEST_F(SessionSimTest, LoginAndFirstCommandReachTheUnitAndFillThePanel) {
    Open("127.0.0.41");
    ConnectAndStart();
    EXPECT_EQ(sim->log.Lines("tcp"), kStartLines);
    EXPECT_TRUE(view.Called("text 1031 001A2B3C4D5E"));
    EXPECT_TRUE(view.Called("address 1028 127.0.0.41"));
    EXPECT_TRUE(view.Called("address 1036 127.0.0.41"));
    EXPECT_TRUE(view.Called("address 1029 255.255.255.0"));
    EXPECT_TRUE(view.Called("address 1030 127.0.0.1"));
    EXPECT_TRUE(view.Called("check 1032 1"));
    EXPECT_TRUE(view.Called("check 1033 0"));
    EXPECT_TRUE(view.Called("bar 1010 20"));  // the refresh came
    EXPECT_EQ(std::vector<int>(state.m_levels, state.m_levels + 4),
              (std::vector<int>{20, 128, 128, 128}));
    EXPECT_EQ(state.m_nInput, 0);
    EXPECT_EQ(state.m_nIpMode, 1);
    // The session asked for 50 ms before each of the five replies and 100 ms before the refresh.
    EXPECT_EQ(clock.Pauses(), (std::vector<long long>{50, 50, 50, 50, 50, 100}));
}

TEST_F(SessionSimTest, EveryCodeSendsItsExactLinesInOrderAndTheUnitFollows) {
    Open("127.0.0.42");
    ConnectAndStart();
    const std::map<int, Lines> lines = {
        {1, {"BTN1\r\n"}},
        {2, {"BTN2\r\n"}},
        {3, {"BTN3\r\n"}},
        {4, {"BTN4\r\n"}},
        {5, {"BTN5\r\n"}},
        {6, {"BTN6\r\n"}},
        {7, {"BTNE\r\n"}},
        {8, {"BTN8\r\n"}},
        {9, {"ROT1\r\n", "REA6\r\n"}},
        {10, {"ROT2\r\n", "REA6\r\n"}},
        {11, {"ROT3\r\n"}},
        {12, {"BTN9\r\n"}},
        {13, {"BTNA\r\n"}},
        {14, {"BTNB\r\n"}},
        {15, {"ROT5\r\n", "REA8\r\n"}},
        {16, {"ROT4\r\n", "REA8\r\n"}},
        {17, {"ROT7\r\n", "REA9\r\n"}},
        {18, {"ROT6\r\n", "REA9\r\n"}},
        {19, {"ROT9\r\n", "REA10\r\n"}},
        {20, {"ROT8\r\n", "REA10\r\n"}},
        {21, {"BTNC\r\n"}},
        {22, {"STA1\r\n"}},
        {23, {"READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n", "IPMODE\r\n"}},
        {26, {"DEFAULTIP\r\n"}},
        {27, {"BTND\r\n"}},
        {28, {"BTNF\r\n"}},
        {29, {"BTNG\r\n"}},
    };
    Lines expected = kStartLines;
    for (const auto& [code, texts] : lines) {
        expected.insert(expected.end(), texts.begin(), texts.end());
        Serve(static_cast<uint8_t>(code), expected.size());
        if (code == 9) {
            EXPECT_EQ(state.m_levels[0], 21);
            EXPECT_TRUE(view.Called("bar 1010 21"));
        }
        if (code == 16) {
            EXPECT_EQ(state.m_levels[1], 128);  // down 5, then up 5
            EXPECT_EQ(state.m_prevLevels[1], 123);
        }
        if (code == 20) {
            EXPECT_TRUE(view.Called("bar 1013 128"));
        }
    }
    EXPECT_EQ(sim->log.Lines("tcp"), expected);

    const sim::UnitState unit = sim->unit.State();
    EXPECT_EQ(unit.input, 3);         // the last input pressed: Unbalanced
    EXPECT_EQ(unit.levels[0], 20);    // the factory reset came after the volume steps
    EXPECT_EQ(unit.ip, 0xC0A801DCu);  // Default IP, a value in the unit only
    EXPECT_TRUE(view.Called("message Finish!"));
    EXPECT_TRUE(view.SwapsBalanced());
    EXPECT_EQ(state.m_bLinkDown.Atomic(), 0);
}

TEST_F(SessionSimTest, ApplyInEachModeCarriesTheSettingsAndEndsTheSession) {
    const char* addresses[] = {"127.0.0.43", "127.0.0.44", "127.0.0.45"};
    const char* modeLines[] = {nullptr, "SETIPMODE=S\r\n", "SETIPMODE=D\r\n"};
    for (int mode = 0; mode <= 2; ++mode) {
        SCOPED_TRACE(mode);
        Open(addresses[mode]);
        ConnectAndStart();
        state.m_nIpMode = static_cast<uint8_t>(mode);
        view.PresetAddress(kIpAddress, 0x7F000063);  // 127.0.0.99
        view.PresetAddress(kMaskAddress, 0xFFFF0000);
        view.PresetAddress(kGatewayAddress, 0x7F0000FE);
        PostCommand(state, 24, view);
        ASSERT_TRUE(Eventually([&] { return view.Called("message Finish!"); }));
        link->Stop();  // returns once the session, which Apply ends, has ended
        Lines expected = kStartLines;
        if (modeLines[mode]) expected.push_back(modeLines[mode]);
        for (const char* line :
             {"MASK=255.255.0.0\r\n", "GATEWAY=127.0.0.254\r\n", "IP=127.0.0.99\r\n"}) {
            expected.push_back(line);
        }
        ASSERT_TRUE(sim->log.WaitForCount(expected.size(), 5000ms));
        EXPECT_EQ(sim->log.Lines("tcp"), expected);
        const sim::UnitState unit = sim->unit.State();
        EXPECT_EQ(unit.ip, 0x7F000063u);
        EXPECT_EQ(unit.mask, 0xFFFF0000u);
        EXPECT_EQ(unit.gateway, 0x7F0000FEu);
        EXPECT_EQ(unit.dhcp, mode == 2);
        Lines calls = view.Calls();
        EXPECT_EQ(Lines(calls.end() - 6, calls.end()),
                  (Lines{"swap 1056 249", "message Finish!", "restore 1056",
                         "text 1008 Disconnect!", "picture 1049 227", "picture 1050 251"}));
        link.reset();
        view.ClearCalls();
        state.m_nIpMode = 0;
    }
}

TEST_F(SessionSimTest, ShortRepliesChangeNothingAndAMissingModeReplyEndsTheSession) {
    testing::SteppingClock fast(1000ms);
    sim::Faults faults;
    faults.shortReplies = true;
    Open("127.0.0.46", faults, fast);
    link->OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Called("text 1008 Disconnect!"); }));
    EXPECT_EQ(sim->log.Lines("tcp"), kStartLines);
    EXPECT_EQ(state.m_levels[0], 999);  // 8-byte status
    EXPECT_EQ(state.m_nIpMode, 0);
    for (const std::string& call : view.Calls()) {
        EXPECT_NE(call.rfind("address", 0), 0u) << call;    // 3-byte addresses
        EXPECT_NE(call.rfind("text 1031", 0), 0u) << call;  // 5-byte MAC
    }
    EXPECT_EQ(state.m_bLinkDown.Atomic(), 1);
}

TEST_F(SessionSimTest, GarbageLevelReplyStoresZero) {
    sim::Faults faults;
    faults.garbageReplies = true;
    Open("127.0.0.47", faults);
    ConnectAndStart();
    EXPECT_EQ(state.m_nIpMode, 0);  // the mode byte is neither 'S' nor 'D'
    Serve(9, kStartLines.size() + 2);
    EXPECT_EQ(state.m_levels[0], 0);
    EXPECT_TRUE(view.Called("bar 1010 0"));
}

TEST_F(SessionSimTest, LateRepliesAreStillTaken) {
    sim::Faults faults;
    faults.delayMs = 150;
    Open("127.0.0.48", faults);
    ConnectAndStart();
    ASSERT_TRUE(Eventually([&] { return view.Called("bar 1010 20"); }));
    EXPECT_TRUE(view.Called("text 1031 001A2B3C4D5E"));
    EXPECT_EQ(state.m_levels[1], 128);
    EXPECT_EQ(state.m_nIpMode, 1);
}

TEST_F(SessionSimTest, UnitThatClosesTheConnectionEndsTheSession) {
    sim::Faults faults;
    faults.closeAfter = 4;  // READMAC, STA1, READIP, READMASK
    Open("127.0.0.49", faults);
    link->OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Called("text 1008 Login success!"); }));
    for (int i = 0; i < 5 && !state.m_bLinkDown; ++i) {
        PostCommand(state, 1, view);
        Eventually([&] { return state.m_nCommand == 0; });
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(Eventually([&] { return view.Called("text 1008 Disconnect!"); }));
    EXPECT_EQ(state.m_bLinkDown.Atomic(), 1);
}

TEST_F(SessionSimTest, SilentUnitEndsTheSessionThroughTheReceiveTimeLimit) {
    testing::SteppingClock fast(1000ms);
    sim::Faults faults;
    faults.silentAfterLogin = true;
    Open("127.0.0.50", faults, fast);
    link->OnConnect();
    ASSERT_TRUE(Eventually([&] { return view.Called("text 1008 Disconnect!"); }, 10000ms));
    EXPECT_EQ(sim->log.Lines("tcp"), kStartLines);
    EXPECT_EQ(state.m_bLinkDown.Atomic(), 1);
}

TEST_F(SessionSimTest, DisconnectEndsASessionBlockedOnASilentUnitWithin1s) {
    sim::Faults faults;
    faults.silentAfterLogin = true;
    Open("127.0.0.51", faults);
    link->OnConnect();
    ASSERT_TRUE(sim->log.WaitForCount(3, 5000ms));  // waiting for the MAC that never comes
    auto start = std::chrono::steady_clock::now();
    link->OnDisconnect();
    link->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(view.Calls().back(), "picture 1050 251");
}

TEST_F(SessionSimTest, DisconnectWhileIdleEndsTheSessionAtOnce) {
    Open("127.0.0.52");
    ConnectAndStart();
    auto start = std::chrono::steady_clock::now();
    link->OnDisconnect();
    link->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(sim->log.Lines("tcp"), kStartLines);
    // The handler and the session's end both show the end; their calls may interleave.
    Lines calls = view.Calls();
    for (const char* call : {"text 1008 Disconnect!", "picture 1049 227", "picture 1050 251"}) {
        EXPECT_EQ(std::count(calls.begin(), calls.end(), call), 2) << call;
    }
}

TEST_F(SessionSimTest, RefusedConnectionShowsConnectFail) {
    Open("127.0.0.53");
    view.PresetAddress(kConnectAddress, testing::AddressValue("127.0.0.54"));  // nobody there
    link->OnConnect();
    ASSERT_TRUE(Eventually([&] { return state.m_bLinkDown == 1; }));
    link->Stop();
    EXPECT_EQ(view.Text(kStatusText), "Connect to device fail.");
    EXPECT_EQ(view.Calls().back(), "picture 1050 251");
}

}  // namespace
}  // namespace session_sim_test
}  // namespace vantrel
