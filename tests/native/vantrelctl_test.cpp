// vantrelctl, the program, against the simulated unit on its console (loopback) and on a pty.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/control_channel.h"
#include "sim/tcp_console.h"
#include "tests/support/hex_text.h"
#include "tests/support/listener.h"
#include "tests/support/recording_serial.h"
#include "tests/support/serial_unit_test.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "tests/support/vantrelctl_run.h"
#include "unit/buttons.h"
#include "unit/command_table.h"
#include "unit/serial_frames.h"

namespace vantrel {
namespace vantrelctl_test {
namespace {

using testing::Ctl;
using testing::CtlRun;

// The first `count` lines of a tool that runs until it is stopped (status --watch), or fewer
// when `seconds` pass first; the tool is then stopped.
std::vector<std::string> FirstLines(const std::string& arguments, size_t count, int seconds,
                                    const std::function<void(const std::string&)>& onLine = {}) {
    // Made before the fork, as a child of a threaded process must not allocate.
    const std::string command = std::string("exec ") + VANTREL_CTL + " " + arguments;
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::vector<std::string> lines;
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{out[0], POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        char chunk[512];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        pending.append(chunk, n);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (onLine) onLine(lines.back());
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    return lines;
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
                const std::string frame = testing::HexBytes(line.data(), line.size());
                if (frame != "04 53 57 24") lines.push_back(frame);  // the status reads
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
        EXPECT_EQ(status["time"].get<std::string>().size(), 24u);  // 2026-01-02T03:04:05.678Z
        for (const auto& [key, value] : status.items()) {
            if (key != "unit" && key != "time") {
                EXPECT_EQ(value, expected[key]) << key;
            }
        }
        EXPECT_EQ(status.contains("mainVersion"), link == Port());
    }
    // As text: one value a line, by the front panel's labels, with the versions the serial
    // link reads.
    const CtlRun text = Ctl(Port() + " status");
    ASSERT_EQ(text.code, 0) << text.output;
    for (const char* lines :
         {"\n  solo right   on\n",
          "\n  meter mode   DPPM\n  input        Unbalanced\n  volume       33\n",
          "\n  main fw      V2.05\n  net fw       V1.10\n  read at      "}) {
        EXPECT_NE(text.output.find(lines), std::string::npos) << lines << text.output;
    }
}

// Every button name sends exactly the panel's own line or frame for that button, between the
// status reads that confirm it; a button the status does not report says so.
TEST_F(VantrelctlTest, EveryButtonSendsThePanelsCommand) {
    for (const Button& button : kButtons) {
        if (button.effect == ButtonEffect::LevelStep ||
            button.effect == ButtonEffect::FactoryReset) {
            continue;
        }
        SCOPED_TRACE(button.name);
        Commands("tcp");
        const CtlRun run = Ctl(std::string("--unit 127.0.0.70 press ") + button.name);
        ASSERT_EQ(run.code, 0) << run.output;
        EXPECT_EQ(run.output.find("does not report") != std::string::npos,
                  button.effect == ButtonEffect::None);
        EXPECT_EQ(Commands("tcp"), std::vector<std::string>{CommandFor(button.code).text});
        ASSERT_EQ(Ctl(Port() + " press " + button.name).code, 0);
        const SerialFrame frame = BuildFrame(SerialUnit::Main, button.frame);
        EXPECT_EQ(Commands("serial"),
                  std::vector<std::string>{testing::HexBytes(frame.data(), frame.size())});
    }
}

TEST_F(VantrelctlTest, LevelsAndNetworkSettings) {
    // Stepped by 5 from 128 on the console: 98 is the nearest to 100; the serial link sets it.
    const CtlRun nearest = Ctl("--unit 127.0.0.70 level lcd-contrast 100");
    ASSERT_EQ(nearest.code, 0);
    EXPECT_NE(nearest.output.find("lcd-contrast at 98, at the nearest"), std::string::npos);
    EXPECT_EQ(unit.GetLevel(sim::Level::Contrast), 98);
    ASSERT_EQ(Ctl(Port() + " level lcd-contrast 100").code, 0);
    EXPECT_EQ(unit.GetLevel(sim::Level::Contrast), 100);
    ASSERT_EQ(Ctl("--unit 127.0.0.70 level volume down --times 3").code, 0);
    EXPECT_EQ(unit.GetLevel(sim::Level::Volume), 17);
    const CtlRun end = Ctl(Port() + " level lcd-brightness up --times 30");
    ASSERT_EQ(end.code, 0) << end.output;
    EXPECT_NE(end.output.find("at 253, stopped at its end"), std::string::npos) << end.output;

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
    testing::TempFile shortImage("short.bin", std::string(200, 'x'));
    const std::string shortCase = "--unit 127.0.0.70 firmware main " + shortImage.Path();
    const std::string infoBadHex = "firmware info " + badHex.Path();
    // Larger than the net flash takes: refused before the line is held in break.
    testing::TempFile largeImage("large.bin", std::string(0x1F7C0 + 1, 'x'));
    const std::string largeCase = "--port 1 firmware net " + largeImage.Path();
    struct Case {
        const char* arguments;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"--unit 127.0.0.70 press eject", 2, "no such button"},
        {"--unit 127.0.0.300 press mute", 2, "not an IPv4 address"},
        {"--unit 4294967423.0.0.1 press mute", 2, "not an IPv4 address"},
        {"--unit +10.0.0.1 press mute", 2, "not an IPv4 address"},
        {"--unit '10. 0.0.1' press mute", 2, "not an IPv4 address"},
        {"--unit 127.0.0.070 press mute", 2, "not an IPv4 address"},
        {"--unit 127.0.0.70 --unit 127.0.0.70 press mute", 2, "named twice"},
        {"--unit 127.0.0.70 firmware main /no/such/file", 2, "no such file"},
        {badHexCase.c_str(), 2, "not a firmware image"},
        {infoBadHex.c_str(), 2, "not a firmware image"},
        {shortCase.c_str(), 2, "image too short to flash"},
        {largeCase.c_str(), 2, "image too large for the flash"},
        {"--unit 127.0.0.70 factory-reset", 2, "--yes"},
        {"--unit 127.0.0.70 level volume 41", 2, "not a level"},
        {"--unit 127.0.0.70 firmware main /no/such/file --canary 0", 2,
         "vantrelctl: --canary must be 1 or more"},
        {"--unit 127.0.0.70 firmware main /no/such/file --max-failures 0", 2,
         "vantrelctl: --max-failures must be 1 or more"},
        {"--timeout 0 --unit 127.0.0.70 status", 2, "vantrelctl: --timeout must be 0.1 to 600"},
        {"press mute", 2, "no unit"},
        {"--unit 127.0.0.72 press mute", 1, "127.0.0.72: no link: link did not open"},
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

// --log: one JSON line per exchange with the bytes each moved; firmware info needs no unit.
TEST_F(VantrelctlTest, TheExchangeLogAndFirmwareInfo) {
    testing::TempFile logFile("exchanges.log", "");
    ASSERT_EQ(Ctl("--unit 127.0.0.70 --log " + logFile.Path() + " press mute").code, 0);
    std::ifstream in(logFile.Path());
    std::vector<std::string> exchanges;
    for (std::string line; std::getline(in, line);) {
        const nlohmann::json entry = nlohmann::json::parse(line);
        EXPECT_EQ(entry["unit"], "127.0.0.70");
        exchanges.push_back(entry["exchange"].get<std::string>() + " " +
                            entry["sent"].get<std::string>() + " " +
                            entry["outcome"].get<std::string>());
    }
    ASSERT_EQ(exchanges.size(), 4u);
    EXPECT_EQ(exchanges[1], "mute 524f54330d0a done");  // ROT3
    EXPECT_EQ(exchanges[2], "status 535441310d0a done");

    std::vector<std::uint8_t> image(300, 0xAB);
    testing::TempFile hex("info.hex", testing::HexOf(image));
    const CtlRun info = Ctl("firmware info " + hex.Path());
    EXPECT_EQ(info.code, 0);
    EXPECT_NE(info.output.find("Intel HEX, converted"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("image        300 bytes"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("addresses    0x0 to 0x12B"), std::string::npos) << info.output;
}

// The net controller: Break, the user power-cycles the unit when told, then the image.
TEST_F(VantrelctlTest, NetFirmwareAfterThePowerCycleTheUserIsAskedFor) {
    unit.Update([](sim::UnitState& s) {
        s.mainVersion = {2, 5};
        s.netVersion = {1, 10};
    });
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
    // The net controller stays in its loader until the next power cycle: nothing is read after.
    EXPECT_NE(output.find(": versions main V2.05 -> unread, net V1.10 -> unread; power-cycle the "
                          "unit to start the new net firmware\n"),
              std::string::npos)
        << output;
}

// DHCP over the console writes the three addresses with the mode: the unit's own go back.
TEST_F(VantrelctlTest, DhcpOnTheConsoleSendsTheUnitsOwnAddressesBack) {
    unit.Update([](sim::UnitState& s) {
        s.mask = 0xFFFF0000;
        s.gateway = 0x7F0000FE;
    });
    Commands("tcp");
    const CtlRun run = Ctl("--unit 127.0.0.70 network --dhcp");
    ASSERT_EQ(run.code, 0) << run.output;
    EXPECT_EQ(Commands("tcp"),
              (std::vector<std::string>{"SETIPMODE=D\r\n", "MASK=255.255.0.0\r\n",
                                        "GATEWAY=127.0.0.254\r\n", "IP=127.0.0.2\r\n"}));
    const sim::UnitState state = unit.State();
    EXPECT_TRUE(state.dhcp);
    EXPECT_EQ(state.ip, 0x7F000002u);
    EXPECT_EQ(state.mask, 0xFFFF0000u);
}

// A command is done only when the unit confirms it; each of these is not.
TEST_F(VantrelctlTest, WhatTheUnitDidNotConfirmFails) {
    struct Case {
        std::string arguments;
        const char* missing;
    };
    auto expectFailures = [](const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.arguments);
            const CtlRun run = Ctl(c.arguments);
            EXPECT_EQ(run.code, 1) << run.output;
            EXPECT_NE(run.output.find(c.missing), std::string::npos) << run.output;
        }
    };
    // Default IP is done when the unit answers the address read after it.
    const CtlRun answered = Ctl(Port() + " network --default-ip");
    ASSERT_EQ(answered.code, 0) << answered.output;
    EXPECT_NE(answered.output.find("answers with address 127.0.0.2"), std::string::npos);

    sim::SerialFaults ignoring;
    ignoring.ignoresNetworkWrites = true;
    console.reset();
    StartUnit(ignoring);
    expectFailures({{Port() + " network --static --ip 127.0.0.9 --mask 255.0.0.0 --gateway "
                              "127.0.0.1",
                     "the settings read back differ from those written"}});
    EXPECT_EQ(unit.State().ip, 0x7F000002u);

    sim::SerialFaults silent;
    silent.silent = true;
    console.reset();
    StartUnit(silent);
    expectFailures({{Port() + " level lcd-brightness up", "no reply"},
                    {Port() + " network --default-ip", "did not answer an address read"}});

    sim::Faults stuck;
    stuck.stuckLevels = true;
    testing::SimulatedUnit stuckUnit("127.0.0.73", stuck);
    sim::Faults mute;
    mute.silentAfter = 1;  // the status read that confirms the session, then nothing
    testing::SimulatedUnit muteUnit("127.0.0.74", mute);
    ASSERT_TRUE(stuckUnit.Start());
    ASSERT_TRUE(muteUnit.Start());
    expectFailures({{"--unit 127.0.0.73 level volume 30", "the level did not move"},
                    {"--unit 127.0.0.74 press mute", "no status read after the command"},
                    {"--unit 127.0.0.74 network --static --ip 127.0.0.74 --mask 255.0.0.0 "
                     "--gateway 127.0.0.1",
                     "the settings could not be read back"}});
}

// Every unit named is polled, whatever --jobs says, and each line is what its poll read.
TEST(VantrelctlWatchTest, EveryUnitIsPolledAndEachLineIsItsOwnRead) {
    std::vector<std::unique_ptr<testing::SimulatedUnit>> units;
    for (const char* address : {"127.0.0.81", "127.0.0.82", "127.0.0.83"}) {
        units.push_back(std::make_unique<testing::SimulatedUnit>(address));
        ASSERT_TRUE(units.back()->Start()) << units.back()->console.Error();
    }
    std::map<std::string, int> polls;
    bool changed = false;
    const std::vector<std::string> lines = FirstLines(
        "--unit 127.0.0.81 --unit 127.0.0.82 --unit 127.0.0.83 --jobs 1 status --watch 1", 9, 20,
        [&](const std::string& line) {
            // After the first poll of 127.0.0.81 its mask changes: the next poll must show it.
            if (!changed && line.find(" 127.0.0.81 ") != std::string::npos) {
                units[0]->unit.SetMask(0xFFFF0000);
                changed = true;
            }
        });
    ASSERT_EQ(lines.size(), 9u);
    std::vector<std::string> first81;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(line[4], '-');  // each line starts with the time it was read
        const std::string unit = line.substr(25, 10);
        ++polls[unit];
        if (unit == "127.0.0.81") first81.push_back(line);
    }
    for (const char* unit : {"127.0.0.81", "127.0.0.82", "127.0.0.83"}) EXPECT_GE(polls[unit], 2);
    ASSERT_GE(first81.size(), 2u);
    EXPECT_NE(first81[0].find("mask 255.255.255.0"), std::string::npos);
    EXPECT_NE(first81[1].find("mask 255.255.0.0"), std::string::npos);
}

// A unit whose TCP handshake never completes holds its job no longer than the time limit.
TEST(VantrelctlTimeoutTest, AConnectThatNeverCompletesEndsAtTheLimit) {
    testing::Listener listener("127.0.0.84", 0);
    ASSERT_TRUE(listener.ok());
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(23);
    inet_pton(AF_INET, "127.0.0.84", &addr.sin_addr);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    for (const auto& [arguments, seconds] :
         {std::pair<std::string, double>{"--timeout 1 --unit 127.0.0.84 press mute", 1.0},
          {"--unit 127.0.0.84 press mute", 5.0}}) {
        SCOPED_TRACE(arguments);
        const auto start = std::chrono::steady_clock::now();
        const CtlRun run = Ctl(arguments);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.code, 1) << run.output;
        EXPECT_NE(run.output.find("127.0.0.84: no link"), std::string::npos) << run.output;
        EXPECT_GE(took, seconds - 0.2);
        EXPECT_LT(took, seconds + 2);
    }
    close(filler);
}

// One image to a rack of eight, over their consoles at once: one unit refuses a chunk. The
// others are updated all the same, and the one is reported with the procedure's own words.
// (That a unit which falls silent holds up no other is fleet_test's.)
TEST(VantrelctlFleetTest, FirmwareToEightUnits) {
    std::vector<std::uint8_t> image(3000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    testing::TempFile file("fleet.bin", std::string(image.begin(), image.end()));
    std::vector<std::unique_ptr<testing::SimulatedUnit>> units;
    std::string arguments;
    for (int i = 11; i <= 18; ++i) {
        sim::Faults faults;
        // Ping, Download, then GetStatus and SendData a chunk: chunk 3's data. (A refused
        // GetStatus would be waited on to its 30 s reply limit for the three bytes missing.)
        if (i == 13) faults.loader.nakAt = 8;
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
        const bool bad = address == "127.0.0.13";
        EXPECT_EQ(units[i]->unit.MainFlash() == image, !bad);
        const size_t row = run.output.rfind("\n" + address + "  ");  // its table row
        ASSERT_NE(row, std::string::npos) << run.output;
        EXPECT_EQ(run.output.compare(row + 1 + address.size() + 2, 4, bad ? "fail" : "done"), 0);
        EXPECT_EQ(run.output.find("vantrelctl: " + address + ": ") != std::string::npos, bad);
    }
    EXPECT_NE(run.output.find("vantrelctl: 127.0.0.13: update: refused by the unit"),
              std::string::npos)
        << run.output;
}

// The stages' options reach the fleet, which holds units back by them (what each stage does is
// fleet_test's), and a dry run reaches every unit but enters no loader. Nothing listens on the
// first unit's console, so that its failure comes at once.
class VantrelctlStagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 22; i <= 24; ++i) {
            const std::string address = "127.0.0." + std::to_string(i);
            units.push_back(std::make_unique<testing::SimulatedUnit>(address));
            ASSERT_TRUE(units.back()->Start()) << units.back()->console.Error();
            reachable += " --unit " + address;
        }
    }
    CtlRun Update(const std::string& unitArguments, const std::string& options) {
        return Ctl("--jobs 1" + unitArguments + " firmware main " + file.Path() + " " + options);
    }
    // Each unit's outcome in the closing table.
    static std::vector<std::string> Rows(const CtlRun& run) {
        std::vector<std::string> rows;
        for (int i = 21; i <= 24; ++i) {
            const std::string address = "127.0.0." + std::to_string(i);
            const size_t row = run.output.rfind("\n" + address + "  ");
            if (row == std::string::npos) continue;
            const size_t at = row + 1 + address.size() + 2;
            rows.push_back(run.output.substr(at, run.output.find("  ", at) - at));
        }
        return rows;
    }

