#include "gateway/unit_command.h"

#include <atomic>
#include <memory>

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

}  // namespace

void RunCommand(UnitMonitor& unit, EventHub& hub, CheckedCommand command, bool changesNetwork,
                const char* levelName, ReplySink sink) {
    const std::string id = std::to_string(nextCommand++);
    const std::string name = unit.Name();
    auto answer = std::make_shared<OnceReply>(std::move(sink));
    auto outcome = std::make_shared<Reply>();
    QueuedCommand queued;
    queued.run = [=](UnitLink& link) {
        *outcome = CheckReply(name, command(link), levelName);
        return changesNetwork;
    };
    queued.finished = [=, &unit, &hub](CommandEnd end) {
        if (end != CommandEnd::kRan) {
            answer->Give(DroppedReply(name, end, unit.Snapshot().reason));
        } else if (!answer->Give(*outcome)) {
            hub.Publish("outcome",
                        nlohmann::json{
                            {"command", id}, {"status", outcome->status}, {"reply", outcome->body}}
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        }
    };
    queued.overdue = [=] { answer->Give(StillRunningReply(name, id)); };
    const Queued queuedAs = unit.Submit(std::move(queued));
    if (queuedAs == Queued::kFull) {
        answer->Give(QueueFullReply(name));
    } else if (queuedAs == Queued::kStopping) {
        answer->Give(DroppedReply(name, CommandEnd::kStopping, ""));
    } else if (queuedAs == Queued::kLinkDown) {
        answer->Give(LinkDownReply(name, unit.Snapshot().reason));
    }
}

}  // namespace vantrel::gateway
