#include "gateway/access/audit_log.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "clients/report.h"
#include "gateway/system/unique_fd.h"

namespace vantrel::gateway {
namespace {

UniqueFd OpenForAppend(const std::string& path) {
    return UniqueFd(open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
}

std::string Unwritable(const std::string& path, int error) {
    return "the audit log " + path + " cannot be written (" + std::strerror(error) +
           "): nothing is done unrecorded";
}

// The whole line or none of it: a write cut short (a full disk) is taken back, so that no
// later entry is glued onto a partial line. A line left unended by someone else (a crash) is
// ended first.
bool AppendLine(const std::string& path, std::string line, std::string& why) {
    const UniqueFd file = OpenForAppend(path);
    const off_t size = file.Open() ? lseek(file.Get(), 0, SEEK_END) : -1;
    if (size < 0) {
        why = Unwritable(path, errno);
        return false;
    }
    char last = '\n';
    if (size > 0 && pread(file.Get(), &last, 1, size - 1) == 1 && last != '\n') {
        line.insert(0, 1, '\n');
    }
    for (std::size_t written = 0; written < line.size();) {
        const ssize_t wrote = write(file.Get(), line.data() + written, line.size() - written);
        if (wrote > 0) {
            written += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else {
            why = Unwritable(path, wrote < 0 ? errno : ENOSPC);
            if (written > 0 && ftruncate(file.Get(), size) != 0) {
                why += "; a partial line is left in it";
            }
            return false;
        }
    }
    return true;
}

}  // namespace

void AuditLog::SetFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = path;
}

bool AuditLog::Ready(std::string& why, int* unwritable) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_path.empty() || OpenForAppend(m_path).Open()) return true;
    const int error = errno;
    if (unwritable) *unwritable = error;
    why = Unwritable(m_path, error);
    return false;
}

bool AuditLog::Record(nlohmann::json entry, std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return WriteOwed(why) && Append(Stamped(std::move(entry)), why);
}

void AuditLog::RecordOutcome(nlohmann::json entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_owed.push_back(Stamped(std::move(entry)));
    std::string why;  // found again by the next Record, which then fails
    WriteOwed(why);
}

bool AuditLog::WriteOwed(std::string& why) {
    for (; !m_owed.empty(); m_owed.pop_front()) {
        if (!Append(m_owed.front(), why)) return false;
    }
    return true;
}

bool AuditLog::Append(const nlohmann::json& entry, std::string& why) {
    const std::string line =
        entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (!m_path.empty() && !AppendLine(m_path, line, why)) return false;
    m_recent.push_back(entry);
    if (m_recent.size() > kKept) m_recent.pop_front();
    return true;
}

nlohmann::json AuditLog::Stamped(nlohmann::json entry) const {
    entry["time"] = clients::TimeText(std::chrono::system_clock::now());
    if (m_signer) entry["gateway"] = m_signer();
    return entry;
}

nlohmann::json AuditLog::Query(const std::string& unit, const std::string& who,
                               std::size_t limit) const {
    nlohmann::json found = nlohmann::json::array();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto entry = m_recent.rbegin(); entry != m_recent.rend() && found.size() < limit;
         ++entry) {
        if ((unit.empty() || (*entry)["unit"] == unit) && (who.empty() || (*entry)["who"] == who)) {
            found.push_back(*entry);
        }
    }
    return found;
}

}  // namespace vantrel::gateway
