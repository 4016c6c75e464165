#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vantrel::gateway {

/// What became of a command's request, by the status it was answered with: done (200), refused
/// (other 4xx), busy (409), failed (502), unavailable (503: nothing was sent) or timed_out (504).
const char* CommandOutcome(int status);

/// Every outcome CommandOutcome gives, in the order the metrics list them.
extern const char* const kCommandOutcomes[6];

/// The commands' outcomes on each unit, counted from any thread.
class CommandCounts {
  public:
    using Key = std::pair<std::string, std::string>;  // unit, outcome

    void Count(const std::string& unit, int status);
    std::map<Key, std::int64_t> Counts() const;

  private:
    mutable std::mutex m_mutex;
    std::map<Key, std::int64_t> m_counts;
};

}  // namespace vantrel::gateway
