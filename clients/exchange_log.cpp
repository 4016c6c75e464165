#include "clients/exchange_log.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <utility>

#include "clients/report.h"

namespace vantrel::clients {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace

std::string ExchangeLine(const std::string& unit, const std::string& link,
                         const RecordedExchange& exchange) {
    using namespace std::chrono;
    const nlohmann::ordered_json line{
        {"time", TimeText(exchange.end)},
        {"unit", unit},
        {"link", link},
        {"exchange", exchange.name},
        {"ms", duration_cast<milliseconds>(exchange.end - exchange.start).count()},
        {"sent", Hex(exchange.sent)},
        {"received", Hex(exchange.received)},
        {"outcome", exchange.outcome}};
    // A unit's garbage or a path in a name must not stop the line: bad UTF-8 is replaced.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::unique_ptr<ExchangeLog> ExchangeLog::Open(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return nullptr;
    return std::unique_ptr<ExchangeLog>(new ExchangeLog(file));
}

bool ExchangeLog::Write(const std::string& unit, const std::string& link,
                        const RecordedExchange& exchange) {
    const std::string line = ExchangeLine(unit, link, exchange) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool written = std::fwrite(line.data(), 1, line.size(), m_file.get()) == line.size();
    return std::fflush(m_file.get()) == 0 && written;
}

ExchangeSink ExchangeLog::SinkFor(std::string unit, std::string link) {
    return [this, unit = std::move(unit), link = std::move(link)](const RecordedExchange& e) {
        Write(unit, link, e);
    };
}

}  // namespace vantrel::clients
