#include "clients/exchange_log.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_file.h"

namespace vantrel::clients {
namespace exchange_log_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

RecordedExchange Exchange(const std::string& sent, const std::string& received) {
    RecordedExchange e;
    e.name = "press mute";
    e.outcome = "done";
    e.sent.assign(sent.begin(), sent.end());
    e.received.assign(received.begin(), received.end());
    // 2024-05-01 10:00:00.123 UTC, 52 ms after the previous boundary.
    e.end = system_clock::time_point{} + milliseconds(1714557600123LL);
    e.start = e.end - milliseconds(52);
    return e;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(ExchangeLogTest, LineCarriesTimeUnitLinkBytesAsHexAndOutcome) {
    EXPECT_EQ(ExchangeLine("127.0.0.2", "console", Exchange("MUTE\r\n", "\x01\xff")),
              R"({"time":"2024-05-01T10:00:00.123Z","unit":"127.0.0.2","link":"console",)"
              R"("exchange":"press mute","ms":52,"sent":"4d5554450d0a","received":"01ff",)"
              R"("outcome":"done"})");
    // Names and outcomes are escaped, and bytes that are no text cannot break the line.
    RecordedExchange odd = Exchange("", "");
    odd.name = "say \"hi\"\n";
    odd.outcome = "bad \xff byte";
    const nlohmann::json parsed =
        nlohmann::json::parse(ExchangeLine("/dev/ttyUSB0", "serial", odd));
    EXPECT_EQ(parsed["exchange"], "say \"hi\"\n");
    EXPECT_EQ(parsed["sent"], "");
    EXPECT_EQ(parsed["link"], "serial");
    // A clock set before 1970 still gives the milliseconds within their second.
    odd.end = system_clock::time_point{} - milliseconds(1);
    EXPECT_EQ(nlohmann::json::parse(ExchangeLine("u", "serial", odd))["time"],
              "1969-12-31T23:59:59.999Z");
}

TEST(ExchangeLogTest, FileGainsOneWholeLinePerExchangeFromManyThreadsAndAcrossRuns) {
    testing::TempFile file("exchange-log.jsonl", "");
    EXPECT_EQ(ExchangeLog::Open(std::filesystem::temp_directory_path().string()), nullptr);
    std::unique_ptr<ExchangeLog> full = ExchangeLog::Open("/dev/full");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(full->Write("127.0.0.2", "console", Exchange("A", "B")));
    {
        std::unique_ptr<ExchangeLog> log = ExchangeLog::Open(file.Path());
        ASSERT_NE(log, nullptr);
        std::vector<std::thread> units;
        for (int u = 0; u < 4; ++u) {
            units.emplace_back([&, u] {
                TrafficRecorder recorder(
                    log->SinkFor("127.0.0." + std::to_string(10 + u), "console"));
                for (int i = 0; i < 100; ++i) {
                    recorder.AddSent(std::string(300, 'x').data(), 300);
                    recorder.EndExchange("status", "done");
                }
            });
        }
        for (std::thread& t : units) t.join();
    }
    // A second run appends.
    EXPECT_TRUE(ExchangeLog::Open(file.Path())->Write("127.0.0.99", "console", Exchange("A", "B")));

    const std::vector<std::string> lines = Lines(file.Path());
    ASSERT_EQ(lines.size(), 401u);
    std::string hexOfXs;
    for (int i = 0; i < 300; ++i) hexOfXs += "78";
    std::set<std::string> unitsSeen;
    for (std::size_t i = 0; i < 400; ++i) {
        const nlohmann::json line = nlohmann::json::parse(lines[i], nullptr, false);
        ASSERT_FALSE(line.is_discarded()) << lines[i];
        EXPECT_EQ(line["sent"].get<std::string>(), hexOfXs);
        unitsSeen.insert(line["unit"].get<std::string>());
    }
    EXPECT_EQ(unitsSeen.size(), 4u);
    EXPECT_EQ(nlohmann::json::parse(lines[400])["unit"], "127.0.0.99");
}

}  // namespace
}  // namespace exchange_log_test
}  // namespace vantrel::clients
