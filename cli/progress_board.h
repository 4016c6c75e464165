#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::cli {

/// One progress line per unit while a long command runs. On a terminal the lines are redrawn
/// in place (percentage, bytes, time left); otherwise each unit logs a plain line every tenth.
class ProgressBoard {
  public:
    ProgressBoard(std::vector<std::string> units, bool terminal, std::FILE* out);

    /// Unit `index` has done `done` of `total` (bytes).
    void Update(size_t index, std::int64_t done, std::int64_t total);

  private:
    struct Line {
        std::string unit;
        std::int64_t done = 0;
        std::int64_t total = 0;
        int loggedTenth = -1;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    };
    std::string Format(const Line& line) const;
    void Redraw();

    std::vector<Line> m_lines;
    const bool m_bTerminal;
    std::FILE* m_out;
    bool m_bDrawn = false;
    std::mutex m_mutex;
};

}  // namespace vantrel::cli
