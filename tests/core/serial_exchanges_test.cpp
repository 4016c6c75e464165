#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "unit/serial_exchanges.h"
#include "tests/support/recording_serial.h"

namespace vantrel {
namespace serial_exchanges_test {
namespace {

using testing::RecordingSerial;
using testing::SerialTrace;
using testing::TracingClock;
using Trace = std::vector<std::string>;

// What a network read brought, as text lines for comparison.
std::vector<std::string> Lines(const NetworkSettings& settings) {
    std::vector<std::string> lines;
    if (settings.mac) lines.push_back("mac " + testing::HexBytes(settings.mac->data(), 6));
    const std::pair<const char*, std::optional<std::uint32_t>> addresses[] = {
        {"ip", settings.ip}, {"mask", settings.mask}, {"gateway", settings.gateway}};
    for (const auto& [name, a] : addresses) {
        if (!a) continue;
        char text[40];
        std::snprintf(text, sizeof text, "%s %u.%u.%u.%u", name, *a >> 24, (*a >> 16) & 0xFF,
                      (*a >> 8) & 0xFF, *a & 0xFF);
        lines.push_back(text);
    }
    if (settings.mode) lines.push_back("mode " + std::to_string(static_cast<int>(*settings.mode)));
    return lines;
}

class SerialExchangesTest : public ::testing::Test {
  protected:
    void OpenPort() {
        const std::int32_t ports[] = {3};
        ASSERT_TRUE(OpenSelectedPort(serial, ports, 1, 0));
        trace.clear();
    }
    void Reply(std::vector<unsigned char> bytes) { serial.QueueReply(std::move(bytes)); }

