#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "gateway/http_message.h"
#include "gateway/unit_monitor.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway {

/// An HTTP status and its JSON body.
struct Reply {
    int status = 200;
    nlohmann::json body;
    HttpHeaders headers{};
};

/// A command's outcome as the unit interface gave it: 200 when confirmed, 502 with what was
/// missing otherwise. `levelName` names the level in the note of a level command.
Reply CheckReply(const std::string& unit, const Result<Check>& check,
                 const char* levelName = "level");
/// 503: the command was not sent, as the unit's link is not up.
Reply LinkDownReply(const std::string& unit, const std::string& reason);
/// A command that was dropped before its turn: 503 for a link that went down or a gateway that
/// is stopping, 504 for one that waited past its limit.
Reply DroppedReply(const std::string& unit, CommandEnd end, const std::string& linkReason);
/// 503: the command was not sent, as the audit log cannot take its entry.
Reply UnrecordedReply(const std::string& unit, const std::string& why);
/// 503 with Retry-After: the unit's queue is full.
Reply QueueFullReply(const std::string& unit);
/// 504: the command `id` still runs at its answer limit; its outcome follows as an event.
Reply StillRunningReply(const std::string& unit, const std::string& id);
/// A request that is refused before anything is sent: 400, 404, 409, 413, 415.
Reply ErrorReply(int status, const std::string& why);

}  // namespace vantrel::gateway
