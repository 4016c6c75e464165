#pragma once
// Reads a simulated unit's line log (sim/line_log.h) and finds where two gateways drove the unit
// at once: lines from two different peer addresses closer together than an ownership window.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

struct LoggedLine {
    std::int64_t micros = 0;  // steady_clock's, as the unit received the line's first byte
    std::string address;      // the peer's, without its port: one gateway across reconnects
    int port = 0;
    std::string line;  // the bytes received, without CR LF
};

/// One log line as the unit wrote it; nothing when it is not one (a line still being written).
inline std::optional<LoggedLine> ParseLoggedLine(const std::string& text) {
    const auto space = text.find(' ');
    const auto second = space == std::string::npos ? space : text.find(' ', space + 1);
    if (second == std::string::npos) return std::nullopt;
    const std::string peer = text.substr(space + 1, second - space - 1);
    const auto colon = peer.rfind(':');
    if (space == 0 || colon == std::string::npos || colon == 0) return std::nullopt;
    LoggedLine logged;
    char* end = nullptr;
    logged.micros = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + space) return std::nullopt;
    logged.address = peer.substr(0, colon);
    logged.port = std::atoi(peer.c_str() + colon + 1);
    const std::string escaped = text.substr(second + 1);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
            logged.line +=
                static_cast<char>(std::strtol(escaped.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            logged.line += escaped[i];
        }
    }
    return logged;
}

/// Every whole line of the log at `path`, in the order written; a last line without its line
/// end (the unit writing it now) is left for the next read. Empty when there is no such file.
inline std::vector<LoggedLine> ReadLineLog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<LoggedLine> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (auto line = ParseLoggedLine(text.substr(start, end - start))) lines.push_back(*line);
    }
    return lines;
}

/// Two lines in a row from different peer addresses.
struct Overlap {
    LoggedLine before, after;
};

/// Where the unit heard from two peer addresses less than `window` apart: a link that takes over
/// a unit sooner than that after another's last line was, for the window, two links at once.
inline std::vector<Overlap> FindOverlaps(std::vector<LoggedLine> lines,
                                         std::chrono::microseconds window) {
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LoggedLine& a, const LoggedLine& b) { return a.micros < b.micros; });
    std::vector<Overlap> overlaps;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const LoggedLine& before = lines[i - 1];
        const LoggedLine& after = lines[i];
        if (before.address != after.address && after.micros - before.micros < window.count())
            overlaps.push_back({before, after});
    }
    return overlaps;
}

}  // namespace vantrel::testing
