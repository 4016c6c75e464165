#include "gateway/fleet/unit_settings_work.h"

namespace vantrel::gateway {
namespace {

CommandState NotRunAs(Queued queued) {
    switch (queued) {
        case Queued::kFull:
            return CommandState::kQueueFull;
        case Queued::kStopping:
            return CommandState::kStopped;
        case Queued::kYes:
        case Queued::kLinkDown:
            break;
    }
    return CommandState::kLinkDown;
}

CommandState EndedAs(CommandEnd end) {
    switch (end) {
        case CommandEnd::kRan:
            return CommandState::kRan;
        case CommandEnd::kExpired:
            return CommandState::kNotBegun;
        case CommandEnd::kStopping:
            return CommandState::kStopped;
        case CommandEnd::kLinkDown:
            break;
    }
    return CommandState::kLinkDown;
}

}  // namespace

void ReadOnUnit(UnitMonitor& unit, std::function<void(UnitLink&)> read,
                std::function<void(const CommandOutcome&)> done) {
    auto told = [&unit, done](CommandState state) {
        CommandOutcome outcome;
        outcome.state = state;
        outcome.unit = unit.Name();
        if (state == CommandState::kLinkDown) outcome.why = unit.Snapshot().reason;
        done(outcome);
    };
    QueuedCommand queued;
    queued.run = [read](UnitLink& link) {
        read(link);
        return false;
    };
    queued.finished = [told](CommandEnd end) { told(EndedAs(end)); };
    const Queued queuedAs = unit.Submit(std::move(queued));
    if (queuedAs != Queued::kYes) told(NotRunAs(queuedAs));
}

CheckedCommand ApplySettings(std::shared_ptr<AppliedSettings> into, groups::UnitSettings wanted,
                             bool network) {
    return [into, wanted = std::move(wanted), network](UnitLink& link) -> Result<Check> {
        into->plan = groups::PlanUnit(link, &wanted, network);
        const groups::Refusal refusal = into->plan.refusal;
        if (refusal == groups::Refusal::kUnitDown) return into->plan.down;
        if (refusal != groups::Refusal::kNone) {
            return Failure{Fault::kRefused, groups::RefusalText(refusal)};
        }
        into->steps = groups::ApplyPlan(link, into->plan, wanted);
        for (const groups::StepOutcome& step : into->steps) {
            if (step.state == groups::StepState::kFailed) return step.check;
        }
        return Check{};
    };
}

}  // namespace vantrel::gateway
