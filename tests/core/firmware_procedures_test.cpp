// The update procedures against scripted ports and streams: every port call and pause in one
// trace, and what the dialog shows.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "firmware/loader_packets.h"
#include "firmware/net_frames.h"
#include "presenters/firmware_ids.h"
#include "presenters/firmware_presenter.h"
#include "tests/support/fake_stream.h"
#include "tests/support/hex_text.h"
#include "tests/support/recording_firmware_view.h"
#include "tests/support/recording_serial.h"
#include "tests/support/temp_file.h"

namespace vantrel::firmware {
namespace firmware_procedures_test {
namespace {

using Lines = std::vector<std::string>;
using testing::HexBytes;

const std::vector<unsigned char> kAckReply{0x00, 0xCC};
const std::vector<unsigned char> kReadyReply{0x00, 0xCC, 0x03, 0x40, 0x40};

std::string Bytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(0x30 + i % 64);
    return bytes;
}

// The lines of `trace` from the first that starts with `from`.
Lines From(const Lines& trace, const std::string& from) {
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].compare(0, from.size(), from) == 0)
            return Lines(trace.begin() + i, trace.end());
    }
    return {};
}

class FirmwareProcedureTest : public ::testing::Test {
  protected:
    void Load(std::string& path, const std::string& bytes) {
        file.reset();
        file = std::make_unique<testing::TempFile>("procedure", bytes);
        path = file->Path();
    }
    bool Wrote(const std::string& bytes) const {
        for (const std::string& line : trace) {
            if (line == "write " + bytes) return true;
        }
        return false;
    }

    FirmwareRecord record;
    testing::SerialTrace trace;
    testing::RecordingSerial port{trace};
    testing::TracingClock clock{trace};
    testing::RecordingFirmwareView view;
    std::unique_ptr<testing::TempFile> file;
};

TEST_F(FirmwareProcedureTest, MainSerialSendsA300ByteImageInFourChunks) {
    record.comPort = 4;
    const std::string image = Bytes(300);
    Load(record.mainFile, image);
    port.QueueReply(kAckReply);  // Ping
    port.QueueReply(kAckReply);  // Download
    for (int chunk = 0; chunk < 4; ++chunk) {
        port.QueueReply(kReadyReply);
        port.QueueReply(kAckReply);
    }
    port.QueueReply(kReadyReply);
    port.QueueReply(kAckReply);  // Finish
    EXPECT_TRUE(BurnMainSerial(record, port, clock, view).Ok());

    Lines expected{"open 4 115200",     "close",        "open 4 115200",
                   "write 04 53 57 FE", "sleep 3000",   "purge",
                   "get timeouts",      "set timeouts", "write 03 20 20",
                   "sleep 200",         "read 2",       "write 0B 76 21 00 00 28 00 00 00 01 2C",
                   "sleep 2000",        "read 2"};
    for (std::size_t at = 0; at < 300; at += 76) {
        const std::size_t n = std::min<std::size_t>(76, 300 - at);
        const Packet data =
            SendDataPacket(reinterpret_cast<const std::uint8_t*>(image.data()) + at, n);
        EXPECT_EQ(data.size(), n + 3);
        for (const char* line : {"write 03 23 23", "sleep 5", "read 5"}) expected.push_back(line);
        expected.push_back("write CC " + HexBytes(data.data(), data.size()));
        for (const char* line : {"sleep 15", "read 2"}) expected.push_back(line);
    }
    for (const char* line : {"write 03 23 23", "sleep 5", "read 5", "write CC 03 25 25", "sleep 10",
                             "read 2", "close"}) {
        expected.push_back(line);
    }
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(view.Calls(),
              (Lines{"text 1026 300 byte.", "text 1027 COM port Connected!", "cursor wait",
                     "text 1027 Writing flash ... !", "range 3", "pos 0", "pos 1", "pos 2", "pos 3",
                     "cursor arrow", "text 1027 Firmware Updated!", "enable 1012"}));
}

