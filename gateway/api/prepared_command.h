#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "gateway/fleet/unit_command.h"
#include "groups/checked.h"

namespace vantrel::gateway {

/// A command as a request's path and body ask it, checked before any unit is chosen: the
/// one-unit and the group routes send the same.
struct PreparedCommand {
    const char* action;
    nlohmann::json params;  // as the audit log records them
    CheckedCommand command;
    bool changesNetwork = false;
    const char* levelName = "level";  // names the level in a level command's note
};

/// A request its own checks refuse: the status and why.
struct Refused {
    int status;
    std::string why;
};

using BuiltCommand = groups::Checked<PreparedCommand, Refused>;

}  // namespace vantrel::gateway
