#include "gateway/command_counts.h"

namespace vantrel::gateway {

const char* const kCommandOutcomes[6] = {"done",   "refused",     "busy",
                                         "failed", "unavailable", "timed_out"};

const char* CommandOutcome(int status) {
    switch (status) {
        case 200:
            return "done";
        case 409:
            return "busy";
        case 503:
            return "unavailable";
        case 504:
            return "timed_out";
        default:
            return status < 500 ? "refused" : "failed";
    }
}

void CommandCounts::Count(const std::string& unit, int status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts[{unit, CommandOutcome(status)}];
}

std::map<CommandCounts::Key, std::int64_t> CommandCounts::Counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

}  // namespace vantrel::gateway
