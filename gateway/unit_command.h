#pragma once

#include <functional>

#include "gateway/command_reply.h"
#include "gateway/unit_monitor.h"

namespace vantrel::gateway {

using CheckedCommand = std::function<Result<Check>(UnitLink&)>;

/// Runs `command` on the unit's one link in its turn and waits for its outcome; 503 when the
/// link is not up or goes down before the command's turn.
Reply RunCommand(UnitMonitor& unit, CheckedCommand command, bool changesNetwork,
                 const char* levelName = "level");

}  // namespace vantrel::gateway
