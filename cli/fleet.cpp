#include "cli/fleet.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace vantrel::cli {

std::vector<UnitResult> RunFleet(const std::vector<std::string>& units, int jobs,
                                 const std::function<Verdict(std::size_t index)>& task) {
    std::vector<UnitResult> results(units.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < units.size(); i = next++) {
            const auto start = std::chrono::steady_clock::now();
            results[i].unit = units[i];
            results[i].verdict = task(i);
            results[i].time = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
        }
    };
    const size_t count = std::min<size_t>(units.size(), static_cast<size_t>(std::max(jobs, 1)));
    std::vector<std::thread> threads;
    for (size_t i = 1; i < count; ++i) threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads) thread.join();
    return results;
}

std::string SummaryTable(const std::vector<UnitResult>& results) {
    size_t width = 4;
    for (const UnitResult& r : results) width = std::max(width, r.unit.size());
    std::string table;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-7s  %8s  %s\n", static_cast<int>(width), "unit",
                  "outcome", "time", "failure");
    table += line;
    for (const UnitResult& r : results) {
        std::snprintf(line, sizeof line, "%-*s  %-7s  %7.1fs  %s\n", static_cast<int>(width),
                      r.unit.c_str(), r.verdict.done ? "done" : "failed", r.time.count() / 1000.0,
                      r.verdict.done ? "" : r.verdict.note.c_str());
        table += line;
    }
    return table;
}

}  // namespace vantrel::cli
