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

/// Tells the unit's entry in a group's answer, and whether the unit was done.
using UnitAnswered = std::function<void(nlohmann::json entry, bool done)>;
/// Starts the work on unit `at`, which calls `answered` once, from any thread.
using SendUnit = std::function<void(std::size_t at, UnitAnswered answered)>;

/// Why a unit of a group was not sent to.
extern const char* const kSkippedAfterFailure;

/// Works `count` units, each by `send`, in parallel, or one after another when
/// `stopOnFailure`, where the first unit not done leaves the rest to `skipped`. `done` is given
/// the entries in the units' order once every unit has answered.
void RunEach(std::size_t count, bool stopOnFailure, SendUnit send,
             std::function<nlohmann::json(std::size_t at)> skipped,
             std::function<void(nlohmann::json entries)> done);

/// A new group action's id, for its answer and its units' audit entries.
std::string NextGroupId();

/// A unit's entry in a group's answer: the one-unit route's answer with its status, how it was
/// counted, and the unit's values before and after (null where none were read).
nlohmann::json GroupEntry(const CommandOutcome& outcome, const char* levelName);

/// Passes unit `unit`'s part of the group `grouped` to the gateway that drives it, or refuses
/// it while none may run it, and tells `answered`: false for a unit driven here.
using PassUnit = std::function<bool(const std::string& unit, const CommandRecord& grouped,
                                    const UnitAnswered& answered)>;

/// Sends `prepared` to each unit through its own queue, in parallel, or one after another when
/// `stopOnFailure`, which skips the units after the first not done. `done` is given, once every
/// unit has answered, 200 with the group's id and one GroupEntry per unit. With `passOn`, a
/// unit another gateway drives has its part run there, and its entry made by PassedEntry.
void RunGroup(const std::vector<std::shared_ptr<UnitMonitor>>& units, bool stopOnFailure,
              const PreparedCommand& prepared, const CommandRecord& record, EventHub& hub,
              CommandCounts& counts, std::function<void(Reply)> done, PassUnit passOn = nullptr);

/// The entry of a unit whose part was passed to another gateway, from what came back: the
/// owner's answer (a GroupEntry), or the refusal made here when it could not be asked or did
/// not answer. Its outcome is read from the status, as CommandReply gives them.
nlohmann::json PassedEntry(const std::string& unit, const HttpResponse& response);

}  // namespace vantrel::gateway