TEST_F(FirmwareProcedureTest, MainSerialFailuresNeverReportSuccess) {
    struct Case {
        const char* name;
        std::vector<std::vector<unsigned char>> replies;
        const char* status;
        Fault fault;
    };
    const Case cases[] = {
        {"silent after Ping", {}, "Fail to connect to device!", Fault::kNothingReceived},
        {"Download refused",
         {kAckReply, {0x00, 0x33}},
         "Fail to connect to device!",
         Fault::kRefused},
        {"status check refused",
         {kAckReply, kAckReply, {0x00, 0x33}},
         "Fail to write flash!",
         Fault::kRefused},
        {"closing status with a wrong first byte",
         {kAckReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          {0x01, 0xCC, 0x03, 0x40, 0x40}},
         "Fail to write flash!",
         Fault::kBadReply},
        {"Finish answered short",
         {kAckReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          kAckReply,
          kReadyReply,
          {0x00}},
         "Fail to write flash!",
         Fault::kBadReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::SerialTrace caseTrace;
        testing::RecordingSerial casePort(caseTrace);
        testing::RecordingFirmwareView caseView;
        for (const auto& reply : c.replies) casePort.QueueReply(reply);
        record.comPort = 4;
        Load(record.mainFile, Bytes(300));
        const Outcome outcome = BurnMainSerial(record, casePort, clock, caseView);
        EXPECT_EQ(outcome.GetFault(), c.fault);
        EXPECT_STREQ(outcome.Text(), c.status);
        EXPECT_EQ(caseView.Text(kMainStatusText), c.status);
        EXPECT_EQ(caseView.Calls().back(), "enable 1012");
        EXPECT_EQ(caseTrace.back(), "close");
    }
}

TEST_F(FirmwareProcedureTest, MainSerialRefusesAConvertedImageTooShortForTheLoader) {
    record.comPort = 4;
    Load(record.mainFile, testing::HexOf(std::vector<std::uint8_t>(152, 0x11), 16));
    port.QueueReply(kAckReply);
    port.QueueReply(kAckReply);
    BurnMainSerial(record, port, clock, view);
    EXPECT_EQ(From(trace, "write 0B"),
              (Lines{"write 0B E1 21 00 00 28 00 00 00 00 98", "sleep 2000", "read 2", "close"}));
    EXPECT_EQ(view.Text(kMainStatusText), "Fail to write flash!");
}

TEST_F(FirmwareProcedureTest, MainSerialReportsBeforeSendingWhenThereIsNoImageOrPort) {
    struct Case {
        std::int32_t comPort;
        std::string file;  // empty: none chosen
        const char* status;
        Fault fault;
        Lines trace;
    };
    const Case cases[] = {
        {4, "", "Please load file first!", Fault::kNoFile, {"open 4 115200", "close"}},
        {4, Bytes(200), "Fail to write flash!", Fault::kImageTooShort, {"open 4 115200", "close"}},
        {4,
         ":10000000" + std::string(600, '0'),
         "Fail to convert the input from hex to bin!",
         Fault::kBadImage,
         {"open 4 115200", "close"}},
        {-1, Bytes(300), "Fail to open COM port!", Fault::kNotOpened, {"close"}},
        {256, Bytes(300), "Fail to open COM port!", Fault::kNotOpened, {"close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        trace.clear();
        record.comPort = c.comPort;
        record.mainFile.clear();
        if (!c.file.empty()) Load(record.mainFile, c.file);
        const Outcome outcome = BurnMainSerial(record, port, clock, view);
        EXPECT_EQ(outcome.GetFault(), c.fault);
        EXPECT_STREQ(outcome.Text(), c.status);
        EXPECT_EQ(view.Text(kMainStatusText), c.status);
        EXPECT_EQ(trace, c.trace);
    }
}

TEST_F(FirmwareProcedureTest, BreakHoldsTheLineAndKeepsTheMainUpdateOff) {
    record.comPort = 2;
    EXPECT_TRUE(Break(record, port, view).Ok());
    EXPECT_EQ(trace, (Lines{"open 2 19200", "rts", "dtr off", "flush", "break"}));
    EXPECT_EQ(view.Calls(), (Lines{"text 1031 Please power cycle device to into bootloader entry!",
                                   "enable 1015"}));
    // Pressed again: the port it holds is released before it is opened anew.
    trace.clear();
    Break(record, port, view);
    EXPECT_EQ(trace, (Lines{"close", "open 2 19200", "rts", "dtr off", "flush", "break"}));

    trace.clear();
    view.Clear();
    Load(record.mainFile, Bytes(300));
    EXPECT_STREQ(BurnMainSerial(record, port, clock, view).Text(), "COM port is occupied!");
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(view.Calls(), (Lines{"message COM port is occupied!", "enable 1012"}));
    EXPECT_TRUE(port.IsOpen());

    // A port that does not open is occupied for Break, and for the net update's probe.
    testing::RecordingSerial refusing(trace);
    refusing.FailOpen();
    EXPECT_EQ(Break(record, refusing, view).GetFault(), Fault::kNotOpened);
    Load(record.netFile, Bytes(300));
    EXPECT_STREQ(BurnNetSerial(record, refusing, clock, view).Text(), "COM port is occupied!");
    EXPECT_EQ(view.Calls("message"),
              (Lines{"COM port is occupied!", "COM port is occupied!", "COM port is occupied!"}));
    EXPECT_EQ(view.Calls().back(), "enable 1015");

    // A port that is not there is not held: each update finds that it does not open.
    testing::RecordingSerial missing(trace);
    missing.FailOpen(false);
    view.Clear();
    Load(record.mainFile, Bytes(300));
    BurnMainSerial(record, missing, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Fail to open COM port!");
    Load(record.netFile, Bytes(300));
    EXPECT_STREQ(BurnNetSerial(record, missing, clock, view).Text(), "Fail to open COM port!");
    EXPECT_EQ(view.Text(kNetStatusText), "Fail to open COM port!");
    EXPECT_EQ(view.Calls("message"), Lines{});
    EXPECT_EQ(view.Calls().back(), "enable 1017");
}

TEST_F(FirmwareProcedureTest, TwoProceduresNeverShareThePort) {
    record.comPort = 2;
    std::unique_lock<std::mutex> held(record.portLock);  // another update is using it
    Break(record, port, view);
    BurnMainSerial(record, port, clock, view);
    BurnNetSerial(record, port, clock, view);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(view.Calls(), (Lines{"message COM port is occupied!", "message COM port is occupied!",
                                   "enable 1012", "message COM port is occupied!", "enable 1015"}));
}

// The net update's scripted bootloader: the wake-up and every erase frame answered.
void QueueErase(testing::RecordingSerial& port) {
    port.QueueReply({kStartByte});
    for (std::size_t i = 0; i < ErasePlan().size(); ++i) {
        port.QueueReply({kStartByte});
        port.QueueReply({0x06, 0x06, 0x06, 0x06});
    }
}

TEST_F(FirmwareProcedureTest, NetUpdateStoppedDuringTheEraseEndsBeforeTheFirstWriteFrame) {
    record.comPort = 3;
    record.netStop = 0;
    Load(record.netFile, Bytes(4000));
    QueueErase(port);
    port.QueueReply({kStartByte});
    view.onText = [this](int, const std::string& text) {
        if (text == "Erasing flash ... !") record.netStop = 1;
    };
    EXPECT_EQ(BurnNetSerial(record, port, clock, view).GetFault(), Fault::kStopped);

    const Lines erase = From(trace, "purge");
    ASSERT_GE(erase.size(), 12u);
    EXPECT_EQ(
        Lines(erase.begin(), erase.begin() + 12),
        (Lines{"purge", "write 0F", "sleep 50", "read 1", "purge", "write 0F", "sleep 50", "read 1",
               "purge", "write 03 00 F4 01 00 05 04 E8 EC 04", "sleep 200", "read 4"}));
    EXPECT_TRUE(Wrote("03 00 05 04 00 00 02 53 24 04"));
    EXPECT_EQ(From(trace, "write 03 00 05 04 00 00 02 53 24 04"),
              (Lines{"write 03 00 05 04 00 00 02 53 24 04", "sleep 200", "read 4", "sleep 50",
                     "write 0F", "sleep 200", "read 1", "close"}));
    EXPECT_EQ(view.Calls(),
              (Lines{"text 1030 4000 byte.", "text 1031 COM port Connected!", "cursor wait",
                     "text 1031 Erasing flash ... !", "text 1031 Writing flash ... !", "range 400",
                     "pos 0", "cursor arrow", "text 1031 Fail to write flash!", "enable 1017"}));
}

TEST_F(FirmwareProcedureTest, NetImageThatDoesNotFitIsRefusedBeforeTheErase) {
    record.comPort = 3;
    Load(record.netFile, Bytes(0x1F7C0 + 1));
    BurnNetSerial(record, port, clock, view);
    EXPECT_EQ(From(trace, "open 3 19200").size(), trace.size());
    EXPECT_FALSE(Wrote("0F"));
    EXPECT_EQ(view.Text(kNetStatusText), "Fail to write flash!");
    EXPECT_EQ(view.Calls().back(), "enable 1017");
}

class MainEthernetTest : public FirmwareProcedureTest {
  protected:
    void SetUp() override {
        record.linkDown = 0;
        record.stream = &stream;
        Load(record.mainFile, Bytes(300));
    }
    testing::FakeClock streamClock;
    testing::FakeStream stream{streamClock};
};

TEST_F(MainEthernetTest, NoSessionSendsNothing) {
    record.linkDown = 1;
    EXPECT_EQ(BurnMainEthernet(record, clock, view).GetFault(), Fault::kNotOpened);
    EXPECT_TRUE(stream.Events().empty());
    EXPECT_EQ(view.Calls(), (Lines{"text 1027 Ethernet is not connected!", "enable 1012"}));
}

// An update waiting for the session's pass ends at the group's Stop, and one whose session
// ended meanwhile does not start: neither sends anything.
TEST_F(MainEthernetTest, AStopWhileWaitingForTheSessionOrASessionGoneSendsNothing) {
    std::mutex streamUse;
    std::atomic<std::int32_t> sessionDown{0};
    record.streamUse = &streamUse;
    record.sessionDown = &sessionDown;
    record.mainStop = 1;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> pass(streamUse);  // the session is in a pass
        std::thread update([&] { outcome = BurnMainEthernet(record, clock, view); });
        update.join();
    }
    EXPECT_EQ(outcome.GetFault(), Fault::kStopped);
    EXPECT_EQ(view.Calls("text 1027"),
              (Lines{"Waiting for the session ... !", "Fail to write flash!"}));

    record.mainStop = 0;
    sessionDown = 1;
    EXPECT_EQ(BurnMainEthernet(record, clock, view).GetFault(), Fault::kNotOpened);
    EXPECT_EQ(view.Text(kMainStatusText), "Ethernet is not connected!");
    EXPECT_TRUE(stream.Events().empty());
}

TEST_F(MainEthernetTest, EachConsoleReplyHasItsOwnFailureText) {
    stream.QueueReply("ERROR\r\n");
    EXPECT_STREQ(BurnMainEthernet(record, clock, view).Text(), "Firmware update fail!");
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware update fail!");

    stream.QueueReply("OK\r\n");
    stream.QueueReply("NO\r\n");
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware update fail");
    EXPECT_EQ(stream.Sent().back(), std::string("\x04\x53\x57\xFE", 4));

    // A receive that fails is a failed reply, whatever an earlier reply left.
    stream.QueueReply("OK\r\n");
    stream.QueueResult(-1);
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Firmware update fail");
}

TEST_F(MainEthernetTest, SplitRepliesArePutTogetherAndSilenceFailsTheStep) {
    stream.QueueReply("O");
    stream.QueueReply("K, loader\r\n");
    stream.QueueReply("OK\r\n");
    stream.QueueReply(std::string(1, '\0'));
    stream.QueueReply("\xCC");
    stream.QueueResult(0);  // Download: the unit closed the connection
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(view.Text(kMainStatusText), "Fail to connect to device!");
    EXPECT_EQ(stream.Sent().size(), 4u);
    EXPECT_EQ(streamClock.Pauses(), (std::vector<long long>{}));
    EXPECT_EQ(clock.Pauses(), (std::vector<long long>{3000, 200, 2000}));
    EXPECT_EQ(view.Calls("cursor"), (Lines{"wait", "arrow"}));
}

// "OK" whose line end does not come within the console's time limit passes; the loader's
// replies are waited for as long as over the COM port (5 s plus 5 s a byte), not its 3 s.
TEST_F(MainEthernetTest, ABareOkPassesAndLoaderRepliesWaitAsLongAsOverTheComPort) {
    stream.QueueReply("OK");
    stream.QueueResult(-1);  // no line end within the time limit
    stream.QueueReply("OK\r\n");
    stream.QueueReply(std::string(reinterpret_cast<const char*>(kAck), 2));  // Ping
    stream.QueueResult(-1);                                                  // Download
    BurnMainEthernet(record, clock, view);
    EXPECT_EQ(stream.Sent().size(), 4u);
    EXPECT_EQ(view.Text(kMainStatusText), "Fail to connect to device!");
    EXPECT_EQ(stream.Limits(), (std::vector<long long>{15000, 15000}));
}

}  // namespace
}  // namespace firmware_procedures_test
}  // namespace vantrel::firmware
