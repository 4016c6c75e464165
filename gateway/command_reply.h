#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "unit_link/unit_checks.h"

namespace vantrel::gateway {

/// An HTTP status and its JSON body.
struct Reply {
    int status = 200;
    nlohmann::json body;
};

/// A command's outcome as the unit interface gave it: 200 when confirmed, 502 with what was
/// missing otherwise. `levelName` names the level in the note of a level command.
Reply CheckReply(const std::string& unit, const Result<Check>& check,
                 const char* levelName = "level");
/// 503: the command was not sent, as the unit's link is not up.
Reply LinkDownReply(const std::string& unit, const std::string& reason);
/// A request that is refused before anything is sent: 400, 404, 413, 415.
Reply ErrorReply(int status, const std::string& why);

}  // namespace vantrel::gateway
