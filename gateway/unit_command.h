#pragma once

#include <functional>

#include "gateway/command_reply.h"
#include "gateway/event_hub.h"
#include "gateway/unit_monitor.h"

namespace vantrel::gateway {

using CheckedCommand = std::function<Result<Check>(UnitLink&)>;
/// Where a command's reply goes; called once, on whichever thread decides it.
using ReplySink = std::function<void(Reply)>;

/// Queues `command` for the unit's one link and replies with its outcome, without waiting:
/// 503 when it cannot be queued or is dropped, 504 when it waits past its start limit or runs
/// past its answer limit. An outcome that comes after its 504 is published as an "outcome"
/// event carrying the command's id.
void RunCommand(UnitMonitor& unit, EventHub& hub, CheckedCommand command, bool changesNetwork,
                const char* levelName, ReplySink sink);

}  // namespace vantrel::gateway
