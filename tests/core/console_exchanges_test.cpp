// What the console's exchanges report to a client that is not the panel: each outcome's kind
// and whatever the unit answered. The lines and pauses themselves are the session's tests'.
#include "unit/console_exchanges.h"

#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_stream.h"

namespace vantrel {
namespace console_exchanges_test {
namespace {

class ConsoleExchangesTest : public ::testing::Test {
  protected:
    testing::FakeClock clock;
    testing::FakeStream stream{clock};
    ConsoleExchanges console{stream, clock};
};

TEST_F(ConsoleExchangesTest, NoReplyAndAShortReplyAreDifferentFailures) {
    stream.QueueResult(-1);
    EXPECT_EQ(console.ReadStatus().GetFault(), Fault::kNothingReceived);
    stream.QueueReply(std::string(8, '\1'));
    EXPECT_EQ(console.ReadStatus().GetFault(), Fault::kBadReply);
    stream.QueueReply("OK\r\n");  // no digits: the panel shows 0, the client learns it failed
    const Result<int32_t> level = console.StepLevel(16);
    EXPECT_EQ(level.GetFault(), Fault::kBadReply);
    EXPECT_EQ(level.Value(), 0);
    stream.QueueReply(" 17\r\n");
    EXPECT_EQ(console.StepLevel(16).Value(), 17);
    stream.FailSend("BTN1\r\n");
    EXPECT_EQ(console.Send(1).GetFault(), Fault::kSendFailed);
    stream.RefuseConnect();
    const Outcome connected = console.Connect(0x7F000005);
    EXPECT_EQ(connected.GetFault(), Fault::kNotOpened);
    EXPECT_STREQ(connected.Text(), "Connect to device fail.");
}

TEST_F(ConsoleExchangesTest, SettingsKeepEveryValueThatPassedAndReportTheWorstMiss) {
    stream.QueueReply(std::string("\x7F\0\0\x05", 4));
    stream.QueueReply(std::string("\xFF\xFF", 2));  // short: the mask is left out
    stream.QueueResult(-1);                         // no gateway at all
    stream.QueueReply("S");
    const Result<NetworkSettings> read = console.ReadSettings();
    EXPECT_EQ(read.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(read.Value().ip, 0x7F000005u);
    EXPECT_FALSE(read.Value().mask || read.Value().gateway);
    EXPECT_EQ(read.Value().mode, AddressMode::Static);

    for (int i = 0; i < 3; ++i) stream.QueueReply(std::string("\x7F\0\0\x01", 4));
    stream.QueueReply("d");  // neither mode
    EXPECT_EQ(console.ReadSettings().GetFault(), Fault::kBadReply);

    // A mode reply that never came is worse than an address reply that came short.
    stream.QueueReply(std::string("\x7F\0\0\x01", 4));
    stream.QueueReply(std::string("\xFF", 1));
    stream.QueueReply(std::string("\x7F\0\0\x01", 4));
    stream.QueueResult(-1);
    const Result<NetworkSettings> noMode = console.ReadSettings();
    EXPECT_EQ(noMode.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(noMode.Value().gateway, 0x7F000001u);
}

TEST_F(ConsoleExchangesTest, ApplyWithNoKnownModeSendsOnlyTheAddresses) {
    EXPECT_TRUE(console.ApplySettings(AddressMode::Unknown, {0x7F000009, 0xFFFFFF00, 0}).Ok());
    EXPECT_EQ(stream.Sent(), (std::vector<std::string>{"MASK=255.255.255.0\r\n",
                                                       "GATEWAY=0.0.0.0\r\n", "IP=127.0.0.9\r\n"}));
}

}  // namespace
}  // namespace console_exchanges_test
}  // namespace vantrel
