#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::sim {

/// One line (TCP console) or frame (serial) that the unit received.
struct TrafficEntry {
    std::string link;                                // "tcp" or "serial"
    std::string bytes;                               // exactly as received
    std::chrono::steady_clock::time_point received;  // when its first byte arrived
};

/// Everything the unit received, kept in memory for in-process tests and, when a path is
/// given, appended to a file as JSON lines, flushed per line so that tests can follow it live:
///   {"ms":12.345,"link":"tcp","hex":"524f54310d0a","text":"ROT1\r\n"}
class TrafficLog {
  public:
    TrafficLog() = default;
    /// Opens (truncates) the file; false when it cannot be opened.
    bool OpenFile(const std::string& path);
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    void Append(const std::string& link, const std::string& bytes,
                std::chrono::steady_clock::time_point received);

    std::vector<TrafficEntry> Entries() const;
    /// The bytes of every entry of one link, in order.
    std::vector<std::string> Lines(const std::string& link) const;
    /// Waits until at least count entries are held; false when the time-out passed first.
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout) const;
    void Clear();

    static std::string ToJson(const TrafficEntry& entry, double ms);

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_appended;
    std::vector<TrafficEntry> m_entries;
    std::FILE* m_file = nullptr;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace vantrel::sim
