#pragma once

#include <mutex>
#include <vector>

#include "unit/clock.h"

namespace vantrel::testing {

/// Records every pause and advances a logical time instead of sleeping.
class FakeClock : public Clock {
  public:
    void Sleep(Duration pause) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pauses.push_back(pause.count());
        m_now += pause;
    }
    TimePoint Now() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_now;
    }
    std::vector<long long> Pauses() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pauses;
    }
    void ClearPauses() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pauses.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<long long> m_pauses;
    TimePoint m_now{};
};

/// The steady clock's time with every fixed pause skipped: a link to a simulated unit, which
/// needs none, runs a protocol at the speed of its replies, while its time limits still run out
/// in real time.
class NoPauseClock : public Clock {
  public:
    void Sleep(Duration) override {}
    TimePoint Now() override { return SystemClock::Instance().Now(); }
};

}  // namespace vantrel::testing
