// vantrelctl, the program, against the simulated unit on its console (loopback) and on a pty.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <vector>
#include <string>

#include "unit/command_table.h"
#include "link/control_table.h"
#include "unit/serial_frames.h"
#include "sim/control_channel.h"
#include "sim/tcp_console.h"
#include "tests/support/hex_text.h"
#include "tests/support/recording_serial.h"
#include "tests/support/serial_unit_test.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace {

struct CtlRun {
    int code = -1;
    std::string output;
};

CtlRun Ctl(const std::string& arguments) {
    CtlRun run;
    const std::string command = std::string(VANTREL_CTL) + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) run.output += chunk;
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class VantrelctlTest : public testing::SerialUnitTest {
  protected:
    VantrelctlTest() : SerialUnitTest(31) {}
    void SetUp() override {
        SerialUnitTest::SetUp();
        ASSERT_TRUE(tcp.Start("127.0.0.70", 23)) << tcp.Error();
    }
    std::string Port() const { return "--port " + console->DevicePath(); }
    // What the unit received on one link after the login and the session's first reads.
    std::vector<std::string> Commands(const std::string& link) {
        std::vector<std::string> lines;
        for (const std::string& line : log.Lines(link)) {
            if (link == "serial") {
                lines.push_back(testing::HexBytes(line.data(), line.size()));
            } else if (line != "admin\r\n" && line != "846\r\n" && line.find("READ") != 0 &&
                       line != "STA1\r\n" && line != "IPMODE\r\n") {
                lines.push_back(line);
            }
        }
        log.Clear();
        return lines;
    }

    sim::Faults faults;
    sim::TcpConsole tcp{unit, log, faults};
};

TEST_F(VantrelctlTest, StatusJsonIsTheUnitsOwnStateOnBothLinks) {
    unit.Update([](sim::UnitState& s) {
        s.soloRight = 1;
        s.meterMode = 1;
        s.input = 3;
        s.levels = {33, 200, 150, 90};
        s.mainVersion = {2, 5};
        s.netVersion = {1, 10};
    });
    const nlohmann::json expected = nlohmann::json::parse(sim::StateJson(unit.State()));
    for (const std::string& link : {std::string("--unit 127.0.0.70"), Port()}) {
        SCOPED_TRACE(link);
        const CtlRun run = Ctl(link + " status --json");
        ASSERT_EQ(run.code, 0) << run.output;
        const nlohmann::json status = nlohmann::json::parse(run.output);
        for (const auto& [key, value] : status.items()) {
            if (key != "unit") {
                EXPECT_EQ(value, expected[key]) << key;
            }
        }
        EXPECT_EQ(status.contains("mainVersion"), link == Port());
    }
}

// Every button name sends exactly the panel's own line or frame for that button.
TEST_F(VantrelctlTest, EveryButtonSendsThePanelsCommand) {
    for (const ControlButton& button : kControlButtons) {
        const bool plain = button.kind == ControlKind::Push || button.kind == ControlKind::Toggle ||
                           button.kind == ControlKind::MeterMode ||
                           button.kind == ControlKind::Input;
        if (!plain) continue;
        SCOPED_TRACE(button.name);
        Commands("tcp");
        ASSERT_EQ(Ctl(std::string("--unit 127.0.0.70 press ") + button.name).code, 0);
        EXPECT_EQ(Commands("tcp"), std::vector<std::string>{CommandFor(button.code).text});
        ASSERT_EQ(Ctl(Port() + " press " + button.name).code, 0);
        const SerialFrame frame = BuildFrame(SerialUnit::Main, button.frame);
        EXPECT_EQ(Commands("serial"),
                  std::vector<std::string>{testing::HexBytes(frame.data(), frame.size())});
    }
}

TEST_F(VantrelctlTest, LevelsAndNetworkSettings) {
    // Stepped by 5 from 128 on the console: 98 is the nearest to 100; the serial link sets it.
    ASSERT_EQ(Ctl("--unit 127.0.0.70 level lcd-contrast 100").code, 0);
    EXPECT_EQ(unit.GetLevel(sim::Level::Contrast), 98);
    ASSERT_EQ(Ctl(Port() + " level lcd-contrast 100").code, 0);
    EXPECT_EQ(unit.GetLevel(sim::Level::Contrast), 100);
    ASSERT_EQ(Ctl("--unit 127.0.0.70 level volume down --times 3").code, 0);
    EXPECT_EQ(unit.GetLevel(sim::Level::Volume), 17);

    const CtlRun apply =
        Ctl("--unit 127.0.0.70 network --static --ip 127.0.0.71 --mask "
            "255.255.0.0 --gateway 127.0.0.254");
    ASSERT_EQ(apply.code, 0) << apply.output;
    const CtlRun shown = Ctl("--unit 127.0.0.70 network");
    EXPECT_EQ(shown.code, 0);
    EXPECT_NE(shown.output.find("ip 127.0.0.71  mask 255.255.0.0  gateway 127.0.0.254  static"),
              std::string::npos)
        << shown.output;
}

