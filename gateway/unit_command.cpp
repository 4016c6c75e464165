#include "gateway/unit_command.h"

#include <future>
#include <memory>

namespace vantrel::gateway {

Reply RunCommand(UnitMonitor& unit, CheckedCommand command, bool changesNetwork,
                 const char* levelName) {
    auto reply = std::make_shared<std::promise<Reply>>();
    std::future<Reply> outcome = reply->get_future();
    const std::string name = unit.Name();
    QueuedCommand queued{
        [=](UnitLink& link) {
            reply->set_value(CheckReply(name, command(link), levelName));
            return changesNetwork;
        },
        [=, &unit] { reply->set_value(LinkDownReply(name, unit.Snapshot().reason)); }};
    if (!unit.Submit(std::move(queued))) return LinkDownReply(name, unit.Snapshot().reason);
    return outcome.get();
}

}  // namespace vantrel::gateway
