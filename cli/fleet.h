#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vantrel::cli {

/// How one unit's command ended, as the tool reports it.
struct Verdict {
    bool done = false;
    std::string note;  // done: what the unit confirmed (may be empty); failed: what was missing
};

struct UnitResult {
    std::string unit;
    Verdict verdict;
    std::chrono::milliseconds time{0};
};

/// Runs `task` for every unit (by its index), at most `jobs` at a time, each on a thread of
/// its own so that a unit that stops answering holds up no other. Results come back in the
/// units' order.
std::vector<UnitResult> RunFleet(const std::vector<std::string>& units, int jobs,
                                 const std::function<Verdict(std::size_t index)>& task);

/// The closing table: unit, outcome, time and the failure.
std::string SummaryTable(const std::vector<UnitResult>& results);

}  // namespace vantrel::cli
