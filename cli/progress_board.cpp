#include "cli/progress_board.h"

namespace vantrel::cli {

ProgressBoard::ProgressBoard(std::vector<std::string> units, bool terminal, std::FILE* out)
    : m_bTerminal(terminal), m_out(out) {
    for (std::string& unit : units) m_lines.push_back({std::move(unit)});
}

void ProgressBoard::Update(size_t index, std::int64_t done, std::int64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_lines.size() || total <= 0) return;
    Line& line = m_lines[index];
    line.done = done;
    line.total = total;
    if (m_bTerminal) {
        Redraw();
        return;
    }
    const int tenth = static_cast<int>(10 * done / total);
    if (tenth == line.loggedTenth) return;
    line.loggedTenth = tenth;
    std::fprintf(m_out, "%s\n", Format(line).c_str());
    std::fflush(m_out);
}

std::string ProgressBoard::Format(const Line& line) const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - line.start).count();
    const long long percent = line.total > 0 ? 100 * line.done / line.total : 0;
    char left[32] = "";
    if (line.done > 0 && line.done < line.total) {
        std::snprintf(left, sizeof left, ", %.0f s left",
                      seconds * (line.total - line.done) / line.done);
    }
    char text[256];
    std::snprintf(text, sizeof text, "%-15s %3lld%%  %lld of %lld bytes%s", line.unit.c_str(),
                  percent, static_cast<long long>(line.done), static_cast<long long>(line.total),
                  left);
    return text;
}

// Moves back up over the lines drawn last time and writes them all again.
void ProgressBoard::Redraw() {
    if (m_bDrawn) std::fprintf(m_out, "\x1b[%zuA", m_lines.size());
    for (const Line& line : m_lines) std::fprintf(m_out, "\r\x1b[2K%s\n", Format(line).c_str());
    m_bDrawn = true;
    std::fflush(m_out);
}

}  // namespace vantrel::cli
