#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "unit/traffic_recorder.h"

namespace vantrel::clients {

/// One exchange as a JSON line (no line end):
///   {"time":"2024-05-01T10:00:00.123Z","unit":"127.0.0.2","link":"console","exchange":"press",
///    "ms":52,"sent":"535441310d0a","received":"...","outcome":"done"}
/// `time` is when the exchange ended (UTC), `ms` how long it took, the bytes are lowercase hex.
std::string ExchangeLine(const std::string& unit, const std::string& link,
                         const RecordedExchange& exchange);

/// The support log of --log FILE: one JSON line per exchange, from any number of units' threads
/// at once, each line written whole and flushed so that a run cut short keeps what it did.
class ExchangeLog {
  public:
    /// Opens FILE for appending, so that the runs a user makes one after another all stay in
    /// it; null when it cannot be opened.
    static std::unique_ptr<ExchangeLog> Open(const std::string& path);

    /// False when the line did not reach the file (a full disk, say).
    bool Write(const std::string& unit, const std::string& link, const RecordedExchange& exchange);
    /// A sink for one unit's TrafficRecorder. The log must outlive the recorder.
    ExchangeSink SinkFor(std::string unit, std::string link);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    explicit ExchangeLog(std::FILE* file) : m_file(file) {}

    std::mutex m_mutex;
    std::unique_ptr<std::FILE, FileCloser> m_file;
};

}  // namespace vantrel::clients
