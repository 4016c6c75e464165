#include "sim/traffic_log.h"

namespace vantrel::sim {

namespace {

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string JsonEscaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", c);
                    out += code;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

}  // namespace

bool TrafficLog::OpenFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

TrafficLog::~TrafficLog() {
    if (m_file) std::fclose(m_file);
}

std::string TrafficLog::ToJson(const TrafficEntry& entry, double ms) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", ms);
    return std::string("{\"ms\":") + time + ",\"link\":\"" + JsonEscaped(entry.link) +
           "\",\"hex\":\"" + Hex(entry.bytes) + "\",\"text\":\"" + JsonEscaped(entry.bytes) + "\"}";
}

void TrafficLog::Append(const std::string& link, const std::string& bytes,
                        std::chrono::steady_clock::time_point received) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back({link, bytes, received});
    if (m_file) {
        double ms = std::chrono::duration<double, std::milli>(received - m_start).count();
        std::fprintf(m_file, "%s\n", ToJson(m_entries.back(), ms).c_str());
        std::fflush(m_file);
    }
    m_appended.notify_all();
}

std::vector<TrafficEntry> TrafficLog::Entries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

std::vector<std::string> TrafficLog::Lines(const std::string& link) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const TrafficEntry& entry : m_entries) {
        if (entry.link == link) lines.push_back(entry.bytes);
    }
    return lines;
}

bool TrafficLog::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_appended.wait_for(lock, timeout, [&] { return m_entries.size() >= count; });
}

void TrafficLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

}  // namespace vantrel::sim
