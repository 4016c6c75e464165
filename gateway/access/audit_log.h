#pragma once

#include <cstddef>
#include <deque>
#include <functional>
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
    /// Where gateways share the units, each entry carries, as "gateway", what `signer` gives:
    /// which gateway wrote it, under which lease. Set before the first entry.
    void SetSigner(std::function<nlohmann::json()> signer) { m_signer = std::move(signer); }
    /// Whether the file can be opened for appending now: false, with the reason, and the errno
    /// in `unwritable` if given, when not. A full disk passes; the entry's own write finds it.
    bool Ready(std::string& why, int* unwritable = nullptr) const;
    /// Adds the entry, with its time, and appends it to the file as one whole line, after any
    /// entry still owed: false, with the reason, when it could not be written, and then it is
    /// not kept and the file holds no part of it. Nothing may be done that this has not recorded.
    bool Record(nlohmann::json entry, std::string& why);
    /// Adds the outcome of something done: when the file cannot take it now, it is owed, and
    /// written before any later entry, so that every Record fails until it is.
    void RecordOutcome(nlohmann::json entry);
    /// The newest first, at most `limit`, of those of `unit` and `who` where given ("" for any).
    nlohmann::json Query(const std::string& unit, const std::string& who, std::size_t limit) const;

  private:
    /// Under m_mutex: the entries owed, oldest first, as far as the file takes them; false,
    /// with the reason, when one is still owed.
    bool WriteOwed(std::string& why);
    /// Under m_mutex: appends the entry to the file and keeps it; false, with the reason, when
    /// the file could not take it.
    bool Append(const nlohmann::json& entry, std::string& why);
    nlohmann::json Stamped(nlohmann::json entry) const;

    mutable std::mutex m_mutex;
    std::string m_path;
    std::deque<nlohmann::json> m_recent;
    std::deque<nlohmann::json> m_owed;  // outcomes the file could not take yet
    std::function<nlohmann::json()> m_signer;
};

}  // namespace vantrel::gateway