    testing::TempFile file{"stages.bin", std::string(1000, 'x')};
    std::vector<std::unique_ptr<testing::SimulatedUnit>> units;
    std::string reachable;
};

TEST_F(VantrelctlStagesTest, CanaryMaxFailuresAndDryRun) {
    for (const char* stages : {"--canary 1", "--max-failures 1"}) {
        SCOPED_TRACE(stages);
        const CtlRun run = Update(" --unit 127.0.0.21" + reachable, stages);
        EXPECT_EQ(run.code, 1) << run.output;
        EXPECT_EQ(Rows(run),
                  (std::vector<std::string>{"failed", "not started", "not started", "not started"}))
            << run.output;
        EXPECT_NE(run.output.find("vantrelctl: 127.0.0.21: no link"), std::string::npos);
        EXPECT_NE(run.output.find("vantrelctl: 127.0.0.24: not started"), std::string::npos);
        for (const auto& unit : units) EXPECT_TRUE(unit->log.Lines("tcp").empty());
    }

    const CtlRun dry = Update(reachable, "--dry-run");
    EXPECT_EQ(dry.code, 0) << dry.output;
    EXPECT_EQ(Rows(dry), std::vector<std::string>(3, "ready")) << dry.output;
    EXPECT_NE(dry.output.find("127.0.0.22: reached; would send 1000 bytes to the main controller"),
              std::string::npos)
        << dry.output;
    for (const auto& unit : units) {
        EXPECT_FALSE(unit->log.Lines("tcp").empty());  // logged in
        for (const std::string& line : unit->log.Lines("tcp")) EXPECT_NE(line, "FWUPDATE\r\n");
    }
}

