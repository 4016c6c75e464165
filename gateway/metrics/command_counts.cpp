#include "gateway/metrics/command_counts.h"

namespace vantrel::gateway {

const char* const kCommandOutcomes[6] = {"done",   "refused",     "busy",
                                         "failed", "unavailable", "timed_out"};

const char* CountedAs(const CommandOutcome& outcome) {
    switch (outcome.state) {
        case CommandState::kRan:
            return outcome.result.Ok() ? "done" : "failed";
        case CommandState::kStillRunning:
        case CommandState::kNotBegun:
            return "timed_out";
        case CommandState::kLinkDown:
        case CommandState::kQueueFull:
        case CommandState::kStopped:
        case CommandState::kUnrecorded:
            break;
    }
    return "unavailable";
}

void CommandCounts::Count(const std::string& unit, const CommandOutcome& outcome) {
    Add(unit, CountedAs(outcome));
}

void CommandCounts::CountRefused(const std::string& unit) { Add(unit, "refused"); }

void CommandCounts::Add(const std::string& unit, const char* outcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts[{unit, outcome}];
}

std::map<CommandCounts::Key, std::int64_t> CommandCounts::Counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

}  // namespace vantrel::gateway