// Each ends with one line and its exit code, and only an unreachable unit was tried at all.
TEST_F(VantrelctlTest, BadInputIsRefusedBeforeAnythingIsSent) {
    testing::TempFile badHex("bad.hex", ":10000000" + std::string(300, 'Z') + "\r\n");
    const std::string badHexCase = "--unit 127.0.0.70 firmware main " + badHex.Path();
    struct Case {
        const char* arguments;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"--unit 127.0.0.70 press eject", 2, "no such button"},
        {"--unit 127.0.0.300 press mute", 2, "not an IPv4 address"},
        {"--unit 127.0.0.70 firmware main /no/such/file", 2, "Please load file first!"},
        {badHexCase.c_str(), 2, "Fail to convert the input from hex to bin!"},
        {"--unit 127.0.0.70 factory-reset", 2, "--yes"},
        {"--unit 127.0.0.70 level volume 41", 2, "not a level"},
        {"press mute", 2, "no unit"},
        {"--unit 127.0.0.72 press mute", 1, "127.0.0.72: Connect to device fail."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CtlRun run = Ctl(c.arguments);
        EXPECT_EQ(run.code, c.code);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
    EXPECT_TRUE(log.Entries().empty());
}

// The net controller: Break, the user power-cycles the unit when told, then the image.
TEST_F(VantrelctlTest, NetFirmwareAfterThePowerCycleTheUserIsAskedFor) {
    std::vector<std::uint8_t> image(4096);
    for (int i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(i * 5);
    testing::TempFile file("net.hex", testing::HexOf(image, 16));
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const std::string device = console->DevicePath();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(fromChild[1], STDERR_FILENO);
        execl(VANTREL_CTL, VANTREL_CTL, "--port", device.c_str(), "firmware", "net",
              file.Path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    std::string output;
    char chunk[256];
    while (output.find("press Enter") == std::string::npos) {
        const ssize_t n = read(fromChild[0], chunk, sizeof chunk);
        ASSERT_GT(n, 0) << output;
        output.append(chunk, n);
    }
    EXPECT_NE(output.find("Please power cycle device to into bootloader entry!"),
              std::string::npos);
    console->PowerCycle();  // the line is held in break at 19200 baud: the bootloader starts
    ASSERT_EQ(write(toChild[1], "\n", 1), 1);
    for (ssize_t n; (n = read(fromChild[0], chunk, sizeof chunk)) > 0;) output.append(chunk, n);
    int status = 0;
    waitpid(pid, &status, 0);
    close(toChild[1]);
    close(fromChild[0]);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    const std::vector<std::uint8_t> flash = unit.NetFlash();
    for (int i = 4; i < 4096; ++i) ASSERT_EQ(flash[i], (i * 5) & 0xFF) << i;
    EXPECT_TRUE(log.Lines("loader-error").empty());
}

// One image to a rack of eight: one unit refuses chunk 5, one falls silent after Ping. The
// others are updated all the same, and the two are reported with the procedure's own words.
TEST(VantrelctlFleetTest, FirmwareToEightUnits) {
    std::vector<std::uint8_t> image(3000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    testing::TempFile file("fleet.bin", std::string(image.begin(), image.end()));
    std::vector<std::unique_ptr<testing::SimulatedUnit>> units;
    std::string arguments;
    for (int i = 11; i <= 18; ++i) {
        sim::Faults faults;
        if (i == 13) faults.loader.nakAt = 7;       // Ping, Download, then chunks 1 to 5
        if (i == 16) faults.loader.silentFrom = 2;  // answers Ping only
        const std::string address = "127.0.0." + std::to_string(i);
        units.push_back(std::make_unique<testing::SimulatedUnit>(address, faults));
        ASSERT_TRUE(units.back()->Start()) << units.back()->console.Error();
        arguments += " --unit " + address;
    }
    const CtlRun run = Ctl(arguments + " firmware main " + file.Path());
    EXPECT_EQ(run.code, 1) << run.output;
    for (size_t i = 0; i < units.size(); ++i) {
        const std::string& address = units[i]->address;
        SCOPED_TRACE(address);
        const bool bad = address == "127.0.0.13" || address == "127.0.0.16";
        EXPECT_EQ(units[i]->unit.MainFlash() == image, !bad);
        const size_t row = run.output.rfind("\n" + address + "  ");  // its table row
        ASSERT_NE(row, std::string::npos) << run.output;
        EXPECT_EQ(run.output.compare(row + 1 + address.size() + 2, 4, bad ? "fail" : "done"), 0);
        EXPECT_EQ(run.output.find("vantrelctl: " + address + ": ") != std::string::npos, bad);
    }
}

}  // namespace
}  // namespace vantrel
