#include "presenters/net_session.h"

#include <gtest/gtest.h>

#include <map>

#include "presenters/control_ids.h"
#include "presenters/post_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_stream.h"
#include "tests/support/recording_view.h"

namespace vantrel {
namespace net_session_test {
namespace {

using Events = std::vector<std::string>;

const std::string kMac("\x00\x1A\x2B\x3C\x4D\x5E", 6);
const std::string kStatus("\x01\x00\x01\x14\x01\x64\x6E\x78\x02", 9);
// What the refresh after kStatus draws on a panel that has shown no status yet.
const Events kStatusDraws{"bar 1013 120",     "bar 1012 110",     "bar 1011 100",
                          "bar 1010 20",      "picture 1038 232", "picture 1039 219",
                          "picture 1045 240", "picture 1046 222", "picture 1047 242",
                          "picture 1067 260"};

Events Then(Events first, const Events& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class NetSessionTest : public ::testing::Test {
  protected:
    NetSessionTest() {
        view.PresetAddress(kConnectAddress, 0x7F000005);
        state.StoreLinkDown(0);
        state.m_bPollPaused = 1;
    }

    void QueueLogin() {
        stream.QueueReply("Vantrel console\r\nlogin: ");
        stream.QueueReply("password: ");
        stream.QueueReply("Login OK\r\n");
    }
    // A started session with its records cleared.
    void StartSession() {
        QueueLogin();
        stream.QueueReply(kMac);
        ASSERT_TRUE(session.Start());
        stream.ClearEvents();
        view.ClearCalls();
    }
    void QueueSettings(const std::string& mode) {
        stream.QueueReply(std::string("\x0A\x00\x00\x05", 4));
        stream.QueueReply(std::string("\xFF\xFF\xFF\x00", 4));
        stream.QueueReply(std::string("\x0A\x00\x00\x01", 4));
        stream.QueueReply(mode);
    }
    bool Pass(uint8_t code) {
        state.StoreCommand(code);
        return session.RunPass();
    }

    testing::FakeClock clock;
    testing::FakeStream stream{clock};
    testing::RecordingView view;
    PanelState state;
    NetSession session{state, view, stream, clock};
};

TEST_F(NetSessionTest, StartConnectsToPort23LogsInReadsTheMacAndStoresCode25) {
    QueueLogin();
    stream.QueueReply(kMac);
    ASSERT_TRUE(session.Start());
    EXPECT_EQ(stream.Events(),
              (Events{"connect 127.0.0.5:23", "recv 24", "send admin\r\n", "recv 10",
                      "send 846\r\n", "recv 10", "send READMAC\r\n", "recv 6"}));
    EXPECT_EQ(view.Calls(), (Events{"text 1008 Login success!", "text 1031 001A2B3C4D5E"}));
    EXPECT_EQ(state.m_nCommand, 25);
    EXPECT_EQ(state.m_bPollPaused, 0);
}

TEST_F(NetSessionTest, LoginSucceedsWhateverTheUnitSaysAndAShortMacLeavesTheMacText) {
    stream.QueueResult(-1);
    stream.QueueReply("Login incorrect\r\n");
    stream.QueueResult(0);
    stream.QueueReply(kMac.substr(0, 5));
    ASSERT_TRUE(session.Start());
    EXPECT_EQ(view.Calls(), (Events{"text 1008 Login success!"}));
    EXPECT_EQ(state.m_nCommand, 25);
}

TEST_F(NetSessionTest, FailedMacReceiveLeavesTheMacText) {
    QueueLogin();
    stream.QueueResult(-1);
    ASSERT_TRUE(session.Start());
    EXPECT_EQ(view.Calls(), (Events{"text 1008 Login success!"}));
}

TEST_F(NetSessionTest, RefusedConnectionReportsAndPutsTheLinkDown) {
    stream.RefuseConnect();
    EXPECT_FALSE(session.Start());
    EXPECT_EQ(stream.Events(), (Events{"connect 127.0.0.5:23", "close"}));
    EXPECT_EQ(view.Calls(), (Events{"text 1008 Connect to device fail.", "picture 1049 227",
                                    "picture 1050 251"}));
    EXPECT_EQ(state.m_bLinkDown, 1);
}

TEST_F(NetSessionTest, BlankAddressControlConnectsTo0000) {
    view.PresetAddress(kConnectAddress, 0);
    stream.RefuseConnect();
    session.Run();
    EXPECT_EQ(stream.Events(), (Events{"connect 0.0.0.0:23", "close"}));
    EXPECT_EQ(view.Text(kStatusText), "Connect to device fail.");
}

TEST_F(NetSessionTest, ButtonPressedBeforeTheLoginEndsIsReplacedByCode25) {
    PostCommand(state, 1, view);
    ASSERT_EQ(state.m_nCommand, 1);
    StartSession();
    EXPECT_EQ(state.m_nCommand, 25);
    stream.QueueReply(kStatus);
    QueueSettings("S");
    EXPECT_TRUE(session.RunPass());
    for (const std::string& sent : stream.Sent()) EXPECT_NE(sent, "BTN1\r\n");
}

TEST_F(NetSessionTest, Code25ReadsStatusAndSettingsThenRefreshesAtTheEndOfThePass) {
    StartSession();
    stream.QueueReply(kStatus);
    QueueSettings("S");
    EXPECT_TRUE(session.RunPass());
    EXPECT_EQ(stream.Events(),
              (Events{"send STA1\r\n", "pause 50", "recv 9", "send READIP\r\n", "pause 50",
                      "recv 4", "send READMASK\r\n", "pause 50", "recv 4", "send READGATEWAY\r\n",
                      "pause 50", "recv 4", "send IPMODE\r\n", "pause 50", "recv 1", "pause 100"}));
    EXPECT_EQ(view.Calls(),
              Then({"address 1028 10.0.0.5", "address 1036 10.0.0.5", "address 1029 255.255.255.0",
                    "address 1030 10.0.0.1", "enable 1028 1", "enable 1029 1", "enable 1030 1",
                    "check 1032 1", "check 1033 0"},
                   kStatusDraws));
    EXPECT_EQ(state.m_nCommand, 0);
    EXPECT_EQ(state.m_nIpMode, 1);
    EXPECT_EQ(state.m_lamps[0], 1);
    EXPECT_EQ(state.m_levels[0], 20);
    EXPECT_EQ(state.m_nInput, 2);
}

TEST_F(NetSessionTest, Code25WithAnEightByteStatusStillReadsTheSettings) {
    StartSession();
    stream.QueueReply(kStatus.substr(0, 8));
    QueueSettings("D");
    EXPECT_TRUE(session.RunPass());
    EXPECT_EQ(state.m_levels[0], 999);
    EXPECT_EQ(state.m_lamps[3], 231);
    EXPECT_EQ(state.m_nInput, 5);
    EXPECT_FALSE(view.Called("bar 1010 20"));
    EXPECT_TRUE(view.Called("address 1028 10.0.0.5"));
    EXPECT_EQ(view.Calls().back(), "check 1032 0");
    EXPECT_TRUE(view.Called("enable 1030 0"));
    EXPECT_EQ(state.m_nIpMode, 2);
}

// Short replies change nothing; an address reply that never came makes the Read a failure. An
// empty mode reply is short, and only a failed receive of it ends the session.
TEST_F(NetSessionTest, ShortAddressRepliesAndAnEmptyModeReplyChangeNothing) {
    StartSession();
    state.m_nIpMode = 1;
    stream.QueueReply(std::string("\x0A\x00\x00", 3));
    stream.QueueReply(std::string("\xFF\xFF\xFF\x00", 4));
    stream.QueueResult(0);  // the unit closed its side
    stream.QueueResult(0);
    EXPECT_TRUE(Pass(23));
    EXPECT_EQ(view.Calls(), (Events{"swap 1055 248", "address 1029 255.255.255.0", "message Fail!",
                                    "restore 1055"}));
    EXPECT_EQ(state.m_nIpMode, 1);
}

// A Read's result is its mode receive: an address reply that timed out fails the Read but
// leaves the session running; the mode's ends it.
TEST_F(NetSessionTest, OnlyTheModeReceiveOfAReadDecidesWhetherTheSessionEnds) {
    StartSession();
    stream.QueueResult(-1);
    stream.QueueReply(std::string("\xFF\xFF\xFF\x00", 4));
    stream.QueueReply(std::string("\x0A\x00\x00\x01", 4));
    stream.QueueReply("S");
    EXPECT_TRUE(Pass(23));
    EXPECT_EQ(view.Calls()[view.Calls().size() - 2], "message Fail!");
    EXPECT_EQ(state.m_nIpMode, 1);

    stream.QueueReply(std::string("\x0A\x00\x00\x05", 4));
    stream.QueueReply(std::string("\xFF\xFF\xFF\x00", 4));
    stream.QueueReply(std::string("\x0A\x00\x00\x01", 4));
    stream.QueueResult(-1);
    EXPECT_FALSE(Pass(23));
    EXPECT_EQ(state.m_bLinkDown, 1);
}

TEST_F(NetSessionTest, ModeReplyOtherThanCapitalSOrDChangesNothing) {
    StartSession();
    for (const char* reply : {"d", "s", "X"}) {
        QueueSettings(reply);
        EXPECT_TRUE(Pass(23));
    }
    EXPECT_EQ(state.m_nIpMode, 0);
    for (const std::string& call : view.Calls()) {
        EXPECT_NE(call.rfind("check", 0), 0u) << call;
        EXPECT_NE(call.rfind("enable", 0), 0u) << call;
    }
}

TEST_F(NetSessionTest, Code23ShowsTheReadPictureAndFinishesAfterTheModeReply) {
    StartSession();
    std::string lastSentAtMessage;
    view.onMessage = [&](const std::string&) { lastSentAtMessage = stream.Sent().back(); };
    QueueSettings("D");
    EXPECT_TRUE(Pass(23));
    EXPECT_EQ(stream.Sent(),
              (Events{"READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n", "IPMODE\r\n"}));
    EXPECT_EQ(lastSentAtMessage, "IPMODE\r\n");
    Events calls = view.Calls();
    EXPECT_EQ(calls.front(), "swap 1055 248");
    EXPECT_EQ(calls[calls.size() - 2], "message Finish!");
    EXPECT_EQ(calls.back(), "restore 1055");
    EXPECT_TRUE(view.SwapsBalanced());
    EXPECT_EQ(state.m_nIpMode, 2);
}

TEST_F(NetSessionTest, EveryPlainCodeSendsItsOneLineAndReadsNothing) {
    const std::map<int, std::string> lines = {
        {1, "BTN1"},  {2, "BTN2"},  {3, "BTN3"},  {4, "BTN4"},      {5, "BTN5"},  {6, "BTN6"},
        {7, "BTNE"},  {8, "BTN8"},  {11, "ROT3"}, {12, "BTN9"},     {13, "BTNA"}, {14, "BTNB"},
        {27, "BTND"}, {28, "BTNF"}, {29, "BTNG"}, {26, "DEFAULTIP"}};
    StartSession();
    for (const auto& [code, text] : lines) {
        stream.ClearEvents();
        EXPECT_TRUE(Pass(code));
        EXPECT_EQ(stream.Events(), (Events{"send " + text + "\r\n"})) << code;
        EXPECT_EQ(state.m_nCommand, 0);
    }
    EXPECT_TRUE(view.Calls().empty());
}

TEST_F(NetSessionTest, FactoryResetPauses300Ms) {
    StartSession();
    EXPECT_TRUE(Pass(21));
    EXPECT_EQ(stream.Events(), (Events{"send BTNC\r\n", "pause 300"}));
}

TEST_F(NetSessionTest, LevelCodesStepReadBackAndMoveTheirBar) {
    struct Case {
        int code;
        std::string rot, rea;
        int index;
    };
    const Case cases[] = {{9, "ROT1", "REA6", 0},   {10, "ROT2", "REA6", 0},
                          {15, "ROT5", "REA8", 1},  {16, "ROT4", "REA8", 1},
                          {17, "ROT7", "REA9", 2},  {18, "ROT6", "REA9", 2},
                          {19, "ROT9", "REA10", 3}, {20, "ROT8", "REA10", 3}};
    StartSession();
    for (const Case& c : cases) {
        stream.ClearEvents();
        view.ClearCalls();
        const int32_t before = state.m_levels[c.index];
        stream.QueueReply(std::to_string(c.code + 100) + "\r\n");
        EXPECT_TRUE(Pass(c.code));
        EXPECT_EQ(stream.Events(), (Events{"send " + c.rot + "\r\n", "pause 50",
                                           "send " + c.rea + "\r\n", "recv 5"}));
        EXPECT_EQ(state.m_levels[c.index], c.code + 100);
        EXPECT_EQ(state.m_prevLevels[c.index], before);
        EXPECT_EQ(view.Calls(), (Events{"bar " + std::to_string(1010 + c.index) + " " +
                                        std::to_string(c.code + 100)}));
    }
}

TEST_F(NetSessionTest, LevelTextIsReadOnlyWithinTheBytesReceived) {
    StartSession();
    stream.QueueReply("345\r\n");
    Pass(9);
    stream.QueueReply("7");  // the buffer still holds "345\r\n" behind it
    Pass(9);
    EXPECT_EQ(state.m_levels[0], 7);
    stream.QueueReply("12\r\n");
    Pass(16);
    EXPECT_EQ(state.m_levels[1], 12);
    stream.QueueReply("OK\r\n");
    Pass(16);
    EXPECT_EQ(state.m_levels[1], 0);
    EXPECT_EQ(state.m_prevLevels[1], 12);
}

TEST_F(NetSessionTest, FailedLevelReceiveChangesNothingAndEndsTheSession) {
    StartSession();
    stream.QueueResult(-1);
    EXPECT_FALSE(Pass(10));
    EXPECT_EQ(state.m_levels[0], 999);
    EXPECT_TRUE(view.Calls().empty());
    EXPECT_EQ(state.m_bLinkDown, 1);
}

TEST_F(NetSessionTest, StatusCodeUpdatesStateAndRefreshesAfter100Ms) {
    StartSession();
    stream.QueueReply(kStatus + "\r\n");
    EXPECT_TRUE(Pass(22));
    EXPECT_EQ(stream.Events(), (Events{"send STA1\r\n", "pause 50", "recv 11", "pause 100"}));
    EXPECT_EQ(view.Calls(), kStatusDraws);
    EXPECT_EQ(state.m_levels[3], 120);
    EXPECT_EQ(state.m_prevLevels[3], 0);

    view.ClearCalls();
    stream.ClearEvents();
    stream.QueueReply(kStatus.substr(0, 8));
    EXPECT_TRUE(Pass(22));
    EXPECT_EQ(stream.Events(), (Events{"send STA1\r\n", "pause 50", "recv 8"}));
    EXPECT_TRUE(view.Calls().empty());
    EXPECT_EQ(state.m_prevLevels[3], 0);
}

TEST_F(NetSessionTest, ApplySendsTheSettingsInEachModeAndEndsTheSession) {
    const char* modeLines[] = {nullptr, "SETIPMODE=S\r\n", "SETIPMODE=D\r\n"};
    for (int mode = 0; mode <= 2; ++mode) {
        SCOPED_TRACE(mode);
        state.StoreLinkDown(0);
        StartSession();
        view.PresetAddress(kIpAddress, 0x0A000005);
        view.PresetAddress(kMaskAddress, 0xFFFFFF00);
        state.m_nIpMode = static_cast<uint8_t>(mode);
        EXPECT_FALSE(Pass(24));
        Events expected;
        if (modeLines[mode]) expected.push_back(std::string("send ") + modeLines[mode]);
        Events rest{
            "pause 50",  "send MASK=255.255.255.0\r\n", "pause 100", "send GATEWAY=0.0.0.0\r\n",
            "pause 100", "send IP=10.0.0.5\r\n",        "pause 100"};
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_EQ(stream.Events(), expected);
        EXPECT_EQ(view.Calls(), (Events{"swap 1056 249", "message Finish!", "restore 1056"}));
        EXPECT_EQ(state.m_bLinkDown, 1);
        EXPECT_EQ(state.m_nIpMode, mode);
    }
}

// A failed send makes Apply a failure; a session already told to end shows no box, which
// would hold up whoever is waiting for it to end (the window closing, say).
TEST_F(NetSessionTest, ApplyReportsAFailedSendAndIsSilentOnceToldToEnd) {
    StartSession();
    state.m_nIpMode = kIpModeStatic;
    stream.FailSend("GATEWAY=0.0.0.0\r\n");
    EXPECT_FALSE(Pass(24));
    EXPECT_EQ(view.Calls(), (Events{"swap 1056 249", "message Fail!", "restore 1056"}));

    state.StoreLinkDown(0);
    StartSession();
    QueueSettings("S");
    state.StoreCommand(23);
    state.StoreLinkDown(1);
    EXPECT_FALSE(session.RunPass());
    EXPECT_EQ(view.Calls().front(), "swap 1055 248");
    EXPECT_FALSE(view.Called("message Finish!"));
    EXPECT_TRUE(view.SwapsBalanced());
}

TEST_F(NetSessionTest, CodesAbove29AreClearedWithNoExchange) {
    StartSession();
    for (int code : {30, 100, 255}) {
        EXPECT_TRUE(Pass(static_cast<uint8_t>(code)));
        EXPECT_EQ(state.m_nCommand, 0);
    }
    EXPECT_TRUE(stream.Events().empty());
}

TEST_F(NetSessionTest, ReceiveFailureInTheLoopEndsTheSessionAtTheEndOfThePass) {
    QueueLogin();
    stream.QueueReply(kMac);
    stream.QueueReply(kStatus);
    stream.QueueReply(std::string("\x0A\x00\x00\x05", 4));
    stream.QueueResult(-1);
    stream.QueueResult(-1);
    stream.QueueResult(-1);
    session.Run();
    Events sent = stream.Sent();
    EXPECT_EQ(sent.back(), "IPMODE\r\n");
    Events calls = view.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(Events(calls.end() - 4, calls.end()),
              (Events{"picture 1067 260", "text 1008 Disconnect!", "picture 1049 227",
                      "picture 1050 251"}));
    EXPECT_EQ(stream.Events().back(), "close");
    EXPECT_EQ(state.m_bLinkDown, 1);
    EXPECT_EQ(state.m_levels[0], 20);
}

TEST_F(NetSessionTest, SendFailureEndsTheSessionButAClosedPeerDoesNot) {
    StartSession();
    stream.QueueResult(0);
    EXPECT_TRUE(Pass(22));
    stream.FailSend("BTN1\r\n");
    EXPECT_FALSE(Pass(1));
    EXPECT_EQ(state.m_bLinkDown, 1);
}

TEST_F(NetSessionTest, CodeStoredDuringACommandIsServedNext) {
    StartSession();
    stream.onSend = [&](const std::string& text) {
        if (text == "STA1\r\n") PostCommand(state, 23, view);
    };
    stream.QueueReply(kStatus);
    EXPECT_TRUE(Pass(22));
    EXPECT_EQ(state.m_nCommand, 23);
    QueueSettings("S");
    EXPECT_TRUE(session.RunPass());
    EXPECT_EQ(state.m_nCommand, 0);
    EXPECT_EQ(stream.Sent(),
              (Events{"STA1\r\n", "READIP\r\n", "READMASK\r\n", "READGATEWAY\r\n", "IPMODE\r\n"}));
}

TEST_F(NetSessionTest, LinkDownDuringLoginEndsTheSessionWithoutAnyCommand) {
    QueueLogin();
    stream.QueueReply(kMac);
    stream.onSend = [&](const std::string& text) {
        if (text == "READMAC\r\n") state.StoreLinkDown(1);
    };
    session.Run();
    EXPECT_EQ(stream.Sent(), (Events{"admin\r\n", "846\r\n", "READMAC\r\n"}));
    EXPECT_EQ(view.Text(kStatusText), "Disconnect!");
    EXPECT_EQ(stream.Events().back(), "close");
}

}  // namespace
}  // namespace net_session_test
}  // namespace vantrel
