#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace vantrel::gateway {

/// Who did what to which unit, and what came of it: one entry per command and per unit of a
/// firmware job, kept in memory (the newest kKept) and, with a file, appended to it as a JSON
/// line. The file is opened for each entry, so a rotated log is simply started again.
class AuditLog {
  public:
    static constexpr std::size_t kKept = 1000;

    /// Entries go to `path` too from now on ("" for none).
    void SetFile(const std::string& path);
    /// Whether an entry could be written now: false, with the reason, when the file cannot be
    /// opened for appending. Nothing is done that could not be recorded.
    bool Ready(std::string& why) const;
    /// Adds the entry, with its time, and writes it to the file.
    void Record(nlohmann::json entry);
    /// The newest first, at most `limit`, of those of `unit` and `who` where given ("" for any).
    nlohmann::json Query(const std::string& unit, const std::string& who, std::size_t limit) const;

  private:
    mutable std::mutex m_mutex;
    std::string m_path;
    std::deque<nlohmann::json> m_recent;
};

}  // namespace vantrel::gateway
