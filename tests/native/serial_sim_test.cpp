// The serial exchanges through the real POSIX SerialPort and a pty to the simulated unit. Every
// port call and clock pause lands in one ordered trace; the clock is fake, the reads' own
// time-outs are real.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "unit/serial_exchanges.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "sim/serial_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"
#include "tests/support/recording_serial.h"
#include "tests/support/serial_unit_test.h"

namespace vantrel {
namespace serial_sim_test {
namespace {

using namespace std::chrono_literals;
using testing::HexBytes;
using Lines = std::vector<std::string>;

constexpr std::uint32_t kComPort = 17;
constexpr std::uint32_t kUnitIp = 0x7F000002;  // 127.0.0.2

Lines AsLines(const NetworkSettings& settings) {
    Lines lines;
    if (settings.mac) lines.push_back("mac " + HexBytes(settings.mac->data(), 6));
    for (const std::optional<std::uint32_t>& a : {settings.ip, settings.mask, settings.gateway}) {
        if (!a) continue;
        char text[20];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", *a >> 24, (*a >> 16) & 0xFF,
                      (*a >> 8) & 0xFF, *a & 0xFF);
        lines.push_back(text);
    }
    if (settings.mode) lines.push_back("mode " + std::to_string(static_cast<int>(*settings.mode)));
    return lines;
}

class SerialSimTest : public testing::SerialUnitTest {
  protected:
    SerialSimTest() : SerialUnitTest(kComPort) {}
    // Opens the port as a panel exchange does and starts the trace after the open.
    void Open() {
        const std::int32_t ports[] = {static_cast<std::int32_t>(kComPort)};
        trace.clear();
        ASSERT_TRUE(OpenSelectedPort(serial, ports, 1, 0));
        EXPECT_EQ(trace, (Lines{"open 17 115200"}));
        trace.clear();
    }
    // The frames the unit received since the last call, as hex.
    Lines Received(size_t count) {
        EXPECT_TRUE(log.WaitForCount(count, 2000ms));
        Lines frames;
        for (const std::string& frame : log.Lines("serial")) {
            frames.push_back(HexBytes(frame.data(), frame.size()));
        }
        log.Clear();
        return frames;
    }

