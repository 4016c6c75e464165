#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "gateway/fleet/command_outcome.h"
#include "gateway/fleet/unit_command.h"
#include "gateway/fleet/unit_monitor.h"
#include "groups/apply_plan.h"

namespace vantrel::gateway {

/// Runs `read` on the unit's one link through its queue, between polls, as a command would be,
/// but unrecorded, since it changes nothing. `done` is told once: kRan after `read` has run, or
/// why it did not (the link down, with its reason; the queue full; not begun in time; stopping).
void ReadOnUnit(UnitMonitor& unit, std::function<void(UnitLink&)> read,
                std::function<void(const CommandOutcome&)> done);

/// What an apply came to on a unit: its plan as made on the values read then, and each step's
/// outcome.
struct AppliedSettings {
    groups::UnitPlan plan;
    std::vector<groups::StepOutcome> steps;
};

/// The command that reads the unit, plans `wanted` against it (the network only when
/// `network`) and carries the plan out, leaving both in `into` for the monitor's thread to
/// read once it has run. Done when the plan refuses nothing and every step is done; otherwise
/// its failure is the read's, the plan's refusal, or the first step's that failed.
CheckedCommand ApplySettings(std::shared_ptr<AppliedSettings> into, groups::UnitSettings wanted,
                             bool network);

}  // namespace vantrel::gateway
