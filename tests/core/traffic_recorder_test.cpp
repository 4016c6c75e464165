#include "unit/traffic_recorder.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_stream.h"
#include "tests/support/recording_serial.h"

namespace vantrel {
namespace traffic_recorder_test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using std::chrono::system_clock;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

class TrafficRecorderTest : public ::testing::Test {
  protected:
    // A clock that moves 10 ms each time it is read, so every boundary has its own time.
    system_clock::time_point Tick() { return now += milliseconds(10); }

    system_clock::time_point now{};
    std::vector<RecordedExchange> exchanges;
    TrafficRecorder recorder{[this](const RecordedExchange& e) { exchanges.push_back(e); },
                             [this] { return Tick(); }};
};

TEST_F(TrafficRecorderTest, StreamBytesBetweenBoundariesFormOneExchange) {
    testing::FakeClock clock;
    testing::FakeStream inner(clock);
    RecordingByteStream stream(inner, recorder);
    inner.QueueReply("OK\r\n");
    inner.QueueResult(0);
    inner.QueueResult(-1);
    inner.FailSend("LOST");

    EXPECT_TRUE(stream.Connect("127.0.0.5", 23));
    EXPECT_EQ(stream.Send("STA1", 4), 4);
    EXPECT_EQ(stream.Send("\r\n", 2), 2);
    char buffer[16];
    EXPECT_EQ(stream.Receive(buffer, sizeof buffer), 4);
    recorder.EndExchange("status", "done");

    // A failed send and a closed or failed receive move no byte, but still end an exchange.
    EXPECT_EQ(stream.Send("LOST", 4), -1);
    EXPECT_EQ(stream.Receive(buffer, sizeof buffer), 0);
    EXPECT_EQ(stream.Receive(buffer, sizeof buffer), -1);
    stream.Close();
    recorder.EndExchange("press", "send failed");

    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0].name, "status");
    EXPECT_EQ(exchanges[0].outcome, "done");
    EXPECT_EQ(exchanges[0].sent, B("STA1\r\n"));
    EXPECT_EQ(exchanges[0].received, B("OK\r\n"));
    EXPECT_EQ(exchanges[1].outcome, "send failed");
    EXPECT_TRUE(exchanges[1].sent.empty());
    EXPECT_TRUE(exchanges[1].received.empty());
    // Every call reached the real stream, in order.
    EXPECT_EQ(inner.Events(),
              (std::vector<std::string>{"connect 127.0.0.5:23", "send STA1", "send \r\n", "recv 4",
                                        "send LOST", "recv 0", "recv -1", "close"}));
    // Each exchange runs from the previous boundary to its own.
    EXPECT_EQ(exchanges[0].start, system_clock::time_point{} + milliseconds(10));
    EXPECT_EQ(exchanges[0].end, exchanges[0].start + milliseconds(10));
    EXPECT_EQ(exchanges[1].start, exchanges[0].end);
    EXPECT_EQ(exchanges[1].end, exchanges[1].start + milliseconds(10));
}

TEST_F(TrafficRecorderTest, SerialDeviceRecordsWhatThePortTookAndGaveAndPassesTheRestOn) {
    testing::SerialTrace trace;
    testing::RecordingSerial inner(trace);
    RecordingSerialDevice port(inner, recorder);
    const std::uint8_t frame[] = {0x04, 0x53, 0x57, 0x24};

    // Closed: the write fails, so nothing went on the line.
    EXPECT_EQ(port.Write(frame, 4), kTransferFailed);
    EXPECT_EQ(
        port.Open(3, 115200, ParityCode::None, 8, StopBitsCode::One, FlowControlCode::None, false),
        7);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.OpenRefused());
    inner.QueueReply({0xAA, 0x01, 0x02});
    SerialTimeouts timeouts{1, 2, 3, 4, 5};
    EXPECT_TRUE(port.SetTimeouts(timeouts));
    SerialTimeouts read{};
    EXPECT_TRUE(port.GetTimeouts(&read));
    EXPECT_EQ(read.writeTotalTimeoutConstant, 5u);
    EXPECT_TRUE(port.Purge());
    EXPECT_EQ(port.Write(frame, 4), 4);
    std::uint8_t reply[8] = {};
    EXPECT_EQ(port.Read(reply, 8), 3);
    EXPECT_EQ(port.Read(reply, 8), 0);  // nothing more queued
    port.Flush();
    port.SetBreak();
    port.SetRts();
    port.ClearDtr();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    recorder.EndExchange("version", "done");

    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].sent, (Bytes{0x04, 0x53, 0x57, 0x24}));
    EXPECT_EQ(exchanges[0].received, (Bytes{0xAA, 0x01, 0x02}));
    EXPECT_EQ(trace, (testing::SerialTrace{"write 04 53 57 24", "open 3 115200", "set timeouts",
                                           "get timeouts", "purge", "write 04 53 57 24", "read 8",
                                           "read 8", "flush", "break", "rts", "dtr off", "close"}));
}

TEST_F(TrafficRecorderTest, BytesFromAnotherThreadAreNeitherLostNorCountedTwice) {
    testing::FakeClock clock;
    testing::FakeStream inner(clock);
    RecordingByteStream stream(inner, recorder);
    constexpr int kSends = 2000;
    std::thread sender([&] {
        for (int i = 0; i < kSends; ++i) stream.Send("ab", 2);
    });
    for (int i = 0; i < 50; ++i) recorder.EndExchange("poll", "done");
    sender.join();
    recorder.EndExchange("poll", "done");

    std::size_t total = 0;
    for (const RecordedExchange& e : exchanges) {
        total += e.sent.size();
        // Bytes are appended a whole send at a time, so no exchange splits one.
        for (std::size_t i = 0; i < e.sent.size(); ++i) EXPECT_EQ(e.sent[i], i % 2 ? 'b' : 'a');
    }
    EXPECT_EQ(total, 2u * kSends);
    EXPECT_EQ(exchanges.size(), 51u);
}

}  // namespace
}  // namespace traffic_recorder_test
}  // namespace vantrel