    testing::SerialTrace trace;
    SerialPort port{[](const char*) {}};
    testing::RecordingSerial serial{trace, &port};
    testing::TracingClock clock{trace};
};

// A unit that misbehaves in the given way.
class SerialSimFaultTest : public SerialSimTest {
  protected:
    void SetUp() override {}
    void StartFaulty(void (*set)(sim::SerialFaults&)) {
        sim::SerialFaults faults;
        set(faults);
        StartUnit(faults);
    }
};

TEST_F(SerialSimTest, PlainCommandsReachTheUnit) {
    struct Case {
        SerialFrame frame;
        const char* bytes;
    };
    const Case cases[] = {
        {BuildFrame(SerialUnit::Main, main_cmd::kSoloLeft), "04 53 57 01"},
        {BuildFrame(SerialUnit::Main, main_cmd::kDppmMode), "04 53 57 14"},
        {BuildFrame(SerialUnit::Main, main_cmd::kUnbalancedInput), "04 53 57 28"},
    };
    for (const Case& c : cases) {
        Open();
        RunPlainCommand(serial, c.frame);
        EXPECT_EQ(trace, (Lines{std::string("write ") + c.bytes, "close"}));
        EXPECT_EQ(Received(1), (Lines{c.bytes}));
        trace.clear();
    }
    sim::UnitState state = unit.State();
    EXPECT_EQ(state.soloLeft, 1);
    EXPECT_EQ(state.meterMode, 1);
    EXPECT_EQ(state.input, 3);

    unit.SetIp(0x7F000009);
    Open();
    RunPlainCommand(serial, BuildFrame(SerialUnit::Net, net_cmd::kDefaultIp));
    EXPECT_EQ(Received(1), (Lines{"04 87 60 0B"}));
    EXPECT_EQ(unit.State().ip, kUnitIp);
}

TEST_F(SerialSimTest, FactoryResetAndVolumeStep) {
    unit.SetLevel(sim::Level::Brightness, 7);
    Open();
    RunFactoryReset(serial, clock);
    EXPECT_EQ(trace, (Lines{"purge", "write 04 53 57 23", "sleep 30", "close"}));
    EXPECT_EQ(Received(1), (Lines{"04 53 57 23"}));
    EXPECT_EQ(unit.GetLevel(sim::Level::Brightness), 128);

    unit.SetLevel(sim::Level::Volume, 20);
    Open();
    EXPECT_EQ(RunVolumeStep(serial, clock, StepDirection::Up).Value(), 21);
    EXPECT_EQ(trace, (Lines{"write 04 53 57 09", "sleep 30", "purge", "write 04 53 57 11",
                            "sleep 30", "read 3", "close"}));
    EXPECT_EQ(Received(2), (Lines{"04 53 57 09", "04 53 57 11"}));
}

TEST_F(SerialSimTest, LevelStepFollowsTheRangeRule) {
    struct Case {
        int level;
        StepDirection direction;
        int expected;  // the unit's level afterwards
        const char* setFrame;
    };
    const Case cases[] = {
        {3, StepDirection::Down, 3, nullptr},
        {4, StepDirection::Down, 4, nullptr},
        {5, StepDirection::Down, 0, "05 53 57 18 00"},
        {250, StepDirection::Up, 255, "05 53 57 18 FF"},
        {251, StepDirection::Up, 251, nullptr},
        {255, StepDirection::Up, 255, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        unit.SetLevel(sim::Level::Contrast, c.level);
        Open();
        const LevelStep result = RunLevelStep(serial, clock, Level::Contrast, c.direction).Value();
        EXPECT_EQ(result.read, c.level);
        EXPECT_EQ(result.stepped.has_value(), c.setFrame != nullptr);
        Lines expectedTrace{"purge", "write 04 53 57 19", "sleep 30", "read 3"};
        Lines expectedFrames{"04 53 57 19"};
        if (c.setFrame) {
            EXPECT_EQ(result.stepped, c.expected);
            expectedTrace.insert(expectedTrace.end(),
                                 {"purge", std::string("write ") + c.setFrame, "sleep 30"});
            expectedFrames.push_back(c.setFrame);
        }
        expectedTrace.push_back("close");
        EXPECT_EQ(trace, expectedTrace);
        EXPECT_EQ(Received(expectedFrames.size()), expectedFrames);
        EXPECT_EQ(unit.GetLevel(sim::Level::Contrast), c.expected);
        trace.clear();
    }
}

TEST_F(SerialSimTest, StatusReadCarriesTheBlockInWireOrder) {
    unit.Press(sim::Button::SoloRight);
    unit.Press(sim::Button::MixDown);
    unit.Press(sim::Button::DppmMode);
    unit.Press(sim::Button::BalancedInput);
    unit.SetLevel(sim::Level::Volume, 33);
    unit.SetLevel(sim::Level::Brightness, 200);
    unit.SetLevel(sim::Level::Contrast, 150);
    unit.SetLevel(sim::Level::Saturation, 90);
    Open();
    const Result<StatusBlock> block = RunStatusRead(serial, clock);
    ASSERT_TRUE(block.Ok());
    EXPECT_EQ(block.Value(), (StatusBlock{0, 1, 1, 33, 1, 200, 150, 90, 2}));
    EXPECT_EQ(trace, (Lines{"purge", "write 04 53 57 24", "sleep 50", "read 11", "close"}));
    EXPECT_EQ(Received(1), (Lines{"04 53 57 24"}));
}

TEST_F(SerialSimTest, NetworkReadInBothVariants) {
    const Lines settings{"mac 00 1A 2B 3C 4D 5E", "127.0.0.2", "255.255.255.0", "127.0.0.1",
                         "mode 1"};
    const Lines frames{"04 87 60 01", "04 87 60 02", "04 87 60 03", "04 87 60 04", "04 87 60 05"};
    Open();
    const Result<NetworkSettings> read =
        RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_TRUE(read.Ok());
    EXPECT_EQ(AsLines(read.Value()), settings);
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + 4),
              (Lines{"write 04 87 60 01", "sleep 200", "read 8", "purge"}));
    EXPECT_EQ(Received(5), frames);
    port.Close();

