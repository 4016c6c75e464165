#include "cli/fleet.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace vantrel::cli {
namespace {

constexpr const char* kNotStarted = "not started";

// Runs units [from, to) on up to `jobs` threads; a unit whose turn comes once the stages stop
// the starts is left as it is, not started.
void RunStage(std::vector<UnitResult>& results, std::size_t from, std::size_t to, int jobs,
              const std::function<Verdict(std::size_t)>& task, const clients::Stages& stages,
              std::atomic<std::size_t>& failures) {
    std::atomic<std::size_t> next{from};
    auto worker = [&] {
        for (std::size_t i = next++; i < to; i = next++) {
            if (!stages.Begins(failures)) continue;
            const auto start = std::chrono::steady_clock::now();
            results[i].started = true;
            results[i].verdict = task(i);
            results[i].time = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            if (!results[i].verdict.done) ++failures;
        }
    };
    const std::size_t count = std::min(to - from, static_cast<std::size_t>(std::max(jobs, 1)));
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < count; ++i) threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads) thread.join();
}

}  // namespace

std::vector<UnitResult> RunFleet(const std::vector<std::string>& units, int jobs,
                                 const std::function<Verdict(std::size_t index)>& task,
                                 const clients::Stages& stages) {
    std::vector<UnitResult> results(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        results[i].unit = units[i];
        results[i].verdict = {false, kNotStarted};
    }
    std::atomic<std::size_t> failures{0};
    const std::size_t first = stages.FirstStage(units.size());
    RunStage(results, 0, first, jobs, task, stages, failures);
    const auto notDone = std::count_if(results.begin(), results.begin() + first,
                                       [](const UnitResult& r) { return !r.verdict.done; });
    if (clients::Stages::RestBegins(static_cast<std::size_t>(notDone))) {
        RunStage(results, first, units.size(), jobs, task, stages, failures);
    }
    return results;
}

std::string SummaryTable(const std::vector<UnitResult>& results, const char* doneWord) {
    size_t width = 4;
    for (const UnitResult& r : results) width = std::max(width, r.unit.size());
    std::string table;
    char line[512];
    std::snprintf(line, sizeof line, "%-*s  %-11s  %8s  %s\n", static_cast<int>(width), "unit",
                  "outcome", "time", "failure");
    table += line;
    for (const UnitResult& r : results) {
        const char* outcome = r.verdict.done ? doneWord : r.started ? "failed" : kNotStarted;
        std::snprintf(line, sizeof line, "%-*s  %-11s  %7.1fs  %s\n", static_cast<int>(width),
                      r.unit.c_str(), outcome, r.time.count() / 1000.0,
                      r.verdict.done || !r.started ? "" : r.verdict.note.c_str());
        table += line;
    }
    return table;
}

}  // namespace vantrel::cli
