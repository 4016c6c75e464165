#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "cli/unit_link.h"

namespace vantrel::cli {

/// How one unit's command ended.
struct UnitResult {
    std::string unit;
    Outcome outcome;
    std::chrono::milliseconds time{0};
};

/// Runs `task` for every unit, at most `jobs` at a time, each on a thread of its own so that a
/// unit that stops answering holds up no other. Results come back in the units' order.
std::vector<UnitResult> RunFleet(const std::vector<std::string>& units, int jobs,
                                 const std::function<Outcome(const std::string& unit)>& task);

/// The closing table: unit, outcome, time and the failure text.
std::string SummaryTable(const std::vector<UnitResult>& results);

}  // namespace vantrel::cli
