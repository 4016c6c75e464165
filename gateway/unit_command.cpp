#include "gateway/unit_command.h"

#include <future>
#include <memory>

namespace vantrel::gateway {

Reply RunCommand(UnitMonitor& unit, CheckedCommand command, bool changesNetwork,
                 const char* levelName) {
    auto reply = std::make_shared<Reply>();
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> outcome = finished->get_future();
    const std::string name = unit.Name();
    QueuedCommand queued{[=](UnitLink& link) {
                             *reply = CheckReply(name, command(link), levelName);
                             return changesNetwork;
                         },
                         [=, &unit](bool ran) {
                             if (!ran) *reply = LinkDownReply(name, unit.Snapshot().reason);
                             finished->set_value();
                         }};
    if (!unit.Submit(std::move(queued))) return LinkDownReply(name, unit.Snapshot().reason);
    outcome.wait();
    return *reply;
}

}  // namespace vantrel::gateway
