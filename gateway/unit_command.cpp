#include "gateway/unit_command.h"

#include <atomic>
#include <memory>

#include "gateway/unit_json.h"

namespace vantrel::gateway {
namespace {

// A request's reply, given once: by the command's end or by its deadline, whichever is first.
class OnceReply {
  public:
    explicit OnceReply(ReplySink sink) : m_sink(std::move(sink)) {}
    bool Give(Reply reply) {
        if (m_given.exchange(true)) return false;
        m_sink(std::move(reply));
        return true;
    }

  private:
    std::atomic<bool> m_given{false};
    ReplySink m_sink;
};

std::atomic<std::int64_t> nextCommand{1};

void Audit(const CommandRecord& record, const std::string& unit, bool begun, const Reply& outcome,
           nlohmann::json before, nlohmann::json after) {
    record.Write(unit, begun, {{"status", outcome.status}, {"reply", outcome.body}},
                 std::move(before), std::move(after));
}

}  // namespace

bool CommandRecord::Begin(const std::string& unit, std::string& why) const {
    return !log || log->Record({{"who", who},
                                {"from", from},
                                {"unit", unit},
                                {"action", action},
                                {"params", params},
                                {"phase", "begun"}},
                               why);
}

void CommandRecord::Write(const std::string& unit, bool begun, nlohmann::json outcome,
                          nlohmann::json before, nlohmann::json after) const {
    if (!log) return;
    nlohmann::json entry{{"who", who},
                         {"from", from},
                         {"unit", unit},
                         {"action", action},
                         {"params", params},
                         {"phase", "ended"},
                         {"outcome", std::move(outcome)},
                         {"before", std::move(before)},
                         {"after", std::move(after)}};
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
                const char* levelName, CommandRecord record, ReplySink sink) {
    const std::string id = std::to_string(nextCommand++);
    const std::string name = unit.Name();
    auto answer = std::make_shared<OnceReply>(std::move(sink));
    // Dropped before its turn: recorded with no values, as none were read for it.
    auto drop = [answer, record, name](const Reply& reply) {
        Audit(record, name, false, reply, nullptr, nullptr);
        answer->Give(reply);
    };
    auto outcome = std::make_shared<Reply>();
    auto before = std::make_shared<nlohmann::json>();
    auto begun = std::make_shared<bool>(false);  // run and finished share the monitor's thread
    QueuedCommand queued;
    // Begun at its turn rather than at Submit: a command that waits in the queue may find the
    // log full by then, and one dropped unrun has only its outcome entry.
    queued.run = [=, &unit](UnitLink& link) {
        std::string unrecorded;
        if (!record.Begin(name, unrecorded)) {
            *outcome = UnrecordedReply(name, unrecorded);
            return false;
        }
        *begun = true;
        *before = UnitValuesJson(unit.Snapshot());
        *outcome = CheckReply(name, command(link), levelName);
        return changesNetwork;
    };
    queued.finished = [=, &unit, &hub](CommandEnd end) {
        if (end != CommandEnd::kRan) return drop(DroppedReply(name, end, unit.Snapshot().reason));
        Audit(record, name, *begun, *outcome, *before,
              *begun ? UnitValuesJson(unit.Snapshot()) : nlohmann::json());
        if (!answer->Give(*outcome)) {
            hub.Publish("outcome",
                        nlohmann::json{
                            {"command", id}, {"status", outcome->status}, {"reply", outcome->body}}
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        }
    };
    queued.overdue = [=] { answer->Give(StillRunningReply(name, id)); };
    const Queued queuedAs = unit.Submit(std::move(queued));
    if (queuedAs == Queued::kFull) {
        drop(QueueFullReply(name));
    } else if (queuedAs == Queued::kStopping) {
        drop(DroppedReply(name, CommandEnd::kStopping, ""));
    } else if (queuedAs == Queued::kLinkDown) {
        drop(LinkDownReply(name, unit.Snapshot().reason));
    }
}

}  // namespace vantrel::gateway