    SerialTrace trace;
    RecordingSerial serial{trace};
    TracingClock clock{trace};
};

TEST_F(SerialExchangesTest, OpensTheSelectedPortAndNothingOutsideTheList) {
    const std::int32_t ports[] = {4, 9};
    EXPECT_TRUE(OpenSelectedPort(serial, ports, 2, 1));
    EXPECT_EQ(trace, (Trace{"open 9 115200"}));

    trace.clear();
    EXPECT_FALSE(OpenSelectedPort(serial, ports, 2, -1));  // no selection
    EXPECT_FALSE(OpenSelectedPort(serial, ports, 2, 2));
    EXPECT_FALSE(OpenSelectedPort(serial, ports, 0, 0));  // empty list
    EXPECT_TRUE(trace.empty());

    serial.FailOpen();
    EXPECT_FALSE(OpenSelectedPort(serial, ports, 2, 0));
    EXPECT_EQ(trace, (Trace{"open 4 115200"}));
}

TEST_F(SerialExchangesTest, PlainCommandWritesAndClosesAndDefaultIpStaysForItsCheck) {
    OpenPort();
    EXPECT_TRUE(RunPlainCommand(serial, BuildFrame(SerialUnit::Main, main_cmd::kMute)).Ok());
    EXPECT_EQ(trace, (Trace{"write 04 53 57 0B", "close"}));
    EXPECT_FALSE(serial.IsOpen());
    OpenPort();
    EXPECT_TRUE(RunDefaultIp(serial).Ok());
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 9});
    const Result<std::uint32_t> ip = RunAddressRead(serial, clock);
    EXPECT_EQ(ip.Value(), 0x7F000009u);
    EXPECT_EQ(trace,
              (Trace{"write 04 87 60 0B", "purge", "write 04 87 60 02", "sleep 200", "read 6"}));
    EXPECT_TRUE(serial.IsOpen());
}

TEST_F(SerialExchangesTest, FactoryResetPurgesAndPauses) {
    OpenPort();
    RunFactoryReset(serial, clock);
    EXPECT_EQ(trace, (Trace{"purge", "write 04 53 57 23", "sleep 30", "close"}));
}

TEST_F(SerialExchangesTest, VolumeStepReadsTheVolumeBack) {
    OpenPort();
    Reply({0x00, 0x00, 77});  // above the bar's 40: used as it is
    EXPECT_EQ(RunVolumeStep(serial, clock, StepDirection::Up).Value(), 77);
    EXPECT_EQ(trace, (Trace{"write 04 53 57 09", "sleep 30", "purge", "write 04 53 57 11",
                            "sleep 30", "read 3", "close"}));

    OpenPort();
    Reply({0xAA, 0xCC});  // cut short: no level
    EXPECT_EQ(RunVolumeStep(serial, clock, StepDirection::Down).GetFault(), Fault::kBadReply);
    EXPECT_EQ(trace.front(), "write 04 53 57 0A");
}

TEST_F(SerialExchangesTest, LevelStepSetsOnlyWithinRange) {
    struct Case {
        Level level;
        StepDirection direction;
        unsigned char read;
        std::optional<std::uint8_t> stepped;
        Trace tail;
    };
    const Case cases[] = {
        {Level::Brightness, StepDirection::Down, 3, std::nullopt, {}},
        {Level::Brightness, StepDirection::Down, 4, std::nullopt, {}},
        {Level::Brightness,
         StepDirection::Down,
         5,
         0,
         {"purge", "write 05 53 57 16 00", "sleep 30"}},
        {Level::Contrast,
         StepDirection::Up,
         250,
         255,
         {"purge", "write 05 53 57 18 FF", "sleep 30"}},
        {Level::Contrast, StepDirection::Up, 251, std::nullopt, {}},
        {Level::Saturation, StepDirection::Up, 255, std::nullopt, {}},
        {Level::Saturation,
         StepDirection::Down,
         255,
         250,
         {"purge", "write 05 53 57 20 FA", "sleep 30"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.read));
        OpenPort();
        Reply({0x99, 0x99, c.read});
        const Result<LevelStep> step = RunLevelStep(serial, clock, c.level, c.direction);
        EXPECT_TRUE(step.Ok());  // at an end too: nothing to set is no failure
        const LevelStep& result = step.Value();
        EXPECT_EQ(result.read, c.read);
        EXPECT_EQ(result.stepped, c.stepped);
        const char* readFrame = c.level == Level::Brightness ? "write 04 53 57 17"
                                : c.level == Level::Contrast ? "write 04 53 57 19"
                                                             : "write 04 53 57 21";
        Trace expected{"purge", readFrame, "sleep 30", "read 3"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        expected.push_back("close");
        EXPECT_EQ(trace, expected);
    }
}

TEST_F(SerialExchangesTest, LevelStepWithoutReplySendsNoSetFrame) {
    OpenPort();
    const Result<LevelStep> step = RunLevelStep(serial, clock, Level::Contrast, StepDirection::Up);
    EXPECT_EQ(step.GetFault(), Fault::kNothingReceived);
    const LevelStep& result = step.Value();
    EXPECT_FALSE(result.read);
    EXPECT_FALSE(result.stepped);
    EXPECT_EQ(trace, (Trace{"purge", "write 04 53 57 19", "sleep 30", "read 3", "close"}));
}

TEST_F(SerialExchangesTest, StatusReadChecksTheHeader) {
    OpenPort();
    Reply({0xAA, 0xCC, 0, 1, 0, 20, 0, 100, 110, 120, 4});
    const Result<StatusBlock> block = RunStatusRead(serial, clock);
    ASSERT_TRUE(block.Ok());
    EXPECT_EQ(block.Value(), (StatusBlock{0, 1, 0, 20, 0, 100, 110, 120, 4}));
    EXPECT_EQ(trace, (Trace{"purge", "write 04 53 57 24", "sleep 50", "read 11", "close"}));

    OpenPort();
    Reply({0xAA, 0xCD, 0, 1, 0, 20, 0, 100, 110, 120, 4});
    EXPECT_EQ(RunStatusRead(serial, clock).GetFault(), Fault::kBadReply);
    OpenPort();
    Reply({0xAA, 0xCC, 0, 1, 0});
    EXPECT_EQ(RunStatusRead(serial, clock).GetFault(), Fault::kBadReply);
    OpenPort();
    EXPECT_EQ(RunStatusRead(serial, clock).GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(trace.back(), "close");
}

void QueueNetworkSettings(RecordingSerial& serial) {
    serial.QueueReply({0xAA, 0xCC, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 2});
    serial.QueueReply({0xAA, 0xCC, 255, 0, 0, 0});
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 1});
    serial.QueueReply({0x00, 0x00, 0x01});
}

const Trace kAddressReads{"purge", "write 04 87 60 02", "sleep 200", "read 6",
                          "purge", "write 04 87 60 03", "sleep 200", "read 6",
                          "purge", "write 04 87 60 04", "sleep 200", "read 6"};

Trace Concat(Trace a, const Trace& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(SerialExchangesTest, NetworkReadForTheReadButton) {
    OpenPort();
    QueueNetworkSettings(serial);
    const Result<NetworkSettings> read =
        RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_TRUE(read.Ok());
    EXPECT_EQ(trace, Concat(Concat({"write 04 87 60 01", "sleep 200", "read 8"}, kAddressReads),
                            {"purge", "write 04 87 60 05", "sleep 200", "read 3"}));
    EXPECT_EQ(Lines(read.Value()),
              (std::vector<std::string>{"mac 00 1A 2B 3C 4D 5E", "ip 127.0.0.2", "mask 255.0.0.0",
                                        "gateway 127.0.0.1", "mode 2"}));
    EXPECT_TRUE(serial.IsOpen());  // the caller closes, after its message
}

TEST_F(SerialExchangesTest, NetworkReadForTheLinkChoice) {
    OpenPort();
    QueueNetworkSettings(serial);
    EXPECT_TRUE(RunNetworkRead(serial, clock, NetworkReadVariant::LinkChoice).Ok());
    EXPECT_EQ(trace,
              Concat(Concat({"purge", "write 04 87 60 01", "sleep 100", "read 8", "sleep 200"},
                            kAddressReads),
                     {"purge", "write 04 87 60 05", "sleep 200", "read 3"}));
}

TEST_F(SerialExchangesTest, NetworkReadStopsAtTheFirstFailedCheck) {
    OpenPort();
    Result<NetworkSettings> read = RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_EQ(read.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(trace, (Trace{"write 04 87 60 01", "sleep 200", "read 8"}));
    EXPECT_TRUE(Lines(read.Value()).empty());

    OpenPort();
    serial.QueueReply({0xAA, 0xCC, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 2});
    serial.QueueReply({0xAA, 0xCD, 255, 0, 0, 0});
    read = RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_EQ(read.GetFault(), Fault::kBadReply);
    EXPECT_EQ(trace.back(), "read 6");
    EXPECT_EQ(trace.size(), 3u + 8u);  // MAC, IP, mask: the gateway is never asked for
    EXPECT_EQ(Lines(read.Value()),
              (std::vector<std::string>{"mac 00 1A 2B 3C 4D 5E", "ip 127.0.0.2"}));
}

TEST_F(SerialExchangesTest, NetworkReadWithoutModeReplyStillCompletes) {
    OpenPort();
    serial.QueueReply({0xAA, 0xCC, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 2});
    serial.QueueReply({0xAA, 0xCC, 255, 0, 0, 0});
    serial.QueueReply({0xAA, 0xCC, 127, 0, 0, 1});
    const Result<NetworkSettings> read =
        RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_TRUE(read.Ok());
    EXPECT_EQ(Lines(read.Value()).back(), "gateway 127.0.0.1");
}

TEST_F(SerialExchangesTest, NetworkWriteInStaticMode) {
    OpenPort();
    serial.QueueReply({0xAA, 0xCC, 10, 0, 0, 5});
    serial.QueueReply({0xAA, 0xCC, 255, 255, 255, 0});
    serial.QueueReply({0xAA, 0xCC, 10, 0, 0, 1});
    const Addresses addresses{0x0A000005, 0xFFFFFF00, 0x0A000001};
    const Result<NetworkSettings> written =
        RunNetworkWrite(serial, clock, addresses, AddressMode::Static);
    EXPECT_TRUE(written.Ok());
    EXPECT_EQ(trace, Concat({"purge", "write 08 87 60 06 0A 00 00 05", "sleep 200", "purge",
                             "write 08 87 60 07 FF FF FF 00", "sleep 200", "purge",
                             "write 08 87 60 08 0A 00 00 01", "sleep 200", "purge",
                             "write 05 87 60 09 00", "sleep 6000"},
                            kAddressReads));
    EXPECT_EQ(Lines(written.Value()),
              (std::vector<std::string>{"ip 10.0.0.5", "mask 255.255.255.0", "gateway 10.0.0.1"}));
}

TEST_F(SerialExchangesTest, NetworkWriteInDhcpModeAndItsFailedReadBack) {
    OpenPort();
    EXPECT_EQ(RunNetworkWrite(serial, clock, std::nullopt, AddressMode::Dhcp).GetFault(),
              Fault::kNothingReceived);
    EXPECT_EQ(trace, (Trace{"purge", "write 05 87 60 09 01", "sleep 6000", "purge",
                            "write 04 87 60 02", "sleep 200", "read 6"}));
}

TEST_F(SerialExchangesTest, VersionReadAsksTheNetControllerOnlyAfterTheMainOne) {
    OpenPort();
    serial.QueueReply({0xAA, 0x00, 1, 7});
    serial.QueueReply({0xAA, 0x00, 2, 10});
    FirmwareVersions versions = RunVersionRead(serial, clock).Value();
    ASSERT_TRUE(versions.main && versions.net);
    EXPECT_EQ(versions.main->minor, 7);
    EXPECT_EQ(versions.net->major, 2);
    EXPECT_EQ(trace, (Trace{"purge", "write 04 53 57 22", "sleep 200", "read 4", "sleep 500",
                            "purge", "write 04 87 60 0A", "sleep 200", "read 4", "close"}));

    OpenPort();
    const Result<FirmwareVersions> silent = RunVersionRead(serial, clock);
    EXPECT_EQ(silent.GetFault(), Fault::kNothingReceived);
    EXPECT_FALSE(silent.Value().main || silent.Value().net);
    EXPECT_EQ(trace, (Trace{"purge", "write 04 53 57 22", "sleep 200", "read 4", "close"}));
}

TEST_F(SerialExchangesTest, LoaderEntryLeavesThePortOpen) {
    OpenPort();
    EnterLoader(serial, clock);
    EXPECT_EQ(trace, (Trace{"write 04 53 57 FE", "sleep 3000", "purge"}));
    EXPECT_TRUE(serial.IsOpen());
}

}  // namespace
}  // namespace serial_exchanges_test
}  // namespace vantrel
