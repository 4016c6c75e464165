#pragma once

#include <nlohmann/json.hpp>

namespace vantrel::gateway {

/// The tables a client needs to show and command a unit (GET /api/meta): the buttons a press
/// takes, the levels with their ranges, the inputs, meter modes and lamps with the buttons that
/// choose them. Built from the tables the gateway itself uses, so a client repeats none.
nlohmann::json MetaJson();

}  // namespace vantrel::gateway
