#include "gateway/fleet/unit_command.h"

#include <atomic>
#include <memory>

#include "gateway/fleet/unit_json.h"

namespace vantrel::gateway {
namespace {

// A request's answer, given once: by the command's end or by its deadline, whichever is first.
class OnceAnswer {
  public:
    explicit OnceAnswer(OutcomeSink sink) : m_sink(std::move(sink)) {}
    bool Give(const CommandOutcome& outcome) {
        if (m_given.exchange(true)) return false;
        m_sink(outcome);
        return true;
    }

  private:
    std::atomic<bool> m_given{false};
    OutcomeSink m_sink;
};

std::atomic<std::int64_t> nextCommand{1};

nlohmann::json ValuesJson(const std::optional<UnitSnapshot>& snapshot) {
    return snapshot ? UnitValuesJson(*snapshot) : nlohmann::json();
}

CommandState DroppedAs(CommandEnd end) {
    switch (end) {
        case CommandEnd::kExpired:
            return CommandState::kNotBegun;
        case CommandEnd::kStopping:
            return CommandState::kStopped;
        case CommandEnd::kRan:
        case CommandEnd::kLinkDown:
            break;
    }
    return CommandState::kLinkDown;
}

}  // namespace

nlohmann::json CommandRecord::Entry(const std::string& unit) const {
    nlohmann::json entry{
        {"who", who}, {"from", from}, {"unit", unit}, {"action", action}, {"params", params}};
    if (!group.empty()) entry["group"] = group;
    if (!command.empty()) entry["command"] = command;
    if (!via.empty()) entry["via"] = via;
    return entry;
}

bool CommandRecord::Begin(const std::string& unit, std::string& why) const {
    if (!log) return true;
    nlohmann::json entry = Entry(unit);
    entry["phase"] = "begun";
    return log->Record(std::move(entry), why);
}

void CommandRecord::Write(const std::string& unit, bool begun, nlohmann::json outcome,
                          nlohmann::json before, nlohmann::json after) const {
    if (!log) return;
    nlohmann::json entry = Entry(unit);
    entry["phase"] = "ended";
    entry["outcome"] = std::move(outcome);
    entry["before"] = std::move(before);
    entry["after"] = std::move(after);
    if (begun) {
        log->RecordOutcome(std::move(entry));
    } else {
        // Owing the outcome of every refusal would let clients fill the memory while the disk
        // is full: one the log cannot take now is left out.
        std::string unwritten;
        log->Record(std::move(entry), unwritten);
    }
}

void RunCommand(UnitMonitor& unit, EventHub& hub, CheckedCommand command, bool changesNetwork,
                CommandRecord record, OutcomeForm form, OutcomeSink sink) {
    auto answer = std::make_shared<OnceAnswer>(std::move(sink));
    auto outcome = std::make_shared<CommandOutcome>();
    outcome->unit = unit.Name();
    outcome->id = std::to_string(nextCommand++);
    record.command = outcome->id;
    // Dropped before its turn: recorded with no values, as none were read for it.
    auto drop = [answer, record, form, outcome](CommandState state, std::string why) {
        CommandOutcome dropped{state, {}, outcome->unit, std::move(why), outcome->id, {}, {}};
        record.Write(dropped.unit, false, form(dropped), nullptr, nullptr);
        answer->Give(dropped);
    };
    QueuedCommand queued;
    // Begun at its turn rather than at Submit: a command that waits in the queue may find the
    // log full by then, and one dropped unrun has only its outcome entry. Run and finished
    // share the monitor's thread.
    queued.run = [=, &unit](UnitLink& link) {
        std::string unrecorded;
        if (!record.Begin(outcome->unit, unrecorded)) {
            outcome->state = CommandState::kUnrecorded;
            outcome->why = unrecorded;
            return false;
        }
        outcome->before = unit.Snapshot();
        outcome->result = command(link);
        return changesNetwork;
    };
    queued.finished = [=, &unit, &hub](CommandEnd end) {
        if (end != CommandEnd::kRan) {
            const CommandState state = DroppedAs(end);
            return drop(state, state == CommandState::kLinkDown ? unit.Snapshot().reason : "");
        }
        const bool begun = outcome->before.has_value();
        if (begun) outcome->after = unit.Snapshot();
        record.Write(outcome->unit, begun, form(*outcome), ValuesJson(outcome->before),
                     ValuesJson(outcome->after));
        if (!answer->Give(*outcome)) {
            hub.Publish("outcome", OutcomeEventData(outcome->id, form(*outcome)));
        }
    };
    const std::string unitName = outcome->unit, id = outcome->id;
    queued.overdue = [answer, unitName, id] {
        answer->Give({CommandState::kStillRunning, {}, unitName, "", id, {}, {}});
    };
    const Queued queuedAs = unit.Submit(std::move(queued));
    if (queuedAs == Queued::kFull) {
        drop(CommandState::kQueueFull, "");
    } else if (queuedAs == Queued::kStopping) {
        drop(CommandState::kStopped, "");
    } else if (queuedAs == Queued::kLinkDown) {
        drop(CommandState::kLinkDown, unit.Snapshot().reason);
    }
}

}  // namespace vantrel::gateway
