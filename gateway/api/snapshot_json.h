#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "gateway/fleet/command_outcome.h"
#include "gateway/fleet/unit_drift.h"
#include "gateway/fleet/unit_settings_work.h"
#include "groups/apply_plan.h"
#include "groups/snapshot.h"

namespace vantrel::gateway {

/// A snapshot as its list shows it: name, when, who, and how many units it holds.
nlohmann::json SnapshotSummaryJson(const groups::Snapshot& snapshot);

/// Why the plan sends nothing, as the API says it: null when it refuses nothing, else
/// {"reason": "unit down" | "not in snapshot" | "out of range" | "stranding address",
/// "setting"?, "why"?}. `down` says why a unit is down when no read was made.
nlohmann::json RefusalJson(const groups::UnitPlan& plan, const groups::UnitSettings* wanted,
                           const std::string& down = "");
/// What the plan would send: each setting, as live and as wanted, in order.
nlohmann::json PlanJson(const groups::UnitPlan& plan, const groups::UnitSettings& wanted);
/// Each setting that `wanted` holds and `live` shows otherwise: as live and as wanted.
nlohmann::json DiffersJson(const groups::UnitSettings& wanted, const groups::UnitSettings& live);
/// Each step's outcome: "done", "failed" with the unit's reason, or "skipped".
nlohmann::json StepsJson(const std::vector<groups::StepOutcome>& steps);

/// A held unit's drift, as GET /api/drift and the drift event give it.
nlohmann::json DriftJson(const std::string& unit, const std::string& name, const UnitDrift& drift);

/// One unit's part of an apply or an undo: its command's id, whether it was done, why it sent
/// nothing and what each step came to. `applied` is read only once the command has run.
nlohmann::json AppliedJson(const CommandOutcome& outcome, const AppliedSettings& applied,
                           const groups::UnitSettings& wanted);

/// The settable values of a unit as its audit entry keeps them (the API's UNIT values); none
/// when they are not all there.
std::optional<groups::UnitSettings> KeptSettings(const nlohmann::json& values);

}  // namespace vantrel::gateway