    unit.SetDhcp(true);
    Open();
    EXPECT_EQ(AsLines(RunNetworkRead(serial, clock, NetworkReadVariant::LinkChoice).Value()).back(),
              "mode 2");
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + 6),
              (Lines{"purge", "write 04 87 60 01", "sleep 100", "read 8", "sleep 200", "purge"}));
    EXPECT_EQ(Received(5), frames);
}

TEST_F(SerialSimTest, NetworkWriteInStaticAndDhcpMode) {
    // 192.168.1.220 is only a value in the simulated unit here; nothing is sent anywhere.
    Open();
    const Addresses addresses{0xC0A801DC, 0xFFFF0000, 0xC0A80101};
    const Result<NetworkSettings> written =
        RunNetworkWrite(serial, clock, addresses, AddressMode::Static);
    EXPECT_TRUE(written.Ok());
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + 3),
              (Lines{"purge", "write 08 87 60 06 C0 A8 01 DC", "sleep 200"}));
    EXPECT_EQ(Received(7), (Lines{"08 87 60 06 C0 A8 01 DC", "08 87 60 07 FF FF 00 00",
                                  "08 87 60 08 C0 A8 01 01", "05 87 60 09 00", "04 87 60 02",
                                  "04 87 60 03", "04 87 60 04"}));
    EXPECT_EQ(AsLines(written.Value()), (Lines{"192.168.1.220", "255.255.0.0", "192.168.1.1"}));
    port.Close();

    Open();
    EXPECT_TRUE(RunNetworkWrite(serial, clock, std::nullopt, AddressMode::Dhcp).Ok());
    EXPECT_EQ(Received(4), (Lines{"05 87 60 09 01", "04 87 60 02", "04 87 60 03", "04 87 60 04"}));
    EXPECT_TRUE(unit.State().dhcp);
}

TEST_F(SerialSimTest, VersionReadAndLoaderEntry) {
    Open();
    const FirmwareVersions versions = RunVersionRead(serial, clock).Value();
    ASSERT_TRUE(versions.main && versions.net);
    EXPECT_EQ(versions.main->major, 1);
    EXPECT_EQ(versions.net->minor, 0);
    EXPECT_EQ(Received(2), (Lines{"04 53 57 22", "04 87 60 0A"}));

    Open();
    EnterLoader(serial, clock);
    EXPECT_EQ(trace, (Lines{"write 04 53 57 FE", "sleep 3000", "purge"}));
    EXPECT_EQ(Received(1), (Lines{"04 53 57 FE"}));
}

TEST_F(SerialSimTest, StrayByteBeforeAFrameIsSkipped) {
    Open();
    const unsigned char stray = 0x00;
    port.Write(&stray, 1);
    EXPECT_TRUE(RunStatusRead(serial, clock).Ok());
    EXPECT_EQ(Received(2), (Lines{"00", "04 53 57 24"}));
}

TEST_F(SerialSimFaultTest, SilentUnitFailsTheStatusAndTheNetworkReadAtTheMac) {
    StartFaulty([](sim::SerialFaults& f) { f.silent = true; });
    Open();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunStatusRead(serial, clock).Ok());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);  // the read's own time-out

    Open();
    const Result<NetworkSettings> read =
        RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_EQ(read.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(trace, (Lines{"write 04 87 60 01", "sleep 200", "read 8"}));
    EXPECT_TRUE(AsLines(read.Value()).empty());
    EXPECT_EQ(Received(2), (Lines{"04 53 57 24", "04 87 60 01"}));
}

