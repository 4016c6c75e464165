#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace vantrel::gateway {

/// Who did what to which unit, and what came of it: an entry as a command or a unit of a
/// firmware job begins, before anything is sent, and one with its outcome. Kept in memory (the
/// newest kKept) and, with a file, appended to it as a JSON line. The file is opened for each
/// entry, so a rotated log is simply started again.
class AuditLog {
  public:
    static constexpr std::size_t kKept = 1000;

    /// Entries go to `path` too from now on ("" for none).
    void SetFile(const std::string& path);
    /// Whether the file can be opened for appending now: false, with the reason, when not. A
    /// full disk passes; the entry's own write finds it.
    bool Ready(std::string& why) const;
    /// Adds the entry, with its time, and appends it to the file as one whole line: false, with
    /// the reason, when it could not be written, and then it is not kept and the file holds no
    /// part of it. Nothing may be done that this has not recorded.
    bool Record(nlohmann::json entry, std::string& why);
    /// The newest first, at most `limit`, of those of `unit` and `who` where given ("" for any).
    nlohmann::json Query(const std::string& unit, const std::string& who, std::size_t limit) const;

  private:
    mutable std::mutex m_mutex;
    std::string m_path;
    std::deque<nlohmann::json> m_recent;
};

}  // namespace vantrel::gateway
