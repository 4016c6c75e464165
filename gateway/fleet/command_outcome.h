#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "gateway/fleet/unit_snapshot.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway {

/// Where a command got to. Only kRan sent anything; its result then says how the unit took it.
enum class CommandState : std::uint8_t {
    kRan,           // the unit interface's result tells how it went
    kStillRunning,  // it runs past its answer limit: its outcome is told later
    kNotBegun,      // it waited past its start limit, as the unit was busy
    kLinkDown,      // the unit's link is not up
    kQueueFull,     // too many commands wait for the unit
    kStopped,       // the gateway is stopping
    kUnrecorded,    // the audit log cannot take its entry
};

/// A command's outcome, as a value: every client's edge says it in its own way.
struct CommandOutcome {
    CommandState state = CommandState::kRan;
    Result<Check> result;  // kRan's
    std::string unit;
    std::string why;  // kLinkDown: the link's reason; kUnrecorded: the log's
    std::string id;   // the command's: a late outcome is told under it
    /// The unit as it was before the command began and after it ended; none for one that did
    /// not begin.
    std::optional<UnitSnapshot> before, after;

    bool Done() const { return state == CommandState::kRan && result.Ok(); }
};

}  // namespace vantrel::gateway
