// The tool's fleet: which units begin under the stages, what the closing table says of each,
// and that a unit which stops answering holds up no other.
#include "cli/fleet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <sstream>

namespace vantrel::cli {
namespace fleet_test {
namespace {

const std::vector<std::string> kUnits{"127.0.0.21", "127.0.0.22", "127.0.0.23", "127.0.0.24",
                                      "127.0.0.25"};

// Each unit's row of the closing table: its outcome, and ": " and the failure when one shows.
std::vector<std::string> Rows(const std::string& table) {
    const std::size_t outcomeAt = kUnits[0].size() + 2;
    const std::size_t failureAt = outcomeAt + 11 + 2 + 8 + 2;  // past the outcome and the time
    std::vector<std::string> rows;
    std::istringstream lines(table);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::string outcome = line.substr(outcomeAt, 11);
        outcome.erase(outcome.find_last_not_of(' ') + 1);
        rows.push_back(outcome + (line.size() > failureAt ? ": " + line.substr(failureAt) : ""));
    }
    return rows;
}

// Runs the fleet one unit at a time, the second unit refused; which units were begun, in order.
std::vector<std::string> Staged(const clients::Stages& stages, std::vector<std::size_t>& begun) {
    const auto results = RunFleet(
        kUnits, 1,
        [&](std::size_t index) -> Verdict {
            begun.push_back(index);
            if (index == 1) return {false, "update: refused by the unit"};
            return {true, ""};
        },
        stages);
    return Rows(SummaryTable(results));
}

TEST(FleetTest, CanaryUnitsGoFirstAndTheMostFailuresStopTheStarts) {
    std::vector<std::size_t> begun;
    // A failed canary holds every other unit back.
    EXPECT_EQ(Staged({2, {}}, begun),
              (std::vector<std::string>{"done", "failed: update: refused by the unit",
                                        "not started", "not started", "not started"}));
    EXPECT_EQ(begun, (std::vector<std::size_t>{0, 1}));

    // One canary that passes lets the rest go; the first failure then stops the starts.
    begun.clear();
    EXPECT_EQ(Staged({1, 1}, begun),
              (std::vector<std::string>{"done", "failed: update: refused by the unit",
                                        "not started", "not started", "not started"}));
    EXPECT_EQ(begun, (std::vector<std::size_t>{0, 1}));

    begun.clear();
    EXPECT_EQ(Staged({1, 2}, begun),
              (std::vector<std::string>{"done", "failed: update: refused by the unit", "done",
                                        "done", "done"}));
    EXPECT_EQ(begun, (std::vector<std::size_t>{0, 1, 2, 3, 4}));

    // A dry run's units that were reached are ready, not done.
    const auto ready = RunFleet(kUnits, 5, [](std::size_t) { return Verdict{true, "reached"}; });
    EXPECT_EQ(Rows(SummaryTable(ready, "ready")), std::vector<std::string>(5, "ready"));
}

// Every other unit ends while one is held; the held one is let go once they all have ended.
TEST(FleetTest, AUnitThatStopsAnsweringHoldsUpNoOther) {
    std::mutex mutex;
    std::condition_variable ended;
    std::set<std::size_t> done;
    const auto results =
        RunFleet(kUnits, static_cast<int>(kUnits.size()), [&](std::size_t index) -> Verdict {
            std::unique_lock<std::mutex> lock(mutex);
            if (index != 2) {
                done.insert(index);
                ended.notify_all();
                return {true, ""};
            }
            const bool others = ended.wait_for(lock, std::chrono::seconds(10),
                                               [&] { return done.size() == kUnits.size() - 1; });
            return {false, others ? "no reply" : "held the others"};
        });
    ASSERT_EQ(results.size(), kUnits.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i].unit, kUnits[i]);
        EXPECT_TRUE(results[i].started);
        EXPECT_EQ(results[i].verdict.done, i != 2);
    }
    EXPECT_EQ(results[2].verdict.note, "no reply");
}

}  // namespace
}  // namespace fleet_test
}  // namespace vantrel::cli