// Over a serial port the tool reads both versions before an update and again after it.
TEST_F(VantrelctlTest, AnUpdateOverTheSerialPortReportsTheVersionsBeforeAndAfter) {
    std::vector<std::uint8_t> image(1000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 11);
    testing::TempFile file("serial-main.bin", std::string(image.begin(), image.end()));
    unit.Update([](sim::UnitState& state) {
        state.mainVersion = {2, 5};
        state.netVersion = {1, 10};
    });
    // The new firmware reports its version once the loader has been entered.
    std::atomic<bool> done{false};
    std::thread flasher([&] {
        const std::string entry("\x04\x53\x57\xFE", 4);
        while (!done) {
            const std::vector<std::string> lines = log.Lines("serial");
            if (std::find(lines.begin(), lines.end(), entry) != lines.end()) {
                unit.Update([](sim::UnitState& state) { state.mainVersion = {2, 6}; });
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const CtlRun run = Ctl(Port() + " firmware main " + file.Path());
    done = true;
    flasher.join();
    EXPECT_EQ(run.code, 0) << run.output;
    EXPECT_NE(run.output.find(": versions main V2.05 -> V2.06, net V1.10 -> V1.10"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(unit.MainFlash(), image);
}

}  // namespace
}  // namespace vantrelctl_test
}  // namespace vantrel
