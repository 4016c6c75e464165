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
class UnitAnswers {
  public:
    UnitAnswers(std::size_t count, std::function<void(json)> done)
        : m_entries(count), m_left(count), m_done(std::move(done)) {}

    void Answer(std::size_t at, json entry) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entries[at] = std::move(entry);
        if (--m_left > 0) return;
        json entries(std::move(m_entries));
        lock.unlock();
        m_done(std::move(entries));
    }

  private:
    std::mutex m_mutex;
    std::vector<json> m_entries;
    std::size_t m_left;
    std::function<void(json)> m_done;
};

struct EachRun {
    EachRun(std::size_t count, SendUnit send, std::function<json(std::size_t)> skipped,
            std::function<void(json)> done)
        : count(count),
          send(std::move(send)),
          skipped(std::move(skipped)),
          answers(count, std::move(done)) {}

    std::size_t count;
    SendUnit send;
    std::function<json(std::size_t)> skipped;
    UnitAnswers answers;
};

// Sends to unit `at`; with `chain`, its answer sends to the next, or skips the rest.
void Send(const std::shared_ptr<EachRun>& run, std::size_t at, bool chain) {
    run->send(at, [run, at, chain](json entry, bool done) {
        run->answers.Answer(at, std::move(entry));
        if (!chain || at + 1 == run->count) return;
        if (done) return Send(run, at + 1, true);
        for (std::size_t next = at + 1; next < run->count; ++next) {
            run->answers.Answer(next, run->skipped(next));
        }
    });
}

}  // namespace

json GroupEntry(const CommandOutcome& outcome, const char* levelName) {
    const Reply reply = CommandReply(outcome, levelName);
    json entry = reply.body;
    entry["status"] = reply.status;
    entry["outcome"] = CountedAs(outcome);
    entry["before"] = outcome.before ? UnitValuesJson(*outcome.before) : json();
    entry["after"] = outcome.after ? UnitValuesJson(*outcome.after) : json();
    return entry;
}

const char* const kSkippedAfterFailure =
    "not sent: a unit before it was not done, and stopOnFailure was given";

void RunEach(std::size_t count, bool stopOnFailure, SendUnit send,
             std::function<json(std::size_t at)> skipped, std::function<void(json)> done) {
    if (count == 0) return done(json::array());
    auto run =
        std::make_shared<EachRun>(count, std::move(send), std::move(skipped), std::move(done));
    if (stopOnFailure) return Send(run, 0, true);
    for (std::size_t at = 0; at < count; ++at) Send(run, at, false);
}

json PassedEntry(const std::string& unit, const HttpResponse& response) {
    json entry = json::parse(response.body, nullptr, false);
    if (!entry.is_object()) entry = {{"error", "the unit's gateway answered with no JSON"}};
    entry["unit"] = unit;
    entry["status"] = response.status;
    entry["done"] = response.status == 200;
    // What the owner refused before running it (its token, a unit it no longer has) is
    // unavailable here: it did not run.
    const char* outcome = "unavailable";
    if (response.status == 200) outcome = "done";
    if (response.status == 502) outcome = "failed";
    if (response.status == 504) outcome = "timed_out";
    entry["outcome"] = outcome;
    for (const char* values : {"before", "after"}) {
        if (!entry.contains(values)) entry[values] = nullptr;
    }
    return entry;
}

std::string NextGroupId() {
    static std::atomic<std::int64_t> next{1};
    return "group-" + std::to_string(next++);
}

void RunGroup(const std::vector<std::shared_ptr<UnitMonitor>>& units, bool stopOnFailure,
              const PreparedCommand& prepared, const CommandRecord& record, EventHub& hub,
              CommandCounts& counts, std::function<void(Reply)> done, PassUnit passOn) {
    CommandRecord grouped = record;
    grouped.action = prepared.action;
    grouped.params = prepared.params;
    grouped.group = NextGroupId();
    auto send = [units, prepared, grouped, &hub, &counts, passOn](std::size_t at,
                                                                  UnitAnswered answered) {
        if (passOn && passOn(units[at]->Name(), grouped, answered)) return;
        const char* levelName = prepared.levelName;
        RunCommand(*units[at], hub, prepared.command, prepared.changesNetwork, grouped,
                   KeptAsReply(levelName),
                   [&counts, levelName, answered](const CommandOutcome& outcome) {
                       counts.Count(outcome.unit, outcome);
                       answered(GroupEntry(outcome, levelName), outcome.Done());
                   });
    };
    // A unit left unsent as one before it was not done.
    auto skipped = [units](std::size_t at) {
        return json{{"unit", units[at]->Name()},    {"done", false},     {"status", nullptr},
                    {"outcome", "skipped"},         {"before", nullptr}, {"after", nullptr},
                    {"error", kSkippedAfterFailure}};
    };
    RunEach(units.size(), stopOnFailure, send, skipped,
            [id = grouped.group, done = std::move(done)](json entries) {
                done(Reply{200, {{"group", id}, {"units", std::move(entries)}}});
            });
}

}  // namespace vantrel::gateway