TEST_F(SerialSimFaultTest, WrongHeaderIsRejectedWhereRepliesAreChecked) {
    StartFaulty([](sim::SerialFaults& f) { f.wrongHeader = true; });
    Open();
    EXPECT_FALSE(RunStatusRead(serial, clock).Ok());
    Open();
    EXPECT_FALSE(RunNetworkRead(serial, clock, NetworkReadVariant::LinkChoice).Ok());
    EXPECT_EQ(trace.back(), "read 8");
    port.Close();
    Open();
    EXPECT_TRUE(RunVersionRead(serial, clock).Value().main);  // only its AA is checked
}

TEST_F(SerialSimFaultTest, ShortRepliesGiveNoValue) {
    StartFaulty([](sim::SerialFaults& f) { f.shortReplies = true; });
    const SerialTimeouts quick{kNoIntervalTimeout, 0, 200, 1, 1000};  // keeps the test short
    unit.SetLevel(sim::Level::Saturation, 100);
    Open();
    port.SetTimeouts(quick);
    const Result<LevelStep> step =
        RunLevelStep(serial, clock, Level::Saturation, StepDirection::Up);
    EXPECT_EQ(step.GetFault(), Fault::kBadReply);
    const LevelStep& level = step.Value();
    EXPECT_FALSE(level.read);
    EXPECT_FALSE(level.stepped);
    EXPECT_EQ(Received(1), (Lines{"04 53 57 21"}));  // no set frame
    EXPECT_EQ(unit.GetLevel(sim::Level::Saturation), 100);

    Open();
    port.SetTimeouts(quick);
    EXPECT_FALSE(RunVolumeStep(serial, clock, StepDirection::Down).Ok());
    Open();
    port.SetTimeouts(quick);
    EXPECT_FALSE(RunStatusRead(serial, clock).Ok());
    Open();
    port.SetTimeouts(quick);
    const Result<NetworkSettings> read =
        RunNetworkRead(serial, clock, NetworkReadVariant::ReadButton);
    EXPECT_FALSE(read.Ok());
    EXPECT_TRUE(AsLines(read.Value()).empty());
}

#ifdef VANTREL_SIM
// The simulator program: --pty prints the pty's path, links it, and serves the frames there.
TEST(SerialSimProgramTest, ServesTheSerialSideOnItsPty) {
    const std::string link = "/tmp/vantrel-serial-test-" + std::to_string(getpid());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(VANTREL_SIM, VANTREL_SIM, "--address", "127.0.0.1", "--port", "0", "--pty",
              link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* output = fdopen(out[0], "r");
    std::string device;
    char line[256];
    while (device.empty() && std::fgets(line, sizeof line, output)) {
        std::string text(line);
        const std::string mark = "vantrel-sim: serial on ";
        if (text.rfind(mark, 0) == 0)
            device = text.substr(mark.size(), text.size() - mark.size() - 1);
    }
    char target[PATH_MAX] = {};
    EXPECT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(device, target);

    MapComPort(kComPort, link);
    SerialPort port([](const char*) {});
    testing::FakeClock clock;
    const std::int32_t ports[] = {static_cast<std::int32_t>(kComPort)};
    ASSERT_TRUE(OpenSelectedPort(port, ports, 1, 0));
    const Result<StatusBlock> block = RunStatusRead(port, clock);
    MapComPort(kComPort, "");
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::fclose(output);
    ASSERT_TRUE(block.Ok());
    EXPECT_EQ(block.Value()[3], 20);  // the unit's Volume at power-up
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);  // the link went with the program
}
#endif

}  // namespace
}  // namespace serial_sim_test
}  // namespace vantrel
