// The simulated unit's console protocol, unit state, faults and traffic log, without sockets;
// and the vantrel-sim program itself over loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "sim/console_protocol.h"
#include "sim/control_channel.h"
#include "sim/dotted_address.h"
#include "sim/traffic_log.h"

namespace vantrel::sim {
namespace sim_console_test {
namespace {

class ConsoleProtocolTest : public ::testing::Test {
  protected:
    void Login() {
        protocol.OnLine("admin\r\n");
        ASSERT_EQ(protocol.OnLine("846\r\n").bytes, "Login OK\r\n");
    }
    std::string Say(const std::string& command) { return protocol.OnLine(command + "\r\n").bytes; }

    Unit unit{0x7F000002, Unit::kFactoryDefaultIp};
    Faults faults;
    ConsoleProtocol protocol{unit, faults};
};

TEST(ControlChannelTest, SetsPressesAndReportsTheUnit) {
    Unit unit{0x7F000002, Unit::kFactoryDefaultIp};
    ControlChannel control(unit);
    EXPECT_EQ(control.Execute("set solo-left=1 mix-down=7 meter=1 input=7 contrast=251 "
                              "ip=10.0.0.5 dhcp=1"),
              "ok");
    EXPECT_EQ(control.Execute("press solo-right"), "ok");
    const std::string state = control.Execute("state");
    EXPECT_NE(state.find("\"soloLeft\":0,\"soloRight\":1,\"mixDown\":7,\"meterMode\":1,"
                         "\"input\":7"),
              std::string::npos)
        << state;
    EXPECT_NE(state.find("\"levels\":[20,128,251,128],\"ip\":\"10.0.0.5\""), std::string::npos);
    EXPECT_NE(state.find("\"dhcp\":1,\"mac\":\"001A2B3C4D5E\""), std::string::npos);
    // Nothing half-done is taken for done.
    for (const char* bad : {"set volume=256", "set input=x", "set speed=1", "set", "set ip=1.2.3",
                            "press eject", "reboot"}) {
        EXPECT_EQ(control.Execute(bad).rfind("error: ", 0), 0u) << bad;
    }
}

TEST_F(ConsoleProtocolTest, LoginNeedsAdminAndItsPassword) {
    EXPECT_EQ(protocol.Greeting(), "Vantrel console\r\nlogin: ");
    EXPECT_EQ(Say("admin"), "password: ");
    EXPECT_EQ(Say("123"), "Login incorrect\r\nlogin: ");
    EXPECT_FALSE(protocol.LoggedIn());
    EXPECT_EQ(Say("root"), "password: ");
    EXPECT_EQ(Say("846"), "Login incorrect\r\nlogin: ");
    Say("admin");
    EXPECT_EQ(protocol.OnLine("846\n").bytes, "Login OK\r\n");
    EXPECT_TRUE(protocol.LoggedIn());
}

TEST_F(ConsoleProtocolTest, StatusBlockFollowsButtonsAndInputs) {
    Login();
    EXPECT_EQ(Say("STA1"), std::string("\0\0\0\x14\0\x80\x80\x80\0", 9));
    Say("BTN1");  // Solo Left on
    Say("BTN2");  // Solo Right on, Solo Left off
    Say("BTN8");
    Say("BTNA");
    Say("BTNF");
    EXPECT_EQ(Say("STA1"), std::string("\0\1\1\x14\1\x80\x80\x80\2", 9));
    Say("BTNB");
    Say("BTNE");
    EXPECT_EQ(unit.State().meterMode, 2);
    EXPECT_EQ(unit.State().input, 1);
}

TEST_F(ConsoleProtocolTest, RotationsStayWithinTheirRangesAndReadBackAsDecimalText) {
    Login();
    for (int i = 0; i < 30; ++i) Say("ROT1");
    EXPECT_EQ(Say("REA6"), "40\r\n");
    for (int i = 0; i < 60; ++i) Say("ROT2");
    EXPECT_EQ(Say("REA6"), "0\r\n");
    for (int i = 0; i < 60; ++i) Say("ROT4");
    EXPECT_EQ(Say("REA8"), "255\r\n");
    Say("ROT7");
    EXPECT_EQ(Say("REA9"), "123\r\n");
    for (int i = 0; i < 60; ++i) Say("ROT9");
    EXPECT_EQ(Say("REA10"), "0\r\n");
}

TEST_F(ConsoleProtocolTest, NetworkSettingsReadWriteDefaultAndFactoryReset) {
    Login();
    EXPECT_EQ(Say("READIP"), std::string("\x7F\0\0\x02", 4));
    EXPECT_EQ(Say("READMASK"), std::string("\xFF\xFF\xFF\0", 4));
    EXPECT_EQ(Say("READGATEWAY"), std::string("\x7F\0\0\x01", 4));
    EXPECT_EQ(Say("IPMODE"), "S");
    EXPECT_EQ(Say("READMAC"), std::string("\x00\x1A\x2B\x3C\x4D\x5E", 6));
    EXPECT_EQ(Say("SETIPMODE=D"), "");
    EXPECT_EQ(Say("MASK=255.255.0.0"), "");
    EXPECT_EQ(Say("GATEWAY=127.0.0.254"), "");
    EXPECT_EQ(Say("IP=127.0.0.9"), "");
    Say("IP=300.1.1.1");  // not an address: ignored
    EXPECT_EQ(Say("IPMODE"), "D");
    EXPECT_EQ(unit.State().ip, 0x7F000009u);
    EXPECT_EQ(unit.State().mask, 0xFFFF0000u);
    EXPECT_EQ(unit.State().gateway, 0x7F0000FEu);
    Say("DEFAULTIP");
    EXPECT_EQ(unit.State().ip, Unit::kFactoryDefaultIp);
    EXPECT_TRUE(unit.State().dhcp);
    Say("ROT1");
    Say("BTNC");
    EXPECT_FALSE(unit.State().dhcp);
    EXPECT_EQ(unit.State().mask, 0xFFFFFF00u);
    EXPECT_EQ(Say("REA6"), "20\r\n");
}

TEST_F(ConsoleProtocolTest, FaultsShapeTheReplies) {
    faults.shortReplies = true;
    ConsoleProtocol shortUnit(unit, faults);
    shortUnit.OnLine("admin\r\n");
    EXPECT_EQ(shortUnit.OnLine("846\r\n").bytes, "Login OK\r\n");  // the login is never shortened
    EXPECT_EQ(shortUnit.OnLine("STA1\r\n").bytes.size(), 8u);
    EXPECT_EQ(shortUnit.OnLine("IPMODE\r\n").bytes, "");

    Faults garbage;
    garbage.garbageReplies = true;
    garbage.closeAfter = 2;
    garbage.delayMs = 40;
    ConsoleProtocol garbageUnit(unit, garbage);
    garbageUnit.OnLine("admin\r\n");
    garbageUnit.OnLine("846\r\n");
    ConsoleProtocol::Reply reply = garbageUnit.OnLine("REA6\r\n");
    EXPECT_EQ(reply.bytes, "\xA5\xA5\xA5\xA5");
    EXPECT_EQ(reply.delayMs, 40);
    EXPECT_FALSE(reply.close);
    EXPECT_TRUE(garbageUnit.OnLine("BTN1\r\n").close);

    Faults silent;
    silent.silentAfterLogin = true;
    ConsoleProtocol silentUnit(unit, silent);
    silentUnit.OnLine("admin\r\n");
    EXPECT_EQ(silentUnit.OnLine("846\r\n").bytes, "Login OK\r\n");
    EXPECT_EQ(silentUnit.OnLine("STA1\r\n").bytes, "");
    silentUnit.OnLine("BTN8\r\n");
    EXPECT_EQ(unit.State().mixDown, 1);  // still does what it is told
}

TEST(SimFaultsTest, ParsesEachFaultAndRefusesOthers) {
    Faults faults;
    EXPECT_TRUE(ParseFault("close-after=3", faults));
    EXPECT_TRUE(ParseFault("delay=250", faults));
    EXPECT_TRUE(ParseFault("short", faults));
    EXPECT_TRUE(ParseFault("silent-after=1", faults));
    EXPECT_TRUE(ParseFault("refuse-login", faults));
    EXPECT_TRUE(ParseFault("close-at-password", faults));
    EXPECT_EQ(faults.closeAfter, 3);
    EXPECT_EQ(faults.delayMs, 250);
    EXPECT_TRUE(faults.shortReplies);
    EXPECT_EQ(faults.silentAfter, 1);
    EXPECT_TRUE(faults.refuseLogin && faults.closeAtPassword);
    for (const char* bad : {"close-after=", "close-after=x", "delay=-1", "silent", ""}) {
        EXPECT_FALSE(ParseFault(bad, faults)) << bad;
    }
}

TEST(SimDottedAddressTest, ParsesOnlyFourDecimalOctets) {
    uint32_t address = 0;
    EXPECT_TRUE(ParseDotted("192.168.1.220", address));
    EXPECT_EQ(address, 0xC0A801DCu);
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 "}) {
        EXPECT_FALSE(ParseDotted(bad, address)) << bad;
    }
}

TEST(SimTrafficLogTest, JsonLineEscapesTheBytes) {
    TrafficEntry entry{"tcp", std::string("A\"\\\r\n\x01\xFF", 7), {}};
    EXPECT_EQ(TrafficLog::ToJson(entry, 1.5),
              "{\"ms\":1.500,\"link\":\"tcp\",\"hex\":\"41225c0d0a01ff\","
              "\"text\":\"A\\\"\\\\\\r\\n\\u0001\\u00ff\"}");
}

#ifdef VANTREL_SIM
TEST(SimProgramTest, ListensLogsEveryLineAndStopsOnSigterm) {
    const std::string log = "/tmp/vantrel-sim-test.jsonl";
    std::remove(log.c_str());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(VANTREL_SIM, VANTREL_SIM, "--address", "127.0.0.55", "--log", log.c_str(), "--fault",
              "delay=10", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char ready[128] = {};
    ASSERT_GT(read(out[0], ready, sizeof ready - 1), 0);
    close(out[0]);
    EXPECT_STREQ(ready, "vantrel-sim: listening on 127.0.0.55:23\n");

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(23);
    inet_pton(AF_INET, "127.0.0.55", &addr.sin_addr);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const char lines[] = "admin\r\n846\r\nREADIP\r\n";
    send(fd, lines, sizeof lines - 1, 0);
    const std::string expected = std::string("Login OK\r\n") + std::string("\x7F\0\0\x37", 4);
    std::string received;
    char chunk[256];
    while (received.size() < expected.size() ||
           received.compare(received.size() - expected.size(), expected.size(), expected) != 0) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        ASSERT_GT(n, 0) << received;
        received.append(chunk, n);
    }
    close(fd);

    std::ifstream file(log);
    std::string first;
    std::getline(file, first);
    EXPECT_NE(first.find("\"link\":\"tcp\",\"hex\":\"61646d696e0d0a\",\"text\":\"admin\\r\\n\""),
              std::string::npos)
        << first;
    kill(pid, SIGTERM);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace sim_console_test
}  // namespace vantrel::sim
