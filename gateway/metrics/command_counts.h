#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "gateway/fleet/command_outcome.h"

namespace vantrel::gateway {

/// What became of a command, as the metrics label it: done, failed (it ran and was not
/// confirmed), unavailable (nothing was sent) or timed_out (not begun in time, or still
/// running at its answer limit).
const char* CountedAs(const CommandOutcome& outcome);

/// Every outcome counted, in the order the metrics list them: also "refused", a request that
/// its own checks refused, and "busy", which the series have always held and no command is
/// counted as now.
extern const char* const kCommandOutcomes[6];

/// The commands' outcomes on each unit, counted from any thread.
class CommandCounts {
  public:
    using Key = std::pair<std::string, std::string>;  // unit, outcome

    void Count(const std::string& unit, const CommandOutcome& outcome);
    /// A request refused by its own checks, before a command was made of it.
    void CountRefused(const std::string& unit);
    std::map<Key, std::int64_t> Counts() const;

  private:
    void Add(const std::string& unit, const char* outcome);

    mutable std::mutex m_mutex;
    std::map<Key, std::int64_t> m_counts;
};

}  // namespace vantrel::gateway
