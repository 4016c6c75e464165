#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "groups/unit_settings.h"
#include "unit/outcome.h"
#include "unit_link/unit_checks.h"
#include "unit_link/unit_link.h"

namespace vantrel::groups {

/// Why an apply would send nothing to a unit.
enum class Refusal : std::uint8_t {
    kNone,
    kUnitDown,          // its values could not be read
    kNotInSnapshot,     // the snapshot holds nothing for it
    kOutOfRange,        // a value the unit cannot take (see `setting`)
    kStrandingAddress,  // a static address that would leave the unit unreachable
};

const char* RefusalText(Refusal refusal);

/// What an apply would send to one unit: the settings that differ, in the order they go, or
/// why it would send nothing. The dry run shows it; the apply carries it out.
struct UnitPlan {
    Refusal refusal = Refusal::kNone;
    Setting setting = Setting::kInput;  // kOutOfRange, kStrandingAddress: the one at fault
    Failure down;                       // kUnitDown: the read's failure
    UnitSettings live;                  // as read
    std::vector<Setting> steps;
};

/// Plans `wanted` (nullptr: the unit is not in the snapshot) against the unit's values as
/// read. The network is planned only when `network` is set, and always last; the panel's
/// address rules refuse a static address only when it differs from the unit's own.
UnitPlan PlanUnit(const UnitSettings* wanted, const Result<UnitSettings>& live, bool network);
/// Reads the unit, then plans: the dry run, and the apply's own first step.
UnitPlan PlanUnit(UnitLink& link, const UnitSettings* wanted, bool network);

enum class StepState : std::uint8_t { kDone, kFailed, kSkipped };
const char* StepStateText(StepState state);

/// One setting's outcome: kFailed carries the unit's reason in `check`.
struct StepOutcome {
    Setting setting;
    StepState state = StepState::kSkipped;
    Result<Check> check;
};

/// Carries out a plan that refuses nothing, one step at a time, each confirmed by the unit.
/// A step that fails because the link failed (not the unit's own refusal) skips the steps
/// after it; the network is skipped after any failure, as it may move the unit.
std::vector<StepOutcome> ApplyPlan(UnitLink& link, const UnitPlan& plan,
                                   const UnitSettings& wanted);

}  // namespace vantrel::groups
