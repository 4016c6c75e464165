#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace vantrel::sim {

/// Every console command line the unit received, and who sent it, appended to a file one line
/// each and flushed per line, so that a test or a benchmark can follow it while the unit runs:
///   MICROSECONDS ADDRESS:PORT LINE
/// MICROSECONDS is steady_clock's, which on Linux is CLOCK_MONOTONIC and so the same in every
/// process of the machine: the logs of many units and the moments their readers note compare.
/// LINE is the line without its CR LF; a backslash, and any byte outside printable ASCII, is
/// written as \xHH.
class LineLog {
  public:
    LineLog() = default;
    ~LineLog();
    LineLog(const LineLog&) = delete;
    LineLog& operator=(const LineLog&) = delete;

    /// Opens the file to append to; false when it cannot be opened.
    bool Open(const std::string& path);
    void Append(std::chrono::steady_clock::time_point received, const std::string& peer,
                const std::string& line);

    /// The line as the log writes it, from its bytes as received.
    static std::string Escaped(const std::string& line);

  private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};

}  // namespace vantrel::sim
