// Which link a unit's lines came from: a link bound to a source address, the simulated unit's
// line log naming each line's peer, and the reader that finds two peers driving one unit at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "clients/dotted_address.h"
#include "sim/line_log.h"
#include "tests/support/gateway_process.h"
#include "tests/support/line_log_reader.h"
#include "tests/support/running_gateway.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "unit/tcp_stream.h"

namespace vantrel {
namespace line_source_test {
namespace {

using namespace std::chrono_literals;
using testing::FindOverlaps;
using testing::LoggedLine;
using testing::ReadLineLog;

std::vector<std::string> Addresses(const std::vector<LoggedLine>& lines) {
    std::vector<std::string> addresses;
    for (const LoggedLine& line : lines) addresses.push_back(line.address);
    return addresses;
}

TEST(LineLogReaderTest, ReadsWholeLinesAndFindsTwoPeersCloserThanTheWindow) {
    testing::TempFile log("line-log",
                          "1000000 127.0.1.1:4000 STA1\n"
                          "1100000 127.0.1.1:4001 VOL\\x5c3\\x04\n"  // a reconnect: same peer
                          "1150000 127.0.1.2:5000 STA1\n"            // 50 ms after another's
                          "9000000 127.0.1.1:4002 STA1\n"            // long after
                          "not a line\n"
                          "9000001 127.0.1.3:6000 ST");  // being written
    const std::vector<LoggedLine> lines = ReadLineLog(log.Path());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].micros, 1100000);
    EXPECT_EQ(lines[1].port, 4001);
    EXPECT_EQ(lines[1].line, "VOL\\3\x04");

    const auto overlaps = FindOverlaps(lines, 100ms);
    ASSERT_EQ(overlaps.size(), 1u);
    EXPECT_EQ(overlaps[0].before.micros, 1100000);
    EXPECT_EQ(overlaps[0].after.address, "127.0.1.2");
    EXPECT_EQ(FindOverlaps(lines, 50ms).size(), 0u);
    EXPECT_EQ(FindOverlaps(lines, 10s).size(), 2u);
    EXPECT_TRUE(ReadLineLog(log.Path() + ".none").empty());
}

// Two links from their own source addresses, one after the other, as two gateways would
// take a unit over: the log names each line's sender and the reader sees the hand-over.
TEST(LineSourceTest, TheUnitLogsEachLineWithTheSourceItsLinkBound) {
    testing::TempFile log("line-source", "");
    sim::LineLog lineLog;
    ASSERT_TRUE(lineLog.Open(log.Path()));
    testing::SimulatedUnit unit("127.0.88.1");
    unit.console.SetLineLog(lineLog);
    ASSERT_TRUE(unit.Start()) << unit.console.Error();

    std::atomic<int32_t> stop{0};
    std::size_t sent = 0;
    for (const char* source : {"127.0.89.1", "127.0.89.2"}) {
        std::uint32_t address = 0;
        ASSERT_TRUE(clients::ParseDotted(source, address));
        TcpStream stream(stop, SystemClock::Instance());
        stream.SetSource(address);
        ASSERT_TRUE(stream.Connect("127.0.88.1", 23)) << source;
        EXPECT_EQ(stream.Send("STA1\r\n", 6), 6);
        ++sent;
        ASSERT_TRUE(
            testing::WaitUntil([&] { return ReadLineLog(log.Path()).size() == sent; }, 5000ms));
    }
    const std::vector<LoggedLine> lines = ReadLineLog(log.Path());
    EXPECT_EQ(Addresses(lines), (std::vector<std::string>{"127.0.89.1", "127.0.89.2"}));
    EXPECT_EQ(lines[0].line, "STA1");
    EXPECT_EQ(FindOverlaps(lines, 1h).size(), 1u);
    EXPECT_EQ(FindOverlaps(lines, 0us).size(), 0u);

    // A source the machine does not have fails the connect rather than using another.
    TcpStream stray(stop, SystemClock::Instance());
    stray.SetSource(0x0A000001);  // 10.0.0.1
    EXPECT_FALSE(stray.Connect("127.0.88.1", 23));
}

TEST(LineSourceTest, TheGatewaysLinksComeFromItsLinkSourceAndOnlyLoopbackIsTaken) {
    for (const char* bad : {"10.0.0.1", "127.0.1", "localhost"}) {
        testing::GatewayProcess gateway(
            {"--unit", "127.0.88.2", "--listen", "127.0.0.1:18088", "--link-source", bad});
        EXPECT_EQ(gateway.Exit(5000ms), 2) << bad;
        EXPECT_NE(gateway.Errors().find("--link-source"), std::string::npos) << gateway.Errors();
    }

    testing::TempFile log("line-source-gateway", "");
    sim::LineLog lineLog;
    ASSERT_TRUE(lineLog.Open(log.Path()));
    testing::SimulatedUnit unit("127.0.88.2");
    unit.console.SetLineLog(lineLog);
    ASSERT_TRUE(unit.Start()) << unit.console.Error();
    testing::GatewayProcess gateway(
        {"--unit", "127.0.88.2", "--listen", "127.0.0.1:18088", "--link-source", "127.0.89.3"});
    ASSERT_TRUE(gateway.Serving(5000ms)) << gateway.Errors();
    ASSERT_TRUE(testing::WaitUntil([&] { return ReadLineLog(log.Path()).size() >= 2; }, 10000ms));
    for (const LoggedLine& line : ReadLineLog(log.Path())) EXPECT_EQ(line.address, "127.0.89.3");
}

}  // namespace
}  // namespace line_source_test
}  // namespace vantrel
