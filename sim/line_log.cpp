#include "sim/line_log.h"

#include <cinttypes>

namespace vantrel::sim {

LineLog::~LineLog() {
    if (m_file) std::fclose(m_file);
}

bool LineLog::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "a");
    return m_file != nullptr;
}

std::string LineLog::Escaped(const std::string& line) {
    std::string bytes = line;
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\x%02x", c);
        out += code;
    }
    return out;
}

void LineLog::Append(std::chrono::steady_clock::time_point received, const std::string& peer,
                     const std::string& line) {
    const std::int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(received.time_since_epoch()).count();
    const std::string text = Escaped(line);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file) return;
    std::fprintf(m_file, "%" PRId64 " %s %s\n", micros, peer.c_str(), text.c_str());
    std::fflush(m_file);
}

}  // namespace vantrel::sim
