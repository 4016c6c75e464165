#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "gateway/api/command_reply.h"
#include "gateway/fleet/unit_roster.h"
#include "groups/checked.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// A name and labels as a body gives them: no name keeps the unit's own.
struct NamingBody {
    std::optional<std::string> name;
    groups::Labels labels;
};

/// `{"unit", "name"?, "labels"?}`: the unit to add, or what is wrong with the body.
groups::Checked<groups::UnitEntry, std::string> UnitOfBody(const nlohmann::json& body);
/// `{"name"?, "labels"}`: what the unit is to be called, or what is wrong with the body.
groups::Checked<NamingBody, std::string> NamingOfBody(const nlohmann::json& body);

/// A change of the units as the API answers it: `done` once made; 400 for a bad unit, name or
/// label, 404 for no such unit, 409 for one that exists or is updating or units that no file
/// keeps, 503 when the audit log or the store could not take it.
Reply RosterReply(const RosterOutcome& outcome, const std::function<Reply()>& done);

}  // namespace vantrel::gateway
