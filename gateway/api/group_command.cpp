#include "gateway/api/group_command.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "gateway/fleet/unit_json.h"
#include "groups/selector.h"

namespace vantrel::gateway {

using nlohmann::json;

groups::Checked<GroupChoice, std::string> ChooseGroup(const json& body,
                                                      const std::vector<groups::UnitEntry>& units,
                                                      std::size_t most) {
    const json select = body.value("select", json());
    groups::Selector selector;
    if (select.is_string()) {
        const auto parsed = groups::ParseSelector(select.get<std::string>());
        if (!parsed.Ok()) return groups::ErrorText(parsed.GetError());
        selector = parsed.Value();
    } else if (select.is_array() && !select.empty()) {
        selector.kind = groups::Selector::Kind::kUnits;
        for (const json& unit : select) {
            if (!unit.is_string()) return std::string("\"select\" lists units by name");
            selector.units.push_back(unit.get<std::string>());
        }
    } else {
        return std::string(
            "give \"select\": \"all\", label terms (\"site=studio-a,role!=spare\") or a list of "
            "units");
    }
    groups::SelectLimits limits{most, std::nullopt};
    if (body.contains("confirm")) {
        if (!body["confirm"].is_number_unsigned()) {
            return std::string("\"confirm\" is the count of units to act on");
        }
        limits.confirm = body["confirm"].get<std::size_t>();
    }
    auto picked = groups::Select(selector, units, limits);
    if (!picked.Ok()) return groups::ErrorText(picked.GetError());
    const json stop = body.value("stopOnFailure", json(false));
    return GroupChoice{std::move(picked.Value()), stop == true};
}

namespace {

// The answers as they come, each in its unit's place, given once the last is in.
class GroupAnswers {
  public:
    GroupAnswers(std::string id, std::size_t count, std::function<void(Reply)> done)
        : m_id(std::move(id)), m_entries(count), m_left(count), m_done(std::move(done)) {}

    void Answer(std::size_t at, json entry) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entries[at] = std::move(entry);
        if (--m_left > 0) return;
        Reply reply{200, {{"group", m_id}, {"units", m_entries}}};
        lock.unlock();
        m_done(std::move(reply));
    }

  private:
    const std::string m_id;
    std::mutex m_mutex;
    std::vector<json> m_entries;
    std::size_t m_left;
    std::function<void(Reply)> m_done;
};

json Entry(const CommandOutcome& outcome, const char* levelName) {
    const Reply reply = CommandReply(outcome, levelName);
    json entry = reply.body;
    entry["status"] = reply.status;
    entry["outcome"] = CountedAs(outcome);
    entry["before"] = outcome.before ? UnitValuesJson(*outcome.before) : json();
    entry["after"] = outcome.after ? UnitValuesJson(*outcome.after) : json();
    return entry;
}

// A unit left unsent as one before it was not done.
json Skipped(const std::string& unit) {
    return {{"unit", unit},
            {"done", false},
            {"status", nullptr},
            {"outcome", "skipped"},
            {"before", nullptr},
            {"after", nullptr},
            {"error", "not sent: a unit before it was not done, and stopOnFailure was given"}};
}

struct GroupRun {
    GroupRun(std::vector<std::shared_ptr<UnitMonitor>> units, PreparedCommand prepared,
             CommandRecord record, EventHub& hub, CommandCounts& counts,
             std::function<void(Reply)> done)
        : units(std::move(units)),
          prepared(std::move(prepared)),
          record(std::move(record)),
          hub(hub),
          counts(counts),
          answers(this->record.group, this->units.size(), std::move(done)) {}

    std::vector<std::shared_ptr<UnitMonitor>> units;
    PreparedCommand prepared;
    CommandRecord record;
    EventHub& hub;
    CommandCounts& counts;
    GroupAnswers answers;
};

// Sends to unit `at`; with `chain`, its answer sends to the next, or skips the rest.
void Send(const std::shared_ptr<GroupRun>& run, std::size_t at, bool chain) {
    UnitMonitor& unit = *run->units[at];
    RunCommand(unit, run->hub, run->prepared.command, run->prepared.changesNetwork, run->record,
               KeptAsReply(run->prepared.levelName),
               [run, at, chain](const CommandOutcome& outcome) {
                   run->counts.Count(outcome.unit, outcome);
                   run->answers.Answer(at, Entry(outcome, run->prepared.levelName));
                   if (!chain || at + 1 == run->units.size()) return;
                   if (outcome.Done()) return Send(run, at + 1, true);
                   for (std::size_t next = at + 1; next < run->units.size(); ++next) {
                       run->answers.Answer(next, Skipped(run->units[next]->Name()));
                   }
               });
}

std::string NextGroupId() {
    static std::atomic<std::int64_t> next{1};
    return "group-" + std::to_string(next++);
}

}  // namespace

void RunGroup(const std::vector<std::shared_ptr<UnitMonitor>>& units, bool stopOnFailure,
              const PreparedCommand& prepared, const CommandRecord& record, EventHub& hub,
              CommandCounts& counts, std::function<void(Reply)> done) {
    CommandRecord grouped = record;
    grouped.action = prepared.action;
    grouped.params = prepared.params;
    grouped.group = NextGroupId();
    auto run = std::make_shared<GroupRun>(units, prepared, std::move(grouped), hub, counts,
                                          std::move(done));
    if (stopOnFailure) return Send(run, 0, true);
    for (std::size_t at = 0; at < units.size(); ++at) Send(run, at, false);
}

}  // namespace vantrel::gateway
