#include "gateway/audit_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/report.h"

namespace vantrel::gateway {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenForAppend(const std::string& path) {
    return {std::fopen(path.c_str(), "a"), &std::fclose};
}

}  // namespace

void AuditLog::SetFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = path;
}

bool AuditLog::Ready(std::string& why) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_path.empty() || OpenForAppend(m_path)) return true;
    why = "the audit log " + m_path + " cannot be written (" + std::strerror(errno) +
          "): nothing is done unrecorded";
    return false;
}

void AuditLog::Record(nlohmann::json entry) {
    entry["time"] = cli::TimeText(std::chrono::system_clock::now());
    const std::string line =
        entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recent.push_back(std::move(entry));
    if (m_recent.size() > kKept) m_recent.pop_front();
    if (m_path.empty()) return;
    // A failed write is found by the next Ready, which then refuses commands.
    if (File file = OpenForAppend(m_path)) {
        std::fputs(line.c_str(), file.get());
        std::fflush(file.get());
    }
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
