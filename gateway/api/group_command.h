#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gateway/api/command_reply.h"
#include "gateway/api/prepared_command.h"
#include "gateway/metrics/command_counts.h"
#include "gateway/net/event_hub.h"
#include "groups/checked.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// The units a group command's body picks, and how they are worked.
struct GroupChoice {
    std::vector<std::size_t> units;  // indices into the units, in their order
    bool stopOnFailure = false;
};

/// Reads `select` (a selector's text, "all", or a list of units), `confirm` and
/// `stopOnFailure` from a group command's body and picks the units: what is wrong, for a
/// person, when the selector is bad, matches none, or matches more than `most` without
/// `confirm` giving the count.
groups::Checked<GroupChoice, std::string> ChooseGroup(const nlohmann::json& body,
                                                      const std::vector<groups::UnitEntry>& units,
                                                      std::size_t most);

/// Sends `prepared` to each unit through its own queue, in parallel, or one after another when
/// `stopOnFailure`, which skips the units after the first not done. `done` is given, once every
/// unit has answered, 200 with the group's id and one entry per unit: the one-unit route's
/// answer with its status, how it was counted, and the unit's values before and after.
void RunGroup(const std::vector<std::shared_ptr<UnitMonitor>>& units, bool stopOnFailure,
              const PreparedCommand& prepared, const CommandRecord& record, EventHub& hub,
              CommandCounts& counts, std::function<void(Reply)> done);

}  // namespace vantrel::gateway
