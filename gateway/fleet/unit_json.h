#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "gateway/fleet/unit_snapshot.h"

namespace vantrel::gateway {

/// A unit as the API gives it: its name (null for none) and labels, its link, and the fields of
/// `vantrelctl status --json` with the time each part was read (null before the first read).
nlohmann::json UnitJson(const UnitSnapshot& snapshot);
/// The unit's reported values alone, as the audit log keeps them before and after a command;
/// null before the first read.
nlohmann::json UnitValuesJson(const UnitSnapshot& snapshot);
/// The data of the "outcome" event that tells the outcome of the command `id` after its asker
/// was answered: the command's id with the outcome as its asker's edge keeps it (`told`).
std::string OutcomeEventData(const std::string& id, nlohmann::json told);

}  // namespace vantrel::gateway
