#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "gateway/fleet/command_outcome.h"
#include "gateway/fleet/firmware_jobs.h"
#include "gateway/net/http_message.h"
#include "gateway/fleet/unit_command.h"

namespace vantrel::gateway {

/// An HTTP status and its JSON body.
struct Reply {
    int status = 200;
    nlohmann::json body;
    HttpHeaders headers{};
};

/// A command's outcome as the API answers it: 200 when the unit confirmed it, 502 with what was
/// missing when it ran otherwise, 503 when nothing was sent (with Retry-After for a full queue),
/// 504 when it did not begin in time or still runs. `levelName` names the level in the note
/// of a level command.
Reply CommandReply(const CommandOutcome& outcome, const char* levelName = "level");
/// The outcome as the audit log and a late "outcome" event keep every client's: the reply the
/// API gives for it.
OutcomeForm KeptAsReply(const char* levelName);
/// A request about firmware jobs: 202 for a job started, 200 with the job, or what was wrong.
Reply JobReply(const JobOutcome& outcome);
/// A request that is refused before anything is sent: 400, 404, 409, 413, 415.
Reply ErrorReply(int status, const std::string& why);
/// The reply as the API sends it: JSON, never cached.
HttpResponse ApiResponse(const Reply& reply);

}  // namespace vantrel::gateway
