#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "gateway/access/audit_log.h"
#include "gateway/fleet/command_outcome.h"
#include "gateway/net/event_hub.h"
#include "gateway/fleet/unit_monitor.h"

namespace vantrel::gateway {

using CheckedCommand = std::function<Result<Check>(UnitLink&)>;
/// Where a command's outcome goes; called on whichever thread decides it.
using OutcomeSink = std::function<void(const CommandOutcome&)>;
/// How the edge that asked for a command keeps its outcome where it is read later: in the audit
/// log's entry and in the event of an outcome told late.
using OutcomeForm = std::function<nlohmann::json(const CommandOutcome&)>;

/// Who asked for a command, from where, and what, for the audit log.
struct CommandRecord {
    AuditLog* log = nullptr;
    std::string who;
    std::string from;
    std::string action;
    nlohmann::json params = nlohmann::json::object();
    /// The group action it is part of; "" for a command on one unit.
    std::string group;
    /// The command's id, by which its entry is found again (an undo); "" for none.
    std::string command;
    /// The gateway that passed it on; "" for one asked here.
    std::string via;

    /// Who, from where, on which unit, what and, for a group's, the group.
    nlohmann::json Entry(const std::string& unit) const;

    /// Writes the entry that it begins on `unit` ("phase": "begun"), before anything is sent:
    /// false, with the reason, when that could not be written, and then it must not run. True
    /// without a log.
    bool Begin(const std::string& unit, std::string& why) const;
    /// Writes the entry of its outcome on `unit` ("phase": "ended"), with the unit's values
    /// before and after it (null where none were read); nothing without a log. The outcome of
    /// one that `begun` is owed until the log takes it; of one that did not, tried once.
    void Write(const std::string& unit, bool begun, nlohmann::json outcome, nlohmann::json before,
               nlohmann::json after) const;
};

/// Queues `command` for the unit's one link and hands `answer` its outcome once, without
/// waiting: at once when it cannot be queued, kStillRunning when it runs past its answer limit.
/// An outcome that comes after that is published as an "outcome" event carrying the command's
/// id. When its turn comes, its begun entry is written before anything is sent, and a log that
/// cannot take it makes it kUnrecorded, unsent; its outcome, with the unit's values before and
/// after (null for one that did not run), is recorded once known.
void RunCommand(UnitMonitor& unit, EventHub& hub, CheckedCommand command, bool changesNetwork,
                CommandRecord record, OutcomeForm form, OutcomeSink answer);

}  // namespace vantrel::gateway
