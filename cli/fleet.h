#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "clients/stages.h"

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
    bool started = false;  // false: held back by the stages below, nothing was sent to it
};

/// Runs `task` for every unit (by its index), at most `jobs` at a time, each on a thread of
/// its own so that a unit that stops answering holds up no other, in the stages given.
/// Results come back in the units' order.
std::vector<UnitResult> RunFleet(const std::vector<std::string>& units, int jobs,
                                 const std::function<Verdict(std::size_t index)>& task,
                                 const clients::Stages& stages = {});

/// The closing table: unit, outcome, time and the failure. `doneWord` is what a unit that was
/// done shows: "done", or "ready" for a dry run, which changed nothing.
std::string SummaryTable(const std::vector<UnitResult>& results, const char* doneWord = "done");

}  // namespace vantrel::cli
